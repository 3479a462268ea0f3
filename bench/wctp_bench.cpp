// wctp_bench: how long a WCTP page takes on loopback with a server that answers at once (pagersim
// --wctp, no delay fault). Times N one-page submits through the library's page path (startWctpPage to
// the finished event: worker thread, HTTP client, the POST and the answer) and N bare submits on one
// client, and compares the medians with the goal of 50 ms a submit. Run by hand:
//     build/bench/wctp_bench [N] [path/to/pagersim]

#include "pagingbench.h"
#include "paging/wctpclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kGoalMs = 50.0;

void report(const char* name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    const double p90 = ms[std::min(ms.size() - 1, ms.size() * 9 / 10)];
    std::printf("%-28s n %3zu  min %6.2f ms  median %6.2f ms  p90 %6.2f ms  max %6.2f ms  goal <= %.0f ms %s\n",
        name, ms.size(), ms.front(), median, p90, ms.back(), kGoalMs, median <= kGoalMs ? "met" : "MISSED");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 50;
    const QString sim = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    QProcess process;
    const QUrl url(QString::fromLatin1(
        bench::startSimulator(process, sim, { QStringLiteral("--wctp"), QStringLiteral("0") }).value("WCTP")));
    if (!url.isValid()) {
        std::fprintf(stderr, "pagersim did not start (%s)\n", qPrintable(sim));
        return 1;
    }
    const paging::WctpTarget target { url, QStringLiteral("bench"), QStringLiteral("pw") };

    std::vector<double> pages;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        bench::FinishWaiter waiter("WCTPBENCH");
        char result[paging::kResultBufferSize];
        QElapsedTimer clock;
        clock.start();
        if (paging::startWctpPage("WCTPBENCH", target, "5551234", "0", "Bench page", "", result, &waiter, 1363, 1364)) {
            std::fprintf(stderr, "start refused: %s\n", result);
            return 1;
        }
        QTimer::singleShot(10000, &waiter.loop, &QEventLoop::quit);
        waiter.loop.exec();
        pages.push_back(clock.nsecsElapsed() / 1e6);
        failures += waiter.code != 0;
        paging::detachReceiver(&waiter);
    }

    std::vector<double> submits;
    paging::WctpClient client(target);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        const auto r = client.submit(QStringLiteral("5551234"), QStringLiteral("Bench page"));
        submits.push_back(clock.nsecsElapsed() / 1e6);
        failures += r.status != 0 || !r.answer.success;
    }

    std::printf("WCTP on %s, no delay\n", qPrintable(url.toString()));
    report("page (start to finished)", pages);
    report("submit on one client", submits);
    process.terminate();
    process.waitForFinished(3000);
    if (failures)
        std::printf("%d runs failed\n", failures);
    return failures ? 1 : 0;
}
