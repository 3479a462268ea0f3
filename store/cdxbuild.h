#pragma once

#include "store/cdxpage.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QTemporaryFile;

namespace store::cdx {

// Writes a tree bottom-up from entries given in ascending order: leaves packed full, each level's
// nodes linked both ways, one pending node per level in memory. Pages are taken from `allocate`
// (one new page offset a call) and written through `write`.
class TreeWriter {
public:
    TreeWriter(int keyLength, std::function<uint32_t()> allocate,
               std::function<void(uint32_t, const uint8_t*)> write);
    void add(const uint8_t* key, uint32_t recno);
    // Writes what is pending and returns the root's offset (an empty root leaf when nothing came).
    uint32_t finish();

private:
    struct Level {
        Node node;
        int stored = 0;        // leaf: stored key bytes so far
        uint32_t maxRecno = 0; // leaf: largest record number so far
        int written = 0;       // nodes of this level already written
    };
    void addTo(size_t level, const uint8_t* key, uint32_t recno, uint32_t child);
    void startNode(size_t level, uint32_t left);
    void closeNode(size_t level, uint32_t right);

    int keyLength_;
    std::function<uint32_t()> allocate_;
    std::function<void(uint32_t, const uint8_t*)> write_;
    std::vector<Level> levels_;
};

// Sorts (key, record number) pairs with bounded memory: sorted runs are spilled to a temporary file
// in `spillDir` and merged. Entries come out ascending (key bytes, then record number); with
// `uniqueKeys` only the first entry of each key.
class EntrySorter {
public:
    EntrySorter(int keyLength, bool uniqueKeys, const QString& spillDir, size_t memoryBudget = 96u << 20);
    ~EntrySorter();
    // Room for about `entries` entries at once (within the budget), so the buffer is not grown
    // and copied while they come.
    void expect(size_t entries);
    void add(const uint8_t* key, uint32_t recno);
    void finish(const std::function<void(const uint8_t*, uint32_t)>& sink);
    int runCount() const { return int(runs_.size()); }

private:
    void sortBuffer();
    void spill();

    int keyLength_;
    int recordSize_;
    bool unique_;
    QString spillDir_;
    size_t budget_;
    std::vector<uint8_t> buffer_;
    std::vector<uint32_t> order_;
    size_t count_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<QTemporaryFile> spillFile_;
    struct Run {
        uint64_t offset;
        uint64_t count;
    };
    std::vector<Run> runs_;
};

} // namespace store::cdx
