// The message log's DBF, FPT and CDX files as any other program might leave them: opened, walked in
// record order and in every tag (by entry number too, as a grid reads them), every field read, then a record appended with a memo, a key edited
// and a record deleted. A damaged file may be refused with a StoreError; nothing else may happen.

#include "fuzzsupport.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

namespace {

const QStringList kFiles = { QStringLiteral("MSGLOG2.DBF"), QStringLiteral("MSGLOG2.FPT"),
    QStringLiteral("MSGLOG2.CDX") };

void walk(store::Table& table)
{
    int guard = 0;
    for (table.first(); !table.eof() && guard < 10000; table.next(), ++guard) {
        for (const store::FieldDef& field : table.fields())
            table.fieldText(field.name);
    }
}

// The entries by number, as a grid reads them: every number tried, each shown record numbered back.
void numbered(store::Table& table)
{
    const uint32_t count = std::min<uint32_t>(table.entryCount(), 10000);
    for (uint32_t n = 0; n < count; ++n)
        if (table.goToEntry(n))
            table.entryNumberOf(table.recNo());
}

QByteArray seed()
{
    const QString folder = fuzz::scratchFolder() + QStringLiteral("/seed");
    QDir().mkpath(folder);
    const store::Connection connection(folder);
    store::Create_MsgLog(connection);
    store::Table table;
    store::Index_MsgLog(table, connection);
    table.open();
    for (int i = 0; i < 12; ++i) {
        table.append();
        table.setFieldText(QStringLiteral("DDATE"), QStringLiteral("2026/12/%1").arg(1 + i % 9, 2, 10, QLatin1Char('0')));
        table.setFieldText(QStringLiteral("DTIME"), QStringLiteral("10:00:00 AM"));
        table.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("User %1").arg(i % 5));
        table.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Message %1").arg(i) });
        table.post();
    }
    table.close();
    QList<QByteArray> parts;
    for (const QString& name : kFiles)
        parts << fuzz::readFile(connection.existingPath(name));
    return fuzz::joinParts(parts);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::handleSeedOption(argc, argv, seed);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = fuzz::scratchFolder();
    const QList<QByteArray> parts = fuzz::splitParts(data, size, 3);
    for (int i = 0; i < 3; ++i)
        fuzz::writeFile(folder + u'/' + kFiles[i], parts[i]);
    store::Table table;
    table.setConnection(store::Connection(folder));
    table.setTableName(kFiles[0]);
    try {
        table.open();
        walk(table);
        for (const QString& tag : table.tagNames()) {
            table.selectTag(tag);
            walk(table);
            numbered(table);
        }
        table.append();
        table.setFieldText(QStringLiteral("DDATE"), QStringLiteral("2026/12/08"));
        table.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Fuzz"));
        table.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("appended"), QStringLiteral("memo") });
        table.post();
        table.first();
        table.edit();
        table.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Edited"));
        table.post();
        table.last();
        table.deleteRecord();
        walk(table);
    } catch (const store::StoreError&) {
    }
    table.close();
    return 0;
}
