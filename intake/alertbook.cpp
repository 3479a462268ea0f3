#include "intake/alertbook.h"

#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QCryptographicHash>

#include <algorithm>

namespace intake {

namespace {

namespace field = store::alerts;

const QString kMomentFormat = QStringLiteral("yyyy/MM/dd hh:mm:ss");
constexpr int kSummaryWidth = 120;
constexpr int kFirstDigits = 6; // base 36: rows up to 2,176,782,335
constexpr int kCountDigits = 3; // base 36: 46,655 rows

QString base36(quint64 value, int digits)
{
    return QString::number(value, 36).toUpper().rightJustified(digits, u'0');
}

} // namespace

QString alertKey(const QString& source, const QString& dedupKey)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((source + dedupKey).toUtf8(), QCryptographicHash::Sha1).toHex());
}

AlertBook::AlertBook(store::Table& table)
    : table_(table)
{
}

AlertRow AlertBook::current() const
{
    AlertRow row;
    row.recNo = table_.recNo();
    row.key = table_.fieldText(field::AlertKey);
    row.source = table_.fieldText(field::Source);
    row.state = table_.fieldText(field::State);
    row.summary = table_.fieldText(field::Summary);
    row.first = QDateTime::fromString(table_.fieldText(field::First), kMomentFormat);
    row.last = QDateTime::fromString(table_.fieldText(field::Last), kMomentFormat);
    row.count = table_.fieldInt(field::Count);
    row.pages = table_.fieldText(field::LogRec);
    return row;
}

std::optional<AlertRow> AlertBook::latest(const QString& key, const QString& source)
{
    table_.refresh();
    std::optional<AlertRow> newest;
    if (!table_.seek(key.toLatin1()))
        return newest;
    for (; !table_.eof() && table_.fieldText(field::AlertKey) == key; table_.next()) {
        if (table_.fieldText(field::Source).compare(source, Qt::CaseInsensitive) != 0)
            continue;
        if (!newest || table_.recNo() > newest->recNo)
            newest = current();
    }
    return newest;
}

QList<AlertRow> AlertBook::ofSource(const QString& source)
{
    QList<AlertRow> rows;
    table_.refresh();
    for (table_.first(); !table_.eof(); table_.next()) {
        if (table_.fieldText(field::Source).compare(source, Qt::CaseInsensitive) == 0)
            rows << current();
    }
    std::sort(rows.begin(), rows.end(), [](const AlertRow& a, const AlertRow& b) { return a.recNo < b.recNo; });
    return rows;
}

void AlertBook::write(const AlertRow& row)
{
    try {
        table_.setFieldText(field::AlertKey, row.key);
        table_.setFieldText(field::Source, row.source);
        table_.setFieldText(field::State, row.state);
        // A summary's first line, cut to the field (the page itself carries the whole text).
        table_.setFieldText(field::Summary, row.summary.section(u'\n', 0, 0).left(kSummaryWidth));
        table_.setFieldText(field::First, row.first.toString(kMomentFormat));
        table_.setFieldText(field::Last, row.last.toString(kMomentFormat));
        table_.setFieldInt(field::Count, std::min(row.count, 999999));
        table_.setFieldText(field::LogRec, row.pages);
        table_.post();
    } catch (...) {
        table_.cancel();
        throw;
    }
}

void AlertBook::append(AlertRow& row)
{
    table_.append();
    write(row);
    row.recNo = table_.recNo();
}

bool AlertBook::goTo(const QString& key, quint32 recNo)
{
    table_.refresh();
    if (!table_.seek(key.toLatin1()))
        return false;
    for (; !table_.eof() && table_.fieldText(field::AlertKey) == key; table_.next()) {
        if (table_.recNo() == recNo)
            return true;
    }
    return false;
}

void AlertBook::update(const AlertRow& row)
{
    if (!goTo(row.key, row.recNo))
        return;
    table_.edit();
    write(row);
}

void AlertBook::remove(quint32 recNo)
{
    table_.refresh();
    for (table_.first(); !table_.eof(); table_.next()) {
        if (table_.recNo() == recNo) {
            table_.deleteRecord();
            return;
        }
    }
}

QString pagesKey(const QString& logRecord, const QList<quint32>& rows)
{
    if (!logRecord.isEmpty())
        return logRecord;
    QList<quint32> written;
    for (const quint32 row : rows) {
        if (row != 0)
            written << row;
    }
    if (written.isEmpty())
        return {};
    const auto [low, high] = std::minmax_element(written.cbegin(), written.cend());
    return u'#' + base36(*low, kFirstDigits) + base36(*high - *low + 1, kCountDigits);
}

QList<quint32> rowsOfPages(store::Table& dlvstat, const QString& pages)
{
    QList<quint32> rows;
    if (pages.startsWith(u'#')) {
        bool firstOk = false;
        bool countOk = false;
        const quint64 first = pages.mid(1, kFirstDigits).toULongLong(&firstOk, 36);
        const quint64 count = pages.mid(1 + kFirstDigits, kCountDigits).toULongLong(&countOk, 36);
        if (!firstOk || !countOk)
            return rows;
        for (quint64 row = first; row < first + count; ++row)
            rows << quint32(row);
        return rows;
    }
    if (pages.isEmpty())
        return rows;
    dlvstat.refresh();
    const QString tag = QStringLiteral("BY_LOG");
    if (dlvstat.indexName().compare(tag, Qt::CaseInsensitive) != 0)
        dlvstat.selectTag(tag);
    if (dlvstat.seek(store::toCp1252(pages))) {
        for (; !dlvstat.eof() && dlvstat.fieldText(store::dlvstat::LogRec) == pages; dlvstat.next())
            rows << dlvstat.recNo();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

} // namespace intake
