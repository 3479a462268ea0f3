#include "core/carrierpaths.h"

#include "core/desk.h"
#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/schema.h"
#include "store/table.h"

#include <optional>

namespace core {

QByteArray carrierKey(const QString& name)
{
    constexpr int kNameWidth = 30; // PAGERCOMP in PAGECOMP and in CARRPATH
    return store::toCp1252(name).left(kNameWidth).leftJustified(kNameWidth, ' ');
}

namespace {

// The paths handle, re-read, in BY_CARRIER order, on the first path of `key` (true) or where
// that carrier's paths would be (false).
bool seekCarrier(store::Table& paths, const QByteArray& key)
{
    const QString byCarrier = store::carrPathSchema().defaultTag;
    if (paths.indexName().compare(byCarrier, Qt::CaseInsensitive) != 0)
        paths.selectTag(byCarrier);
    paths.seek(key);
    return !paths.eof() && carrierKey(paths.fieldText(store::carrpath::PagerComp)) == key;
}

// Whether a live carrier record of PAGECOMP goes by the name, read with a handle of its own so
// that the carriers window's current record stays where it is.
bool carrierNamed(Desk& desk, const QByteArray& key)
{
    const store::TableSchema& schema = store::pageCompSchema();
    store::Table carriers;
    carriers.setConnection(desk.Plimo32());
    carriers.setTableName(schema.openedAs);
    carriers.setIndexName(schema.defaultTag);
    carriers.open();
    carriers.seek(key);
    return !carriers.eof() && carrierKey(carriers.fieldText(store::pagecomp::PagerComp)) == key;
}

// The record numbers of the carrier's paths in BY_CARRIER order.
std::vector<uint32_t> pathRecords(store::Table& paths, const QByteArray& key)
{
    paths.refresh();
    std::vector<uint32_t> records;
    for (bool more = seekCarrier(paths, key); more;
         more = !paths.eof() && carrierKey(paths.fieldText(store::carrpath::PagerComp)) == key) {
        records.push_back(paths.recNo());
        paths.next();
    }
    return records;
}

bool goToRecord(store::Table& paths, uint32_t recNo)
{
    return paths.goToEntry(paths.entryNumberOf(recNo)) && paths.recNo() == recNo;
}

QString pathNumber(size_t place)
{
    return QStringLiteral("%1").arg(place + 1, 2, 10, QLatin1Char('0'));
}

// Gives the records PATHNO 01, 02, ... in the order given (writing only those that change), then
// stands on the record at `current`.
void renumber(store::Table& paths, const std::vector<uint32_t>& records, size_t current)
{
    for (size_t i = 0; i < records.size(); ++i) {
        if (!goToRecord(paths, records[i]) || paths.fieldText(store::carrpath::PathNo) == pathNumber(i))
            continue;
        paths.edit();
        paths.setFieldText(store::carrpath::PathNo, pathNumber(i));
        paths.post();
    }
    if (current < records.size())
        goToRecord(paths, records[current]);
}

// The place of `pathNo` among the carrier's paths (compared as numbers, so "1" finds "01").
std::optional<size_t> placeOf(
    store::Table& paths, const std::vector<uint32_t>& records, const QString& pathNo)
{
    bool number = false;
    const int wanted = pathNo.trimmed().toInt(&number);
    for (size_t i = 0; number && i < records.size(); ++i)
        if (goToRecord(paths, records[i])
            && paths.fieldText(store::carrpath::PathNo).trimmed().toInt() == wanted)
            return i;
    return std::nullopt;
}

} // namespace

QString addCarrierPath(Desk& desk, const QString& carrier)
{
    using namespace store::carrpath;
    store::Table& paths = desk.CarrPathT();
    std::vector<uint32_t> records = pathRecords(paths, carrierKey(carrier));
    if (records.size() >= size_t(kMaxPaths))
        return QString();
    renumber(paths, records, records.size());
    const QString number = pathNumber(records.size());
    paths.append();
    paths.setFieldText(PagerComp, carrier);
    paths.setFieldText(PathNo, number);
    paths.setFieldText(Method, QStringLiteral("MODEM"));
    paths.setFieldInt(MaxChars, 0);
    paths.setFieldBool(Enabled, false);
    paths.post();
    return number;
}

bool deleteCarrierPath(Desk& desk, const QString& carrier, const QString& pathNo)
{
    store::Table& paths = desk.CarrPathT();
    std::vector<uint32_t> records = pathRecords(paths, carrierKey(carrier));
    const std::optional<size_t> place = placeOf(paths, records, pathNo);
    if (!place)
        return false;
    goToRecord(paths, records[*place]);
    paths.deleteRecord();
    records.erase(records.begin() + std::ptrdiff_t(*place));
    if (!records.empty())
        renumber(paths, records, std::min(*place, records.size() - 1));
    return true;
}

QString moveCarrierPath(Desk& desk, const QString& carrier, const QString& pathNo, int steps)
{
    store::Table& paths = desk.CarrPathT();
    std::vector<uint32_t> records = pathRecords(paths, carrierKey(carrier));
    const std::optional<size_t> place = placeOf(paths, records, pathNo);
    if (!place || (steps < 0 && *place == 0) || (steps > 0 && *place + 1 >= records.size()))
        return QString();
    const size_t to = steps < 0 ? *place - 1 : *place + 1;
    std::swap(records[*place], records[to]);
    renumber(paths, records, to);
    return pathNumber(to);
}

int renameCarrierPaths(Desk& desk, const QString& oldName, const QString& newName)
{
    const QByteArray from = carrierKey(oldName);
    const QByteArray to = carrierKey(newName);
    if (from == to || carrierNamed(desk, from))
        return 0;
    store::Table& paths = desk.CarrPathT();
    paths.refresh();
    int renamed = 0;
    // A renamed path leaves the old name's keys, so the next one is found at the same place.
    while (seekCarrier(paths, from)) {
        paths.edit();
        paths.setFieldText(store::carrpath::PagerComp, newName);
        paths.post();
        ++renamed;
    }
    return renamed;
}

int deleteCarrierPaths(Desk& desk, const QString& name)
{
    const QByteArray key = carrierKey(name);
    if (carrierNamed(desk, key))
        return 0;
    store::Table& paths = desk.CarrPathT();
    paths.refresh();
    int deleted = 0;
    while (seekCarrier(paths, key)) {
        paths.deleteRecord();
        ++deleted;
    }
    return deleted;
}

QList<paging::DeliveryPath> enabledPaths(Desk& desk, const QString& carrier)
{
    using namespace store::carrpath;
    const QByteArray key = carrierKey(carrier);
    const store::TableSchema& schema = store::carrPathSchema();
    store::Table paths;
    paths.setConnection(desk.Plimo32());
    paths.setTableName(schema.openedAs);
    paths.setIndexName(schema.defaultTag);
    paths.open();
    QList<paging::DeliveryPath> found;
    for (bool more = seekCarrier(paths, key); more;
         more = !paths.eof() && carrierKey(paths.fieldText(PagerComp)) == key) {
        if (paths.fieldBool(Enabled))
            found.append({ paths.fieldText(Method), paths.fieldText(Address), paths.fieldText(Login),
                paths.fieldText(Password), paths.fieldInt(MaxChars), paths.fieldText(PathNo) });
        paths.next();
    }
    return found;
}

} // namespace core
