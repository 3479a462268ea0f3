#include "app/alertsourcessetup.h"
#include "app/deskapplication.h"
#include "app/deskchannel.h"
#include "app/groupsetup.h"
#include "app/mainform.h"
#include "app/msglogsetup.h"
#include "app/quickmsgsetup.h"
#include "app/schedulesetup.h"
#include "app/systemsetup.h"
#include "app/usersetup.h"
#include "core/desk.h"
#include "session/desksession.h"
#include "session/runnerlock.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFont>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char** argv)
{
    // Its event dispatch shows any error a handler or timer lets go; none ends the program.
    DeskApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PlimoPager32"));
    // 1. The application title. (Qt's display name would be appended to every window's caption on
    // some platforms, so the title is the main window's caption and the message boxes' title
    // instead.) The help topics are compiled in (see HelpWindow).
    const QString title = QStringLiteral("PlimoPager32 V4.00");
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 8));

    // `./run.sh --demo` alone sets PLIMOPAGER_DEMO_DATA, to keep the demo's tables in its sandbox;
    // a normal start has it unset and uses the data folder beside the program, or the per-user one.
    const QString demoData = qEnvironmentVariable("PLIMOPAGER_DEMO_DATA");
    // An installed desk works in its per-user data folder: the pending file PendMsgs and the message
    // file plimomsgs.txt are in the current directory, which, started from a menu, is the home
    // folder or "/".
    if (demoData.isEmpty() && core::Desk::isInstalledProgram(QApplication::applicationDirPath()))
        QDir::setCurrent(core::Desk::defaultDataDirectory());

    // One runner per data folder. Nothing is touched before the folder is ours: a second desk
    // brings the running one to the front; a desk started while the paging service runs says so.
    const QString dataFolder = demoData.isEmpty() ? core::Desk::defaultDataDirectory() : demoData;
    session::RunnerLock folderLock;
    switch (folderLock.acquire(dataFolder, QStringLiteral("plimopager"))) {
    case session::RunnerLock::Result::Held:
        break;
    case session::RunnerLock::Result::HeldByOther: {
        const bool desk = folderLock.holder().program == QStringLiteral("plimopager");
        if (desk && DeskChannel::raiseRunningDesk(dataFolder))
            return 0;
        // Said on the terminal too, for a desk started from one.
        qWarning().noquote() << folderLock.heldMessage(dataFolder);
        QMessageBox::critical(nullptr, title, folderLock.heldMessage(dataFolder));
        return desk ? 0 : 1;
    }
    case session::RunnerLock::Result::Failed:
        QMessageBox::critical(nullptr, title, QStringLiteral("PlimoPager32 cannot start: ") + folderLock.error());
        return 1;
    }

    // 2. The desk's runtime: it creates and opens the tables and restores the pending queue. Then the
    // windows that live for the whole run, the main window first.
    session::DeskSession deskSession(dataFolder);
    // Checked at every tick: a lock file removed or replaced stops the sending (see DeskSession).
    deskSession.watchLock(&folderLock);
    deskSession.open();
    TMainForm mainForm(deskSession);
    DeskChannel channel(dataFolder, &mainForm);
    // The System Configuration window next: its fields are the working settings from here on.
    CreateSystemForm(mainForm);
    CreateScheduleForm(mainForm);
    CreateQuickMsgForms(mainForm);
    CreateGroupsForm(mainForm);
    CreateUsersForm(mainForm);
    CreatePagerCompForm(mainForm);
    CreateMsgLogForm(mainForm);
    CreateAlertSourcesForm(mainForm);
    mainForm.show();
    // A desk run from a folder it cannot write keeps its tables elsewhere: the operator is told where.
    if (demoData.isEmpty()) {
        if (const QString notice = core::Desk::dataFolderNotice(QApplication::applicationDirPath()); !notice.isEmpty())
            QMessageBox::information(&mainForm, title, notice);
    }
    // One box for what went wrong at start: a failure that stopped the steps and the faults that
    // did not.
    if (const QString report = mainForm.desk().startupReport(); !report.isEmpty())
        QMessageBox::critical(&mainForm, title, report);
    else if (const QStringList notices = mainForm.desk().startupNotices(); !notices.isEmpty())
        QMessageBox::information(&mainForm, title, notices.join(u'\n'));
    // A session that ends without closing the window still keeps the pending pages.
    QObject::connect(
        &app, &QCoreApplication::aboutToQuit, &mainForm, [&deskSession] { deskSession.saveQueues(); });
    // Then, as they are built: "Send Message By Pager ID Only", "Pending Messages", "Print Log Report
    // Parameters" with the log report and "Pager Scheduling".

    // 3. Only now does the delivery timer run: nothing is sent during creation.
    deskSession.start();
    return app.exec();
}
