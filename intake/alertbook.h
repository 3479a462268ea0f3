#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace store {
class Table;
}

namespace intake {

// ALERTS' STATE values.
inline const QString kOpen = QStringLiteral("OPEN");
inline const QString kAcked = QStringLiteral("ACKED");
inline const QString kResolved = QStringLiteral("RESOLVED");

// One row of ALERTS.
struct AlertRow {
    quint32 recNo = 0; // 0: not written yet
    QString key; // ALERTKEY
    QString source;
    QString state;
    QString summary;
    QDateTime first;
    QDateTime last;
    int count = 0;
    QString pages; // LOGREC: pagesKey() of its page; empty when nobody was paged
};

// ALERTKEY: the hex SHA-1 of the source's name followed by the program's dedup key. Rows are
// also told apart by SOURCE, so no two sources share an alert whatever their names hold.
QString alertKey(const QString& source, const QString& dedupKey);

// The alerts of ALERTS on a handle in its BY_KEY tag. Store failures throw store::StoreError.
class AlertBook {
public:
    explicit AlertBook(store::Table& table);

    // The newest row of `source`'s alert `key` (a trigger after RESOLVED opens a new row).
    std::optional<AlertRow> latest(const QString& key, const QString& source);
    // Every row of `source`, oldest first.
    QList<AlertRow> ofSource(const QString& source);
    // Appends `row`; its record number goes into it.
    void append(AlertRow& row);
    // Writes `row` over its record.
    void update(const AlertRow& row);
    // Deletes the row of record `recNo` (a trigger whose page could not be queued).
    void remove(quint32 recNo);

private:
    // Makes the record `recNo` of alert `key` current; false when it is not there.
    bool goTo(const QString& key, quint32 recNo);
    AlertRow current() const;
    void write(const AlertRow& row);

    store::Table& table_;
};

// LOGREC for a page's rows: the message log record's key when the page was logged (its rows are
// found by DLVSTAT's BY_LOG tag), otherwise "#" followed by the first of its DLVSTAT rows and their
// count, six and three base-36 digits (the rows of one preparation follow each other). Empty when
// there are no rows.
QString pagesKey(const QString& logRecord, const QList<quint32>& rows);
// The DLVSTAT rows a LOGREC names, read through `dlvstat` (any handle of DLVSTAT), in record order.
QList<quint32> rowsOfPages(store::Table& dlvstat, const QString& pages);

} // namespace intake
