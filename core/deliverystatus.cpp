#include "core/deliverystatus.h"

#include "store/connection.h"
#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHash>

#include <optional>

#include <unistd.h>

namespace core {

namespace {

using namespace store::dlvstat;

const QString kChangedFormat = QStringLiteral("yyyy/MM/dd hh:mm:ss");
constexpr int kLogRecordWidth = 10; // LOGREC
constexpr int kTrackingWidth = 40; // TRACKING

bool isTrackingDigest(const QString& key)
{
    return key.size() == kTrackingWidth && key.startsWith(u'#');
}

QString longTrackingPath(const store::Table& table)
{
    return table.connection().folder() + kLongTrackingFile;
}

// The whole numbers of the side file by row; a later line for a row stands.
QHash<quint32, QString> longTrackingNumbers(const store::Table& table)
{
    QHash<quint32, QString> numbers;
    QFile file(longTrackingPath(table));
    if (!file.open(QIODevice::ReadOnly))
        return numbers;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        const qsizetype tab = line.indexOf('\t');
        bool ok = false;
        const quint32 recNo = tab > 0 ? line.left(tab).toUInt(&ok) : 0;
        if (ok && recNo > 0)
            numbers.insert(recNo, QString::fromUtf8(line.mid(tab + 1)));
    }
    return numbers;
}

// Keeps a number too long for TRACKING before the row names its digest: a row never points at a
// number that was not kept.
void keepLongTracking(const store::Table& table, quint32 recNo, const QString& number)
{
    QFile file(longTrackingPath(table));
    const QByteArray line = QByteArray::number(recNo) + '\t' + number.simplified().toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size() || !file.flush()
        || ::fsync(file.handle()) != 0)
        throw store::StoreError(QStringLiteral("%1 could not be written: %2").arg(file.fileName(), file.errorString()));
}

// The row's tracking number whole: a digest is looked up in NUMBERS (read from the side file when
// not given).
void resolveTracking(StatusRow& row, const store::Table& table, const QHash<quint32, QString>* numbers = nullptr)
{
    if (!isTrackingDigest(row.tracking))
        return;
    const QString whole = numbers ? numbers->value(row.recNo) : longTrackingNumbers(table).value(row.recNo);
    if (!whole.isEmpty() && trackingKey(whole) == row.tracking)
        row.tracking = whole;
}

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

QString trackingKey(const QString& number)
{
    if (store::toCp1252(number).size() <= kTrackingWidth && !isTrackingDigest(number))
        return number;
    return u'#' + QString::fromLatin1(QCryptographicHash::hash(number.toUtf8(), QCryptographicHash::Sha256).toHex().left(kTrackingWidth - 1));
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
    if (!goToRecord(table, recNo))
        return {};
    StatusRow row = currentRow(table);
    resolveTracking(row, table);
    return row;
}

bool updateStatusRow(store::Table& table, quint32 recNo, const QString& status, const QDateTime& when,
    const QString& method, const QString& address, const QString& tracking)
{
    if (!goToRecord(table, recNo))
        return false;
    const QString key = trackingKey(tracking);
    if (!method.isEmpty() && key != tracking)
        keepLongTracking(table, recNo, tracking);
    editCurrent(table, [&] {
        table.setFieldText(Status, status);
        table.setFieldText(Changed, changedText(when));
        if (!method.isEmpty()) {
            table.setFieldText(Method, method);
            table.setFieldText(Address, address);
            table.setFieldText(Tracking, key);
        }
    });
    return true;
}

bool setStatus(store::Table& table, const QString& address, const QString& tracking, const QString& status,
    const QDateTime& when)
{
    table.refresh();
    selectTag(table, QStringLiteral("BY_TRACK"));
    const QString key = trackingKey(tracking.trimmed());
    // A seek pads the key to the tag's length and says whether the key found is the one asked for;
    // the rows of one number follow each other in record order, and the newest of the carrier's is
    // the one.
    quint32 found = 0;
    for (bool more = table.seek(store::toCp1252(key)); more;
         table.next(), more = !table.eof() && table.fieldText(Tracking) == key) {
        if (table.fieldText(Address) == address.trimmed())
            found = table.recNo();
    }
    if (!goToRecord(table, found))
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
    std::optional<QHash<quint32, QString>> longNumbers; // read at the first digest met
    int older = 0;
    for (table.last(); !table.bof() && !table.isEmpty() && older < kOpenRowsMargin && open.size() < limit;
         table.prior()) {
        StatusRow row = currentRow(table);
        if (!row.changed.isValid() || row.changed < since) {
            ++older;
            continue;
        }
        older = 0;
        if (row.status != kAccepted && row.status != kQueued)
            continue;
        if (isTrackingDigest(row.tracking) && !longNumbers)
            longNumbers = longTrackingNumbers(table);
        if (longNumbers)
            resolveTracking(row, table, &*longNumbers);
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
