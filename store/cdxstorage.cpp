// The compound index file underneath the trees: mapping, locks, change counter, page cache,
// free pages, the tag directory.
#include "store/cdxindeximpl.h"
#include "store/filelock.h"
#include "store/storeerror.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

using namespace cdx;
using namespace cdxi;

// File access, cache and locks

CdxIndex::Impl::~Impl()
{
    if (map)
        ::munmap(map, mapSize);
    if (fd >= 0)
        ::close(fd);
}

uint32_t CdxIndex::Impl::fileCounter(bool* mark)
{
    // The counter at 8, and the mark with it in the same read when asked for.
    uint8_t words[kCounterAndMarkLength];
    const size_t length = mark ? kCounterAndMarkLength : 4;
    if (!map && ++unmappedCounterReads <= kReadsBeforeMapping) {
        if (::pread(fd, words, length, off_t(kCounterOffset)) != ssize_t(length))
            fail(QStringLiteral("cannot read the header"));
    } else {
        // Another process may write it at any time: read each byte once, as it is now.
        const volatile uint8_t* p = mapped(kCounterOffset);
        for (size_t i = 0; i < length; ++i)
            words[i] = p[i];
    }
    if (mark)
        *mark = markedAt(words);
    return getBe32(words);
}

bool CdxIndex::Impl::shrunk() const
{
    // Only a program that ignores the locks cuts the file short without moving the counter; the
    // pages it took must then never be read through the mapping, where the system answers with
    // SIGBUS instead of an error. Checked whenever the lock is taken, so reads from the mapping
    // (which take the lock first) stay within the file; read through pread, the pages past the
    // end are a plain error anyway.
    if (!map)
        return false;
    struct stat st;
    return ::fstat(fd, &st) != 0 || uint64_t(st.st_size) < fileEnd;
}

void CdxIndex::Impl::lockForPageRead()
{
    if (!optimistic)
        return;
    optimistic = false;
    lockFile(false);
    if (shrunk() || fileCounter() != counter)
        throw CdxRetryLocked{};
}

void CdxIndex::Impl::fail(const QString& what) const { throw StoreError(QStringLiteral("%1: %2").arg(path, what)); }

// The mapping covers the file with room to grow (8 MiB steps); it moves when the file outgrows
// it (nothing keeps pointers into it between calls).
void CdxIndex::Impl::mapUpTo(uint64_t size)
{
    if (size <= mapSize)
        return;
    constexpr uint64_t kStep = 8u << 20;
    const size_t want = size_t(std::min<uint64_t>(kMaxFileSize, (size + kStep - 1) / kStep * kStep));
    void* m = map ? ::mremap(map, mapSize, want, MREMAP_MAYMOVE)
                  : ::mmap(nullptr, want, PROT_READ, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED)
        fail(QStringLiteral("cannot map the index (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    map = static_cast<uint8_t*>(m);
    mapSize = want;
    touched.resize((mapSize / 4096 + 63) / 64, 0);
}

const uint8_t* CdxIndex::Impl::mapped(uint64_t offset)
{
    if (offset + kPageSize > mapSize)
        mapUpTo(std::max<uint64_t>(fileEnd, offset + kPageSize));
    const uint64_t page = offset / 4096;
    const uint64_t bit = uint64_t(1) << (page % 64);
    if (!(touched[size_t(page / 64)] & bit)) {
        // A read fault maps the neighbouring cached pages too (fault-around, 64 KiB).
        touchedPages += 16;
        if (touchedPages > kWindowPages)
            dropWindow();
        touched[size_t(page / 64)] |= bit;
    }
    return map + offset;
}

void CdxIndex::Impl::dropWindow() const noexcept
{
    // Safe for a shared file mapping: written pages stay (dirty) in the page cache, and the next
    // touch maps them again.
    if (map)
        ::madvise(map, mapSize, MADV_DONTNEED);
    std::fill(touched.begin(), touched.end(), 0);
    touchedPages = 0;
}

bool CdxIndex::Impl::inWindow(uint64_t offset, size_t len) const
{
    const uint64_t first = offset / 4096, last = (offset + len - 1) / 4096;
    for (uint64_t page = first; page <= last; ++page)
        if (!(touched[size_t(page / 64)] & (uint64_t(1) << (page % 64))))
            return false;
    return true;
}

// Reads go through pread, so that reading a large index leaves the resident set as it is; bytes
// of pages the window holds already are copied from the mapping (no system call).
void CdxIndex::Impl::readAt(uint64_t offset, void* buf, size_t len) const
{
    if (offset + len > fileEnd)
        fail(QStringLiteral("cannot read %1 bytes at offset %2: past the end of the file").arg(len).arg(offset));
    if (len == 0)
        return;
    if (offset + len <= uint64_t(firstPage.size())) {
        std::memcpy(buf, firstPage.data() + offset, len);
        return;
    }
    if (map && inWindow(offset, len)) {
        std::memcpy(buf, map + offset, len);
        return;
    }
    size_t done = 0;
    while (done < len) {
        const ssize_t r = ::pread(fd, static_cast<char*>(buf) + done, len - done, off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            fail(QStringLiteral("cannot read at offset %1 (%2)")
                     .arg(offset)
                     .arg(r == 0 ? QStringLiteral("end of file") : QString::fromLocal8Bit(strerror(errno))));
        done += size_t(r);
    }
}

void CdxIndex::Impl::writeAt(uint64_t offset, const void* buf, size_t len) const
{
    beforeWrite();
    for (uint64_t page = offset / kPageSize * kPageSize; page < offset + len; page += kPageSize)
        rawPages.forget(uint32_t(page));
    size_t done = 0;
    while (done < len) {
        const ssize_t r = ::pwrite(fd, static_cast<const char*>(buf) + done, len - done, off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        // One text whatever the offset, so that a file that cannot be written is said once.
        if (r <= 0)
            fail(QStringLiteral("the index cannot be written (%1)")
                     .arg(r == 0 ? QStringLiteral("nothing was written") : QString::fromLocal8Bit(strerror(errno))));
        done += size_t(r);
    }
}

void CdxIndex::Impl::writeLe32At(uint64_t offset, uint32_t value) const
{
    uint8_t word[4];
    putLe32(word, value);
    writeAt(offset, word, sizeof word);
}

void CdxIndex::Impl::checkPointer(uint32_t offset, const char* what) const
{
    if (offset % kPageSize != 0 || offset < kHeaderSize || uint64_t(offset) + kPageSize > fileEnd)
        fail(QStringLiteral("%1 points to offset %2, which is not a page of the file").arg(QLatin1String(what)).arg(offset));
}

void CdxIndex::Impl::lockFile(bool write)
{
    if (!LocalLocks::acquire(device, inode, this, write))
        fail(write ? QStringLiteral("cannot change the index while another handle of this program uses it")
                   : QStringLiteral("cannot read the index while another handle of this program changes it"));
    if (!FileLock::lock(fd, kLockOffset, kLockLength, write ? FileLock::Mode::Write : FileLock::Mode::Read)) {
        const int err = errno;
        LocalLocks::release(device, inode, this);
        if (err == EAGAIN)
            throw LockedError(path);
        fail(QStringLiteral("cannot lock the index (%1)").arg(QString::fromLocal8Bit(strerror(err))));
    }
    writeLocked = write;
    readLocked = !write;
}

void CdxIndex::Impl::unlockFile() noexcept
{
    if (writeLocked || readLocked) {
        FileLock::unlock(fd, kLockOffset, kLockLength);
        LocalLocks::release(device, inode, this);
    }
    writeLocked = readLocked = false;
}

bool CdxIndex::Impl::readMark()
{
    bool mark = false;
    fileCounter(&mark);
    return mark;
}

// Set under the write lock before anything of a change reaches the file; the counter moves with
// it, so that a reader working from its cache takes the lock (and sees the mark) before it reads
// a page that the change may have touched.
void CdxIndex::Impl::setMark()
{
    // A file that cannot be written fails here, at the first write of a change, before anything
    // else of it.
    Marking writing(marking);
    counterBeforeMark = counter;
    const uint32_t next = counter + 1;
    writeCounterAndMark(&next, true);
    ++counter;
    announce = false;
    marked = true;
    wrote = false;
}

// The counter (big-endian at 8; kept as the file holds it when `newCounter` is null) and the mark
// in one write; the bytes between them (the key length, the options and what other engines keep at
// 16 to 23) as the file holds them, but for the mark's old place, cleared when it holds the mark.
void CdxIndex::Impl::writeCounterAndMark(const uint32_t* newCounter, bool mark)
{
    uint8_t words[kCounterAndMarkLength];
    std::memcpy(words, mapped(kCounterOffset), sizeof words);
    if (newCounter)
        putBe32(words, *newCounter);
    putLe32(words + (kMarkOffset - kCounterOffset), mark ? kMarkValue : 0);
    if (getLe32(words + (kOldMarkOffset - kCounterOffset)) == kMarkValue)
        putLe32(words + (kOldMarkOffset - kCounterOffset), 0);
    writeAt(kCounterOffset, words, sizeof words);
}

void CdxIndex::Impl::clearMark()
{
    Marking writing(marking);
    if (!wrote && counter == counterBeforeMark + 1) {
        // Nothing was written: the file goes back to exactly what it was, counter included.
        writeCounterAndMark(&counterBeforeMark, false);
        counter = counterBeforeMark;
    } else {
        writeCounterAndMark(nullptr, false);
    }
    marked = false;
}

void CdxIndex::Impl::beforeWrite() const
{
    if (marking)
        return;
    if (access == Access::Exclusive && !marked) {
        // Held until flush() has written everything: a live exclusive writer is told from a
        // stopped one by this lock.
        auto* self = const_cast<CdxIndex::Impl*>(this);
        self->lockFile(true);
        try {
            self->setMark();
        } catch (...) {
            self->unlockFile(); // nothing of the change reached the file
            throw;
        }
    }
    wrote = true;
}

void CdxIndex::Impl::repairInterrupted(bool write)
{
    if (!records)
        fail(QStringLiteral("a change of the index was left unfinished by a program that stopped; its tags "
                            "must be rebuilt from the table"));
    if (!writeLocked) {
        unlockFile();
        lockFile(true);
    }
    if (readMark()) {
        rebuildInPlace();
        clearMark();
        repairNote = QStringLiteral("Index file %1: a change was left unfinished by a program that stopped; "
                                    "its tags were rebuilt from the table.")
                         .arg(path);
    } else if (!haveState || fileCounter() != counter) {
        loadState(); // another handle repaired it meanwhile
    }
    if (!write) {
        unlockFile();
        lockFile(false);
        if (fileCounter() != counter)
            loadState();
    }
}

void CdxIndex::Impl::abandon() noexcept
{
    if (access == Access::Exclusive) {
        // Changes of earlier operations are only in the cache, mixed with the half-done one:
        // nothing more is written, and every later use says so.
        broken = true;
        return;
    }
    // Pages taken from the end of the file for the failed change go again.
    if (writeLocked && fileEnd > fileEndAtLock && ::ftruncate(fd, off_t(fileEndAtLock)) != 0) {
        // the file keeps a few unused pages at its end: harmless
    }
    dropCache();
    haveState = false; // read the file again before the next use
}

void CdxIndex::Impl::begin(bool write, bool mayStartUnlocked)
{
    if (broken)
        fail(QStringLiteral("an earlier change failed half-way; the index must be rebuilt"));
    if (access == Access::Exclusive) {
        if (!haveState) {
            try {
                loadState();
            } catch (const StoreError&) {
                if (marked || !readMark())
                    throw;
            }
            if (!marked && (haveState ? loadedMark : readMark())) {
                // A writer stopped half-way; its lock went with it.
                repairInterrupted(true);
                unlockFile();
            }
        }
        ++depth;
        return;
    }
    const bool first = depth == 0;
    if (!first && !haveState && (readLocked || writeLocked))
        loadState(); // an operation inside this scope failed: start again from the file
    if (first && !write && mayStartUnlocked && haveState && fileCounter() == counter) {
        // Nothing changed since the cache was filled: cached pages are a consistent picture of the
        // file as of this counter value, so a read served from them alone needs no lock.
        optimistic = true;
        ++depth;
        return;
    }
    if (!first && (!write || writeLocked)) {
        ++depth;
        return;
    }
    // Either the outermost operation, or a change inside a read scope: the read lock is given up
    // for the write lock (never converted in place, which could deadlock two readers), and the
    // change counter tells whether anything happened in between.
    if (!first)
        unlockFile();
    lockFile(write);
    try {
        // The mark comes with the headers (loading) or with the counter (a cache to check).
        bool mark = false;
        if (!haveState) {
            try {
                loadState();
            } catch (const StoreError&) {
                if (!readMark())
                    throw;
            }
            mark = haveState ? loadedMark : readMark();
        } else if (shrunk()) {
            loadState();
            mark = loadedMark;
        } else if (const uint32_t now = fileCounter(&mark); !mark && now != counter) {
            loadState();
            mark = loadedMark;
        }
        if (mark)
            repairInterrupted(write);
        if (write)
            setMark();
        fileEndAtLock = fileEnd;
    } catch (...) {
        haveState = false;
        if (first)
            unlockFile();
        throw;
    }
    ++depth;
}

void CdxIndex::Impl::end() noexcept
{
    --depth;
    if (access == Access::Exclusive) {
        if (depth == 0)
            optimistic = false;
        return; // written back on flush
    }
    // Each change goes into the file when its operation ends, also inside a Scope, so that a
    // later failure can only lose its own half-done change; the counter moves once per lock.
    if (changed) {
        try {
            writeBack();
            announce = true;
            fileEndAtLock = fileEnd;
        } catch (...) {
            haveState = false;
            writeFailed = true;
        }
    }
    if (depth > 0)
        return;
    optimistic = false;
    // The counter moved when the mark was set, before anything was written: once is enough.
    // Neither write may throw from here: one that fails leaves the mark (or the cache's state
    // dropped), and the next operation reads the file again and says what it finds.
    try {
        if (announce && !marked)
            bumpCounter();
    } catch (const StoreError&) {
        haveState = false;
    }
    announce = false;
    if (marked) {
        // A write-back that failed half-way leaves the mark for the next handle that locks
        // (this one too) to repair.
        try {
            if (!writeFailed)
                clearMark();
        } catch (const StoreError&) {
            haveState = false;
        }
        marked = false;
    }
    writeFailed = false;
    unlockFile();
}

void CdxIndex::Impl::bumpCounter()
{
    uint8_t word[4];
    putBe32(word, counter + 1);
    writeAt(8, word, sizeof word);
    ++counter;
    announce = false;
}

const uint8_t* CdxIndex::Impl::RawPages::find(uint32_t offset) const
{
    const auto found = slotOf.find(offset);
    return found == slotOf.end() ? nullptr : bytes.data() + found->second * kPageSize;
}

void CdxIndex::Impl::RawPages::put(uint32_t offset, const uint8_t* page)
{
    size_t slot;
    if (const auto found = slotOf.find(offset); found != slotOf.end()) {
        slot = found->second;
    } else if (offsets.size() < kLimit) {
        if (bytes.capacity() == 0)
            bytes.reserve(kLimit * kPageSize); // address space only: pages count when first used
        slot = offsets.size();
        offsets.push_back(offset);
        bytes.resize(offsets.size() * kPageSize);
        slotOf[offset] = slot;
    } else {
        // A slot taken at random: a scan that cycles through more pages than the cache holds
        // still finds a share of them (oldest-first would find none).
        next ^= next << 13;
        next ^= next >> 7;
        next ^= next << 17;
        slot = size_t(next % kLimit);
        slotOf.erase(offsets[slot]);
        offsets[slot] = offset;
        slotOf[offset] = slot;
    }
    std::memcpy(bytes.data() + slot * kPageSize, page, kPageSize);
}

void CdxIndex::Impl::RawPages::forget(uint32_t offset)
{
    // The slot stays allocated and unused until it is replaced.
    if (const auto found = slotOf.find(offset); found != slotOf.end()) {
        offsets[found->second] = kNone;
        slotOf.erase(found);
    }
}

void CdxIndex::Impl::RawPages::clear()
{
    bytes.clear();
    bytes.shrink_to_fit();
    offsets.clear();
    offsets.shrink_to_fit();
    slotOf.clear();
    next = 0x9E3779B97F4A7C15ull;
}

void CdxIndex::Impl::dropCache()
{
    rawPages.clear();
    lru.clear();
    lruInner.clear();
    cache.clear();
    dirtyPages.clear();
    dirtyRoots.clear();
    pendingFree.clear();
    changed = false;
    headerDirty = false;
    ++generation;
}

void CdxIndex::Impl::loadState()
{
    dropCache();
    haveState = false;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        fail(QStringLiteral("cannot read the file size"));
    fileEnd = uint64_t(st.st_size);
    if (fileEnd < kHeaderSize + kPageSize)
        fail(QStringLiteral("file of %1 bytes is too short for a compound index").arg(fileEnd));
    if (fileEnd % kPageSize != 0)
        fail(QStringLiteral("file size %1 is not a whole number of 512-byte pages").arg(fileEnd));
    growMap();
    // The directory header, the directory's root and the first tags' headers all lie in the
    // first 4 KiB of a file this program wrote: one read for all of them.
    firstPage.clear();
    std::vector<uint8_t> first(size_t(std::min<uint64_t>(fileEnd, 4096)));
    readAt(0, first.data(), first.size());
    firstPage = std::move(first);
    struct ForgetFirstPage {
        std::vector<uint8_t>& page;
        ~ForgetFirstPage() { page.clear(); }
    } forget{firstPage};
    uint8_t h[kHeaderSize];
    readAt(0, h, sizeof h);
    const int keyLength = getLe16(h + 12);
    if (h[15] != 1)
        fail(QStringLiteral("bad signature %1 in the tag directory header").arg(h[15]));
    if (keyLength < 1 || keyLength > kMaxKeyLength)
        fail(QStringLiteral("tag directory has key length %1").arg(keyLength));
    directory.index = this;
    directory.header = 0;
    directory.keyLength = keyLength;
    directory.root = getLe32(h);
    checkPointer(directory.root, "the tag directory's root");
    freeHead = getLe32(h + 4);
    if (freeHead == kNone)
        freeHead = 0;
    if (freeHead != 0)
        checkPointer(freeHead, "the free-page list");
    counter = getBe32(h + kCounterOffset);
    loadedMark = markedAt(h + kCounterOffset);
    haveState = true;
    try {
        readTagList();
    } catch (...) {
        haveState = false;
        throw;
    }
}

CdxTag::Impl* CdxIndex::Impl::tagAt(uint32_t header, const QByteArray& name)
{
    if (header % kPageSize != 0 || header < kHeaderSize || uint64_t(header) + kHeaderSize > fileEnd)
        fail(QStringLiteral("tag directory points to a tag header at offset %1 outside the file").arg(header));
    uint8_t h[kHeaderSize];
    readAt(header, h, sizeof h);
    const int keyLength = getLe16(h + 12);
    if (h[15] != 1)
        fail(QStringLiteral("bad signature %1 in the tag header at offset %2").arg(h[15]).arg(header));
    if (keyLength < 1 || keyLength > kMaxKeyLength)
        fail(QStringLiteral("tag header at offset %1 has key length %2").arg(header).arg(keyLength));
    const uint32_t root = getLe32(h);
    checkPointer(root, "a tag's root");
    const int exprOffset = getLe16(h + 508);
    const int exprLength = getLe16(h + 510);
    if (exprOffset + exprLength > 512)
        fail(QStringLiteral("tag header at offset %1 has a key expression outside its pool").arg(header));
    const char* pool = reinterpret_cast<const char*>(h + 512 + exprOffset);
    QByteArray expression(pool, int(strnlen(pool, size_t(exprLength))));

    // A tag keeps its handle when its header moved (the index was rebuilt in another process).
    CdxTag::Impl* t = nullptr;
    for (auto& impl : tagImpls)
        if (!impl->removed && impl->header == header)
            t = impl.get();
    for (auto& impl : tagImpls)
        if (!t && !impl->removed && impl->name == name)
            t = impl.get();
    if (!t) {
        tagImpls.push_back(std::make_unique<CdxTag::Impl>());
        t = tagImpls.back().get();
        t->index = this;
        t->header = header;
        tagHandles.push_back(std::unique_ptr<CdxTag>(new CdxTag(t)));
    }
    t->header = header;
    t->keyLength = keyLength;
    t->root = root;
    t->unique = h[14] & 0x01;
    t->expression = expression;
    return t;
}

void CdxIndex::Impl::readTagList()
{
    struct Found {
        QByteArray name;
        uint32_t header;
    };
    std::vector<Found> found;
    CdxEntry e;
    bool ok = edge(directory, false, e);
    size_t guard = 0;
    while (ok) {
        if (++guard > fileEnd / kHeaderSize)
            fail(QStringLiteral("the tag directory lists more tags than the file can hold"));
        found.push_back({e.key.trimmed(), e.recno});
        ok = seekAt(directory, bytes(e.key), e.recno, true, e);
    }
    std::vector<CdxTag::Impl*> seen;
    for (const Found& f : found) {
        CdxTag::Impl* t = tagAt(f.header, f.name);
        t->name = f.name;
        seen.push_back(t);
    }
    for (auto& impl : tagImpls)
        if (std::find(seen.begin(), seen.end(), impl.get()) == seen.end())
            impl->removed = true;
    std::sort(seen.begin(), seen.end(), [](auto* a, auto* b) { return a->header < b->header; });
    liveTags.clear();
    for (CdxTag::Impl* t : seen)
        for (auto& h : tagHandles)
            if (h->impl_ == t)
                liveTags.push_back(h.get());
}

void CdxIndex::Impl::cacheNode(const NodePtr& n)
{
    n->cachedInner = !n->isLeaf();
    std::list<NodePtr>& list = listOf(*n);
    list.push_front(n);
    cache[n->offset] = list.begin();
}

void CdxIndex::Impl::evict()
{
    evictFrom(lru, cacheLimit);
    evictFrom(lruInner, innerCacheLimit);
}

void CdxIndex::Impl::evictFrom(std::list<NodePtr>& list, size_t limit)
{
    if (list.size() <= limit)
        return;
    auto it = list.end();
    int tries = 0;
    while (list.size() > limit && it != list.begin() && tries < 16) {
        --it;
        ++tries;
        if (it->use_count() > 1)
            continue; // in use by the operation under way
        Node& n = **it;
        if (n.dirty && !n.freed) {
            if (access == Access::Shared)
                continue; // written at the end of the operation, never half-way
            writeNode(n);
            n.dirty = false;
        }
        cache.erase(n.offset);
        it = list.erase(it);
    }
}

NodePtr CdxIndex::Impl::node(CdxTag::Impl& tag, uint32_t offset)
{
    auto found = cache.find(offset);
    if (found != cache.end()) {
        std::list<NodePtr>& list = listOf(**found->second);
        list.splice(list.begin(), list, found->second);
        NodePtr n = *found->second;
        if (n->keyLength != tag.keyLength)
            fail(QStringLiteral("page at offset %1 is used by two tags").arg(offset));
        return n;
    }
    checkPointer(offset, "a node link");
    auto n = std::make_shared<Node>();
    if (const uint8_t* raw = rawPages.find(offset)) {
        decodeNode(raw, offset, tag.keyLength, *n, path);
    } else {
        lockForPageRead();
        uint8_t page[kPageSize];
        readAt(offset, page, kPageSize);
        decodeNode(page, offset, tag.keyLength, *n, path);
        if (access == Access::Shared && readLocked)
            rawPages.put(offset, page);
    }
    cacheNode(n);
    evict();
    return n;
}

void CdxIndex::Impl::markDirty(const NodePtr& n)
{
    if (!n->dirty) {
        n->dirty = true;
        dirtyPages.push_back(n->offset);
        // Exclusive use: forget pages already written out. The list is rebuilt only after it has
        // grown by more than the cache holds, so the rebuild costs O(1) a change on average.
        if (dirtyPages.size() > 2 * cache.size() + 4 * cacheLimit) {
            dirtyPages.clear();
            for (const auto* list : {&lru, &lruInner})
                for (const NodePtr& c : *list)
                    if (c->dirty)
                        dirtyPages.push_back(c->offset);
        }
    }
    changed = true;
}

uint32_t CdxIndex::Impl::allocatePage()
{
    changed = true;
    if (!pendingFree.empty()) {
        const uint32_t offset = pendingFree.back();
        pendingFree.pop_back();
        return offset;
    }
    if (freeHead != 0) {
        const uint32_t offset = freeHead;
        checkPointer(offset, "the free-page list");
        uint8_t word[4];
        readAt(offset, word, 4);
        uint32_t next = getLe32(word);
        if (next == kNone)
            next = 0;
        if (next != 0)
            checkPointer(next, "the free-page list");
        freeHead = next;
        headerDirty = true;
        return offset;
    }
    if (fileEnd + kPageSize > kMaxFileSize)
        fail(QStringLiteral("the index would grow past 2 GiB"));
    const uint32_t offset = uint32_t(fileEnd);
    // The page's blocks are reserved, not just the file's length set: the page is written through
    // the mapping, where a disk found full would end the program with SIGBUS instead of an error.
    if (const int error = ::posix_fallocate(fd, off_t(fileEnd), off_t(kPageSize)); error != 0)
        fail(QStringLiteral("cannot extend the file (%1)").arg(QString::fromLocal8Bit(strerror(error))));
    fileEnd += kPageSize;
    growMap();
    return offset;
}

NodePtr CdxIndex::Impl::newNode(CdxTag::Impl& tag, bool leaf)
{
    auto n = std::make_shared<Node>();
    n->offset = allocatePage();
    n->keyLength = tag.keyLength;
    n->attr = leaf ? kAttrLeaf : 0;
    if (cache.count(n->offset))
        fail(QStringLiteral("the free-page list hands out page %1, which is in use").arg(n->offset));
    cacheNode(n);
    markDirty(n);
    evict();
    return n;
}

void CdxIndex::Impl::freePage(uint32_t offset)
{
    pendingFree.push_back(offset);
    changed = true;
    ++generation; // remembered leaves may have been this page
}

void CdxIndex::Impl::freeNode(const NodePtr& n)
{
    n->freed = true;
    auto found = cache.find(n->offset);
    if (found != cache.end()) {
        listOf(*n).erase(found->second);
        cache.erase(found);
    }
    freePage(n->offset);
}

void CdxIndex::Impl::setRoot(CdxTag::Impl& tag, uint32_t root)
{
    tag.root = root;
    dirtyRoots.push_back(&tag);
    changed = true;
}

void CdxIndex::Impl::writeNode(const Node& n)
{
    rawPages.forget(n.offset);
    // A key added at the end of a leaf changes its page where it stands: the page as the file holds
    // it, with the key and the counts put in.
    uint8_t page[kPageSize];
    const bool appended = n.isLeaf() && n.image == n.count() - 1 && n.count() > 0;
    if (appended)
        std::memcpy(page, mapped(n.offset), kPageSize);
    if (!appended || !encodeAppended(n, page))
        encodeNode(n, page);
    writeAt(n.offset, page, kPageSize);
}

void CdxIndex::Impl::writeBack()
{
    for (uint32_t offset : dirtyPages) {
        auto found = cache.find(offset);
        if (found == cache.end())
            continue; // written when it left the cache, or freed
        Node& n = **found->second;
        if (!n.dirty || n.freed)
            continue;
        writeNode(n);
        n.dirty = false;
    }
    dirtyPages.clear();
    for (CdxTag::Impl* t : dirtyRoots) {
        if (t->removed)
            continue;
        writeLe32At(t->header, t->root);
    }
    dirtyRoots.clear();
    // Pages let go of join the free list: each holds the offset of the next in its first bytes.
    for (uint32_t offset : pendingFree) {
        uint8_t page[kPageSize] = {};
        putLe32(page, freeHead);
        writeAt(offset, page, kPageSize);
        freeHead = offset;
    }
    pendingFree.clear();
    // Written when the file says otherwise (a write saved where nothing changes).
    if (getLe32(mapped(4)) != freeHead)
        writeLe32At(4, freeHead);
    headerDirty = false;
    changed = false;
}

} // namespace store
