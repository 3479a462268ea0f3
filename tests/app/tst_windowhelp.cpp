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
        TMainForm main(dir.path());
        config::TSystemForm* system = CreateSystemForm(main);
        CreateScheduleForm(main);
        CreateQuickMsgForms(main);
        CreateGroupsForm(main);
        CreateUsersForm(main);
        CreatePagerCompForm(main);
        CreateMsgLogForm(main);
        main.show();
        QTRY_COMPARE(QApplication::activeWindow(), &main);

        // Each window as the operator opens it.
        const QHash<QString, std::function<void()>> open {
            { "Pager Users", [&] { main.UsersMenu->trigger(); } },
            { "Paging Carriers Information", [&] { main.CarriersMenu->trigger(); } },
            { "Groups", [&] { main.GroupsMenu->trigger(); } },
            { "Quick Messages Definition", [&] { main.QuickMsgMenu->trigger(); } },
            { "Message Log", [&] { main.MsgLogMenu->trigger(); } },
            { "Pager Scheduling", [&] { QTest::mouseClick(main.sendLaterButton, Qt::LeftButton); } },
            { "Scheduled Messages", [&] { main.SchedMsgsMenu->trigger(); } },
            { "System Configuration", [&] { main.SetupMenu->trigger(); } },
            { "Modem Initialization Strings",
                [&] {
                    main.SetupMenu->trigger();
                    system->ModemInitMenu->trigger();
                } },
        };
        open.value(window)();
        QTRY_VERIFY(QApplication::activeWindow() && QApplication::activeWindow()->windowTitle() == window);

        QTest::keyClick(QApplication::activeWindow(), Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(main.helpWindow() && main.helpWindow()->isVisible());
        QCOMPARE(main.helpWindow()->currentTopic(), topic);
        const QString text = main.helpWindow()->browser()->toPlainText();
        QVERIFY2(text.contains(window), qPrintable(text.left(300)));
    }
};

QTEST_MAIN(tst_WindowHelp)
#include "tst_windowhelp.moc"
