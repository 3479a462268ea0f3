#pragma once

// Test helper: what a tag holds, and what a rebuild from the table file would hold.
#include "store/cdxindex.h"
#include "store/dbffile.h"
#include "store/keyexpression.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace tagcheck {

using Entries = std::vector<std::pair<QByteArray, uint32_t>>;

inline uint32_t le32(const QByteArray& b, int at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + at;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

inline Entries entriesOf(const QString& cdxPath, const QByteArray& tagName)
{
    Entries out;
    auto index = store::CdxIndex::open(cdxPath, store::CdxIndex::Access::Shared);
    store::CdxTag* tag = index->findTag(tagName);
    if (!tag)
        return out;
    store::CdxEntry e;
    for (bool ok = tag->first(e); ok; ok = tag->next(e))
        out.emplace_back(e.key, e.recno);
    return out;
}

// Plain tags: every record; unique tags: per key the lowest-numbered record not deleted.
inline Entries rebuildOf(const QString& dbfPath, const QByteArray& expression, bool unique)
{
    store::DbfFile dbf(dbfPath, true);
    const store::KeyExpression key(expression, dbf.fields(), dbfPath);
    Entries out;
    std::map<QByteArray, uint32_t> firstLive;
    QByteArray record(dbf.recordLength(), '\0');
    const uint32_t count = dbf.recordCount();
    for (uint32_t r = 1; r <= count; ++r) {
        dbf.readRecord(r, record.data());
        const QByteArray k = key.keyOf(record.constData());
        if (!unique)
            out.emplace_back(k, r);
        else if (record[0] != '*' && !firstLive.count(k))
            firstLive[k] = r;
    }
    for (const auto& [k, r] : firstLive)
        out.emplace_back(k, r);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace tagcheck
