// schedule_bench: the scheduling windows at size, offscreen. Fills SCHEDMS2 with a number of waiting
// records, then times the scheduling window's OK (one more record written, the status line built)
// and the opening of the "Scheduled Messages" list (its window made and shown with its grid read).
// Run by hand:
//     build/bench/schedule_bench [records=10000] [picture.png]

#include "app/mainform.h"
#include "app/schedulesetup.h"
#include "compose/composition.h"
#include "schedule/schedmsgform.h"
#include "schedule/schedulemessage.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = app.arguments().size() > 1 ? app.arguments().at(1).toInt() : 10000;
    QTemporaryDir dir;
    TMainForm form(dir.path());
    store::Table& sched = form.desk().SchedMsgT();
    namespace f = store::schedmsg;
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < records; ++i) {
        sched.append();
        sched.setFieldText(f::DDate, QDate(2030, 1, 1).addDays(i / 1440).toString(QStringLiteral("yyyy/MM/dd")));
        sched.setFieldText(f::DTime, QTime(0, 0).addSecs((i % 1440) * 60).toString(QStringLiteral("HH:mm:ss")));
        sched.setFieldText(f::UserName, QStringLiteral("User %1").arg(i));
        sched.setFieldText(f::MustSend, QStringLiteral("Y"));
        sched.setMemoLines(f::Msg, { QStringLiteral("Scheduled message number %1").arg(i) });
        sched.post();
    }
    std::printf("filled %d records in %lld ms\n", records, static_cast<long long>(fill.elapsed()));

    // OK: one record more, on the real composition.
    form.composition().recipients()->rebuild({ QStringLiteral("Alice") });
    form.composition().tick(QStringLiteral("Alice"));
    form.composition().setText(QStringLiteral("Scheduled at size"));
    QElapsedTimer ok;
    ok.start();
    const schedule::ScheduleOutcome outcome = schedule::scheduleMessage(
        form.desk(), form.composition(), QDate(2029, 12, 31), schedule::ClockFace { "12", "00", true },
        QDateTime::currentDateTime());
    std::printf("OK with %d records: %lld ms (%s)\n", records, static_cast<long long>(ok.elapsed()),
        qPrintable(outcome.lines.join(QStringLiteral("; "))));

    CreateScheduleForm(form);
    form.show();
    QElapsedTimer open;
    open.start();
    form.SchedMsgsMenu->trigger();
    QApplication::processEvents();
    auto* list = form.findChild<schedule::TSchedMsgF*>();
    std::printf("Scheduled Messages opened with %d records: %lld ms (%s)\n", records + 1,
        static_cast<long long>(open.elapsed()), list && list->isVisible() ? "shown" : "not shown");
    // A picture of the list, for looking at it: schedule_bench N PICTURE.png
    if (list && app.arguments().size() > 2)
        list->grab().save(app.arguments().at(2));
    return 0;
}
