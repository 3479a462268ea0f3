#include "msglog/logreport.h"

#include "report/reportlayout.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QLocale>

#include <limits>

namespace msglog {

namespace {
enum Column { DateColumn, TimeColumn, NameColumn, MessageColumn };
// The least space between the date and the time: a blank of the detail font, so they read as two
// words.
constexpr double kTimeGapMm = 1.0;
// The least space between a name and its message: a name as wide as "Group: Sales" still fits
// on one line.
constexpr double kNameGapMm = 0.5;
} // namespace

report::ReportDefinition logReportDefinition()
{
    report::ReportDefinition def;
    def.pageMm = QSizeF(215.9, 279.4);
    def.marginsMm = QMarginsF(12.7, 12.7, 12.7, 12.7);
    const report::FontSpec title { QStringLiteral("Arial"), 18, true };
    const report::FontSpec detail { QStringLiteral("Arial"), 10, true };
    def.title.heightMm = 11.38;
    def.title.fields = { { -1, QStringLiteral("Message Log"), 56.4, 1.6, 68.0, title, false, true } };
    def.groupHeader.heightMm = 10.58;
    def.detail.heightMm = 6.61;
    // A date "yyyy/mm/dd" in Arial 10 bold is as wide as the 17.5 mm from the date's column to the
    // time's, so the two would read as one word: the time starts a gap after the widest date (its
    // digits are all one width). A name wider than its column would run into the message: it wraps
    // within the column, growing the band as a long message does.
    const double dateLeft = 2.1;
    const double timeLeft
        = qMax(19.6, dateLeft + report::ReportLayout::textWidthMm(QStringLiteral("0000/00/00"), detail) + kTimeGapMm);
    const double nameLeft = 46.3;
    const double messageLeft = 68.8;
    def.detail.fields = {
        { DateColumn, {}, dateLeft, 0.53, 0, detail, false, false },
        { TimeColumn, {}, timeLeft, 0.53, 0, detail, false, false },
        { NameColumn, {}, nameLeft, 0.53, messageLeft - nameLeft - kNameGapMm, detail, true, false },
        { MessageColumn, {}, messageLeft, 0.53, 0, detail, true, false },
    };
    def.groupKey = [](const QStringList& record) { return record.value(NameColumn); };
    return def;
}

QString firstReportedDay(const QDate& today, int days)
{
    return QLocale::c().toString(today.addDays(-(qMax(days, 1) - 1)), QStringLiteral("yyyy'/'MM'/'dd"));
}

LogRecordSource::LogRecordSource(store::Table& log, const QString& userName, int days, const QDate& today)
    : log_(log)
    , firstDay_(days > 0 ? firstReportedDay(today, days) : QString())
{
    if (!userName.isEmpty())
        log_.setFilter(store::Table::equalsFilter(store::msglog::UserName, userName));
}

bool LogRecordSource::next(QStringList* record)
{
    using namespace store::msglog;
    if (!started_) {
        started_ = true;
        // In date order the first day of the period is found through the index, not by reading
        // every older record.
        if (!firstDay_.isEmpty() && log_.indexName().compare(QStringLiteral("BY_DATE"), Qt::CaseInsensitive) == 0)
            log_.seek(firstDay_.toLatin1());
        else
            log_.first();
    } else if (repeat_) {
        repeat_ = false;
    } else {
        log_.next();
    }
    // Days are stored "yyyy/mm/dd", so they compare as text.
    while (!log_.eof() && !firstDay_.isEmpty() && log_.fieldText(DDate) < firstDay_)
        log_.next();
    if (log_.eof())
        return false;
    lastRecNo_ = log_.recNo();
    *record = { log_.fieldText(DDate), log_.fieldText(DTime), log_.fieldText(UserName), log_.fieldText(Msg) };
    return true;
}

bool LogRecordSource::rewindTo(qint64 position)
{
    if (position <= 0 || position > std::numeric_limits<uint32_t>::max())
        return false;
    // Through the record's entry in the handle's order, so that the walk goes on in that order.
    if (!log_.goToEntry(log_.entryNumberOf(uint32_t(position))))
        return false;
    started_ = true;
    repeat_ = true;
    return true;
}

} // namespace msglog
