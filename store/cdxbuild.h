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
// `uniqueKeys` only the first entry of each key. Entries that come in order (keys that grow with the
// record number, such as dates in a log) are neither sorted nor merged: their runs are read back
// one after another.
class EntrySorter {
public:
    EntrySorter(int keyLength, bool uniqueKeys, const QString& spillDir, size_t memoryBudget = 16u << 20);
    ~EntrySorter();
    // Room for about `entries` entries at once (within the budget), so the buffer is not grown
    // and copied while they come.
    void expect(size_t entries);
    void add(const uint8_t* key, uint32_t recno);
    void finish(const std::function<void(const uint8_t*, uint32_t)>& sink);
    int runCount() const { return int(runs_.size()); }

private:
    // A prefix of the entry as a number, and the entry's place in the buffer.
    struct Item {
        uint64_t prefix;
        uint32_t index;
    };
    struct Run {
        uint64_t offset;
        uint64_t count;
        std::vector<uint8_t> first; // its first and last entries, to see whether runs overlap
        std::vector<uint8_t> last;
    };

    void sortBuffer();
    const uint8_t* sorted(size_t i) const;
    void spill();
    void writeSpill(const uint8_t* data, size_t bytes);
    void readSpill(uint64_t offset, uint8_t* data, size_t bytes);
    void mergeRuns(const std::function<void(const uint8_t*)>& deliver);
    void concatenateRuns(const std::function<void(const uint8_t*)>& deliver);

    int keyLength_;
    int recordSize_;
    bool unique_;
    QString spillDir_;
    size_t budget_;
    std::vector<uint8_t> buffer_;
    size_t count_ = 0;
    size_t capacity_ = 0;
    bool inOrder_ = true; // the buffer's entries came in ascending order
    std::vector<Item> items_; // the buffer's order after sortBuffer() (empty when it came in order)
    std::vector<Item> spare_;
    std::unique_ptr<QTemporaryFile> spillFile_;
    std::vector<Run> runs_;
};

} // namespace store::cdx
