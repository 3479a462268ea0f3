#pragma once

#include "store/cdxindex.h"
#include "store/cdxpage.h"
#include "store/storeerror.h"

#include <exception>
#include <cstring>
#include <list>
#include <memory>
#include <unordered_map>

namespace store {

using NodePtr = std::shared_ptr<cdx::Node>;

namespace cdxi {

// Lock scheme of FoxPro-compatible engines for compound index files: one byte at 0x7FFFFFFE,
// taken shared to read the index and exclusively to change it. It lies far beyond any real page,
// so it never blocks plain reads of the file's bytes.
inline constexpr uint64_t kLockOffset = 0x7FFFFFFEull;
inline constexpr uint64_t kLockLength = 1;
// The mark of a change under way: this exact value at bytes 24 to 27 of the directory header,
// reserved bytes that no engine writes (other engines keep their own header and page lengths at
// 16 to 19 and a signature at 20 to 23, so a non-zero value alone means nothing). Files written
// before the mark moved may carry it at 16; there the same exact value is recognised too, since
// no engine's lengths read as it.
inline constexpr uint64_t kMarkOffset = 24;
inline constexpr uint64_t kOldMarkOffset = 16;
inline constexpr uint32_t kMarkValue = 0x57524954; // "WRIT"
// The counter and the mark are read and written together: bytes 8 to 27.
inline constexpr uint64_t kCounterOffset = 8;
inline constexpr size_t kCounterAndMarkLength = kMarkOffset + 4 - kCounterOffset;

// Whether the header bytes from the counter on (kCounterAndMarkLength of them) carry the mark,
// in its place or in its old one.
inline bool markedAt(const uint8_t* counterAndMark)
{
    return store::getLe32(counterAndMark + (kMarkOffset - kCounterOffset)) == kMarkValue
        || store::getLe32(counterAndMark + (kOldMarkOffset - kCounterOffset)) == kMarkValue;
}
// Page offsets must stay below the lock byte.
inline constexpr uint64_t kMaxFileSize = 0x7FFFFE00ull;
inline constexpr int kMaxDepth = 40;
inline constexpr int kTagNameLength = 10;

inline QByteArray normalizedKey(const QByteArray& key, int keyLength)
{
    QByteArray k = key.left(keyLength);
    if (k.size() < keyLength)
        k.append(QByteArray(keyLength - k.size(), char(cdx::kFill)));
    return k;
}

inline const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

inline bool sameEntry(const cdx::Node& n, int i, const uint8_t* key, uint32_t recno)
{
    return n.recnos[size_t(i)] == recno && std::memcmp(n.key(i), key, size_t(n.keyLength)) == 0;
}

inline void copyEntry(cdx::Node& to, int i, const cdx::Node& from, int j)
{
    std::memcpy(to.key(i), from.key(j), size_t(to.keyLength));
    to.recnos[size_t(i)] = from.recnos[size_t(j)];
}

} // namespace cdxi

struct CdxTag::Impl {
    CdxIndex::Impl* index = nullptr;
    uint32_t header = 0; // offset of the tag's header; 0 for the tag directory
    QByteArray name;
    QByteArray expression;
    int keyLength = 0;
    bool unique = false;
    uint32_t root = cdx::kNone;
    bool removed = false;
    // The leaf of the last navigation, valid while the cache generation is unchanged.
    uint32_t lastLeaf = cdx::kNone;
    uint64_t lastGeneration = 0;
    // Entry numbers: the leaves in key order with the number of the first entry of each, read in
    // one walk of the leaf headers; valid while the cache generation is unchanged and this handle
    // has not changed the tag since.
    struct Numbering {
        bool valid = false;
        uint64_t generation = 0;
        std::vector<uint32_t> leaves;
        std::vector<uint64_t> starts; // one more than leaves: the last is the entry count
        std::unordered_map<uint32_t, uint32_t> indexOf; // leaf offset -> its place in `leaves`
    } numbering;
};

struct CdxIndex::Impl {
    struct PathStep {
        NodePtr node;
        int index = 0; // child taken (interior nodes)
    };
    using Path = std::vector<PathStep>;

    QString path;
    Access access = Access::Shared;
    int fd = -1;
    uint64_t device = 0; // identity of the file, for the locks of this process's handles
    uint64_t inode = 0;
    // The file mapped shared and read-only: pages are read there without a system call, through
    // the same page cache as pwrite, which writes every change (checked: a file that cannot be
    // written, immutable or on a full disk, is an error, where a store through a writable mapping
    // would end the program with SIGBUS). Only offsets below fileEnd are read, and the file is
    // extended before a new page is used. Mapped pages that were touched count in
    // the process's resident set, so the touched window is bounded: past kWindowPages the pages
    // are dropped from the mapping (MADV_DONTNEED; the page cache keeps their data).
    uint8_t* map = nullptr;
    size_t mapSize = 0;
    static constexpr size_t kWindowPages = 1024; // 4 KiB pages, 4 MiB
    mutable std::vector<uint64_t> touched;      // one bit a 4 KiB page of the mapping
    mutable size_t touchedPages = 0;
    // A handle that only reads takes the change counter with pread for its first operations and
    // maps the file only when it goes on reading (a short-lived reader then never pays for the
    // mapping); a change maps it when it first adds a key to a leaf it reads there.
    static constexpr int kReadsBeforeMapping = 32;
    int unmappedCounterReads = 0;
    // While the headers are loaded (under the lock): the file's first 4 KiB, read in one call.
    std::vector<uint8_t> firstPage;

    // Directory header state.
    uint32_t freeHead = 0; // first page of the free list (0: none)
    uint32_t counter = 0;  // change counter, big-endian at offset 8
    uint64_t fileEnd = 0;
    uint64_t fileEndAtLock = 0; // file size when the write lock was taken
    bool headerDirty = false;
    bool haveState = false; // false: headers and cache must be read again before use

    CdxTag::Impl directory;
    std::vector<std::unique_ptr<CdxTag::Impl>> tagImpls; // every tag ever seen (handles stay valid)
    std::vector<std::unique_ptr<CdxTag>> tagHandles;
    std::vector<CdxTag*> liveTags; // in header order

    // Page cache: decoded nodes, least recently used at the back; leaves and interior nodes in
    // lists of their own. Every descent passes interior nodes, a seek's leaf is seldom used
    // again: interior nodes get the larger share (about 1 KiB each decoded, so 8 MiB at most),
    // so that a lookup in a large tag reads its leaf alone from the file.
    std::list<NodePtr> lru;      // leaves
    std::list<NodePtr> lruInner; // interior nodes
    std::unordered_map<uint32_t, std::list<NodePtr>::iterator> cache;
    size_t cacheLimit = 1024;      // leaves
    size_t innerCacheLimit = 8192; // interior nodes
    std::list<NodePtr>& listOf(const cdx::Node& n) { return n.cachedInner ? lruInner : lru; }
    void cacheNode(const NodePtr& n);
    void evictFrom(std::list<NodePtr>& list, size_t limit);
    // Raw pages as the file holds them at `counter`, kept by a shared handle for pages it read
    // under the read lock: when a page leaves the decoded cache, the next lookup that needs it
    // is served from here, and a read served from cached pages alone needs no lock (no system
    // call at all), as for decoded pages. 512 bytes a page, 12 MiB at most (with the touched
    // window and the decoded caches a reader stays well under 32 MiB), a page at random replaced
    // when full; emptied with the decoded cache (the counter moved) and kept current by this
    // handle's own writes. Under the write lock nothing is added: there the decoded cache holds
    // the truth until write-back.
    struct RawPages {
        static constexpr size_t kLimit = 24576;
        std::vector<uint8_t> bytes; // kPageSize a slot
        std::vector<uint32_t> offsets; // page in each slot
        std::unordered_map<uint32_t, size_t> slotOf;
        uint64_t next = 0x9E3779B97F4A7C15ull; // state of the choice of the slot to replace
        const uint8_t* find(uint32_t offset) const;
        void put(uint32_t offset, const uint8_t* page);
        void forget(uint32_t offset);
        void clear();
    };
    mutable RawPages rawPages;
    std::vector<uint32_t> dirtyPages;
    std::vector<uint32_t> pendingFree; // pages let go of, put on the free list at write-back
    bool broken = false;               // exclusive use: an operation failed half-way
    std::vector<CdxTag::Impl*> dirtyRoots;
    uint64_t generation = 1;

    // Crash safety (see CdxIndex::open).
    CdxRecords* records = nullptr; // what the tags are rebuilt from after an interrupted change
    bool marked = false;           // this handle set the mark: its change is under way
    bool marking = false;          // writing the mark itself
    mutable bool wrote = false;    // something of the change reached the file
    uint32_t counterBeforeMark = 0;
    bool writeFailed = false;
    bool loadedMark = false; // the mark as loadState() found it
    QString repairNote;
    // Exclusive use marks the file just before its first write (a change that fails before it
    // leaves the file as it was).
    void beforeWrite() const;
    // Holds `marking` while the mark itself is written, also when the write fails.
    struct Marking {
        bool& flag;
        explicit Marking(bool& f) : flag(f) { flag = true; }
        ~Marking() { flag = false; }
    };
    bool readMark();
    void setMark();
    void clearMark();
    void writeCounterAndMark(const uint32_t* newCounter, bool mark);
    // Called with a lock held when the mark of a stopped writer is found; leaves the lock as
    // `write` asks and the state loaded.
    void repairInterrupted(bool write);
    void rebuildInPlace();
    // A tag directory header and its empty root leaf (kHeaderSize + kPageSize bytes).
    static void emptyIndexImage(uint8_t* image);
    // Builds tags from one pass over the records; `afterPass` runs between the pass and the first
    // write (a rebuild empties the file there, so that it stays readable as long as possible).
    std::vector<CdxTag*> buildTags(const std::vector<CdxTagSpec>& specs, CdxRecords& records, bool reuse,
                                   const std::function<void()>& afterPass = {});

    // Lock state.
    int depth = 0;
    bool writeLocked = false;
    bool readLocked = false;
    bool changed = false;     // the cache holds changes not yet in the file
    bool announce = false;    // changes are in the file; the counter is bumped when the lock goes
    // A read that started without the lock because the change counter matched the cache: it may
    // use cached pages only, and takes the lock before it reads one from the file.
    bool optimistic = false;

    ~Impl();

    [[noreturn]] void fail(const QString& what) const;
    void readAt(uint64_t offset, void* buf, size_t len) const;
    void mapUpTo(uint64_t size);
    void growMap() { if (map) mapUpTo(fileEnd); } // the mapping, if any, follows the file
    // The mapped bytes at `offset` for reading, counted in the touched window.
    const uint8_t* mapped(uint64_t offset);
    void dropWindow() const noexcept;
    bool inWindow(uint64_t offset, size_t len) const;
    void writeAt(uint64_t offset, const void* buf, size_t len) const;
    void writeLe32At(uint64_t offset, uint32_t value) const;
    void checkPointer(uint32_t offset, const char* what) const;

    void begin(bool write, bool mayStartUnlocked = false);
    void end() noexcept;
    void abandon() noexcept;
    uint32_t fileCounter(bool* mark = nullptr);
    void lockForPageRead();
    bool shrunk() const; // the file is shorter than the cache believes
    void lockFile(bool write);
    void unlockFile() noexcept;
    void loadState();
    void dropCache();
    void writeBack(); // pages and header words into the file
    void writeNode(const cdx::Node& n);
    void bumpCounter();
    void readTagList();
    CdxTag::Impl* tagAt(uint32_t header, const QByteArray& name);

    NodePtr node(CdxTag::Impl& tag, uint32_t offset);
    NodePtr newNode(CdxTag::Impl& tag, bool leaf);
    void markDirty(const NodePtr& n);
    void freePage(uint32_t offset);
    void freeNode(const NodePtr& n);
    uint32_t allocatePage();
    void setRoot(CdxTag::Impl& tag, uint32_t root);
    void evict();

    // Tree operations (callers hold the lock).
    NodePtr descend(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, bool strict, Path* path);
    NodePtr stepRight(CdxTag::Impl& tag, const cdx::Node& from);
    NodePtr stepLeft(CdxTag::Impl& tag, const cdx::Node& from);
    bool seekAt(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, bool strict, CdxEntry& out);
    // The first (or last) leaf of the tag, empty or not.
    NodePtr edgeLeaf(CdxTag::Impl& tag, bool last);
    bool edge(CdxTag::Impl& tag, bool last, CdxEntry& out);
    bool before(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, CdxEntry& out);
    void insertEntry(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno);
    bool removeEntry(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno);
    void fixUp(CdxTag::Impl& tag, Path& path, bool appended);
    void splitNode(CdxTag::Impl& tag, Path& path, size_t level, bool appended);
    void unlink(CdxTag::Impl& tag, const NodePtr& n);
    void collapseRoot(CdxTag::Impl& tag);
    void freeTree(CdxTag::Impl& tag);
    void verifyTag(CdxTag::Impl& tag);
    void fill(const cdx::Node& leaf, int pos, CdxTag::Impl& tag, CdxEntry& out);
    // The tag's numbering, walked again when it is out of date (callers hold the lock).
    const CdxTag::Impl::Numbering& numbering(CdxTag::Impl& tag);
};

namespace cdxi {

inline void checkLive(const CdxTag::Impl& t)
{
    if (t.removed)
        throw StoreError(QStringLiteral("%1: tag %2 no longer exists").arg(t.index->path, QString::fromLatin1(t.name)));
}

} // namespace cdxi

// Holds the lock for one operation (or joins an open Scope).
class CdxOperation {
public:
    CdxOperation(CdxIndex::Impl& index, bool write, bool mayStartUnlocked = false)
        : index_(index), exceptions_(std::uncaught_exceptions())
    {
        index_.begin(write, mayStartUnlocked);
    }
    ~CdxOperation()
    {
        if (std::uncaught_exceptions() > exceptions_)
            index_.abandon(); // half-done changes never reach the file
        index_.end();
    }
    CdxOperation(const CdxOperation&) = delete;
    CdxOperation& operator=(const CdxOperation&) = delete;

private:
    CdxIndex::Impl& index_;
    int exceptions_;
};

// Thrown inside an unlocked read when the file changed before the first page had to be read:
// the read is run again under the lock.
struct CdxRetryLocked {};

// Runs a read: first without the lock when the cache is current, again under the lock if needed.
template <class F>
auto cdxRead(CdxIndex::Impl& index, F&& body)
{
    try {
        CdxOperation op(index, false, true);
        return body();
    } catch (const CdxRetryLocked&) {
    }
    CdxOperation op(index, false, false);
    return body();
}

} // namespace store
