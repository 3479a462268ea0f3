#include "schedule/scheduledscan.h"

#include "core/desk.h"
#include "core/recipientname.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

namespace schedule {

namespace {

const QString& kDate = store::schedmsg::DDate;
const QString& kTime = store::schedmsg::DTime;
const QString& kUserName = store::schedmsg::UserName;
const QString& kMustSend = store::schedmsg::MustSend;
const QString& kMessage = store::schedmsg::Msg;

int minuteOfDay(const QTime& t)
{
    return t.hour() * 60 + t.minute();
}

} // namespace

ScheduledScan::ScheduledScan(core::Desk& desk, SendFunction send)
    : clock([] { return QDateTime::currentDateTime(); })
    , desk_(desk)
    , send_(std::move(send))
{
}

QDate ScheduledScan::readDate(const QString& text)
{
    return QDate::fromString(text.trimmed(), QStringLiteral("yyyy/MM/dd"));
}

QTime ScheduledScan::readTime(const QString& text)
{
    const QString t = text.trimmed();
    QTime time = QTime::fromString(t, QStringLiteral("HH:mm:ss"));
    if (!time.isValid())
        time = QTime::fromString(t, QStringLiteral("HH:mm"));
    return time;
}

bool ScheduledScan::run()
{
    // The mark comes down before the caller's error box opens: ticks run inside that box and
    // delivery must go on.
    const core::BusyMark mark = desk_.markScheduleScan();
    bool sent = false;
    try {
        sent = walk();
    } catch (const store::LockedError&) {
        throw; // waited for once: not again for the refresh
    } catch (...) {
        try {
            desk_.SchedMsgT().refresh();
        } catch (...) {
        }
        throw;
    }
    desk_.SchedMsgT().refresh();
    return sent;
}

bool ScheduledScan::walk()
{
    store::Table& sched = desk_.SchedMsgT();
    const QDateTime now = clock();
    const QDate today = now.date();
    const int nowMinute = minuteOfDay(now.time());
    // Deleting the last record makes the one before it current; a record met twice ends the walk.
    QSet<uint32_t> visited;
    sched.first();
    while (!sched.eof() && !sched.isEmpty()) {
        const uint32_t recno = sched.recNo();
        if (visited.contains(recno))
            break;
        visited.insert(recno);
        if (sched.fieldText(kMustSend) != QStringLiteral("Y")) {
            sched.next();
            continue;
        }
        const QString dateText = sched.fieldText(kDate);
        const QString timeText = sched.fieldText(kTime);
        const QDate date = readDate(dateText);
        const QTime time = readTime(timeText);
        if (!date.isValid() || !time.isValid()) {
            // Passed over, kept for the operator to mend in the scheduled list; named once, not at
            // every quarter minute.
            if (!reported_.contains(recno) && showStatus)
                showStatus(
                    QStringLiteral("Scheduled message for %1 passed over: unreadable date or time '%2 %3'")
                        .arg(sched.fieldText(kUserName), dateText, timeText));
            reported_.insert(recno);
            sched.next();
            continue;
        }
        if (date < today) {
            sched.deleteRecord(); // unsent; what followed it is current now
            continue;
        }
        if (sentNotDeleted_.contains(recno)) {
            deleteSent(recno); // sent by an earlier scan whose deletion failed
            continue;
        }
        if (date == today && minuteOfDay(time) <= nowMinute) {
            sendCurrent();
            return true;
        }
        sched.next();
    }
    return false;
}

void ScheduledScan::sendCurrent()
{
    store::Table& sched = desk_.SchedMsgT();
    const QString recipient = sched.fieldText(kUserName);
    QString text = sched.fieldText(kMessage);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const uint32_t recno = sched.recNo();
    try {
        if (send_)
            send_(recipient, text);
    } catch (...) {
        // Whatever the preparation reported, the record goes; the fault is reported by the caller.
        deleteSent(recno);
        throw;
    }
    deleteSent(recno);
}

void ScheduledScan::deleteSent(uint32_t recno)
{
    try {
        deleteRecord(recno);
        sentNotDeleted_.remove(recno);
    } catch (const store::StoreError&) {
        // Its pages are queued: a later scan deletes it without sending it again.
        sentNotDeleted_.insert(recno);
        throw;
    }
}

void ScheduledScan::deleteRecord(uint32_t recno)
{
    // A box shown by the preparation lets the operator move the shared handle (the scheduled list
    // works on it too): the record sent is the one deleted.
    store::Table& sched = desk_.SchedMsgT();
    if (sched.isEmpty())
        return;
    if (sched.recNo() != recno) {
        sched.first();
        while (!sched.eof() && sched.recNo() != recno)
            sched.next();
    }
    if (!sched.eof() && sched.recNo() == recno)
        sched.deleteRecord();
}

} // namespace schedule
