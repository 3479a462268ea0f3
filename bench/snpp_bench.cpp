// snpp_bench: what a slow SNPP server costs a group page. pagersim's SNPP server holds every reply
// 20 ms (--fault slow-ack=0.02); a page to 10 pager IDs is timed from StartPage to the finished event and
// compared with the server's own share: one 20 ms wait per reply (the greeting and each command the
// library sent, counted from the debug file). Goal for the group: at most 1.2 times (commands x 20 ms),
// the greeting's wait not counted among the commands. Run by hand:
//     build/bench/snpp_bench [path/to/pagersim]

#include "pagingbench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kDelayMs = 20;

// Command lines the library sent: every "->" line of the debug file is one command.
int commandsSent(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int n = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        n += line.mid(24, 2) == "->";
    return n;
}

void run(const char* name, const QByteArray& port, const QString& debug, const QByteArray& pagers,
    const QByteArray& message, bool judged, bool* ok)
{
    QFile::remove(debug);
    bench::FinishWaiter waiter(port);
    char result[paging::kResultBufferSize];
    QElapsedTimer clock;
    clock.start();
    if (StartPage(port.constData(), "300", "", "", "", pagers.constData(), "80", message.constData(),
            debug.toUtf8().constData(), result, &waiter, 1363, 1364)
        != 0) {
        std::fprintf(stderr, "StartPage refused: %s\n", result);
        *ok = false;
        return;
    }
    QTimer::singleShot(60000, &waiter.loop, &QEventLoop::quit);
    waiter.loop.exec();
    const double ms = clock.nsecsElapsed() / 1e6;
    const int commands = commandsSent(debug);
    const int replies = commands + 1; // and the greeting
    const double floor = replies * double(kDelayMs);
    const double ratio = ms / (commands * double(kDelayMs));
    std::printf("%-16s code %d  %7.1f ms  %2d commands + greeting  server's delays %5.0f ms (ratio %.3f)  "
                "ms / (commands x %d ms) = %.3f  %s\n",
        name, waiter.code, ms, commands, floor, ms / floor, kDelayMs, ratio,
        !judged ? "" : ratio <= 1.2 ? "goal <= 1.2 met" : "goal <= 1.2 MISSED");
    *ok = *ok && waiter.code == 0 && (!judged || ratio <= 1.2);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString sim = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    QProcess process;
    const QByteArray address = bench::startSimulator(process, sim,
        { QStringLiteral("--snpp"), QStringLiteral("0"), QStringLiteral("--fault"),
            QStringLiteral("slow-ack=%1").arg(kDelayMs / 1000.0) })
                                   .value("SNPP");
    if (address.isEmpty()) {
        std::fprintf(stderr, "pagersim did not start (%s)\n", qPrintable(sim));
        return 1;
    }
    std::printf("SNPP server %s, every reply held %d ms\n", address.constData(), kDelayMs);
    const QByteArray port = "snpp:" + address;
    const QString debug = dir.filePath(QStringLiteral("debug.txt"));
    bool ok = true;
    run("one page", port, debug, "1234567", "Call the front desk about the delivery at 3 pm", false, &ok);
    QByteArray group;
    for (int i = 0; i < 10; ++i)
        group += QByteArray::number(2000 + i) + '^';
    run("group of 10 IDs", port, debug, group, "Fire drill at 3 pm, assemble in the car park^^", true, &ok);
    process.terminate();
    process.waitForFinished(3000);
    return ok ? 0 : 1;
}
