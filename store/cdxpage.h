#pragma once

#include "store/byteorder.h"

#include <QString>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace store {

// Byte-level facts of the compound index pages, and one node decoded into memory.
namespace cdx {

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr int kMaxKeyLength = 240;
constexpr int kLeafSpace = 488;     // 512 - 24 bytes of leaf header
constexpr int kInteriorSpace = 500; // 512 - 12 bytes of node header
constexpr uint8_t kFill = 0x20;     // trailing fill of character keys

constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;

// Order of entries: key bytes unsigned, then record number.
inline int compareEntry(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, int keyLength)
{
    const int c = std::memcmp(a, b, size_t(keyLength));
    if (c != 0)
        return c;
    return ra < rb ? -1 : (ra > rb ? 1 : 0);
}

// Bit layout of one leaf's entries, chosen per page: duplicate and trailing counts get the bit
// length of the key length, the record number what is left of the smallest whole number of bytes
// that holds the page's largest record number.
struct LeafLayout {
    int dupBits = 0;
    int trailBits = 0;
    int recBits = 0;
    int bytes = 0;
};
LeafLayout leafLayout(int keyLength, uint32_t maxRecno);

// Length of the common prefix of `a` and `b`, at most `limit` bytes (compared a word at a time:
// keys are compared and compressed against their neighbours on every page change).
inline int commonPrefix(const uint8_t* a, const uint8_t* b, int limit)
{
    if constexpr (std::endian::native == std::endian::little) {
        if (limit >= 8) {
            const auto differ = [&](int at) {
                uint64_t x, y;
                std::memcpy(&x, a + at, 8);
                std::memcpy(&y, b + at, 8);
                return x ^ y;
            };
            int i = 0;
            for (; i + 8 <= limit; i += 8)
                if (const uint64_t d = differ(i))
                    return i + std::countr_zero(d) / 8;
            if (i == limit)
                return limit;
            // The last word overlaps the one before: its first bytes are known to be equal.
            const int at = limit - 8;
            const uint64_t d = differ(at);
            return d ? at + std::countr_zero(d) / 8 : limit;
        }
    }
    int i = 0;
    while (i < limit && a[i] == b[i])
        ++i;
    return i;
}

// Number of trailing fill bytes of a key.
int trailingFill(const uint8_t* key, int keyLength);
// Stored key bytes of `key` after `prev` (nullptr for the first key of a page).
int storedBytes(const uint8_t* prev, const uint8_t* key, int keyLength);

// One node in memory: keys flat (count × key length), record numbers, and for interior nodes
// the child page offsets.
struct Node {
    uint32_t offset = kNone;
    uint16_t attr = kAttrLeaf;
    uint32_t left = kNone;
    uint32_t right = kNone;
    int keyLength = 0;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> recnos;
    std::vector<uint32_t> children; // interior only
    bool dirty = false;
    bool freed = false;
    bool cachedInner = false; // kept in the index's list of interior nodes
    // Leaves: stored key bytes and an upper bound of the record numbers, kept up to date by
    // insertAt/eraseAt so that a fit check costs O(key length); -1 when not known.
    mutable int stored = -1;
    mutable uint32_t maxRecno = 0;
    // Leaves: entries [0, image) are what the node's page holds, as encodeNode wrote it or
    // decodeNode read it (-1: not known). Only appending at the end keeps it.
    mutable int image = -1;

    bool isLeaf() const { return attr & kAttrLeaf; }
    bool isRoot() const { return attr & kAttrRoot; }
    int count() const { return int(recnos.size()); }
    const uint8_t* key(int i) const { return keys.data() + size_t(i) * size_t(keyLength); }
    uint8_t* key(int i) { return keys.data() + size_t(i) * size_t(keyLength); }
    const uint8_t* lastKey() const { return key(count() - 1); }
    uint32_t lastRecno() const { return recnos.back(); }

    // First position whose entry is >= (key, recno), or > when `strict`.
    int lowerBound(const uint8_t* k, uint32_t recno, bool strict = false) const;
    void insertAt(int pos, const uint8_t* k, uint32_t recno, uint32_t child = 0);
    void eraseAt(int pos);
    // Moves entries [from, count) to the end of `to`.
    void moveTail(int from, Node& to);
};

int maxInteriorEntries(int keyLength);
// Bytes a leaf would need for entries [from, to) of `node` (header excluded).
int leafBytes(const Node& node, int from, int to);
bool fits(const Node& node);

// Decodes a page. Throws StoreError (text built from `where`) when the page is malformed.
void decodeNode(const uint8_t* page, uint32_t offset, int keyLength, Node& node, const QString& where);
void encodeNode(const Node& node, uint8_t* page);
// Writes into `page`, the node's own page image, only what an entry appended since it was
// encoded or decoded changes (the common case of records added in key order). False, with the
// page untouched, when that is not the case or the page's entry layout cannot take the entry:
// encodeNode must write the whole page then.
bool encodeAppended(const Node& node, uint8_t* page);

} // namespace cdx
} // namespace store
