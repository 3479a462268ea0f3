#pragma once

#include "core/queues.h"
#include "store/memtable.h"

#include <QList>
#include <QString>
#include <QStringList>

// Pages for the queue tests: a row of the send or pending queue with the fields the preparation
// steps fill.
namespace testsupport {

struct TestPage {
    QString name = QStringLiteral("Mary Jones");
    QString pager = QStringLiteral("1234");
    QString message = QStringLiteral("Call the office");
    QString network = QStringLiteral("5551234^pw");
    QString baud = QStringLiteral("300");
    int size = 80;
    int retries = 1;
    bool isGroup = false;
};

inline void appendPage(store::TMemTable& queue, const TestPage& p)
{
    using namespace core::page;
    queue.append();
    queue.setFieldText(QString::fromLatin1(NetworkPhone), p.network);
    queue.setFieldText(QString::fromLatin1(PagerPhone), p.pager);
    queue.setFieldText(QString::fromLatin1(BaudRate), p.baud);
    queue.setFieldInt(QString::fromLatin1(MessageSize), p.size);
    queue.setFieldText(QString::fromLatin1(MessageToSend), p.message);
    queue.setFieldText(QString::fromLatin1(UserOrGroupName), p.name);
    queue.setFieldBool(QString::fromLatin1(IsGroup), p.isGroup);
    queue.setFieldInt(QString::fromLatin1(Retries), p.retries);
    queue.post();
}

inline QStringList pageNames(store::TMemTable& queue)
{
    QStringList names;
    for (int row = 0; row < queue.rowCount(); ++row)
        names << queue.value(row, queue.fieldIndex(QString::fromLatin1(core::page::UserOrGroupName)))
                     .toString();
    return names;
}

inline int pageRetries(store::TMemTable& queue, int row)
{
    return queue.value(row, queue.fieldIndex(QString::fromLatin1(core::page::Retries))).toInt();
}

// A queued page as the tests read it back.
struct QueuedPage {
    QString networkPhone, pagerPhone, baudRate, message, name;
    int size = 0;
    int retries = 0;
    bool isGroup = false;
};

// Every page of `queue`, in queue order.
inline QList<QueuedPage> queuedPages(store::TMemTable& queue)
{
    using namespace core::page;
    QList<QueuedPage> pages;
    for (int row = 0; row < queue.rowCount(); ++row) {
        queue.setCurrentRow(row);
        pages << QueuedPage { queue.fieldText(QString::fromLatin1(NetworkPhone)),
            queue.fieldText(QString::fromLatin1(PagerPhone)), queue.fieldText(QString::fromLatin1(BaudRate)),
            queue.fieldText(QString::fromLatin1(MessageToSend)),
            queue.fieldText(QString::fromLatin1(UserOrGroupName)), queue.fieldInt(QString::fromLatin1(MessageSize)),
            queue.fieldInt(QString::fromLatin1(Retries)), queue.fieldBool(QString::fromLatin1(IsGroup)) };
    }
    return pages;
}

} // namespace testsupport
