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

int progress(const QString& status)
{
    static const QStringList order = { kAccepted, kQueued, kDelivered, kRead };
    return order.indexOf(status);
}

} // namespace

QString logRecordKey(quint32 recNo)
{
    return QStringLiteral("%1").arg(recNo, kLogRecordWidth, 10, QLatin1Char('0'));
}

QString changedText(const QDateTime& moment)
{
    return moment.toString(kChangedFormat);
}

void addStatusRow(store::Table& table, const StatusRow& row)
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
}

bool setStatus(store::Table& table, const QString& tracking, const QString& status, const QDateTime& when)
{
    table.refresh();
    selectTag(table, QStringLiteral("BY_TRACK"));
    // A seek pads the key to the tag's length and says whether the key found is the one asked for.
    if (!table.seek(store::toCp1252(tracking)))
        return false;
    table.edit();
    try {
        table.setFieldText(Status, status);
        table.setFieldText(Changed, changedText(when));
        table.post();
    } catch (...) {
        table.cancel();
        throw;
    }
    return true;
}

QList<StatusRow> openRows(store::Table& table, const QDateTime& since)
{
    table.refresh();
    selectTag(table, QString());
    QList<StatusRow> open;
    for (table.last(); !table.bof() && !table.isEmpty(); table.prior()) {
        const StatusRow row = currentRow(table);
        if (!row.changed.isValid() || row.changed < since)
            break;
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
    for (bool more = table.seek(store::toCp1252(logRecord)); more;
         table.next(), more = !table.eof() && table.fieldText(LogRec) == logRecord.trimmed()) {
        const QString status = table.fieldText(Status);
        if (status == kFailed)
            return kFailed;
        if (least.isEmpty() || progress(status) < progress(least))
            least = status;
    }
    return least;
}

} // namespace core
