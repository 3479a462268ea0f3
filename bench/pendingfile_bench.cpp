// pendingfile_bench: the cost of keeping the pending file current. Every change of the pending or
// the send queue rewrites it whole (pending rows, then the waiting pages), atomically: a temporary
// file written and synced, then renamed over the old one. This times one rewrite with a given number
// of rows (half pending, half waiting, full-length messages) in a folder of your choice (the
// file system decides the cost of the sync). Run by hand:
//     build/bench/pendingfile_bench [rows=200] [rewrites=200] [folder=a temporary one]

#include "core/pendingfile.h"
#include "core/queues.h"
#include "store/memtable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void fill(store::TMemTable& table, int rows, const char* kind)
{
    for (int i = 0; i < rows; ++i) {
        table.append();
        table.setFieldText(QStringLiteral("NetworkPhone"), QStringLiteral("9,5550101^secret"));
        table.setFieldText(QStringLiteral("PagerPhone"), QString::number(5550000 + i));
        table.setFieldText(QStringLiteral("BaudRate"), QStringLiteral("1200"));
        table.setFieldInt(QStringLiteral("MessageSize"), 80);
        table.setFieldText(QStringLiteral("MessageToSend"), QString(500, u'm'));
        table.setFieldText(
            QStringLiteral("UserOrGroupName"), QStringLiteral("%1 %2").arg(QLatin1String(kind)).arg(i));
        table.setFieldInt(QStringLiteral("Retries"), 3);
        table.post();
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args[1].toInt() : 200;
    const int rewrites = args.size() > 2 ? args[2].toInt() : 200;
    QTemporaryDir temporary;
    const QString folder = args.size() > 3 ? args[3] : temporary.path();
    const QString path = QDir(folder).filePath(QStringLiteral("PendMsgs"));

    store::TMemTable sendMsgs;
    store::TMemTable pendingMsgs;
    store::TMemTable tempUser;
    core::createQueueTables(sendMsgs, pendingMsgs, tempUser);
    fill(pendingMsgs, rows / 2, "Pending");
    fill(sendMsgs, rows - rows / 2, "Waiting");

    std::vector<double> ms;
    ms.reserve(rewrites);
    QElapsedTimer timer;
    // As the desk keeps it: the rows written before are not converted again.
    core::PendingRowCache cache;
    for (int i = 0; i < rewrites; ++i) {
        timer.start();
        core::writePendingFile(pendingMsgs, sendMsgs, path, nullptr, nullptr, &cache);
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    double total = 0;
    for (double m : ms)
        total += m;
    std::printf("pending file: %d rows, %lld bytes, %d rewrites in %s\n", rows,
        static_cast<long long>(QFileInfo(path).size()), rewrites, qPrintable(folder));
    std::printf("one rewrite: median %.2f ms, mean %.2f ms, 95th %.2f ms, max %.2f ms\n", ms[ms.size() / 2],
        total / ms.size(), ms[ms.size() * 95 / 100], ms.back());
    return 0;
}
