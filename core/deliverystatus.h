#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace store {
class Table;
}

namespace core {

// The delivery status of the pages a carrier gave a tracking number for, in DLVSTAT: one row a
// tracking number, written when the carrier accepts the page and changed as the carrier reports on
// it. The functions work on any handle of the table (the desk's DlvStatT, or one of a window's own).

// STATUS values, in the order a message goes through them (FAILED ends it at any point).
inline const QString kAccepted = QStringLiteral("ACCEPTED");
inline const QString kQueued = QStringLiteral("QUEUED");
inline const QString kDelivered = QStringLiteral("DELIVERED");
inline const QString kRead = QStringLiteral("READ");
inline const QString kFailed = QStringLiteral("FAILED");

// A message log record's number as LOGREC holds it: zero-padded to ten digits.
QString logRecordKey(quint32 recNo);
// CHANGED's form, "yyyy/mm/dd hh:mm:ss".
QString changedText(const QDateTime& moment);

struct StatusRow {
    QString logRecord; // empty when the page was not logged
    QString pagerId;
    QString userName;
    QString method;
    QString address;
    QString tracking;
    QString status;
    QDateTime changed;
};

// Appends a row.
void addStatusRow(store::Table& table, const StatusRow& row);
// Sets STATUS and CHANGED of the row of `tracking`; false when no row holds that number.
bool setStatus(store::Table& table, const QString& tracking, const QString& status, const QDateTime& when);
// The rows still waiting for news (ACCEPTED or QUEUED) among those changed at or after `since`,
// oldest first. Rows are appended as pages are accepted, so the walk goes back from the last record
// and stops at the first row changed before `since`: every row before it was accepted earlier still.
QList<StatusRow> openRows(store::Table& table, const QDateTime& since);
// What the log record's pages came to ("" when none has a row): FAILED when any failed, otherwise
// the least advanced status among them.
QString statusOfLog(store::Table& table, const QString& logRecord);

} // namespace core
