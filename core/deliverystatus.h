#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

namespace store {
class Table;
}

namespace core {

// What became of every page, in DLVSTAT: one row a page and pager ID, appended when the page is
// queued (or refused before it could be) and changed in place as the page goes on: taken by a
// terminal or server, kept pending, sent again, followed at a WCTP carrier until it reports. The
// functions work on any handle of the table (the desk's DlvStatT, or one of a window's own).

// STATUS values.
inline const QString kWaiting = QStringLiteral("WAITING"); // queued, no path has taken it yet
inline const QString kSent = QStringLiteral("SENT"); // a TAP terminal or an SNPP server took it
inline const QString kAccepted = QStringLiteral("ACCEPTED"); // a WCTP server took it: followed from here
inline const QString kQueued = QStringLiteral("QUEUED");
inline const QString kDelivered = QStringLiteral("DELIVERED");
inline const QString kRead = QStringLiteral("READ");
inline const QString kPending = QStringLiteral("PENDING"); // moved to the pending queue
inline const QString kUnsure = QStringLiteral("UNSURE"); // pending, and may have been delivered
inline const QString kResent = QStringLiteral("RESENT"); // taken back from the pending queue
inline const QString kFailed = QStringLiteral("FAILED"); // dropped by the operator, or failed at the carrier
inline const QString kRefused = QStringLiteral("REFUSED"); // refused before it was queued

// Every STATUS value, least advanced first: how a message of several pages is summed up.
const QStringList& outcomeOrder();

// A message log record's number as LOGREC holds it: zero-padded to ten digits.
QString logRecordKey(quint32 recNo);
// CHANGED's form, "yyyy/mm/dd hh:mm:ss".
QString changedText(const QDateTime& moment);

struct StatusRow {
    quint32 recNo = 0; // its record in DLVSTAT; 0 when not (yet) written
    QString logRecord; // empty when the page was not logged
    QString pagerId;
    QString userName;
    QString method;
    QString address;
    QString tracking;
    QString status;
    QDateTime changed;
};

// Appends a row; returns its record number.
quint32 addStatusRow(store::Table& table, const StatusRow& row);
// The row of record `recNo` (recNo 0 when there is no such record).
StatusRow statusRowAt(store::Table& table, quint32 recNo);
// Sets STATUS and CHANGED of the row of record `recNo`, and its METHOD, ADDRESS and TRACKING when
// `method` is not empty (the path that took the page); false when there is no such record.
bool updateStatusRow(store::Table& table, quint32 recNo, const QString& status, const QDateTime& when,
    const QString& method = QString(), const QString& address = QString(), const QString& tracking = QString());
// Sets STATUS and CHANGED of the row that carrier `address` gave `tracking` (the newest, should the
// carrier have given one number twice); false when no row holds that number for that carrier.
bool setStatus(store::Table& table, const QString& address, const QString& tracking, const QString& status,
    const QDateTime& when);

// What TRACKING holds for a carrier's tracking number: the number when it fits, else "#" and 39 hex
// digits of its SHA-256, the number itself kept whole in kLongTrackingFile beside the table (a line
// for each: the row's record number, a tab, the number).
QString trackingKey(const QString& number);
inline const QString kLongTrackingFile = QStringLiteral("DLVSTAT.TRK");
// The rows still waiting for news from a WCTP carrier (ACCEPTED or QUEUED) among those changed at or
// after `since`, oldest first. Rows are appended as pages are queued and change as they go, mostly
// soon after: the walk goes back from the last record and stops after kOpenRowsMargin rows in a row
// changed before `since` (a page taken from the pending queue long after it was queued, then
// accepted, is found while it lies within that margin).
// At most `limit` rows, the newest.
QList<StatusRow> openRows(store::Table& table, const QDateTime& since, int limit = 1000);
inline constexpr int kOpenRowsMargin = 2000;
// What the log record's pages came to ("" when none has a row): the least advanced status among
// them in outcomeOrder(), followed for a message of several pages by how many of them are in it and
// how many there are ("PENDING 1/5").
QString statusOfLog(store::Table& table, const QString& logRecord);

} // namespace core
