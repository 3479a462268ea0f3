#include "app/helpwindow.h"
#include "app/mainform.h"
#include "app/systemsetup.h"
#include "config/inifile.h"
#include "config/systemform.h"
#include "support/datafolder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class tst_SystemSetup : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<testsupport::DataFolder> dir_;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
    }
    void init()
    {
        QFile::remove(config::pagerIniPath());
        dir_ = std::make_unique<testsupport::DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup()
    {
        dir_.reset();
        QFile::remove(config::pagerIniPath());
    }

    void setupShowsTheOneWindowNotModal();
    void debugLineAndHelpReachTheMainWindow();
};

void tst_SystemSetup::setupShowsTheOneWindowNotModal()
{
    TMainForm mainForm(dir_->path());
    QVERIFY(!mainForm.SetupMenu->isEnabled()); // nothing to show yet
    config::TSystemForm* form = CreateSystemForm(mainForm);
    QCOMPARE(mainForm.SystemForm, form);
    QCOMPARE(&form->settings(), &mainForm.desk().Settings()); // it edits the desk's working settings
    QVERIFY(mainForm.SetupMenu->isEnabled());
    QVERIFY(!form->isVisible());
    QVERIFY(!QFile::exists(config::pagerIniPath())); // creation reads, never writes

    mainForm.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainForm));
    mainForm.SetupMenu->trigger();
    QTRY_VERIFY(form->isVisible());
    QVERIFY(!form->isModal());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(form->isWindow());
    QCOMPARE(form->windowTitle(), QStringLiteral("System Configuration"));

    // Closed, it is hidden and kept: Setup shows the same window again.
    form->close();
    QVERIFY(QFile::exists(config::pagerIniPath()));
    mainForm.SetupMenu->trigger();
    QTRY_VERIFY(form->isVisible());
    QCOMPARE(mainForm.findChildren<config::TSystemForm*>().size(), 1);
}

void tst_SystemSetup::debugLineAndHelpReachTheMainWindow()
{
    TMainForm mainForm(dir_->path());
    config::TSystemForm* form = CreateSystemForm(mainForm);
    form->Debug->setChecked(true);
    QVERIFY(mainForm.statusList->toPlainText().contains(QStringLiteral("In debug mode")));
    form->HelpMenu->trigger();
    QVERIFY(mainForm.helpWindow());
    QCOMPARE(mainForm.helpWindow()->currentTopic(), QStringLiteral("systemssetup"));
}

QTEST_MAIN(tst_SystemSetup)
#include "tst_systemsetup.moc"
