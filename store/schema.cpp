#include "store/schema.h"

#include "store/cdxindex.h"
#include "store/dbffile.h"
#include "store/fieldnames.h"
#include "store/fptfile.h"
#include "store/indexcheck.h"
#include "store/keyexpression.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>

#include <initializer_list>
#include <utility>

namespace store {

namespace {

// A field definition list ("NAME,TYPE,WIDTH;...") from the field names and their types.
QString definitions(std::initializer_list<std::pair<const QString&, const char*>> fields)
{
    QString text;
    for (const auto& [name, type] : fields)
        text += name + u',' + QLatin1String(type) + u';';
    return text;
}

// MSGLOG2 and SCHEDMS2 share one record layout.
QString logFields()
{
    using namespace msglog;
    return definitions({ { DDate, "C,10" }, { DTime, "C,14" }, { UserName, "C,30" }, { MustSend, "C,1" }, { Msg, "M" } });
}

void createFrom(const Connection& connection, const TableSchema& schema)
{
    connection.createTable(schema.createdUnder, schema.fieldDefinitions);
}

void indexFrom(Table& handle, const Connection& connection, const TableSchema& schema)
{
    handle.close();
    handle.setConnection(connection);
    handle.setTableName(schema.openedAs);
    handle.setIndexName(QString());
    handle.setExclusive(true);
    try {
        handle.open();
        // All tags in one pass over the records; they are created in the schema's order.
        std::vector<Table::TagDefinition> tags;
        for (const TagSchema& tag : schema.tags)
            tags.push_back({ tag.name, tag.expression, tag.unique });
        handle.addTags(schema.tags.front().indexFile, tags);
        handle.close();
    } catch (...) {
        try {
            handle.close();
        } catch (...) {
        }
        handle.setExclusive(false);
        handle.setIndexName(schema.defaultTag);
        throw;
    }
    handle.setExclusive(false);
    handle.setIndexName(schema.defaultTag);
}

// Checks an existing index file: no change may have been left unfinished, the trees must pass
// the deep check, every tag of the schema must be there with its key expression and unique mark,
// every tag's key must be made of the table's fields (else the table could not open with it),
// and the keys must agree with the records (all of them, or those of the last records).
void checkIndex(const QString& path, DbfFile& table, const TableSchema& schema, bool everyKey)
{
    const std::vector<FieldDef>& fields = table.fields();
    const std::unique_ptr<CdxIndex> index = CdxIndex::open(path, CdxIndex::Access::Shared);
    index->verify();
    for (CdxTag* tag : index->tags()) {
        const KeyExpression key(tag->expression(), fields,
            QStringLiteral("Index file %1, tag %2").arg(path, QString::fromLatin1(tag->name())));
        if (key.keyLength() != tag->keyLength())
            throw StoreError(QStringLiteral("Index file %1, tag %2: key length %3 does not fit \"%4\"")
                                 .arg(path, QString::fromLatin1(tag->name()))
                                 .arg(tag->keyLength())
                                 .arg(QString::fromLatin1(tag->expression())));
    }
    for (const TagSchema& wanted : schema.tags) {
        CdxTag* tag = index->findTag(wanted.name.toLatin1());
        if (!tag)
            throw StoreError(QStringLiteral("Index file %1 has no tag %2").arg(path, wanted.name));
        if (QString::fromLatin1(tag->expression()).compare(wanted.expression, Qt::CaseInsensitive) != 0
            || tag->unique() != wanted.unique)
            throw StoreError(QStringLiteral("Index file %1: tag %2 is not \"%3\"%4")
                                 .arg(path, wanted.name, wanted.expression,
                                     wanted.unique ? QStringLiteral(" unique") : QString()));
    }
    if (everyKey)
        checkEveryKey(*index, table);
    else
        checkRecentKeys(*index, table);
}

// The highest memo block any record of `table` points to (0: none), read in large steps.
uint32_t highestMemoBlock(DbfFile& table)
{
    std::vector<const FieldDef*> memos;
    for (const FieldDef& f : table.fields())
        if (f.type == 'M')
            memos.push_back(&f);
    const int length = table.recordLength();
    constexpr uint32_t kStep = 4096;
    QByteArray chunk(qsizetype(kStep) * length, '\0');
    uint32_t highest = 0;
    const uint32_t count = table.recordCount();
    for (uint32_t first = 1; first <= count; first += kStep) {
        const uint32_t got = table.readRecords(first, std::min(kStep, count - first + 1), chunk.data());
        for (uint32_t r = 0; r < got; ++r) {
            const char* record = chunk.constData() + qsizetype(r) * length;
            for (const FieldDef* f : memos) {
                uint32_t block = 0;
                if (f->width == 4) {
                    block = uint32_t(uchar(record[f->offset])) | uint32_t(uchar(record[f->offset + 1])) << 8
                        | uint32_t(uchar(record[f->offset + 2])) << 16 | uint32_t(uchar(record[f->offset + 3])) << 24;
                } else {
                    block = QByteArray(record + f->offset, f->width).trimmed().toUInt();
                }
                highest = std::max(highest, block);
            }
        }
        if (got == 0)
            break;
    }
    return highest;
}

// Opens a table's files as a handle would, so that what a writer that stopped left (a record past
// the count) or a damaged memo header is put right here and told once. A damaged table throws.
void settleFiles(const Connection& connection, const TableSchema& schema, QStringList& problems)
{
    DbfFile table(connection.resolve(schema.lookedFor), true);
    if (!table.settledAtOpen().isEmpty())
        problems << table.settledAtOpen();
    if (!table.hasMemo())
        return;
    const QString base = QFileInfo(table.path()).completeBaseName();
    if (const auto memo = FptFile::openIfExists(connection.resolve(base + QStringLiteral(".fpt")), true)) {
        if (const QString note = memo->correctNextFree(); !note.isEmpty())
            problems << note;
        if (const QString note = memo->keepReferencedBlocks(highestMemoBlock(table)); !note.isEmpty())
            problems << note;
    }
}

struct Step {
    const TableSchema& (*schema)();
    void (*create)(const Connection&);
    void (*index)(Table&, const Connection&);
    bool everyKey; // the table stays small: its keys are checked one by one
};

} // namespace

void bindHandle(Table& handle, const Connection& connection, const TableSchema& schema)
{
    handle.close();
    handle.setConnection(connection);
    handle.setTableName(schema.openedAs);
    handle.setIndexName(schema.defaultTag);
    handle.setExclusive(false);
}

const TableSchema& busersSchema()
{
    static const TableSchema s { QStringLiteral("BUSERS.DBF"), QStringLiteral("Busers.dbf"),
        QStringLiteral("Busers.dbf"), QStringLiteral("Busers.cdx"),
        definitions({ { busers::UserName, "C,30" }, { busers::PagerComp, "C,30" }, { busers::Group, "C,12" },
            { busers::PagerId, "C,12" } }),
        { { QStringLiteral("USERNAME"), busers::UserName, true, QStringLiteral("Busers") },
            { QStringLiteral("GROUP"), busers::Group, false, QStringLiteral("BUsers") },
            { QStringLiteral("PAGERCOMP"), busers::PagerComp, false, QStringLiteral("BUsers") } },
        QStringLiteral("USERNAME") };
    return s;
}

const TableSchema& pageCompSchema()
{
    static const TableSchema s { QStringLiteral("PAGECOMP.DBF"), QStringLiteral("PageComp.dbf"),
        QStringLiteral("PAGECOMP.dbf"), QStringLiteral("PageComp.cdx"),
        definitions({ { pagecomp::PagerComp, "C,30" }, { pagecomp::HostTel, "C,14" }, { pagecomp::HostSpeed, "C,5" },
            { pagecomp::HostChars, "N,3,0" }, { pagecomp::HostPassword, "C,10" } }),
        { { QStringLiteral("PagerComp"), QStringLiteral("PagerComp"), false, QStringLiteral("PageComp") } },
        QStringLiteral("PAGERCOMP") };
    return s;
}

const TableSchema& groupsSchema()
{
    static const TableSchema s { QStringLiteral("GROUPS.DBF"), QStringLiteral("Groups.dbf"),
        QStringLiteral("Groups.dbf"), QStringLiteral("Groups.cdx"),
        definitions({ { groups::Group, "C,16" }, { groups::GroupExtra, "C,8" } }),
        { { QStringLiteral("GROUP_UNIQ"), groups::Group, true, QStringLiteral("Groups") } },
        QStringLiteral("GROUP_UNIQ") };
    return s;
}

const TableSchema& quickMsgSchema()
{
    static const TableSchema s { QStringLiteral("QUICKMSG.DBF"), QStringLiteral("QuickMsg.dbf"),
        QStringLiteral("QUICKMSG.dbf"), QString(), definitions({ { quickmsg::MsgTitle, "C,16" }, { quickmsg::Msg, "M" } }), {}, QString() };
    return s;
}

const TableSchema& modemsSchema()
{
    static const TableSchema s { QStringLiteral("MODEMS.DBF"), QStringLiteral("Modems.dbf"),
        QStringLiteral("Modems.dbf"), QStringLiteral("Modems.cdx"),
        definitions({ { modems::Modems, "C,40" }, { modems::InitStr, "C,80" }, { modems::Param2, "C,80" } }),
        { { QStringLiteral("Modems"), QStringLiteral("Modems"), false, QStringLiteral("Modems") } },
        QStringLiteral("MODEMS") };
    return s;
}

const TableSchema& msgLogSchema()
{
    static const TableSchema s { QStringLiteral("MSGLOG2.dbf"), QStringLiteral("MsgLog2.dbf"),
        QStringLiteral("MSGLOG2.dbf"), QStringLiteral("MsgLog2.cdx"), logFields(),
        { { QStringLiteral("BY_DATE"), msglog::DDate, false, QStringLiteral("MsgLog2") },
            { QStringLiteral("BY_NAME"), msglog::UserName + u'+' + msglog::DDate, false,
                QStringLiteral("MsgLog2") } },
        QStringLiteral("BY_DATE") };
    return s;
}

const TableSchema& schedMsgSchema()
{
    static const TableSchema s { QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("SchedMs2.dbf"),
        QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("SchedMs2.cdx"), logFields(),
        { { QStringLiteral("BY_SENTSTA"), schedmsg::MustSend + u'+' + schedmsg::DDate + u'+' + schedmsg::DTime, false,
            QStringLiteral("SchedMs2") } },
        QStringLiteral("BY_SENTSTA") };
    return s;
}

const TableSchema& carrPathSchema()
{
    using namespace carrpath;
    static const TableSchema s { QStringLiteral("CARRPATH.DBF"), QStringLiteral("CARRPATH.DBF"),
        QStringLiteral("CARRPATH.DBF"), QStringLiteral("CARRPATH.CDX"),
        definitions({ { PagerComp, "C,30" }, { PathNo, "C,2" }, { Method, "C,8" }, { Address, "C,120" },
            { Login, "C,40" }, { Password, "C,40" }, { MaxChars, "N,5,0" }, { Enabled, "L" } }),
        { { QStringLiteral("BY_CARRIER"), PagerComp + u'+' + PathNo, false, QStringLiteral("CarrPath") } },
        QStringLiteral("BY_CARRIER") };
    return s;
}

const TableSchema& dlvStatSchema()
{
    using namespace dlvstat;
    static const TableSchema s { QStringLiteral("DLVSTAT.DBF"), QStringLiteral("DLVSTAT.DBF"),
        QStringLiteral("DLVSTAT.DBF"), QStringLiteral("DLVSTAT.CDX"),
        definitions({ { LogRec, "C,10" }, { PagerId, "C,12" }, { UserName, "C,30" }, { Method, "C,8" },
            { Address, "C,120" }, { Tracking, "C,40" }, { Status, "C,10" }, { Changed, "C,19" } }),
        { { QStringLiteral("BY_TRACK"), Tracking, false, QStringLiteral("DlvStat") },
            { QStringLiteral("BY_LOG"), LogRec, false, QStringLiteral("DlvStat") } },
        QStringLiteral("BY_TRACK") };
    return s;
}

const TableSchema& sourcesSchema()
{
    using namespace sources;
    static const TableSchema s { QStringLiteral("SOURCES.DBF"), QStringLiteral("SOURCES.DBF"),
        QStringLiteral("SOURCES.DBF"), QStringLiteral("SOURCES.CDX"),
        definitions({ { Source, "C,20" }, { Kind, "C,8" }, { Secret, "C,64" }, { Recipient, "C,40" },
            { RateMin, "N,4,0" }, { Enabled, "L" } }),
        { { QStringLiteral("BY_SOURCE"), Source, true, QStringLiteral("Sources") } },
        QStringLiteral("BY_SOURCE") };
    return s;
}

const TableSchema& alertsSchema()
{
    using namespace alerts;
    static const TableSchema s { QStringLiteral("ALERTS.DBF"), QStringLiteral("ALERTS.DBF"),
        QStringLiteral("ALERTS.DBF"), QStringLiteral("ALERTS.CDX"),
        definitions({ { AlertKey, "C,40" }, { Source, "C,20" }, { State, "C,10" }, { Summary, "C,120" },
            { First, "C,19" }, { Last, "C,19" }, { Count, "N,6,0" }, { LogRec, "C,10" } }),
        { { QStringLiteral("BY_KEY"), AlertKey, false, QStringLiteral("Alerts") } },
        QStringLiteral("BY_KEY") };
    return s;
}

void Create_Busers(const Connection& c)
{
    createFrom(c, busersSchema());
}
void Create_PageComp(const Connection& c)
{
    createFrom(c, pageCompSchema());
}
void Create_Groups(const Connection& c)
{
    createFrom(c, groupsSchema());
}
void Create_QuickMsg(const Connection& c)
{
    createFrom(c, quickMsgSchema());
}
void Create_Modems(const Connection& c)
{
    createFrom(c, modemsSchema());
}
void Create_MsgLog(const Connection& c)
{
    createFrom(c, msgLogSchema());
}
void Create_SchedMsg(const Connection& c)
{
    createFrom(c, schedMsgSchema());
}

void Create_CarrPath(const Connection& c)
{
    createFrom(c, carrPathSchema());
}
void Create_DlvStat(const Connection& c)
{
    createFrom(c, dlvStatSchema());
}

void Create_Sources(const Connection& c)
{
    createFrom(c, sourcesSchema());
}
void Create_Alerts(const Connection& c)
{
    createFrom(c, alertsSchema());
}

void Index_Busers(Table& h, const Connection& c)
{
    indexFrom(h, c, busersSchema());
}
void Index_PageComp(Table& h, const Connection& c)
{
    indexFrom(h, c, pageCompSchema());
}
void Index_Groups(Table& h, const Connection& c)
{
    indexFrom(h, c, groupsSchema());
}
void Index_Modems(Table& h, const Connection& c)
{
    indexFrom(h, c, modemsSchema());
}
void Index_MsgLog(Table& h, const Connection& c)
{
    indexFrom(h, c, msgLogSchema());
}
void Index_SchedMsg(Table& h, const Connection& c)
{
    indexFrom(h, c, schedMsgSchema());
}

void Index_CarrPath(Table& h, const Connection& c)
{
    indexFrom(h, c, carrPathSchema());
}
void Index_DlvStat(Table& h, const Connection& c)
{
    indexFrom(h, c, dlvStatSchema());
}

void Index_Sources(Table& h, const Connection& c)
{
    indexFrom(h, c, sourcesSchema());
}
void Index_Alerts(Table& h, const Connection& c)
{
    indexFrom(h, c, alertsSchema());
}

QStringList CreateDatabase(const Connection& connection)
{
    static const Step steps[] = {
        { busersSchema, Create_Busers, Index_Busers, true },
        { pageCompSchema, Create_PageComp, Index_PageComp, true },
        { modemsSchema, Create_Modems, Index_Modems, true },
        { msgLogSchema, Create_MsgLog, Index_MsgLog, false },
        { schedMsgSchema, Create_SchedMsg, Index_SchedMsg, false },
        { groupsSchema, Create_Groups, Index_Groups, true },
        { quickMsgSchema, Create_QuickMsg, nullptr, false },
        // Added after the seven: a folder without them gains them here.
        { carrPathSchema, Create_CarrPath, Index_CarrPath, true },
        { dlvStatSchema, Create_DlvStat, Index_DlvStat, false },
        { sourcesSchema, Create_Sources, Index_Sources, true },
        { alertsSchema, Create_Alerts, Index_Alerts, false },
    };
    // A table created here replaces any index file left beside it (createTable removes it), so a
    // stale index is rebuilt for the new, empty table below.
    QStringList problems;
    for (const Step& step : steps) {
        if (!connection.exists(step.schema().lookedFor))
            step.create(connection);
        else
            settleFiles(connection, step.schema(), problems);
    }
    for (const Step& step : steps) {
        if (!step.index)
            continue;
        const TableSchema& schema = step.schema();
        const QString indexPath = connection.resolve(schema.indexLookedFor);
        if (QFileInfo::exists(indexPath)) {
            // A damaged table is its own fault, reported as such (it throws here).
            DbfFile table(connection.resolve(schema.lookedFor), true);
            try {
                checkIndex(indexPath, table, schema, step.everyKey);
                continue;
            } catch (const StoreError& e) {
                problems << QStringLiteral("%1 The index tags of %2 are rebuilt from its records.")
                                .arg(e.message(), schema.openedAs);
            }
            if (!QFile::remove(indexPath))
                throw StoreError(QStringLiteral("Cannot remove the damaged index file %1").arg(indexPath));
        }
        Table handle;
        step.index(handle, connection);
    }
    return problems;
}

} // namespace store
