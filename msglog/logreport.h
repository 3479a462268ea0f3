#pragma once

#include "report/reportdefinition.h"

#include <QDate>
#include <QDateTime>
#include <QString>

namespace store {
class Table;
}

namespace msglog {

// What the log report's running header says: the period reported (and the one user, when chosen)
// and when it was printed.
struct LogReportHeading {
    QString period; // "Period: 2026/04/28 to 2026/04/30", with "; user Alice" for one user
    QString printed; // "Printed 2026/04/30 10:15"
};
// The heading of a report of the last `days` days up to `today` (0: every day logged), of
// `userName`'s records alone when it is not empty, printed at `printed`.
LogReportHeading logReportHeading(
    int days, const QDate& today, const QString& userName, const QDateTime& printed);

// The log report: US Letter, margins of half an inch, the title "Message Log", a blank gap before
// each run of one USERNAME, and one line a record (date, time, name, the message wrapping and
// growing its band) in Arial 10 point bold. No column runs into the next: the time starts after the
// date, the name's column takes a name of 30 characters on one line (a longer or wider one wraps
// within it), and the message takes the rest. In the top margin of every page the heading's period
// (left) and print date (right), when given; in the bottom margin "Page N of M", centred. (Its
// fonts are measured: call it with a QGuiApplication.)
report::ReportDefinition logReportDefinition(const LogReportHeading& heading = {});

// The width of the report's name column: a 30-character name in the detail font.
double logReportNameWidthMm();

// The first day a report of the last `days` days covers (today counts as one), as DDATE stores it.
QString firstReportedDay(const QDate& today, int days);

// The log records a report covers, walked in the order of `log` (an open handle of its own, in
// BY_DATE order, that the source may filter): the records of `userName` alone when it is not empty
// (any name, quotes too), and of the last `days` days when it is above 0.
class LogRecordSource : public report::RecordSource {
public:
    LogRecordSource(store::Table& log, const QString& userName, int days, const QDate& today);
    bool next(QStringList* record) override;
    bool restart() override;
    // A record's place is its record number: records are only ever added, never moved, while a
    // report is shown.
    qint64 lastPosition() const override { return lastRecNo_ ? qint64(lastRecNo_) : -1; }
    bool rewindTo(qint64 position) override;

private:
    store::Table& log_;
    QString firstDay_;
    bool started_ = false;
    // Set by rewindTo(): the current record is the one next() gives.
    bool repeat_ = false;
    uint32_t lastRecNo_ = 0;
};

} // namespace msglog
