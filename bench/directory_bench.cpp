// The directories at size on the real main window (offscreen): a Users table of N users and a group
// of M members. Every step below runs on the user-interface thread in one piece, so its time is a
// stretch in which the window does not respond; a 5 ms heartbeat timer running through the whole
// measurement reports the longest gap between its beats as the longest blocking stretch seen.
// Usage: directory_bench [N [M]] (defaults 10000 and 1000). Figures: STEP<TAB>MILLISECONDS.
#include "app/groupsetup.h"
#include "app/mainform.h"
#include "app/messageedit.h"
#include "app/schedulesetup.h"
#include "app/usersetup.h"
#include "compose/composition.h"
#include "compose/memberfile.h"
#include "compose/preparation.h"
#include "core/desk.h"
#include "directories/groupsform.h"
#include "models/tablemodel.h"
#include "directories/usersform.h"
#include "schedule/scheduledscan.h"

#include <QAction>
#include <QApplication>
#include <QTableView>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kCarriers = 10;

QString userName(int i)
{
    return QStringLiteral("User %1").arg(i, 5, 10, QLatin1Char('0'));
}

QString carrierName(int c)
{
    return QStringLiteral("Carrier %1").arg(QChar(u'A' + c));
}

void fillDirectory(const QString& dir, int users, int members)
{
    core::Desk desk(dir);
    const QString failure = desk.open();
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "open: %s\n", qPrintable(failure));
        std::exit(1);
    }
    for (int c = 0; c < kCarriers; ++c) {
        desk.PagerCompT().append();
        desk.PagerCompT().setFieldText(QStringLiteral("PAGERCOMP"), carrierName(c));
        desk.PagerCompT().setFieldText(
            QStringLiteral("HOST_TEL"), QStringLiteral("555-01%1").arg(c, 2, 10, QLatin1Char('0')));
        desk.PagerCompT().setFieldText(QStringLiteral("HOST_SPEED"), QStringLiteral("1200"));
        desk.PagerCompT().setFieldInt(QStringLiteral("HOST_CHARS"), 80);
        desk.PagerCompT().setFieldText(QStringLiteral("HOST_PASSW"), QString());
        desk.PagerCompT().post();
    }
    for (int i = 1; i <= users; ++i) {
        desk.BUsersT().append();
        desk.BUsersT().setFieldText(QStringLiteral("USERNAME"), userName(i));
        desk.BUsersT().setFieldText(QStringLiteral("PAGERCOMP"), carrierName(i % kCarriers));
        desk.BUsersT().setFieldText(QStringLiteral("PAGER_ID"), QString::number(100000 + i));
        desk.BUsersT().post();
    }
    desk.GroupsT().append();
    desk.GroupsT().setFieldText(QStringLiteral("GROUP"), QStringLiteral("Bench"));
    desk.GroupsT().post();
    QStringList list;
    // Spread over the carriers, so that the group goes out as one page per carrier.
    const int step = qMax(1, users / qMax(1, members));
    for (int k = 0; list.size() < members && k * step + k % kCarriers < users; ++k)
        list << userName(k * step + k % kCarriers + 1);
    const QString written
        = compose::writeMemberFile(compose::memberFilePath(dir, QStringLiteral("Bench")), list);
    if (!written.isEmpty()) {
        std::fprintf(stderr, "member file: %s\n", qPrintable(written));
        std::exit(1);
    }
    // A scheduled group message, due.
    desk.SchedMsgT().append();
    desk.SchedMsgT().setFieldText(QStringLiteral("DDATE"), QStringLiteral("2031/05/14"));
    desk.SchedMsgT().setFieldText(QStringLiteral("DTIME"), QStringLiteral("09:00:00"));
    desk.SchedMsgT().setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Group: Bench"));
    desk.SchedMsgT().setFieldText(QStringLiteral("MUSTSEND"), QStringLiteral("Y"));
    desk.SchedMsgT().setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Scheduled drill at ten") });
    desk.SchedMsgT().post();
}

double longest = 0;

double timed(const char* step, const std::function<void()>& work)
{
    QElapsedTimer t;
    t.start();
    work();
    const double ms = t.nsecsElapsed() / 1e6;
    longest = qMax(longest, ms);
    std::printf("%s\t%.1f\n", step, ms);
    std::fflush(stdout);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the operator's pager.ini is left alone
    const int users = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int members = argc > 2 ? std::atoi(argv[2]) : 1000;
    QTemporaryDir dir;
    // The pending file the window writes on its way out goes to the current folder: keep it here.
    QDir::setCurrent(dir.path());
    std::printf("users\t%d\nmembers\t%d\n", users, members);
    timed("fill tables (not on the window)", [&] { fillDirectory(dir.path(), users, members); });
    longest = 0;

    // The heartbeat: the longest time between two beats is the longest the window stood still.
    QElapsedTimer beat;
    double longestGap = 0;
    double startGap = 0;
    QTimer heart;
    heart.setInterval(5);
    QObject::connect(&heart, &QTimer::timeout, [&] {
        if (beat.isValid())
            longestGap = qMax(longestGap, beat.nsecsElapsed() / 1e6);
        beat.restart();
    });

    std::unique_ptr<TMainForm> form;
    directories::TGroupsForm* groups = nullptr;
    directories::TUsersForm* usersForm = nullptr;
    QList<std::pair<const char*, std::function<void()>>> steps;
    steps << std::pair { "open main window (tables, ReadUsersList)", std::function<void()>([&] {
                            form = std::make_unique<TMainForm>(dir.path());
                            groups = CreateGroupsForm(*form);
                            usersForm = CreateUsersForm(*form);
                            form->currentDateTime
                                = [] { return QDateTime(QDate(2031, 5, 14), QTime(10, 0, 0)); };
                            form->show();
                        }) };
    steps << std::pair { "ReadUsersList", std::function<void()>([&] { form->ReadUsersList(); }) };
    steps << std::pair { "RefreshUsersList", std::function<void()>([&] { form->RefreshUsersList(); }) };
    steps << std::pair { "PrepareOneMessage (last user)", std::function<void()>([&] {
                            form->messageEditor->setPlainText(
                                QStringLiteral("Fire drill at ten, please leave by the east stairs"));
                            form->session().sendToRecipient(userName(users), form->composition().text());
                        }) };
    steps << std::pair { "Send Mesg, one ticked user of N", std::function<void()>([&] {
                            form->messageEditor->setPlainText(
                                QStringLiteral("Fire drill at ten, please leave by the east stairs"));
                            form->composition().tick(userName(users / 2));
                            form->sendButton->click();
                        }) };
    steps << std::pair { "open Pager Users window (N users)", std::function<void()>([&] {
                            form->UsersMenu->trigger();
                            QApplication::processEvents();
                        }) };
    steps << std::pair { "Pager Users window: to the last row", std::function<void()>([&] {
                            usersForm->UsersList->setCurrentIndex(usersForm->UsersModel->index(users - 1, 0));
                        }) };
    steps << std::pair { "close Pager Users window (recipient list rebuilt)", std::function<void()>([&] {
                            usersForm->close();
                            QApplication::processEvents();
                        }) };
    steps << std::pair { "open Groups window (group of M, N users)", std::function<void()>([&] {
                            groups->show();
                            groups->activateWindow();
                            QApplication::processEvents();
                        }) };
    steps << std::pair { "close Groups window (recipient list rebuilt)", std::function<void()>([&] {
                            groups->close();
                            QApplication::processEvents();
                        }) };
    steps << std::pair { "PrepareGroupMessage (M members)", std::function<void()>([&] {
                            form->messageEditor->setPlainText(
                                QStringLiteral("Fire drill at ten, please leave by the east stairs"));
                            form->session().sendToRecipient(QStringLiteral("Group: Bench"), form->composition().text());
                        }) };
    steps << std::pair { "Send Mesg, ticked group of M", std::function<void()>([&] {
                            form->messageEditor->setPlainText(
                                QStringLiteral("Fire drill at ten, please leave by the east stairs"));
                            form->composition().tick(QStringLiteral("Group: Bench"));
                            form->sendButton->click();
                        }) };
    steps << std::pair { "scheduled scan, due group of M", std::function<void()>([&] {
                            form->desk().SendMsgs().first();
                            while (!form->desk().SendMsgs().isEmpty())
                                form->desk().SendMsgs().deleteRow();
                            form->Timer1Timer();
                        }) };

    int at = 0;
    std::function<void()> runNext = [&] {
        if (at == steps.size()) {
            std::printf("pages queued at the end\t%d\n", form->desk().SendMsgs().rowCount());
            heart.stop();
            app.quit();
            return;
        }
        if (at == 1) {
            // The main window's own start (its first layout and paint among it) ends here.
            startGap = longestGap;
            longestGap = 0;
            longest = 0;
        }
        const auto& [name, work] = steps.at(at++);
        timed(name, work);
        QTimer::singleShot(20, runNext); // beats in between: each step is one stretch
    };
    heart.start();
    QTimer::singleShot(20, runNext);
    app.exec();
    std::printf("longest step after the start\t%.1f\n", longest);
    std::printf("longest heartbeat gap, main window start\t%.1f\n", startGap);
    std::printf("longest heartbeat gap after the start\t%.1f\n", longestGap);
    form.reset();
    return 0;
}
