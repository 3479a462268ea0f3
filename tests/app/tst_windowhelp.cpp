// Every window's Help, typed as Alt+H in the window itself, opens the window's own topic, and that
// topic names the window: the real main window and its windows, offscreen.

#include "app/groupsetup.h"
#include "app/helpwindow.h"
#include "app/mainform.h"
#include "app/msglogsetup.h"
#include "app/quickmsgsetup.h"
#include "app/schedulesetup.h"
#include "app/systemsetup.h"
#include "app/usersetup.h"
#include "config/systemform.h"
#include "support/datafolder.h"

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

using namespace testsupport;

class tst_WindowHelp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void helpOpensTheWindowsTopic_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("topic");
        QTest::newRow("users") << "Pager Users"
                               << "users";
        QTest::newRow("carriers") << "Paging Carriers Information"
                                  << "pagercompany";
        QTest::newRow("groups") << "Groups"
                                << "groups";
        QTest::newRow("quick messages") << "Quick Messages Definition"
                                        << "quickmsg";
        QTest::newRow("message log") << "Message Log"
                                     << "msglog";
        QTest::newRow("scheduling") << "Pager Scheduling"
                                    << "schedmsglog";
        QTest::newRow("scheduled list") << "Scheduled Messages"
                                        << "schedmsglog";
        QTest::newRow("system") << "System Configuration"
                                << "systemssetup";
        QTest::newRow("modem strings") << "Modem Initialization Strings"
                                       << "systemssetup";
    }
    void helpOpensTheWindowsTopic()
    {
        QFETCH(QString, window);
        QFETCH(QString, topic);
        DataFolder dir;
        TMainForm mainForm(dir.path());
        config::TSystemForm* system = CreateSystemForm(mainForm);
        CreateScheduleForm(mainForm);
        CreateQuickMsgForms(mainForm);
        CreateGroupsForm(mainForm);
        CreateUsersForm(mainForm);
        CreatePagerCompForm(mainForm);
        CreateMsgLogForm(mainForm);
        mainForm.show();
        QTRY_COMPARE(QApplication::activeWindow(), &mainForm);

        // Each window as the operator opens it.
        const QHash<QString, std::function<void()>> open {
            { "Pager Users", [&] { mainForm.UsersMenu->trigger(); } },
            { "Paging Carriers Information", [&] { mainForm.CarriersMenu->trigger(); } },
            { "Groups", [&] { mainForm.GroupsMenu->trigger(); } },
            { "Quick Messages Definition", [&] { mainForm.QuickMsgMenu->trigger(); } },
            { "Message Log", [&] { mainForm.MsgLogMenu->trigger(); } },
            { "Pager Scheduling", [&] { QTest::mouseClick(mainForm.sendLaterButton, Qt::LeftButton); } },
            { "Scheduled Messages", [&] { mainForm.SchedMsgsMenu->trigger(); } },
            { "System Configuration", [&] { mainForm.SetupMenu->trigger(); } },
            { "Modem Initialization Strings",
                [&] {
                    mainForm.SetupMenu->trigger();
                    system->ModemInitMenu->trigger();
                } },
        };
        open.value(window)();
        QTRY_VERIFY(QApplication::activeWindow() && QApplication::activeWindow()->windowTitle() == window);

        QTest::keyClick(QApplication::activeWindow(), Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(mainForm.helpWindow() && mainForm.helpWindow()->isVisible());
        QCOMPARE(mainForm.helpWindow()->currentTopic(), topic);
        const QString text = mainForm.helpWindow()->browser()->toPlainText();
        QVERIFY2(text.contains(window), qPrintable(text.left(300)));
    }
};

QTEST_MAIN(tst_WindowHelp)
#include "tst_windowhelp.moc"
