#include "store/cdxbuild.h"

#include "store/storeerror.h"

#include <QDir>
#include <QTemporaryFile>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <unistd.h>

namespace store::cdx {

TreeWriter::TreeWriter(int keyLength, std::function<uint32_t()> allocate,
                       std::function<void(uint32_t, const uint8_t*)> write)
    : keyLength_(keyLength), allocate_(std::move(allocate)), write_(std::move(write))
{
}

void TreeWriter::startNode(size_t level, uint32_t offset)
{
    Level& l = levels_[level];
    const uint32_t left = l.node.offset;
    l.node.offset = offset;
    l.node.attr = level == 0 ? kAttrLeaf : 0;
    l.node.keyLength = keyLength_;
    l.node.left = left;
    l.node.right = kNone;
    l.node.keys.clear();
    l.node.recnos.clear();
    l.node.children.clear();
    l.stored = 0;
    l.maxRecno = 0;
}

void TreeWriter::closeNode(size_t level, uint32_t right)
{
    uint8_t page[kPageSize];
    Level& l = levels_[level];
    l.node.right = right;
    encodeNode(l.node, page);
    write_(l.node.offset, page);
    ++l.written;
    // The parent entry carries the last key of this node; copy it out first, as adding to the
    // parent level may grow levels_.
    std::vector<uint8_t> last(l.node.lastKey(), l.node.lastKey() + keyLength_);
    const uint32_t lastRecno = l.node.lastRecno();
    const uint32_t offset = l.node.offset;
    addTo(level + 1, last.data(), lastRecno, offset);
}

void TreeWriter::addTo(size_t level, const uint8_t* key, uint32_t recno, uint32_t child)
{
    if (levels_.size() <= level) {
        levels_.emplace_back();
        levels_[level].node.offset = kNone;
        startNode(level, allocate_());
    }
    Level* l = &levels_[level];
    const int n = l->node.count();
    int newStored = 0;
    bool full;
    if (level == 0) {
        newStored = storedBytes(n ? l->node.lastKey() : nullptr, key, keyLength_);
        const int bytes = leafLayout(keyLength_, std::max(l->maxRecno, recno)).bytes;
        full = n > 0 && (n + 1) * bytes + l->stored + newStored > kLeafSpace;
    } else {
        full = n >= maxInteriorEntries(keyLength_);
    }
    if (full) {
        const uint32_t next = allocate_();
        closeNode(level, next);
        l = &levels_[level];
        startNode(level, next);
        if (level == 0)
            newStored = storedBytes(nullptr, key, keyLength_);
    }
    l->node.keys.insert(l->node.keys.end(), key, key + keyLength_);
    l->node.recnos.push_back(recno);
    if (level == 0) {
        l->stored += newStored;
        l->maxRecno = std::max(l->maxRecno, recno);
    } else {
        l->node.children.push_back(child);
    }
}

void TreeWriter::add(const uint8_t* key, uint32_t recno) { addTo(0, key, recno, 0); }

uint32_t TreeWriter::finish()
{
    uint8_t page[kPageSize];
    if (levels_.empty()) {
        Node root;
        root.offset = allocate_();
        root.attr = kAttrRoot | kAttrLeaf;
        root.keyLength = keyLength_;
        encodeNode(root, page);
        write_(root.offset, page);
        return root.offset;
    }
    for (size_t level = 0;; ++level) {
        Level& l = levels_[level];
        if (level + 1 == levels_.size() && l.written == 0) {
            l.node.attr |= kAttrRoot;
            encodeNode(l.node, page);
            write_(l.node.offset, page);
            return l.node.offset;
        }
        closeNode(level, kNone);
    }
}

EntrySorter::EntrySorter(int keyLength, bool uniqueKeys, const QString& spillDir, size_t memoryBudget)
    : keyLength_(keyLength), recordSize_(keyLength + 4), unique_(uniqueKeys), spillDir_(spillDir),
      budget_(memoryBudget)
{
    // An entry and two sort items (radix sort) an entry; the buffer grows as entries come, so a
    // small tag takes little memory.
    capacity_ = std::max<size_t>(1024, budget_ / (size_t(recordSize_) + 2 * sizeof(Item)));
}

EntrySorter::~EntrySorter() = default;

void EntrySorter::expect(size_t entries)
{
    const size_t want = std::min(capacity_, entries) * size_t(recordSize_);
    if (want > buffer_.size())
        buffer_.resize(want);
}

void EntrySorter::add(const uint8_t* key, uint32_t recno)
{
    if (count_ == capacity_)
        spill();
    const size_t rs = size_t(recordSize_);
    if ((count_ + 1) * rs > buffer_.size())
        buffer_.resize(std::min(capacity_, std::max<size_t>(1024, 2 * count_)) * rs);
    uint8_t* r = buffer_.data() + count_ * rs;
    std::memcpy(r, key, size_t(keyLength_));
    putBe32(r + keyLength_, recno); // big-endian, so one memcmp orders key then record number
    if (inOrder_ && count_ > 0)
        inOrder_ = std::memcmp(r - rs, r, rs) <= 0;
    ++count_;
}

const uint8_t* EntrySorter::sorted(size_t i) const
{
    return buffer_.data() + (items_.empty() ? i : size_t(items_[i].index)) * size_t(recordSize_);
}

void EntrySorter::sortBuffer()
{
    items_.clear();
    if (inOrder_)
        return;
    const uint8_t* base = buffer_.data();
    const size_t rs = size_t(recordSize_);
    // The 8 bytes after those that all records share, as a big-endian number, sorted by a stable
    // radix sort (one pass a byte that differs between records): keys of a few significant
    // characters, such as names and dates, are then in order or in short runs of equal prefixes.
    size_t common = rs;
    for (size_t i = 1; i < count_ && common > 0; ++i) {
        const uint8_t* r = base + i * rs;
        size_t c = 0;
        while (c < common && r[c] == base[c])
            ++c;
        common = c;
    }
    items_.resize(count_);
    for (size_t i = 0; i < count_; ++i) {
        const uint8_t* r = base + i * rs;
        uint64_t p = 0;
        for (size_t b = 0; b < 8; ++b)
            p = (p << 8) | (common + b < rs ? r[common + b] : 0);
        items_[i] = {p, uint32_t(i)};
    }
    std::vector<std::array<uint32_t, 256>> counts(8);
    for (auto& c : counts)
        c.fill(0);
    for (const Item& it : items_)
        for (int d = 0; d < 8; ++d)
            ++counts[size_t(d)][(it.prefix >> (8 * d)) & 0xFF];
    spare_.resize(count_);
    for (int d = 0; d < 8; ++d) {
        auto& c = counts[size_t(d)];
        if (std::find(c.begin(), c.end(), uint32_t(count_)) != c.end())
            continue; // every record has the same byte here
        uint32_t at = 0;
        for (uint32_t& n : c)
            at += std::exchange(n, at);
        for (const Item& it : items_)
            spare_[c[(it.prefix >> (8 * d)) & 0xFF]++] = it;
        items_.swap(spare_);
    }
    // Runs of equal prefixes are in insertion order; those whose rest is out of order are sorted.
    const size_t restAt = std::min(rs, common + 8);
    const size_t rest = rs - restAt;
    const auto restLess = [base, rs, restAt, rest](const Item& a, const Item& b) {
        return std::memcmp(base + a.index * rs + restAt, base + b.index * rs + restAt, rest) < 0;
    };
    for (size_t i = 0; rest > 0 && i < count_;) {
        size_t j = i + 1;
        bool inOrder = true;
        while (j < count_ && items_[j].prefix == items_[i].prefix) {
            inOrder = inOrder && !restLess(items_[j], items_[j - 1]);
            ++j;
        }
        if (!inOrder)
            std::sort(items_.begin() + ptrdiff_t(i), items_.begin() + ptrdiff_t(j), restLess);
        i = j;
    }
}

void EntrySorter::writeSpill(const uint8_t* data, size_t bytes)
{
    if (spillFile_->write(reinterpret_cast<const char*>(data), qint64(bytes)) != qint64(bytes))
        throw StoreError(QStringLiteral("%1: cannot write the temporary sort file: %2")
                             .arg(spillDir_, spillFile_->errorString()));
}

void EntrySorter::readSpill(uint64_t offset, uint8_t* data, size_t bytes)
{
    size_t got = 0;
    while (got < bytes) {
        const ssize_t r = ::pread(spillFile_->handle(), data + got, bytes - got, off_t(offset + got));
        if (r <= 0)
            throw StoreError(QStringLiteral("%1: cannot read the temporary sort file").arg(spillDir_));
        got += size_t(r);
    }
}

void EntrySorter::spill()
{
    sortBuffer();
    if (!spillFile_) {
        spillFile_ = std::make_unique<QTemporaryFile>(QDir(spillDir_).filePath(QStringLiteral("cdxsort-XXXXXX")));
        if (!spillFile_->open())
            throw StoreError(QStringLiteral("%1: cannot create a temporary sort file: %2")
                                 .arg(spillDir_, spillFile_->errorString()));
    }
    const size_t rs = size_t(recordSize_);
    Run run{uint64_t(spillFile_->pos()), 0, {}, {}};
    if (items_.empty() && !unique_) {
        writeSpill(buffer_.data(), count_ * rs); // came in order: written as it stands
        run.count = count_;
    } else {
        // Gathered in order into the spare items' memory, which the sort no longer needs.
        const size_t spareBytes = spare_.size() * sizeof(Item);
        std::vector<uint8_t> ownChunk;
        uint8_t* out = reinterpret_cast<uint8_t*>(spare_.data());
        size_t chunk = std::min<size_t>(spareBytes, 1u << 20) / rs * rs;
        if (spareBytes < (64u << 10)) {
            chunk = std::max<size_t>(rs, (256u << 10) / rs * rs);
            ownChunk.resize(chunk);
            out = ownChunk.data();
        }
        size_t used = 0;
        const uint8_t* prev = nullptr;
        for (size_t i = 0; i < count_; ++i) {
            const uint8_t* r = sorted(i);
            if (unique_ && prev && std::memcmp(prev, r, size_t(keyLength_)) == 0)
                continue;
            prev = r;
            std::memcpy(out + used, r, rs);
            used += rs;
            ++run.count;
            if (used + rs > chunk) {
                writeSpill(out, used);
                used = 0;
            }
        }
        writeSpill(out, used);
    }
    if (count_ > 0) {
        run.first.assign(sorted(0), sorted(0) + rs);
        run.last.assign(sorted(count_ - 1), sorted(count_ - 1) + rs);
    }
    runs_.push_back(std::move(run));
    count_ = 0;
    inOrder_ = true;
}

void EntrySorter::finish(const std::function<void(const uint8_t*, uint32_t)>& sink)
{
    const size_t rs = size_t(recordSize_);
    std::vector<uint8_t> lastKey(static_cast<size_t>(keyLength_));
    bool haveLast = false;
    auto deliver = [&](const uint8_t* r) {
        if (unique_) {
            if (haveLast && std::memcmp(lastKey.data(), r, size_t(keyLength_)) == 0)
                return;
            std::memcpy(lastKey.data(), r, size_t(keyLength_));
            haveLast = true;
        }
        sink(r, getBe32(r + keyLength_));
    };

    if (runs_.empty()) {
        sortBuffer();
        for (size_t i = 0; i < count_; ++i)
            deliver(sorted(i));
        return;
    }
    if (count_ > 0)
        spill();
    if (!spillFile_->flush())
        throw StoreError(QStringLiteral("%1: cannot write the temporary sort file").arg(spillDir_));
    // The run buffer is no longer needed: its memory goes to the merge's read buffers.
    std::vector<uint8_t>().swap(buffer_);
    std::vector<Item>().swap(items_);
    std::vector<Item>().swap(spare_);
    bool overlap = false;
    for (size_t i = 1; i < runs_.size() && !overlap; ++i)
        overlap = std::memcmp(runs_[i - 1].last.data(), runs_[i].first.data(), rs) > 0;
    if (overlap)
        mergeRuns(deliver);
    else
        concatenateRuns(deliver);
}

void EntrySorter::concatenateRuns(const std::function<void(const uint8_t*)>& deliver)
{
    const size_t rs = size_t(recordSize_);
    std::vector<uint8_t> buf(std::max<size_t>(rs, std::min<size_t>(budget_, 1u << 20) / rs * rs));
    for (const Run& run : runs_) {
        uint64_t done = 0;
        while (done < run.count) {
            const size_t n = size_t(std::min<uint64_t>(run.count - done, buf.size() / rs));
            readSpill(run.offset + done * rs, buf.data(), n * rs);
            for (size_t i = 0; i < n; ++i)
                deliver(buf.data() + i * rs);
            done += n;
        }
    }
}

void EntrySorter::mergeRuns(const std::function<void(const uint8_t*)>& deliver)
{
    const size_t rs = size_t(recordSize_);
    struct Reader {
        uint64_t next; // file offset of the next record not yet buffered
        uint64_t left; // records not yet buffered
        std::vector<uint8_t> buf;
        size_t pos = 0;
        size_t len = 0;
    };
    const size_t perRun = std::max<size_t>(rs * 16, (budget_ / runs_.size()) / rs * rs);
    std::vector<Reader> readers(runs_.size());
    auto refill = [&](Reader& rd) {
        const uint64_t n = std::min<uint64_t>(rd.left, perRun / rs);
        rd.buf.resize(size_t(n) * rs);
        readSpill(rd.next, rd.buf.data(), rd.buf.size());
        rd.next += n * rs;
        rd.left -= n;
        rd.pos = 0;
        rd.len = rd.buf.size();
    };
    for (size_t i = 0; i < runs_.size(); ++i) {
        readers[i].next = runs_[i].offset;
        readers[i].left = runs_[i].count;
        refill(readers[i]);
    }
    auto current = [&](int i) { return readers[size_t(i)].buf.data() + readers[size_t(i)].pos; };
    auto greater = [&](int a, int b) { return std::memcmp(current(a), current(b), rs) > 0; };
    std::vector<int> heap;
    for (size_t i = 0; i < readers.size(); ++i)
        if (readers[i].len > 0)
            heap.push_back(int(i));
    std::make_heap(heap.begin(), heap.end(), greater);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), greater);
        const int i = heap.back();
        Reader& rd = readers[size_t(i)];
        // The smallest run goes on alone while it stays below every other run's next entry:
        // runs of a key or of neighbouring keys cost one comparison an entry, not a heap step.
        const uint8_t* bound = heap.size() > 1 ? current(heap.front()) : nullptr;
        do {
            deliver(current(i));
            rd.pos += rs;
            if (rd.pos == rd.len && rd.left > 0)
                refill(rd);
        } while (rd.pos < rd.len && (!bound || std::memcmp(current(i), bound, rs) <= 0));
        if (rd.pos < rd.len)
            std::push_heap(heap.begin(), heap.end(), greater);
        else
            heap.pop_back();
    }
}

} // namespace store::cdx
