#include "schedule/schedulemessage.h"

#include "compose/composition.h"
#include "compose/pageforms.h"
#include "core/desk.h"
#include "core/recipientname.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"

namespace schedule {

namespace {

QString twoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

bool wholeNumber(const QString& text, int* value)
{
    bool ok = false;
    *value = text.trimmed().toInt(&ok);
    return ok;
}

} // namespace

ClockFace clockFace(const QTime& time)
{
    ClockFace face;
    const int hour = time.hour();
    face.pm = hour >= 12;
    face.hour = twoDigits(hour % 12 == 0 ? 12 : hour % 12);
    face.minute = twoDigits(time.minute());
    return face;
}

bool stepHour(ClockFace& face, bool up)
{
    int hour = 0;
    if (!wholeNumber(face.hour, &hour))
        return false;
    hour += up ? 1 : -1;
    if (hour > 12)
        hour = 1;
    if (hour < 1)
        hour = 12;
    if ((up && hour == 12) || (!up && hour == 11))
        face.pm = !face.pm;
    face.hour = twoDigits(hour);
    return true;
}

bool stepMinute(ClockFace& face, bool up)
{
    int minute = 0;
    if (!wholeNumber(face.minute, &minute))
        return false;
    minute += up ? 1 : -1;
    if (minute > 59)
        minute = 0;
    if (minute < 0)
        minute = 59;
    face.minute = twoDigits(minute);
    return true;
}

QDate addMonths(const QDate& date, int months)
{
    // QDate::addMonths keeps the day or lowers it to the new month's last day.
    return date.addMonths(months);
}

QStringList scheduleRecipients(const compose::Composition& composition)
{
    return composition.tickedNames();
}

ScheduleOutcome scheduleMessage(core::Desk& desk, compose::Composition& composition, const QDate& day,
    const ClockFace& face, const QDateTime& now, bool passedAccepted)
{
    ScheduleOutcome outcome;
    const QString text = composition.text();
    const QString joined = compose::pageMessage(text);
    const QStringList recipients = scheduleRecipients(composition);
    if (joined.size() < 2 || recipients.isEmpty())
        return outcome;

    const QString built = QStringLiteral("%1/%2/%3 %4:%5:00 %6")
                              .arg(day.month())
                              .arg(day.day())
                              .arg(day.year())
                              .arg(face.hour, face.minute, face.pm ? QStringLiteral("PM") : QStringLiteral("AM"));
    int hour = 0;
    int minute = 0;
    const bool readable = day.isValid() && wholeNumber(face.hour, &hour) && wholeNumber(face.minute, &minute)
        && hour >= 1 && hour <= 12 && minute >= 0 && minute <= 59;
    if (!readable) {
        outcome.kind = ScheduleOutcome::InvalidMoment;
        outcome.lines = { QStringLiteral("'%1' is not a valid date and time").arg(built) };
        return outcome;
    }
    const QTime time((hour % 12) + (face.pm ? 12 : 0), minute);
    // A moment already passed is sent now, if the operator says so: the record is due this minute.
    const QDateTime thisMinute(now.date(), QTime(now.time().hour(), now.time().minute()));
    QDateTime moment(day, time);
    const bool passed = moment < thisMinute;
    if (passed) {
        if (!passedAccepted) {
            outcome.kind = ScheduleOutcome::MomentPassed;
            outcome.lines = { QStringLiteral("This moment has passed. Send the message now?") };
            return outcome;
        }
        moment = thisMinute;
    }

    for (const QString& recipient : recipients) {
        QString stored;
        try {
            stored = appendScheduledRecord(desk, moment, recipient, text);
        } catch (const store::StoreError& error) {
            if (outcome.lines.isEmpty())
                throw;
            outcome.kind = ScheduleOutcome::Scheduled;
            outcome.failure = error.message();
            return outcome;
        }
        composition.untick(recipient);
        if (passed) {
            // Due this minute: the scheduled scan sends it at its next pass, while scheduled sending
            // is on (the switch read at the start).
            outcome.lines << QStringLiteral("Message for ") + stored
                    + (desk.ScheduledSendingEnabled()
                            ? QStringLiteral(
                                " is due now: it goes at the next pass of the scheduled messages")
                            : QStringLiteral(" is due now: it goes once scheduled sending is on"));
        } else {
            outcome.lines << QStringLiteral("Message scheduled for ") + stored + QStringLiteral(" on ")
                    + moment.date().toString(QStringLiteral("yyyy/MM/dd")) + QStringLiteral(" at ")
                    + moment.time().toString(QStringLiteral("HH:mm:ss"));
        }
    }
    composition.setText(QString());
    outcome.kind = ScheduleOutcome::Scheduled;
    return outcome;
}

QString appendScheduledRecord(
    core::Desk& desk, const QDateTime& moment, const QString& recipient, const QString& text)
{
    namespace f = store::schedmsg;
    store::Table& sched = desk.SchedMsgT();
    const QString userName
        = core::isGroupRecipient(recipient) ? QStringLiteral("Group: ") + core::groupNameOf(recipient) : recipient;
    try {
        sched.append();
        sched.setFieldText(f::DDate, moment.date().toString(QStringLiteral("yyyy/MM/dd")));
        sched.setFieldText(f::DTime, moment.time().toString(QStringLiteral("HH:mm:ss")));
        sched.setFieldText(f::MustSend, QStringLiteral("Y"));
        sched.setFieldText(f::UserName, userName);
        sched.setMemoLines(f::Msg, text.split(u'\n'));
        sched.post();
    } catch (const store::StoreError&) {
        try {
            sched.cancel();
        } catch (const store::StoreError&) {
        }
        throw;
    }
    // The record as stored says who it is for.
    return sched.fieldText(f::UserName);
}

// Only the zero-padded forms are taken: the BY_SENTSTA index orders the records by their text, and
// the scan stops at the first one not yet due, so "2026/2/3" would be filed among later moments.
QString dateRefusal(const QString& text)
{
    const QString format = QStringLiteral("yyyy/MM/dd");
    const QDate date = QDate::fromString(text, format);
    if (date.isValid() && date.toString(format) == text)
        return QString();
    return QStringLiteral("'%1' is not a valid date").arg(text);
}

QString timeRefusal(const QString& text)
{
    const QString format = QStringLiteral("HH:mm:ss");
    const QTime time = QTime::fromString(text, format);
    if (time.isValid() && time.toString(format) == text)
        return QString();
    return QStringLiteral("'%1' is not a valid time").arg(text);
}

} // namespace schedule
