#include "core/deliverystatus.h"

#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/table.h"

namespace core {

namespace {

using namespace store::dlvstat;

const QString kChangedFormat = QStringLiteral("yyyy/MM/dd hh:mm:ss");
constexpr int kLogRecordWidth = 10; // LOGREC

void selectTag(store::Table& table, const QString& tag)
{
    if (table.indexName().compare(tag, Qt::CaseInsensitive) != 0)
        table.selectTag(tag);
}

StatusRow currentRow(const store::Table& table)
{
    StatusRow row;
    row.recNo = table.recNo();
    row.logRecord = table.fieldText(LogRec);
    row.pagerId = table.fieldText(PagerId);
    row.userName = table.fieldText(UserName);
    row.method = table.fieldText(Method);
    row.address = table.fieldText(Address);
    row.tracking = table.fieldText(Tracking);
    row.status = table.fieldText(Status);
    row.changed = QDateTime::fromString(table.fieldText(Changed), kChangedFormat);
    return row;
}

// A status's place in outcomeOrder(); SENT and ACCEPTED share theirs. -1 for a word of another
// program's.
int progress(const QString& status)
{
    const int place = int(outcomeOrder().indexOf(status));
    return status == kAccepted ? int(outcomeOrder().indexOf(kSent)) : place;
}

// Edits the current record: the given fields, then post; a failure leaves the record as it was.
template <typename Fill> void editCurrent(store::Table& table, Fill fill)
{
    table.edit();
    try {
        fill();
        table.post();
    } catch (...) {
        table.cancel();
        throw;
    }
}

// Makes record `recNo` current in record order; false when there is no such record.
bool goToRecord(store::Table& table, quint32 recNo)
{
    if (recNo == 0)
        return false;
    table.refresh();
    selectTag(table, QString());
    return table.goToEntry(recNo - 1);
}

} // namespace

const QStringList& outcomeOrder()
{
    static const QStringList order = { kRefused, kFailed, kUnsure, kPending, kWaiting, kResent, kSent, kAccepted,
        kQueued, kDelivered, kRead };
    return order;
}

QString logRecordKey(quint32 recNo)
{
    return QStringLiteral("%1").arg(recNo, kLogRecordWidth, 10, QLatin1Char('0'));
}

QString changedText(const QDateTime& moment)
{
    return moment.toString(kChangedFormat);
}

quint32 addStatusRow(store::Table& table, const StatusRow& row)
{
    table.append();
    try {
        table.setFieldText(LogRec, row.logRecord);
        table.setFieldText(PagerId, row.pagerId);
        table.setFieldText(UserName, row.userName);
        table.setFieldText(Method, row.method);
        table.setFieldText(Address, row.address);
        table.setFieldText(Tracking, row.tracking);
        table.setFieldText(Status, row.status);
        table.setFieldText(Changed, changedText(row.changed));
        table.post();
    } catch (...) {
        table.cancel();
        throw;
    }
    return table.recNo();
}

StatusRow statusRowAt(store::Table& table, quint32 recNo)
{
    return goToRecord(table, recNo) ? currentRow(table) : StatusRow();
}

bool updateStatusRow(store::Table& table, quint32 recNo, const QString& status, const QDateTime& when,
    const QString& method, const QString& address, const QString& tracking)
{
    if (!goToRecord(table, recNo))
        return false;
    editCurrent(table, [&] {
        table.setFieldText(Status, status);
        table.setFieldText(Changed, changedText(when));
        if (!method.isEmpty()) {
            table.setFieldText(Method, method);
            table.setFieldText(Address, address);
            table.setFieldText(Tracking, tracking);
        }
    });
    return true;
}

bool setStatus(store::Table& table, const QString& tracking, const QString& status, const QDateTime& when)
{
    table.refresh();
    selectTag(table, QStringLiteral("BY_TRACK"));
    // A seek pads the key to the tag's length and says whether the key found is the one asked for.
    if (!table.seek(store::toCp1252(tracking)))
        return false;
    editCurrent(table, [&] {
        table.setFieldText(Status, status);
        table.setFieldText(Changed, changedText(when));
    });
    return true;
}

QList<StatusRow> openRows(store::Table& table, const QDateTime& since, int limit)
{
    table.refresh();
    selectTag(table, QString());
    QList<StatusRow> open;
    int older = 0;
    for (table.last(); !table.bof() && !table.isEmpty() && older < kOpenRowsMargin && open.size() < limit;
         table.prior()) {
        const StatusRow row = currentRow(table);
        if (!row.changed.isValid() || row.changed < since) {
            ++older;
            continue;
        }
        older = 0;
        if (row.status == kAccepted || row.status == kQueued)
            open.prepend(row);
    }
    return open;
}

QString statusOfLog(store::Table& table, const QString& logRecord)
{
    if (logRecord.trimmed().isEmpty())
        return {};
    selectTag(table, QStringLiteral("BY_LOG"));
    QString least;
    int inLeast = 0;
    int pages = 0;
    for (bool more = table.seek(store::toCp1252(logRecord)); more;
         table.next(), more = !table.eof() && table.fieldText(LogRec) == logRecord.trimmed()) {
        const QString status = table.fieldText(Status);
        const int place = progress(status);
        if (place < 0)
            continue; // a word this desk does not write
        ++pages;
        if (least.isEmpty() || place < progress(least)) {
            least = status;
            inLeast = 1;
        } else if (place == progress(least)) {
            ++inLeast;
        }
    }
    if (pages > 1)
        return QStringLiteral("%1 %2/%3").arg(least).arg(inLeast).arg(pages);
    return least;
}

} // namespace core
