// The windows' places between runs, and Esc in the non-modal windows.
#include "app/mainform.h"
#include "app/quickmsgsetup.h"
#include "app/usersetup.h"
#include "directories/quickmsgform.h"
#include "directories/usersform.h"
#include "support/datafolder.h"

#include <QAction>
#include <QFile>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTableView>
#include <QTest>

class tst_DeskWindows : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

    std::unique_ptr<TMainForm> run()
    {
        auto mainForm = std::make_unique<TMainForm>(dir_->path());
        CreateQuickMsgForms(*mainForm);
        CreateUsersForm(*mainForm);
        mainForm->show();
        if (!QTest::qWaitForWindowActive(mainForm.get()))
            return nullptr;
        return mainForm;
    }
    static directories::TQuickMsgF* openQuick(TMainForm& mainForm)
    {
        QTest::mouseClick(mainForm.quickButton, Qt::LeftButton);
        auto* quick = mainForm.findChild<directories::TQuickMsgF*>(QStringLiteral("QuickMsgDialog"));
        if (quick)
            (void)QTest::qWaitForWindowActive(quick);
        return quick;
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    // First run: beside the main window, never over its menu. Moved, it comes back there at the next
    // run; a place on no screen is forgotten for beside the main window again.
    void placesAreKeptBetweenRuns()
    {
        QPoint first;
        {
            auto mainForm = run();
            QVERIFY(mainForm);
            auto* quick = openQuick(*mainForm);
            QVERIFY(quick && quick->isVisible());
            const QRect menu(mainForm->menuBar()->mapToGlobal(QPoint(0, 0)), mainForm->menuBar()->size());
            QVERIFY(!quick->frameGeometry().intersects(menu));
            first = quick->pos();
            quick->move(first + QPoint(17, 23));
            quick->close();
        }
        {
            auto mainForm = run();
            QVERIFY(mainForm);
            auto* quick = openQuick(*mainForm);
            QVERIFY(quick);
            QCOMPARE(quick->pos(), first + QPoint(17, 23));
            quick->close();
        }
        QSettings places(testsupport::DataFolder::windowPlacesPath(), QSettings::IniFormat);
        places.setValue(QStringLiteral("QuickMsgDialog/geometry"), QRect(9000, 9000, 360, 320));
        places.sync();
        auto mainForm = run();
        QVERIFY(mainForm);
        auto* quick = openQuick(*mainForm);
        QVERIFY(quick);
        QCOMPARE(quick->pos(), first);
    }

    // A main window left at the screen's top comes back with its frame, title bar included, on the
    // saved corner, run after run.
    void theFrameComesBackOnItsCorner()
    {
        QSettings places(testsupport::DataFolder::windowPlacesPath(), QSettings::IniFormat);
        places.setValue(QStringLiteral("MainForm/geometry"), QRect(40, 0, 600, 420));
        places.sync();
        for (int again = 0; again < 2; ++again) {
            auto mainForm = run();
            QVERIFY(mainForm);
            QCOMPARE(mainForm->frameGeometry().topLeft(), QPoint(40, 0));
            QVERIFY(mainForm->geometry().top() > 0); // the frame's top is above the client's
        }
        QSettings saved(testsupport::DataFolder::windowPlacesPath(), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("MainForm/geometry")).toRect().topLeft(), QPoint(40, 0));
    }

    // Esc in an open cell editor cancels the edit; Esc again closes the window as Exit does.
    void escapeCancelsTheEditThenCloses()
    {
        auto mainForm = run();
        QVERIFY(mainForm);
        mainForm->UsersMenu->trigger();
        auto* users = mainForm->findChild<directories::TUsersForm*>();
        QVERIFY(users);
        QTRY_COMPARE(QApplication::activeWindow(), users);
        QTest::mouseClick(users->AddBtn, Qt::LeftButton);
        users->UsersList->setFocus();
        QTest::keyClicks(users->UsersList, QStringLiteral("Ann"));
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(editor && editor != users->UsersList);
        QTest::keyClick(editor, Qt::Key_Escape);
        QVERIFY(users->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!users->isVisible());
    }
};

QTEST_MAIN(tst_DeskWindows)
#include "tst_deskwindows.moc"
