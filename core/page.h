#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace paging {
class TPageEngine;
}
namespace store {
class TMemTable;
}

namespace core {

// One page: a row of the send queue or the pending queue, from its preparation to the paging
// component. Every way into a page builds one; the queues keep it in their eight fields.
struct Page {
    QString networkPhone;
    QString pagerPhone;
    QString baudRate;
    int messageSize = 0;
    QString messageToSend;
    bool isGroup = false;
    QString userOrGroupName;
    int retries = 0;
    // Not held by the queue rows: the desk notes them beside the rows (PageNotes), and a page read
    // from a queue has them only once filled from there.
    // The carrier's name, by which the page finds its delivery paths.
    QString carrier;
    // The number of the message log record that logged the page, zero-padded to 10 digits; empty
    // when the page was not logged.
    QString logRecord;
    // Its DLVSTAT rows, one for each of pagerIds() (0 where none could be written).
    QList<quint32> statusRows;
    // A group page's members, one for each of pagerIds() (empty when not known).
    QStringList members;

    // The text a status line quotes: the message without a group page's "^^" marker.
    QString shownText() const;
    // The pager IDs it goes to, as the paging library reads PagerPhone: "ID1^ID2^" is a group.
    QStringList pagerIds() const;
    // Whom a status line names for its `index`th pager ID: the member and the group ("Alice
    // (Group: Night Shift)"), the member's pager ID when the member is not known, or for a page to
    // one pager its UserOrGroupName.
    QString recipientAt(qsizetype index) const;
    // The USERNAME of its `index`th row: the member, or its UserOrGroupName.
    QString userNameAt(qsizetype index) const;
};

// Appends `page` to the end of a queue and posts it; values longer than a field are cut to its
// width by the table. A failure leaves no half-built row behind (the row is cancelled) and is
// thrown on as store::StoreError.
void appendPage(store::TMemTable& queue, const Page& page);

// The current row of a queue as a page.
Page currentPage(const store::TMemTable& queue);
// Row `row` of a queue as a page, without moving its current row.
Page pageAt(const store::TMemTable& queue, int row);

// The page's fields into the paging component, ready for its Send.
void loadPage(const Page& page, paging::TPageEngine& engine);

} // namespace core
