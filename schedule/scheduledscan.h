#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>

namespace core {
class Desk;
}

namespace schedule {

// The scheduled-message scan: walks SCHEDMS2 through the desk's SchedMsgT in BY_SENTSTA order
// (waiting records "Y" from the earliest moment to the latest), deletes the waiting records of days
// gone by unsent, and sends the first one that has fallen due: its recipient and text go to `send`
// (the same preparation as the send command, without the operator's editor), then the record is
// deleted. At most one message is sent per scan. While it runs the desk's scheduleScanActive() is
// true.
class ScheduledScan {
public:
    // Prepares the pages of one due record: its USERNAME (a user, or "Group: " + a group) and its
    // message with LF line ends.
    using SendFunction = std::function<void(const QString& recipient, const QString& text)>;

    ScheduledScan(core::Desk& desk, SendFunction send);

    // The moment the scan compares with; the system clock unless replaced.
    std::function<QDateTime()> clock;
    // One line for the status list (a record whose date or time cannot be read).
    std::function<void(const QString&)> showStatus;

    // One scan; true when it sent a record. The scan's mark is down again afterwards, also when a
    // table operation throws (the fault then goes on to the caller).
    bool run();

    // DDATE "yyyy/mm/dd" and DTIME "hh:mm:ss" (24-hour) as written by the scheduling window; an
    // invalid result when the text cannot be read.
    static QDate readDate(const QString& text);
    static QTime readTime(const QString& text);

private:
    bool walk();
    void sendCurrent();
    // Deletes record `recno` of SchedMsgT, wherever the handle stands now.
    void deleteRecord(uint32_t recno);
    // Deletes a record whose pages were queued; one that cannot be deleted now is remembered.
    void deleteSent(uint32_t recno);

    core::Desk& desk_;
    SendFunction send_;
    QSet<uint32_t> reported_; // records with an unreadable date or time already named
    QSet<uint32_t> sentNotDeleted_; // records sent whose deletion failed (a table kept locked)
};

} // namespace schedule
