#include "core/pendingqueue.h"

#include "core/deliverystatus.h"
#include "core/desk.h"
#include "core/page.h"
#include "core/queues.h"
#include "paging/pagestatus.h"
#include "store/memtable.h"

namespace core {

bool isRetryableCode(int statusCode)
{
    return paging::isRetryable(statusCode); // one list for the library and the queue
}

EndOfPage PendingMessages(store::TMemTable& sendMsgs, store::TMemTable& pendingMsgs, int statusCode, bool mayHaveDelivered)
{
    if (statusCode <= 0 || statusCode >= 30 || sendMsgs.isEmpty())
        return EndOfPage::Left;
    sendMsgs.first();
    const QString retries = QString::fromLatin1(page::Retries);
    if (isRetryableCode(statusCode) && !mayHaveDelivered && sendMsgs.fieldInt(retries) > 1) {
        sendMsgs.edit();
        sendMsgs.setFieldInt(retries, sendMsgs.fieldInt(retries) - 1);
        sendMsgs.post();
        return EndOfPage::Retried;
    }
    movePage(sendMsgs, pendingMsgs);
    return EndOfPage::MovedToPending;
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

namespace core {

namespace {

// The pending page of `row` with its notes; false when there is no such row.
bool pendingPage(Desk& desk, int row, Page* page)
{
    store::TMemTable& pending = desk.PendingMsgs();
    if (row < 0 || row >= pending.rowCount())
        return false;
    *page = pageAt(pending, row);
    desk.pageNotes().fill(*page);
    pending.setCurrentRow(row);
    return true;
}

} // namespace

bool resendPending(Desk& desk, int row)
{
    Page page;
    if (!pendingPage(desk, row, &page))
        return false;
    movePage(desk.PendingMsgs(), desk.SendMsgs());
    desk.outcomes().setAll(page, kResent);
    return true;
}

int resendAllPending(Desk& desk)
{
    int moved = 0;
    while (resendPending(desk, 0))
        ++moved;
    return moved;
}

bool deletePending(Desk& desk, int row)
{
    Page page;
    if (!pendingPage(desk, row, &page))
        return false;
    desk.PendingMsgs().deleteRow();
    desk.outcomes().setAll(page, kFailed);
    desk.pageNotes().forget(page);
    desk.deliveryMarks().unmark(page);
    return true;
}

} // namespace core
