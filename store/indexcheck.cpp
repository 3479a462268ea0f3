#include "store/indexcheck.h"

#include "store/cdxindex.h"
#include "store/dbffile.h"
#include "store/keyexpression.h"
#include "store/storeerror.h"

#include <QString>

#include <algorithm>
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
        // What a rebuild would hold: every record, or for a unique tag the first live one a key.
        std::vector<std::pair<QByteArray, uint32_t>> expected;
        expected.reserve(count);
        for (uint32_t r = 1; r <= count; ++r) {
            const char* record = records.constData() + qsizetype(r - 1) * length;
            if (!tag->unique() || record[0] != '*')
                expected.emplace_back(key.keyOf(record), r);
        }
        std::sort(expected.begin(), expected.end());
        if (tag->unique()) {
            expected.erase(std::unique(expected.begin(), expected.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                expected.end());
        }
        CdxEntry e;
        size_t i = 0;
        for (bool ok = tag->first(e); ok; ok = tag->next(e), ++i) {
            if (i >= expected.size())
                disagree(
                    index, *tag, QStringLiteral("it holds %1 keys for %2 records").arg(i + 1).arg(count));
            if (e.key != expected[i].first || e.recno != expected[i].second)
                disagree(index, *tag,
                    QStringLiteral("it holds %1 where the records give \"%2\" of record %3")
                        .arg(entryText(e), QString::fromLatin1(expected[i].first).trimmed())
                        .arg(expected[i].second));
        }
        if (i != expected.size())
            disagree(index, *tag,
                QStringLiteral("it holds %1 keys, the records give %2").arg(i).arg(expected.size()));
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
