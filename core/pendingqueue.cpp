#include "core/pendingqueue.h"

#include "core/queues.h"
#include "paging/pagestatus.h"
#include "store/memtable.h"

namespace core {

bool isRetryableCode(int statusCode)
{
    return paging::isRetryable(statusCode); // one table: the library's
}

void PendingMessages(store::TMemTable& sendMsgs, store::TMemTable& pendingMsgs, int statusCode)
{
    if (statusCode <= 0 || statusCode >= 30 || sendMsgs.isEmpty())
        return;
    sendMsgs.first();
    const QString retries = QString::fromLatin1(page::Retries);
    if (isRetryableCode(statusCode) && sendMsgs.fieldInt(retries) > 1) {
        sendMsgs.edit();
        sendMsgs.setFieldInt(retries, sendMsgs.fieldInt(retries) - 1);
        sendMsgs.post();
        return;
    }
    movePage(sendMsgs, pendingMsgs);
}

bool resendPendingPage(store::TMemTable& pendingMsgs, store::TMemTable& sendMsgs)
{
    if (pendingMsgs.isEmpty())
        return false;
    movePage(pendingMsgs, sendMsgs);
    return true;
}

bool deletePendingPage(store::TMemTable& pendingMsgs)
{
    if (pendingMsgs.isEmpty())
        return false;
    pendingMsgs.deleteRow();
    return true;
}

} // namespace core
