#include "store/cdxpage.h"

#include "store/storeerror.h"

#include <algorithm>
#include <bit>

namespace store::cdx {

LeafLayout leafLayout(int keyLength, uint32_t maxRecno)
{
    LeafLayout l;
    l.dupBits = l.trailBits = std::bit_width(unsigned(keyLength));
    const int need = std::max(1, int(std::bit_width(maxRecno)));
    l.bytes = 2;
    while (8 * l.bytes - l.dupBits - l.trailBits < need)
        ++l.bytes;
    l.recBits = 8 * l.bytes - l.dupBits - l.trailBits;
    if (l.recBits > 32) { // the record mask is a 32-bit field
        l.recBits = 32;
        l.dupBits = 8 * l.bytes - 32 - l.trailBits;
    }
    return l;
}

int trailingFill(const uint8_t* key, int keyLength)
{
    if (keyLength == 0 || key[keyLength - 1] != kFill)
        return 0;
    int t = 0;
    while (t < keyLength && key[keyLength - 1 - t] == kFill)
        ++t;
    return t;
}

int storedBytes(const uint8_t* prev, const uint8_t* key, int keyLength)
{
    const int trail = trailingFill(key, keyLength);
    const int dup = prev ? commonPrefix(prev, key, keyLength - trail) : 0;
    return keyLength - dup - trail;
}

int Node::lowerBound(const uint8_t* k, uint32_t recno, bool strict) const
{
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        const int c = compareEntry(key(mid), recnos[size_t(mid)], k, recno, keyLength);
        if (c < 0 || (strict && c == 0))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void Node::insertAt(int pos, const uint8_t* k, uint32_t recno, uint32_t child)
{
    if (isLeaf() && stored >= 0) {
        const uint8_t* prev = pos > 0 ? key(pos - 1) : nullptr;
        const uint8_t* next = pos < count() ? key(pos) : nullptr;
        stored += storedBytes(prev, k, keyLength);
        if (next)
            stored += storedBytes(k, next, keyLength) - storedBytes(prev, next, keyLength);
        maxRecno = std::max(maxRecno, recno);
    }
    if (pos != count())
        image = -1;
    keys.insert(keys.begin() + ptrdiff_t(pos) * keyLength, k, k + keyLength);
    recnos.insert(recnos.begin() + pos, recno);
    if (!isLeaf())
        children.insert(children.begin() + pos, child);
}

void Node::eraseAt(int pos)
{
    if (isLeaf() && stored >= 0) {
        const uint8_t* prev = pos > 0 ? key(pos - 1) : nullptr;
        const uint8_t* cur = key(pos);
        const uint8_t* next = pos + 1 < count() ? key(pos + 1) : nullptr;
        stored -= storedBytes(prev, cur, keyLength);
        if (next)
            stored += storedBytes(prev, next, keyLength) - storedBytes(cur, next, keyLength);
    }
    image = -1;
    keys.erase(keys.begin() + ptrdiff_t(pos) * keyLength, keys.begin() + ptrdiff_t(pos + 1) * keyLength);
    recnos.erase(recnos.begin() + pos);
    if (!isLeaf())
        children.erase(children.begin() + pos);
}

void Node::moveTail(int from, Node& to)
{
    stored = to.stored = -1;
    image = to.image = -1;
    to.keys.insert(to.keys.end(), keys.begin() + ptrdiff_t(from) * keyLength, keys.end());
    to.recnos.insert(to.recnos.end(), recnos.begin() + from, recnos.end());
    keys.resize(size_t(from) * size_t(keyLength));
    recnos.resize(size_t(from));
    if (!isLeaf()) {
        to.children.insert(to.children.end(), children.begin() + from, children.end());
        children.resize(size_t(from));
    }
}

int maxInteriorEntries(int keyLength) { return kInteriorSpace / (keyLength + 8); }

int leafBytes(const Node& node, int from, int to)
{
    uint32_t maxRecno = 0;
    int stored = 0;
    for (int i = from; i < to; ++i) {
        maxRecno = std::max(maxRecno, node.recnos[size_t(i)]);
        stored += storedBytes(i > from ? node.key(i - 1) : nullptr, node.key(i), node.keyLength);
    }
    return (to - from) * leafLayout(node.keyLength, maxRecno).bytes + stored;
}

bool fits(const Node& node)
{
    if (node.isLeaf()) {
        if (node.stored < 0) {
            node.stored = 0;
            node.maxRecno = 0;
            for (int i = 0; i < node.count(); ++i) {
                node.stored += storedBytes(i > 0 ? node.key(i - 1) : nullptr, node.key(i), node.keyLength);
                node.maxRecno = std::max(node.maxRecno, node.recnos[size_t(i)]);
            }
        }
        return node.count() * leafLayout(node.keyLength, node.maxRecno).bytes + node.stored <= kLeafSpace;
    }
    return node.count() <= maxInteriorEntries(node.keyLength);
}

namespace {

[[noreturn]] void fault(const QString& where, uint32_t offset, const QString& what)
{
    throw StoreError(QStringLiteral("%1: index page at offset %2 is damaged: %3").arg(where).arg(offset).arg(what));
}

} // namespace

void decodeNode(const uint8_t* page, uint32_t offset, int keyLength, Node& node, const QString& where)
{
    node.offset = offset;
    node.keyLength = keyLength;
    node.attr = getLe16(page);
    const int n = getLe16(page + 2);
    node.left = getLe32(page + 4);
    node.right = getLe32(page + 8);
    node.dirty = node.freed = false;
    node.stored = -1;
    node.image = -1;
    if (node.attr & ~uint16_t(7))
        fault(where, offset, QStringLiteral("unknown node attributes %1").arg(node.attr));
    node.keys.resize(size_t(n) * size_t(keyLength));
    node.recnos.resize(size_t(n));
    node.children.clear();

    if (!node.isLeaf()) {
        if (n > maxInteriorEntries(keyLength))
            fault(where, offset, QStringLiteral("%1 keys in an interior node").arg(n));
        node.children.resize(size_t(n));
        const int step = keyLength + 8;
        for (int i = 0; i < n; ++i) {
            const uint8_t* e = page + 12 + i * step;
            std::memcpy(node.key(i), e, size_t(keyLength));
            node.recnos[size_t(i)] = getBe32(e + keyLength);
            node.children[size_t(i)] = getBe32(e + keyLength + 4);
        }
        return;
    }

    const int freeBytes = getLe16(page + 12);
    const uint32_t recMask = getLe32(page + 14);
    const int dupMask = page[18];
    const int trailMask = page[19];
    const int recBits = page[20];
    const int dupBits = page[21];
    const int trailBits = page[22];
    const int bytes = page[23];
    if (bytes < 1 || bytes > 8 || recBits + dupBits + trailBits != 8 * bytes || recBits > 32 || dupBits > 8 ||
        trailBits > 8)
        fault(where, offset, QStringLiteral("inconsistent leaf entry layout"));
    if (n * bytes > kLeafSpace)
        fault(where, offset, QStringLiteral("%1 keys do not fit in a leaf").arg(n));
    int pos = int(kPageSize);
    const int floor = 24 + n * bytes;
    const uint64_t entryMask = bytes == 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * bytes)) - 1;
    for (int i = 0; i < n; ++i) {
        const uint8_t* e = page + 24 + i * bytes;
        uint64_t v = 0;
        if (std::endian::native == std::endian::little && e + 8 <= page + kPageSize) {
            std::memcpy(&v, e, 8);
            v &= entryMask;
        } else {
            for (int b = bytes - 1; b >= 0; --b)
                v = (v << 8) | e[b];
        }
        const uint32_t recno = uint32_t(v) & recMask;
        const int dup = int(v >> recBits) & dupMask;
        const int trail = int(v >> (recBits + dupBits)) & trailMask;
        if (dup + trail > keyLength || (i == 0 && dup != 0))
            fault(where, offset, QStringLiteral("bad duplicate or trailing count in key %1").arg(i));
        const int stored = keyLength - dup - trail;
        pos -= stored;
        if (pos < floor)
            fault(where, offset, QStringLiteral("key bytes overlap the entries"));
        uint8_t* k = node.key(i);
        if (dup)
            std::memcpy(k, k - keyLength, size_t(dup));
        if (stored)
            std::memcpy(k + dup, page + pos, size_t(stored));
        if (trail)
            std::memset(k + dup + stored, kFill, size_t(trail));
        node.recnos[size_t(i)] = recno;
    }
    if (freeBytes != pos - floor)
        fault(where, offset, QStringLiteral("free-byte count %1 should be %2").arg(freeBytes).arg(pos - floor));
    node.stored = int(kPageSize) - pos;
    node.image = n;
    node.maxRecno = 0;
    for (uint32_t r : node.recnos)
        node.maxRecno = std::max(node.maxRecno, r);
}

void encodeNode(const Node& node, uint8_t* page)
{
    std::memset(page, 0, kPageSize);
    const int n = node.count();
    const int kl = node.keyLength;
    putLe16(page, node.attr);
    putLe16(page + 2, uint16_t(n));
    putLe32(page + 4, node.left);
    putLe32(page + 8, node.right);
    if (!node.isLeaf()) {
        for (int i = 0; i < n; ++i) {
            uint8_t* e = page + 12 + i * (kl + 8);
            std::memcpy(e, node.key(i), size_t(kl));
            putBe32(e + kl, node.recnos[size_t(i)]);
            putBe32(e + kl + 4, node.children[size_t(i)]);
        }
        return;
    }
    node.image = n;
    const uint32_t maxRecno = n ? *std::max_element(node.recnos.begin(), node.recnos.end()) : 0;
    const LeafLayout l = leafLayout(kl, maxRecno);
    putLe32(page + 14, l.recBits == 32 ? 0xFFFFFFFFu : ((1u << l.recBits) - 1));
    page[18] = uint8_t((1u << l.dupBits) - 1);
    page[19] = uint8_t((1u << l.trailBits) - 1);
    page[20] = uint8_t(l.recBits);
    page[21] = uint8_t(l.dupBits);
    page[22] = uint8_t(l.trailBits);
    page[23] = uint8_t(l.bytes);
    int pos = int(kPageSize);
    uint8_t* entry = page + 24;
    for (int i = 0; i < n; ++i, entry += l.bytes) {
        const uint8_t* k = node.key(i);
        const int trail = trailingFill(k, kl);
        const int dup = i > 0 ? commonPrefix(node.key(i - 1), k, kl - trail) : 0;
        const int stored = kl - dup - trail;
        pos -= stored;
        if (stored > 0)
            std::memcpy(page + pos, k + dup, size_t(stored));
        const uint64_t v = uint64_t(node.recnos[size_t(i)]) | (uint64_t(dup) << l.recBits) |
                           (uint64_t(trail) << (l.recBits + l.dupBits));
        if (std::endian::native == std::endian::little && entry + 8 <= page + pos) {
            // A whole word: the bytes past this entry belong to the next one, or to the free
            // space cleared below.
            std::memcpy(entry, &v, 8);
        } else {
            for (int b = 0; b < l.bytes; ++b)
                entry[b] = uint8_t(v >> (8 * b));
        }
    }
    std::memset(entry, 0, size_t(std::min<ptrdiff_t>(8, page + pos - entry)));
    putLe16(page + 12, uint16_t(pos - 24 - n * l.bytes));
}

bool encodeAppended(const Node& node, uint8_t* page)
{
    const int n = node.count();
    if (!node.isLeaf() || n == 0 || node.image != n - 1 || getLe16(page + 2) != n - 1)
        return false;
    const int kl = node.keyLength;
    const int freeBytes = getLe16(page + 12);
    const uint32_t recMask = getLe32(page + 14);
    const int recBits = page[20];
    const int dupBits = page[21];
    const int bytes = page[23];
    const uint8_t* k = node.key(n - 1);
    const uint32_t recno = node.recnos[size_t(n - 1)];
    const int trail = trailingFill(k, kl);
    const int dup = n > 1 ? commonPrefix(node.key(n - 2), k, kl - trail) : 0;
    const int stored = kl - dup - trail;
    // The layout stays what encodeNode would choose as long as the record number fits it.
    if (bytes < 1 || bytes > 8 || (recno & ~recMask) != 0 || dup > page[18] || trail > page[19] ||
        freeBytes < stored + bytes)
        return false;
    const int entry = 24 + (n - 1) * bytes;
    const int pos = entry + freeBytes; // the lowest key byte so far
    if (pos > int(kPageSize))
        return false;
    if (stored > 0)
        std::memcpy(page + pos - stored, k + dup, size_t(stored));
    const uint64_t v = uint64_t(recno) | (uint64_t(dup) << recBits) | (uint64_t(trail) << (recBits + dupBits));
    for (int b = 0; b < bytes; ++b)
        page[entry + b] = uint8_t(v >> (8 * b));
    putLe16(page, node.attr);
    putLe16(page + 2, uint16_t(n));
    putLe32(page + 4, node.left);
    putLe32(page + 8, node.right);
    putLe16(page + 12, uint16_t(freeBytes - stored - bytes));
    node.image = n;
    return true;
}

} // namespace store::cdx
