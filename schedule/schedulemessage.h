#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

namespace core {
class Desk;
}
namespace compose {
class Composition;
}

namespace schedule {

// The hour and minute as the scheduling window shows them: the hour on a 12-hour clock face
// ("01" to "12"), the minute "00" to "59", and the half of the day.
struct ClockFace {
    QString hour;
    QString minute;
    bool pm = false;
};

// Now on the clock face: 0:xx is 12 AM, 12:xx is 12 PM, 13:xx to 23:xx are 1 to 11 PM.
ClockFace clockFace(const QTime& time);

// One step of the spin button. The hour turns like a clock face: up past 12 gives 01, and the half
// of the day flips on reaching 12 going up or 11 going down. The minute wraps from 59 to 00 and
// back without touching the hour. False, with nothing changed, when the field is not a whole number.
bool stepHour(ClockFace& face, bool up);
bool stepMinute(ClockFace& face, bool up);

// The month `months` away from `date`, on the same day or the last day of a shorter month.
QDate addMonths(const QDate& date, int months);

// What the OK command did.
struct ScheduleOutcome {
    enum Kind { Scheduled, NothingToSchedule, InvalidMoment, MomentPassed } kind = NothingToSchedule;
    // Scheduled: one status line per recipient scheduled, in list order. InvalidMoment and
    // MomentPassed: the message that says why, alone.
    QStringList lines;
    // Scheduled for some recipients, then the store refused one: its message; the recipients not
    // scheduled keep their ticks and the message stays, for another OK.
    QString failure;
};

// The OK command of the scheduling window: checks that the message has 2 characters or more and
// that an item is ticked, reads the moment from the day and the clock face, and writes one SCHEDMS2
// record for every ticked recipient, in list order (DDATE "yyyy/mm/dd", DTIME "hh:mm:ss" on the
// 24-hour clock, MUSTSEND "Y", USERNAME the recipient item, MSG the message), unticking each as its
// record is written; once all are written the message is cleared. A moment before the minute of
// `now` is MomentPassed, nothing written, unless `passedAccepted` (the operator chose to send it
// now: the records are written for the minute of `now`, due at once, and the lines say they go at
// the scheduled scan's next pass). A store failure on the first record propagates
// (store::StoreError), with nothing written and every tick kept; on a later one the records written
// stay and the outcome says what failed.
ScheduleOutcome scheduleMessage(core::Desk& desk, compose::Composition& composition, const QDate& day,
    const ClockFace& face, const QDateTime& now, bool passedAccepted = false);

// One waiting SCHEDMS2 record: `text` (lines separated by LF) for `recipient` (a user, or "Group: "
// + a group), due at `moment`. Returns the USERNAME as stored. A store failure
// throws store::StoreError, with nothing written.
QString appendScheduledRecord(
    core::Desk& desk, const QDateTime& moment, const QString& recipient, const QString& text);

// The recipients the OK command schedules for: the ticked items, in list order.
QStringList scheduleRecipients(const compose::Composition& composition);

// A DDATE or DTIME typed into the scheduled list: empty when it is a real date "yyyy/mm/dd" or a
// real time "hh:mm:ss" written with every zero, else the message that refuses it.
QString dateRefusal(const QString& text);
QString timeRefusal(const QString& text);

} // namespace schedule
