#include "core/carrierpaths.h"

#include "core/desk.h"
#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/schema.h"
#include "store/table.h"

namespace core {

namespace {

constexpr int kNameWidth = 30; // PAGERCOMP in PAGECOMP and in CARRPATH

// A carrier name as the PAGERCOMP field holds it: Windows-1252, cut to the width, blank-padded.
QByteArray nameKey(const QString& name)
{
    return store::toCp1252(name).left(kNameWidth).leftJustified(kNameWidth, ' ');
}

// The paths handle, re-read, in BY_CARRIER order, on the first path of `key` (true) or where
// that carrier's paths would be (false).
bool seekCarrier(store::Table& paths, const QByteArray& key)
{
    const QString byCarrier = store::carrPathSchema().defaultTag;
    if (paths.indexName().compare(byCarrier, Qt::CaseInsensitive) != 0)
        paths.selectTag(byCarrier);
    paths.seek(key);
    return !paths.eof() && nameKey(paths.fieldText(store::carrpath::PagerComp)) == key;
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
    return !carriers.eof() && nameKey(carriers.fieldText(store::pagecomp::PagerComp)) == key;
}

} // namespace

int renameCarrierPaths(Desk& desk, const QString& oldName, const QString& newName)
{
    const QByteArray from = nameKey(oldName);
    const QByteArray to = nameKey(newName);
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
    const QByteArray key = nameKey(name);
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

std::vector<DeliveryPath> enabledPaths(Desk& desk, const QString& carrier)
{
    using namespace store::carrpath;
    const QByteArray key = nameKey(carrier);
    store::Table& paths = desk.CarrPathT();
    paths.refresh();
    std::vector<DeliveryPath> found;
    bool more = seekCarrier(paths, key);
    while (more) {
        if (paths.fieldBool(Enabled))
            found.push_back({ paths.fieldText(PathNo), paths.fieldText(Method), paths.fieldText(Address),
                paths.fieldText(Login), paths.fieldText(Password), paths.fieldInt(MaxChars) });
        paths.next();
        more = !paths.eof() && nameKey(paths.fieldText(PagerComp)) == key;
    }
    return found;
}

} // namespace core
