#include "store/indexcheck.h"

#include "store/cdxindex.h"
#include "store/dbffile.h"
#include "store/keyexpression.h"
#include "store/storeerror.h"

#include <QString>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace store {

namespace {

[[noreturn]] void disagree(const CdxIndex& index, const CdxTag& tag, const QString& what)
{
    throw StoreError(QStringLiteral("Index file %1, tag %2 disagrees with the table: %3.")
                         .arg(index.path(), QString::fromLatin1(tag.name()), what));
}

KeyExpression keyOf(const CdxIndex& index, CdxTag& tag, const DbfFile& table)
{
    KeyExpression key(tag.expression(), table.fields(),
        QStringLiteral("Index file %1, tag %2").arg(index.path(), QString::fromLatin1(tag.name())));
    if (key.keyLength() != tag.keyLength())
        disagree(index, tag, QStringLiteral("its key length does not fit its expression"));
    return key;
}

QString entryText(const CdxEntry& e)
{
    return QStringLiteral("\"%1\" of record %2").arg(QString::fromLatin1(e.key).trimmed()).arg(e.recno);
}

struct Keyed {
    QByteArray key;
    uint32_t recno;
    bool deleted;
};

// A plain tag holds every record, deleted ones included.
void comparePlain(const CdxIndex& index, CdxTag& tag, const std::vector<Keyed>& keyed)
{
    CdxEntry e;
    size_t i = 0;
    for (bool ok = tag.first(e); ok; ok = tag.next(e), ++i) {
        if (i >= keyed.size())
            disagree(index, tag, QStringLiteral("it holds %1 keys for %2 records").arg(i + 1).arg(keyed.size()));
        if (e.key != keyed[i].key || e.recno != keyed[i].recno)
            disagree(index, tag,
                QStringLiteral("it holds %1 where the records give \"%2\" of record %3")
                    .arg(entryText(e), QString::fromLatin1(keyed[i].key).trimmed())
                    .arg(keyed[i].recno));
    }
    if (i != keyed.size())
        disagree(index, tag, QStringLiteral("it holds %1 keys, the records give %2").arg(i).arg(keyed.size()));
}

// A unique tag holds one entry a key. This program keeps the lowest-numbered live record of each
// key; other xBase engines keep the lowest-numbered record, deleted or not, so a key whose
// records are all deleted may keep its entry. Each key is accepted under either rule (a table
// both kinds of program wrote mixes them); only an entry neither rule gives is damage.
void compareUnique(const CdxIndex& index, CdxTag& tag, const std::vector<Keyed>& keyed)
{
    CdxEntry e;
    bool have = tag.first(e);
    for (size_t i = 0; i < keyed.size();) {
        const QByteArray& k = keyed[i].key;
        const uint32_t lowest = keyed[i].recno;
        uint32_t lowestLive = 0;
        for (; i < keyed.size() && keyed[i].key == k; ++i)
            if (!lowestLive && !keyed[i].deleted)
                lowestLive = keyed[i].recno;
        if (have && e.key < k)
            disagree(index, tag, QStringLiteral("it holds %1, which the records do not have").arg(entryText(e)));
        if (have && e.key == k) {
            if (e.recno != lowest && e.recno != lowestLive)
                disagree(index, tag,
                    QStringLiteral("it holds %1 where the records give record %2")
                        .arg(entryText(e))
                        .arg(lowestLive ? lowestLive : lowest));
            have = tag.next(e);
        } else if (lowestLive) {
            disagree(index, tag,
                QStringLiteral("it lacks \"%1\" of record %2").arg(QString::fromLatin1(k).trimmed()).arg(lowestLive));
        }
    }
    if (have)
        disagree(index, tag, QStringLiteral("it holds %1, which the records do not have").arg(entryText(e)));
}

} // namespace

void checkEveryKey(CdxIndex& index, DbfFile& table)
{
    const uint32_t count = table.recordCount();
    const int length = table.recordLength();
    QByteArray records(qsizetype(count) * length, '\0');
    if (count > 0 && table.readRecords(1, count, records.data()) != count)
        throw StoreError(QStringLiteral("Table %1: cannot read its records").arg(table.path()));
    CdxIndex::Scope scope(index, false);
    for (CdxTag* tag : index.tags()) {
        const KeyExpression key = keyOf(index, *tag, table);
        // Every record's key, in tag order (by key, then record number).
        std::vector<Keyed> keyed;
        keyed.reserve(count);
        for (uint32_t r = 1; r <= count; ++r) {
            const char* record = records.constData() + qsizetype(r - 1) * length;
            keyed.push_back({ key.keyOf(record), r, record[0] == '*' });
        }
        std::sort(keyed.begin(), keyed.end(),
            [](const Keyed& a, const Keyed& b) { return std::tie(a.key, a.recno) < std::tie(b.key, b.recno); });
        if (tag->unique())
            compareUnique(index, *tag, keyed);
        else
            comparePlain(index, *tag, keyed);
    }
}

void checkRecentKeys(CdxIndex& index, DbfFile& table, uint32_t recent)
{
    const uint32_t count = table.recordCount();
    QByteArray record(table.recordLength(), '\0');
    CdxIndex::Scope scope(index, false);
    for (CdxTag* tag : index.tags()) {
        const KeyExpression key = keyOf(index, *tag, table);
        CdxEntry e;
        for (const bool last : { false, true }) {
            if (!(last ? tag->last(e) : tag->first(e))) {
                if (count > 0 && !tag->unique())
                    disagree(index, *tag, QStringLiteral("it is empty, the table has %1 records").arg(count));
                break;
            }
            if (e.recno < 1 || e.recno > count || !table.readRecord(e.recno, record.data())
                || key.keyOf(record.constData()) != e.key)
                disagree(index, *tag,
                    QStringLiteral("it holds %1, which the records do not have").arg(entryText(e)));
        }
        if (tag->unique())
            continue;
        for (uint32_t r = count > recent ? count - recent + 1 : 1; r <= count; ++r) {
            if (!table.readRecord(r, record.data()))
                break;
            const QByteArray k = key.keyOf(record.constData());
            if (!tag->seek(k, r, e) || e.key != k || e.recno != r)
                disagree(index, *tag, QStringLiteral("it lacks the key of record %1").arg(r));
        }
    }
}

} // namespace store
