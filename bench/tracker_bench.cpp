// tracker_bench: the WCTP tracker at size. Writes N open rows (ACCEPTED) into DLVSTAT, times a start's
// restore (the newest 1,000 taken up), then follows all N and counts the queries answered in a few
// seconds against the carrier simulator (each answer is written into its row), so that the rate at
// 20,000 and at 200,000 can be compared: the next query is found in O(log n). Run by hand:
//     build/bench/tracker_bench [N] [SECONDS]

#include "pagingbench.h"
#include "peakmemory.h"
#include "core/deliverystatus.h"
#include "core/deliverytracker.h"
#include "core/desk.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 200000;
    const int seconds = argc > 2 ? std::max(1, QByteArray(argv[2]).toInt()) : 5;
    QProcess sim;
    const auto said = bench::startSimulator(sim, QString(), { QStringLiteral("--wctp"), QStringLiteral("0") });
    if (said.isEmpty()) {
        std::fprintf(stderr, "pagersim did not start\n");
        return 1;
    }
    const QString url = QString::fromLatin1(said.value("WCTP"));
    QTemporaryDir dir;
    core::Desk desk(dir.path());
    if (const QString failure = desk.open(); !failure.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failure));
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    QList<core::StatusRow> rows;
    for (int i = 0; i < n; ++i) {
        core::StatusRow row;
        row.pagerId = QString::number(1000 + i % 5000);
        row.method = QStringLiteral("WCTP");
        row.address = url;
        row.tracking = QStringLiteral("T%1").arg(i, 9, 10, QLatin1Char('0'));
        row.status = core::kAccepted;
        row.changed = QDateTime::currentDateTime();
        row.recNo = core::addStatusRow(desk.DlvStatT(), row);
        rows << row;
    }
    std::printf("%d open rows written\t%lld ms\n", n, timer.elapsed());

    {
        core::DeliveryTracker restored(desk);
        timer.restart();
        restored.restore();
        std::printf("restore: %d followed\t%lld ms\tpeak %s\n", restored.followedCount(), timer.elapsed(),
            bench::peakResident().constData());
    }

    core::DeliveryTracker tracker(desk);
    tracker.setIntervals(0, 0);
    paging::DeliveryPath path;
    path.method = QStringLiteral("WCTP");
    path.address = url;
    timer.restart();
    for (const core::StatusRow& row : std::as_const(rows))
        tracker.accepted(row, path, row.pagerId);
    std::printf("%d followed\t%lld ms\n", tracker.followedCount(), timer.elapsed());
    // The simulator knows none of these numbers: each answer is a failure, written, and the number
    // is no longer followed.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const int asked = n - tracker.followedCount();
    std::printf("queries answered in %d s\t%d\t%.0f a second\tpeak %s\n", seconds, asked, asked / double(seconds),
        bench::peakResident().constData());
    sim.kill();
    sim.waitForFinished();
    return 0;
}
