#pragma once

#include "report/reportdefinition.h"

#include <QDate>
#include <QString>

namespace store {
class Table;
}

namespace msglog {

// The log report: US Letter, margins of half an inch, the title "Message Log", a blank gap before
// each run of one USERNAME, and one line a record (date, time, name, the message wrapping and
// growing its band) in Arial 10 point bold. No column runs into the next: the time starts after the
// date, and a long name wraps within its column. (Its fonts are measured: call it with a
// QGuiApplication.)
report::ReportDefinition logReportDefinition();

// The first day a report of the last `days` days covers (today counts as one), as DDATE stores it.
QString firstReportedDay(const QDate& today, int days);

// The log records a report covers, walked in the order of `log` (an open handle of its own, in
// BY_DATE order, that the source may filter): the records of `userName` alone when it is not empty
// (any name, quotes too), and of the last `days` days when it is above 0.
class LogRecordSource : public report::RecordSource {
public:
    LogRecordSource(store::Table& log, const QString& userName, int days, const QDate& today);
    bool next(QStringList* record) override;
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
