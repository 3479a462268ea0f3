// A pending-queue file as a crash, a full disk or another program might leave it: loaded into the
// desk's pending queue (kept aside as PendMsgs.bad when it cannot be used), walked, saved, and the
// saved file loaded again with every row intact.

#include "core/queues.h"
#include "fuzzsupport.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <cstdlib>

namespace {

QByteArray seed()
{
    store::TMemTable send;
    store::TMemTable pending;
    store::TMemTable tempUser;
    core::createQueueTables(send, pending, tempUser);
    for (int i = 0; i < 3; ++i) {
        pending.append();
        pending.setFieldText(QString::fromLatin1(core::page::NetworkPhone), QStringLiteral("555-0101^pw"));
        pending.setFieldText(QString::fromLatin1(core::page::PagerPhone), QStringLiteral("1234"));
        pending.setFieldText(QString::fromLatin1(core::page::MessageToSend), QStringLiteral("Page %1").arg(i));
        pending.setFieldText(QString::fromLatin1(core::page::UserOrGroupName), QStringLiteral("Ann Lee"));
        pending.post();
    }
    return pending.saveToBytes();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = fuzz::scratchFolder() + QStringLiteral("/PendMsgs");
    QFile::remove(core::badPendingQueuePath(path));
    fuzz::writeFile(path, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    store::TMemTable send;
    store::TMemTable pending;
    store::TMemTable tempUser;
    core::createQueueTables(send, pending, tempUser);
    core::loadPendingQueue(pending, path);
    if (!pending.isOpen())
        std::abort(); // the queue must be usable whatever the file held
    const int rows = pending.rowCount();
    QStringList messages;
    for (pending.first(); !pending.eof(); pending.next())
        messages << pending.fieldText(QString::fromLatin1(core::page::MessageToSend));
    core::savePendingQueue(pending, path);
    core::createQueueTables(send, pending, tempUser);
    core::loadPendingQueue(pending, path);
    if (pending.rowCount() != rows)
        std::abort(); // a saved queue reads back whole
    QStringList again;
    for (pending.first(); !pending.eof(); pending.next())
        again << pending.fieldText(QString::fromLatin1(core::page::MessageToSend));
    if (again != messages)
        std::abort();
    return 0;
}
