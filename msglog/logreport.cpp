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
// The least space between a name and its message.
constexpr double kNameGapMm = 1.5;
// A name of USERNAME's full width, as wide as names run: thirty lower-case letters of middle
// width (capitals are wider, but a name is mostly lower case).
constexpr int kNameChars = 30;

const report::FontSpec kDetailFont { QStringLiteral("Arial"), 10, true };
const report::FontSpec kPageFont { QStringLiteral("Arial"), 8, false };
// The running header's and footer's lines, in the page's margins.
constexpr double kHeaderTopMm = 5.5;
constexpr double kFooterFromBottomMm = 9.0;
} // namespace

double logReportNameWidthMm()
{
    return report::ReportLayout::textWidthMm(QString(kNameChars, u'n'), kDetailFont);
}

LogReportHeading logReportHeading(
    int days, const QDate& today, const QString& userName, const QDateTime& printed)
{
    const QString last = QLocale::c().toString(today, QStringLiteral("yyyy'/'MM'/'dd"));
    LogReportHeading heading;
    if (days <= 0)
        heading.period = QStringLiteral("Period: every day logged");
    else if (days == 1)
        heading.period = QStringLiteral("Period: ") + last;
    else
        heading.period = QStringLiteral("Period: %1 to %2").arg(firstReportedDay(today, days), last);
    if (!userName.isEmpty())
        heading.period += QStringLiteral("; user ") + userName;
    heading.printed = QStringLiteral("Printed ")
        + QLocale::c().toString(printed, QStringLiteral("yyyy'/'MM'/'dd HH':'mm"));
    return heading;
}

report::ReportDefinition logReportDefinition(const LogReportHeading& heading)
{
    report::ReportDefinition def;
    def.pageMm = QSizeF(215.9, 279.4);
    def.marginsMm = QMarginsF(12.7, 12.7, 12.7, 12.7);
    const report::FontSpec title { QStringLiteral("Arial"), 18, true };
    const report::FontSpec& detail = kDetailFont;
    def.title.heightMm = 11.38;
    def.title.fields = { { -1, QStringLiteral("Message Log"), 56.4, 1.6, 68.0, title, false, true } };
    def.groupHeader.heightMm = 10.58;
    def.detail.heightMm = 6.61;
    // A date "yyyy/mm/dd" in Arial 10 bold is as wide as the 17.5 mm from the date's column to the
    // time's, so the two would read as one word: the time starts a gap after the widest date (its
    // digits are all one width). The name's column holds a name of USERNAME's width on one line
    // ("Group: Night Shift" never wraps); the message starts after it.
    const double dateLeft = 2.1;
    const double timeLeft
        = qMax(19.6, dateLeft + report::ReportLayout::textWidthMm(QStringLiteral("0000/00/00"), detail) + kTimeGapMm);
    const double nameLeft = 46.3;
    const double nameWidth = logReportNameWidthMm();
    const double messageLeft = nameLeft + nameWidth + kNameGapMm;
    def.detail.fields = {
        { DateColumn, {}, dateLeft, 0.53, 0, detail, false, false },
        { TimeColumn, {}, timeLeft, 0.53, 0, detail, false, false },
        { NameColumn, {}, nameLeft, 0.53, nameWidth, detail, true, false },
        { MessageColumn, {}, messageLeft, 0.53, 0, detail, true, false },
    };
    def.groupKey = [](const QStringList& record) { return record.value(NameColumn); };

    const double width = def.bandWidthMm();
    if (!heading.period.isEmpty())
        def.pageTexts.append({ -1, heading.period, 0, kHeaderTopMm, 0, kPageFont, false, false });
    if (!heading.printed.isEmpty()) {
        const double printedWidth = report::ReportLayout::textWidthMm(heading.printed, kPageFont);
        def.pageTexts.append({ -1, heading.printed, width - printedWidth, kHeaderTopMm, printedWidth,
            kPageFont, false, false });
    }
    const QString pageLine
        = QStringLiteral("Page %1 of %2").arg(report::pageNumberMark(), report::pageCountMark());
    def.pageTexts.append(
        { -1, pageLine, 0, def.pageMm.height() - kFooterFromBottomMm, width, kPageFont, false, true });
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

bool LogRecordSource::restart()
{
    started_ = false;
    repeat_ = false;
    lastRecNo_ = 0;
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
