// tap_bench: how close a call comes to the line's own limit. On a simulated 300-baud line (pagersim
// --baud 300, 30 characters a second each way, one at a time) it times a one-page call and a 10-ID
// group call from StartPage to the finished event, and compares them with the minimum: every byte
// both sides sent (counted from the debug file) at 30 a second, plus the waits the protocol requires
// (none on a call that ends with the terminal's hang-up). Run by hand:
//     build/bench/tap_bench [path/to/pagersim]

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

constexpr int kBaud = 300;
constexpr double kCharsPerSecond = kBaud / 10.0;

// Bytes of the "->" and "<-" lines of a debug file ("<XX>" stands for one byte), and the number of
// turns: runs of bytes in one direction.
qint64 bytesOnTheLine(const QString& path, qint64* turns)
{
    QFile file(path);
    *turns = 0;
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    qint64 total = 0;
    QByteArray direction;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.size() < 27 || (line.mid(24, 2) != "->" && line.mid(24, 2) != "<-"))
            continue;
        if (line.mid(24, 2) != direction) {
            direction = line.mid(24, 2);
            ++*turns;
        }
        const QByteArray data = line.mid(27);
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (data.at(i) == '<' && i + 3 < data.size() && data.at(i + 3) == '>')
                i += 3;
            ++total;
        }
    }
    return total;
}

struct Figures {
    double seconds = 0;
    qint64 bytes = 0;
    qint64 turns = 0;
    int code = -1;
};

Figures runCall(
    const QByteArray& port, const QString& debug, const QByteArray& pagers, const QByteArray& message)
{
    QFile::remove(debug);
    bench::FinishWaiter waiter(port);
    char result[paging::kResultBufferSize];
    QElapsedTimer clock;
    clock.start();
    const int rc = StartPage(port.constData(), "300", "ATZ~", "", "5551234^pw", pagers.constData(), "80",
        message.constData(), debug.toUtf8().constData(), result, &waiter, 1363, 1364);
    Figures f;
    if (rc != 0) {
        std::fprintf(stderr, "StartPage refused: %d %s\n", rc, result);
        return f;
    }
    QTimer::singleShot(120000, &waiter.loop, &QEventLoop::quit);
    waiter.loop.exec();
    f.seconds = clock.elapsed() / 1000.0;
    f.code = waiter.code;
    f.bytes = bytesOnTheLine(debug, &f.turns);
    return f;
}

void report(const char* name, const Figures& f)
{
    // The line's minimum: every byte at 30 a second. The simulator sends the first character after a
    // pause at once, as a real line does, so a run of n characters takes (n - 1) character times: the
    // paced minimum counts that too.
    const double minimum = f.bytes / kCharsPerSecond;
    const double paced = (f.bytes - f.turns) / kCharsPerSecond;
    std::printf(
        "%-16s code %2d  %6.2f s  bytes %4lld in %3lld turns  minimum %6.2f s (ratio %.3f)  paced minimum "
        "%6.2f s (ratio %.3f)  %s\n",
        name, f.code, f.seconds, static_cast<long long>(f.bytes), static_cast<long long>(f.turns), minimum,
        minimum > 0 ? f.seconds / minimum : 0.0, paced, paced > 0 ? f.seconds / paced : 0.0,
        paced > 0 && f.seconds / paced <= 1.15 ? "goal <= 1.15 met" : "goal <= 1.15 MISSED");
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QString sim = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QTemporaryDir dir;
    QProcess process;
    const QByteArray device
        = bench::startSimulator(process, sim, { QStringLiteral("--baud"), QString::number(kBaud) }).value("DEVICE");
    if (device.isEmpty()) {
        std::fprintf(stderr, "pagersim did not start (%s)\n", qPrintable(sim));
        return 1;
    }
    std::printf("line: %d baud simulated on %s, %.0f characters a second\n", kBaud, device.constData(),
        kCharsPerSecond);

    const QString debug = dir.filePath(QStringLiteral("debug.txt"));
    const Figures one = runCall(device, debug, "1234567", "Call the front desk about the delivery at 3 pm");
    report("one page", one);
    QByteArray group;
    for (int i = 0; i < 10; ++i)
        group += QByteArray::number(2000 + i) + '^';
    const Figures ten = runCall(device, debug, group, "Fire drill at 3 pm, assemble in the car park^^");
    report("group of 10 IDs", ten);

    process.terminate();
    process.waitForFinished(3000);
    return one.code == 0 && ten.code == 0 ? 0 : 1;
}
