#include "store/cdxindex.h"

#include "store/cdxbuild.h"
#include "store/cdxindeximpl.h"
#include "store/filelock.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

using namespace cdx;

namespace {

// Lock scheme of FoxPro-compatible engines for compound index files: one byte at 0x7FFFFFFE,
// taken shared to read the index and exclusively to change it. It lies far beyond any real page,
// so it never blocks plain reads of the file's bytes.
constexpr uint64_t kLockOffset = 0x7FFFFFFEull;
constexpr uint64_t kLockLength = 1;
// Page offsets must stay below the lock byte.
constexpr uint64_t kMaxFileSize = 0x7FFFFE00ull;
constexpr int kMaxDepth = 40;
constexpr int kTagNameLength = 10;

QByteArray normalizedKey(const QByteArray& key, int keyLength)
{
    QByteArray k = key.left(keyLength);
    if (k.size() < keyLength)
        k.append(QByteArray(keyLength - k.size(), char(kFill)));
    return k;
}

const uint8_t* bytes(const QByteArray& b) { return reinterpret_cast<const uint8_t*>(b.constData()); }

bool sameEntry(const Node& n, int i, const uint8_t* key, uint32_t recno)
{
    return n.recnos[size_t(i)] == recno && std::memcmp(n.key(i), key, size_t(n.keyLength)) == 0;
}

void copyEntry(Node& to, int i, const Node& from, int j)
{
    std::memcpy(to.key(i), from.key(j), size_t(to.keyLength));
    to.recnos[size_t(i)] = from.recnos[size_t(j)];
}

} // namespace

// ---------------------------------------------------------------------------------------------
// File access, cache and locks

CdxIndex::Impl::~Impl()
{
    if (map)
        ::munmap(map, mapSize);
    if (fd >= 0)
        ::close(fd);
}

uint32_t CdxIndex::Impl::fileCounter() const
{
    // Another process may write it at any time: read each byte once, as it is now.
    const volatile uint8_t* p = map + 8;
    const uint8_t word[4] = {p[0], p[1], p[2], p[3]};
    return getBe32(word);
}

void CdxIndex::Impl::lockForPageRead()
{
    if (!optimistic)
        return;
    optimistic = false;
    lockFile(false);
    if (fileCounter() != counter)
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
                  : ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED)
        fail(QStringLiteral("cannot map the index (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    map = static_cast<uint8_t*>(m);
    mapSize = want;
}

void CdxIndex::Impl::readAt(uint64_t offset, void* buf, size_t len) const
{
    if (offset + len > fileEnd)
        fail(QStringLiteral("cannot read %1 bytes at offset %2: past the end of the file").arg(len).arg(offset));
    std::memcpy(buf, map + offset, len);
}

void CdxIndex::Impl::writeAt(uint64_t offset, const void* buf, size_t len) const
{
    size_t done = 0;
    while (done < len) {
        const ssize_t r = ::pwrite(fd, static_cast<const char*>(buf) + done, len - done, off_t(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            fail(QStringLiteral("cannot write at offset %1 (%2)").arg(offset).arg(QString::fromLocal8Bit(strerror(errno))));
        done += size_t(r);
    }
}

void CdxIndex::Impl::checkPointer(uint32_t offset, const char* what) const
{
    if (offset % kPageSize != 0 || offset < kHeaderSize || uint64_t(offset) + kPageSize > fileEnd)
        fail(QStringLiteral("%1 points to offset %2, which is not a page of the file").arg(QLatin1String(what)).arg(offset));
}

void CdxIndex::Impl::lockFile(bool write)
{
    if (!FileLock::lock(fd, kLockOffset, kLockLength, write ? FileLock::Mode::Write : FileLock::Mode::Read))
        fail(QStringLiteral("cannot lock the index (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    writeLocked = write;
    readLocked = !write;
}

void CdxIndex::Impl::unlockFile() noexcept
{
    if (writeLocked || readLocked)
        FileLock::unlock(fd, kLockOffset, kLockLength);
    writeLocked = readLocked = false;
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
        if (!haveState)
            loadState();
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
        if (!haveState || fileCounter() != counter)
            loadState();
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
        }
    }
    if (depth > 0)
        return;
    optimistic = false;
    if (announce)
        bumpCounter();
    unlockFile();
}

void CdxIndex::Impl::bumpCounter()
{
    ++counter;
    putBe32(map + 8, counter);
    announce = false;
}

void CdxIndex::Impl::dropCache()
{
    lru.clear();
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
    mapUpTo(fileEnd);
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
    counter = getBe32(h + 8);
    haveState = true;
    try {
        readTagList();
    } catch (...) {
        haveState = false;
        throw;
    }
}

CdxTag::Impl* CdxIndex::Impl::tagAt(uint32_t header)
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

    CdxTag::Impl* t = nullptr;
    for (auto& impl : tagImpls)
        if (!impl->removed && impl->header == header)
            t = impl.get();
    if (!t) {
        tagImpls.push_back(std::make_unique<CdxTag::Impl>());
        t = tagImpls.back().get();
        t->index = this;
        t->header = header;
        tagHandles.push_back(std::unique_ptr<CdxTag>(new CdxTag(t)));
    }
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
        CdxTag::Impl* t = tagAt(f.header);
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

void CdxIndex::Impl::evict()
{
    if (cache.size() <= cacheLimit)
        return;
    auto it = lru.end();
    int tries = 0;
    while (cache.size() > cacheLimit && it != lru.begin() && tries < 16) {
        --it;
        ++tries;
        if (it->use_count() > 1)
            continue; // in use by the operation under way
        Node& n = **it;
        if (n.dirty && !n.freed) {
            if (access == Access::Shared)
                continue; // written at the end of the operation, never half-way
            encodeNode(n, map + n.offset);
            n.dirty = false;
        }
        cache.erase(n.offset);
        it = lru.erase(it);
    }
}

NodePtr CdxIndex::Impl::node(CdxTag::Impl& tag, uint32_t offset)
{
    auto found = cache.find(offset);
    if (found != cache.end()) {
        lru.splice(lru.begin(), lru, found->second);
        NodePtr n = *found->second;
        if (n->keyLength != tag.keyLength)
            fail(QStringLiteral("page at offset %1 is used by two tags").arg(offset));
        return n;
    }
    checkPointer(offset, "a node link");
    lockForPageRead();
    auto n = std::make_shared<Node>();
    decodeNode(map + offset, offset, tag.keyLength, *n, path);
    lru.push_front(n);
    cache[offset] = lru.begin();
    evict();
    return n;
}

void CdxIndex::Impl::markDirty(const NodePtr& n)
{
    if (!n->dirty) {
        n->dirty = true;
        dirtyPages.push_back(n->offset);
        if (dirtyPages.size() > 4 * cacheLimit) { // exclusive use: forget pages already written out
            dirtyPages.clear();
            for (const NodePtr& c : lru)
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
    if (::ftruncate(fd, off_t(fileEnd + kPageSize)) != 0)
        fail(QStringLiteral("cannot extend the file (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
    fileEnd += kPageSize;
    mapUpTo(fileEnd);
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
    lru.push_front(n);
    cache[n->offset] = lru.begin();
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
        lru.erase(found->second);
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

void CdxIndex::Impl::writeBack()
{
    for (uint32_t offset : dirtyPages) {
        auto found = cache.find(offset);
        if (found == cache.end())
            continue; // written when it left the cache, or freed
        Node& n = **found->second;
        if (!n.dirty || n.freed)
            continue;
        encodeNode(n, map + n.offset);
        n.dirty = false;
    }
    dirtyPages.clear();
    for (CdxTag::Impl* t : dirtyRoots) {
        if (t->removed)
            continue;
        putLe32(map + t->header, t->root);
    }
    dirtyRoots.clear();
    // Pages let go of join the free list: each holds the offset of the next in its first bytes.
    for (uint32_t offset : pendingFree) {
        std::memset(map + offset, 0, kPageSize);
        putLe32(map + offset, freeHead);
        freeHead = offset;
    }
    pendingFree.clear();
    putLe32(map + 4, freeHead);
    headerDirty = false;
    changed = false;
}

// ---------------------------------------------------------------------------------------------
// Navigation

void CdxIndex::Impl::fill(const Node& leaf, int pos, CdxTag::Impl& tag, CdxEntry& out)
{
    out.key = QByteArray(reinterpret_cast<const char*>(leaf.key(pos)), tag.keyLength);
    out.recno = leaf.recnos[size_t(pos)];
    tag.lastLeaf = leaf.offset;
    tag.lastGeneration = generation;
}

NodePtr CdxIndex::Impl::descend(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, bool strict, Path* path)
{
    uint32_t offset = tag.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            fail(QStringLiteral("tag %1 is deeper than %2 levels (a loop of child links)")
                     .arg(QString::fromLatin1(tag.name))
                     .arg(kMaxDepth));
        NodePtr n = node(tag, offset);
        if (n->isLeaf()) {
            if (path)
                path->push_back({n, 0});
            return n;
        }
        if (n->count() == 0)
            fail(QStringLiteral("interior node at offset %1 has no keys").arg(offset));
        int i = n->lowerBound(key, recno, strict);
        if (i == n->count())
            i = n->count() - 1;
        if (path)
            path->push_back({n, i});
        offset = n->children[size_t(i)];
    }
}

NodePtr CdxIndex::Impl::stepRight(CdxTag::Impl& tag, const Node& from)
{
    if (from.right == kNone)
        return nullptr;
    NodePtr n = node(tag, from.right);
    if (n->left != from.offset)
        fail(QStringLiteral("sibling links of the pages at offsets %1 and %2 disagree").arg(from.offset).arg(n->offset));
    if (from.count() && n->count() &&
        compareEntry(n->key(0), n->recnos[0], from.lastKey(), from.lastRecno(), tag.keyLength) <= 0)
        fail(QStringLiteral("keys out of order between the pages at offsets %1 and %2").arg(from.offset).arg(n->offset));
    return n;
}

NodePtr CdxIndex::Impl::stepLeft(CdxTag::Impl& tag, const Node& from)
{
    if (from.left == kNone)
        return nullptr;
    NodePtr n = node(tag, from.left);
    if (n->right != from.offset)
        fail(QStringLiteral("sibling links of the pages at offsets %1 and %2 disagree").arg(n->offset).arg(from.offset));
    if (from.count() && n->count() &&
        compareEntry(n->lastKey(), n->lastRecno(), from.key(0), from.recnos[0], tag.keyLength) >= 0)
        fail(QStringLiteral("keys out of order between the pages at offsets %1 and %2").arg(n->offset).arg(from.offset));
    return n;
}

bool CdxIndex::Impl::seekAt(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, bool strict, CdxEntry& out)
{
    NodePtr leaf = descend(tag, key, recno, strict, nullptr);
    int pos = leaf->lowerBound(key, recno, strict);
    size_t guard = 0;
    while (pos == leaf->count()) {
        NodePtr next = stepRight(tag, *leaf);
        if (!next)
            return false;
        if (++guard > fileEnd / kPageSize)
            fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(tag.name)));
        leaf = next;
        pos = 0;
    }
    fill(*leaf, pos, tag, out);
    return true;
}

bool CdxIndex::Impl::edge(CdxTag::Impl& tag, bool last, CdxEntry& out)
{
    uint32_t offset = tag.root;
    NodePtr n;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            fail(QStringLiteral("tag %1 is deeper than %2 levels (a loop of child links)")
                     .arg(QString::fromLatin1(tag.name))
                     .arg(kMaxDepth));
        n = node(tag, offset);
        if (n->isLeaf())
            break;
        if (n->count() == 0)
            fail(QStringLiteral("interior node at offset %1 has no keys").arg(offset));
        offset = last ? n->children.back() : n->children.front();
    }
    size_t guard = 0;
    while (n->count() == 0) {
        n = last ? stepLeft(tag, *n) : stepRight(tag, *n);
        if (!n)
            return false;
        if (++guard > fileEnd / kPageSize)
            fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(tag.name)));
    }
    fill(*n, last ? n->count() - 1 : 0, tag, out);
    return true;
}

bool CdxIndex::Impl::before(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno, CdxEntry& out)
{
    NodePtr leaf = descend(tag, key, recno, false, nullptr);
    const int pos = leaf->lowerBound(key, recno);
    if (pos > 0) {
        fill(*leaf, pos - 1, tag, out);
        return true;
    }
    size_t guard = 0;
    for (;;) {
        NodePtr prev = stepLeft(tag, *leaf);
        if (!prev)
            return false;
        if (prev->count() > 0) {
            fill(*prev, prev->count() - 1, tag, out);
            return true;
        }
        if (++guard > fileEnd / kPageSize)
            fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(tag.name)));
        leaf = prev;
    }
}

// ---------------------------------------------------------------------------------------------
// Maintenance

void CdxIndex::Impl::insertEntry(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno)
{
    Path path;
    NodePtr leaf = descend(tag, key, recno, false, &path);
    const int pos = leaf->lowerBound(key, recno);
    if (pos < leaf->count() && sameEntry(*leaf, pos, key, recno))
        return;
    const bool appended = pos == leaf->count() && leaf->right == kNone;
    markDirty(leaf);
    leaf->insertAt(pos, key, recno);
    fixUp(tag, path, appended);
}

// After a change at the bottom of `path`: splits nodes that overflow and brings the parents' copies
// of their children's last entries up to date, stopping at the first level that did not change.
void CdxIndex::Impl::fixUp(CdxTag::Impl& tag, Path& path, bool appended)
{
    for (size_t l = path.size(); l-- > 0;) {
        NodePtr n = path[l].node;
        if (!fits(*n)) {
            splitNode(tag, path, l, appended);
            // splitNode may have put a new root in front of the path: find this node again.
            while (path[l].node != n)
                ++l;
            continue;
        }
        if (l == 0)
            break;
        Node& parent = *path[l - 1].node;
        const int i = path[l - 1].index;
        if (sameEntry(parent, i, n->lastKey(), n->lastRecno()))
            break;
        markDirty(path[l - 1].node);
        copyEntry(parent, i, *n, n->count() - 1);
    }
}

void CdxIndex::Impl::splitNode(CdxTag::Impl& tag, Path& path, size_t level, bool appended)
{
    NodePtr n = path[level].node;
    const int count = n->count();
    int k = -1;
    if (n->isLeaf()) {
        auto both = [&](int at) {
            return leafBytes(*n, 0, at) <= kLeafSpace && leafBytes(*n, at, count) <= kLeafSpace;
        };
        if (appended) {
            for (int at = count - 1; at >= 1 && k < 0; --at)
                if (both(at))
                    k = at;
        } else {
            const int mid = count / 2;
            for (int d = 0; d < count && k < 0; ++d) {
                if (mid - d >= 1 && both(mid - d))
                    k = mid - d;
                else if (mid + d <= count - 1 && both(mid + d))
                    k = mid + d;
            }
        }
        if (k < 0) { // no two-way split fits: keep the longest prefix, the rest is split again below
            k = 1;
            while (k + 1 < count && leafBytes(*n, 0, k + 1) <= kLeafSpace)
                ++k;
        }
    } else {
        k = appended ? count - 1 : count / 2;
    }

    NodePtr right = newNode(tag, n->isLeaf());
    markDirty(n);
    n->moveTail(k, *right);
    right->attr = n->attr & ~kAttrRoot;
    right->left = n->offset;
    right->right = n->right;
    if (n->right != kNone) {
        NodePtr after = node(tag, n->right);
        markDirty(after);
        after->left = right->offset;
    }
    n->right = right->offset;

    if (level == 0) { // the root splits: a new root above it
        NodePtr root = newNode(tag, false);
        root->attr = kAttrRoot;
        n->attr &= ~kAttrRoot;
        root->insertAt(0, n->lastKey(), n->lastRecno(), n->offset);
        setRoot(tag, root->offset);
        path.insert(path.begin(), PathStep{root, 0});
        ++level;
    }
    const NodePtr& parentPtr = path[level - 1].node;
    Node& parent = *parentPtr;
    const int i = path[level - 1].index;
    markDirty(parentPtr);
    copyEntry(parent, i, *n, n->count() - 1);
    parent.insertAt(i + 1, right->lastKey(), right->lastRecno(), right->offset);
    if (!fits(*right)) {
        Path rest(path.begin(), path.begin() + ptrdiff_t(level));
        rest.back().index = i + 1;
        rest.push_back({right, 0});
        splitNode(tag, rest, level, false);
    }
}

void CdxIndex::Impl::unlink(CdxTag::Impl& tag, const NodePtr& n)
{
    if (n->left != kNone) {
        NodePtr l = node(tag, n->left);
        markDirty(l);
        l->right = n->right;
    }
    if (n->right != kNone) {
        NodePtr r = node(tag, n->right);
        markDirty(r);
        r->left = n->left;
    }
}

bool CdxIndex::Impl::removeEntry(CdxTag::Impl& tag, const uint8_t* key, uint32_t recno)
{
    Path path;
    NodePtr leaf = descend(tag, key, recno, false, &path);
    const int pos = leaf->lowerBound(key, recno);
    if (pos == leaf->count() || !sameEntry(*leaf, pos, key, recno))
        return false;
    markDirty(leaf);
    leaf->eraseAt(pos);

    for (size_t l = path.size(); l-- > 1;) {
        NodePtr n = path[l].node;
        const NodePtr parentPtr = path[l - 1].node;
        Node& parent = *parentPtr;
        const int i = path[l - 1].index;
        if (n->count() == 0) {
            unlink(tag, n);
            freeNode(n);
            markDirty(parentPtr);
            parent.eraseAt(i);
            continue;
        }
        // A node less than half full joins its left sibling under the same parent when they fit
        // in one page together.
        const bool small = n->isLeaf() ? leafBytes(*n, 0, n->count()) < kLeafSpace / 2
                                       : 2 * n->count() < maxInteriorEntries(tag.keyLength);
        if (small && i > 0) {
            NodePtr left = node(tag, parent.children[size_t(i - 1)]);
            Node joined = *left;
            joined.stored = -1;
            joined.keys.insert(joined.keys.end(), n->keys.begin(), n->keys.end());
            joined.recnos.insert(joined.recnos.end(), n->recnos.begin(), n->recnos.end());
            joined.children.insert(joined.children.end(), n->children.begin(), n->children.end());
            if (left->isLeaf() == n->isLeaf() && fits(joined)) {
                markDirty(left);
                n->moveTail(0, *left);
                unlink(tag, n);
                freeNode(n);
                markDirty(parentPtr);
                parent.eraseAt(i);
                copyEntry(parent, i - 1, *left, left->count() - 1);
                continue;
            }
        }
        if (sameEntry(parent, i, n->lastKey(), n->lastRecno()))
            break;
        markDirty(parentPtr);
        copyEntry(parent, i, *n, n->count() - 1);
    }
    collapseRoot(tag);
    return true;
}

void CdxIndex::Impl::collapseRoot(CdxTag::Impl& tag)
{
    for (int guard = 0; guard < kMaxDepth; ++guard) {
        NodePtr root = node(tag, tag.root);
        if (root->isLeaf() || root->count() > 1)
            return;
        if (root->count() == 0) { // everything removed: an empty root leaf
            markDirty(root);
            root->attr = kAttrRoot | kAttrLeaf;
            root->stored = -1;
            root->children.clear();
            root->left = root->right = kNone;
            return;
        }
        NodePtr child = node(tag, root->children[0]);
        markDirty(child);
        child->attr |= kAttrRoot;
        child->left = child->right = kNone;
        freeNode(root);
        setRoot(tag, child->offset);
    }
}

void CdxIndex::Impl::freeTree(CdxTag::Impl& tag)
{
    std::vector<uint32_t> pages;
    std::set<uint32_t> seen;
    uint32_t levelStart = tag.root;
    for (int depth = 0; levelStart != kNone; ++depth) {
        if (depth > kMaxDepth)
            fail(QStringLiteral("tag %1 is too deep to free").arg(QString::fromLatin1(tag.name)));
        NodePtr n = node(tag, levelStart);
        levelStart = n->isLeaf() || n->count() == 0 ? kNone : n->children[0];
        for (;;) {
            if (!seen.insert(n->offset).second)
                fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(tag.name)));
            pages.push_back(n->offset);
            if (n->right == kNone)
                break;
            n = node(tag, n->right);
        }
    }
    for (uint32_t p : pages) {
        auto found = cache.find(p);
        if (found != cache.end()) {
            (*found->second)->freed = true;
            lru.erase(found->second);
            cache.erase(found);
        }
        freePage(p);
    }
}

uint32_t CdxIndex::Impl::buildTree(CdxTag::Impl& tag, uint32_t recordCount,
                                   const std::function<QByteArray(uint32_t)>& keyOf,
                                   const std::function<bool(uint32_t)>& isDeleted)
{
    EntrySorter sorter(tag.keyLength, tag.unique, QFileInfo(path).absolutePath());
    QByteArray padded;
    for (uint32_t r = 1; r <= recordCount && r != 0; ++r) {
        if (tag.unique && isDeleted && isDeleted(r))
            continue;
        QByteArray k = keyOf(r);
        if (k.size() != tag.keyLength) {
            if (k.size() > tag.keyLength)
                fail(QStringLiteral("key of record %1 for tag %2 is %3 bytes long, the tag's keys %4")
                         .arg(r)
                         .arg(QString::fromLatin1(tag.name))
                         .arg(k.size())
                         .arg(tag.keyLength));
            k = normalizedKey(k, tag.keyLength);
        }
        sorter.add(bytes(k), r);
    }
    auto allocate = [this]() {
        if (fileEnd + kPageSize > kMaxFileSize)
            fail(QStringLiteral("the index would grow past 2 GiB"));
        const uint32_t o = uint32_t(fileEnd);
        fileEnd += kPageSize;
        return o;
    };
    auto write = [this](uint32_t offset, const uint8_t* page) { writeAt(offset, page, kPageSize); };
    TreeWriter writer(tag.keyLength, allocate, write);
    sorter.finish([&](const uint8_t* key, uint32_t recno) { writer.add(key, recno); });
    const uint32_t root = writer.finish();
    mapUpTo(fileEnd);
    return root;
}

// ---------------------------------------------------------------------------------------------
// Deep check

void CdxIndex::Impl::verifyTag(CdxTag::Impl& tag)
{
    const QString tagName = tag.header == 0 ? QStringLiteral("the tag directory") : QStringLiteral("tag %1").arg(QString::fromLatin1(tag.name));
    auto bad = [&](const QString& what) { fail(QStringLiteral("%1: %2").arg(tagName, what)); };
    std::set<uint32_t> seen;
    struct Expect {
        uint32_t offset;
        QByteArray key; // empty for the root
        uint32_t recno;
    };
    std::vector<Expect> level{{tag.root, {}, 0}};
    NodePtr root = node(tag, tag.root);
    if (!root->isRoot())
        bad(QStringLiteral("root node at offset %1 lacks the root mark").arg(tag.root));
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            bad(QStringLiteral("deeper than %1 levels").arg(kMaxDepth));
        std::vector<Expect> below;
        bool leafLevel = false;
        QByteArray prevKey;
        uint32_t prevRecno = 0;
        bool havePrev = false;
        for (size_t j = 0; j < level.size(); ++j) {
            const Expect& x = level[j];
            if (!seen.insert(x.offset).second)
                bad(QStringLiteral("page at offset %1 is reached twice").arg(x.offset));
            NodePtr n = node(tag, x.offset);
            if (j == 0)
                leafLevel = n->isLeaf();
            if (n->isLeaf() != leafLevel)
                bad(QStringLiteral("leaves and interior nodes mixed on one level (offset %1)").arg(x.offset));
            if (depth > 0 && n->isRoot())
                bad(QStringLiteral("node at offset %1 below the root carries the root mark").arg(x.offset));
            const uint32_t wantLeft = j == 0 ? kNone : level[j - 1].offset;
            const uint32_t wantRight = j + 1 == level.size() ? kNone : level[j + 1].offset;
            if (n->left != wantLeft || n->right != wantRight)
                bad(QStringLiteral("sibling links of the page at offset %1 are wrong").arg(x.offset));
            if (n->count() == 0 && depth > 0)
                bad(QStringLiteral("empty node at offset %1").arg(x.offset));
            if (!n->isLeaf() && n->count() == 0)
                bad(QStringLiteral("interior node at offset %1 has no keys").arg(x.offset));
            for (int i = 0; i < n->count(); ++i) {
                if (havePrev && compareEntry(bytes(prevKey), prevRecno, n->key(i), n->recnos[size_t(i)], tag.keyLength) >= 0)
                    bad(QStringLiteral("keys out of order in the page at offset %1").arg(x.offset));
                prevKey = QByteArray(reinterpret_cast<const char*>(n->key(i)), tag.keyLength);
                prevRecno = n->recnos[size_t(i)];
                havePrev = true;
                if (!n->isLeaf())
                    below.push_back({n->children[size_t(i)], prevKey, prevRecno});
            }
            if (!x.key.isEmpty() &&
                (n->lastRecno() != x.recno || std::memcmp(n->lastKey(), x.key.constData(), size_t(tag.keyLength)) != 0))
                bad(QStringLiteral("the parent's key for the page at offset %1 is not its last key").arg(x.offset));
            if (!fits(*n))
                bad(QStringLiteral("page at offset %1 holds more than fits").arg(x.offset));
        }
        if (leafLevel)
            return;
        level = std::move(below);
    }
}

// ---------------------------------------------------------------------------------------------
// CdxIndex

CdxIndex::CdxIndex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CdxIndex::~CdxIndex()
{
    try {
        flush();
    } catch (...) {
    }
}

std::unique_ptr<CdxIndex> CdxIndex::open(const QString& path, Access access)
{
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->access = access;
    impl->fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (impl->fd < 0)
        throw StoreError(QStringLiteral("%1: cannot open the index (%2)").arg(path, QString::fromLocal8Bit(strerror(errno))));
    struct stat st;
    if (::fstat(impl->fd, &st) != 0 || uint64_t(st.st_size) < kHeaderSize + kPageSize)
        impl->fail(QStringLiteral("file of %1 bytes is too short for a compound index").arg(qint64(st.st_size)));
    impl->mapUpTo(uint64_t(st.st_size));
    {
        CdxOperation op(*impl, false);
    }
    return std::unique_ptr<CdxIndex>(new CdxIndex(std::move(impl)));
}

std::unique_ptr<CdxIndex> CdxIndex::create(const QString& path, Access access)
{
    uint8_t image[kHeaderSize + kPageSize] = {};
    putLe32(image, kHeaderSize); // root: the page after the header
    putLe16(image + 12, kTagNameLength);
    image[14] = 0xE0; // compact, compound, structure
    image[15] = 1;
    putLe16(image + 504, 1); // FOR expression: empty, at pool offset 1
    putLe16(image + 506, 1);
    putLe16(image + 508, 0); // key expression: empty
    putLe16(image + 510, 1);
    Node root;
    root.attr = kAttrRoot | kAttrLeaf;
    root.keyLength = kTagNameLength;
    encodeNode(root, image + kHeaderSize);
    // Written beside and renamed over the old file: a handle still open on the old file keeps
    // its own (it is never truncated under it).
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(image), qint64(sizeof image)) != qint64(sizeof image) || !out.commit())
        throw StoreError(QStringLiteral("%1: cannot create the index (%2)").arg(path, out.errorString()));
    return open(path, access);
}

QString CdxIndex::path() const { return impl_->path; }
CdxIndex::Access CdxIndex::access() const { return impl_->access; }

std::vector<CdxTag*> CdxIndex::tags() const
{
    return cdxRead(*impl_, [&] { return impl_->liveTags; });
}

CdxTag* CdxIndex::findTag(const QByteArray& name) const
{
    const QByteArray upper = name.trimmed().toUpper();
    return cdxRead(*impl_, [&]() -> CdxTag* {
        for (CdxTag* t : impl_->liveTags)
            if (t->impl_->name == upper)
                return t;
        return nullptr;
    });
}

CdxTag* CdxIndex::addTag(const QByteArray& name, const QByteArray& expression, int keyLength, bool unique,
                         uint32_t recordCount, const std::function<QByteArray(uint32_t)>& keyOf,
                         const std::function<bool(uint32_t)>& isDeleted)
{
    Impl& ix = *impl_;
    const QByteArray upper = name.trimmed().toUpper();
    if (upper.isEmpty() || upper.size() > kTagNameLength || upper.contains(' '))
        ix.fail(QStringLiteral("tag name \"%1\" must be 1 to %2 characters without blanks")
                    .arg(QString::fromLatin1(name))
                    .arg(kTagNameLength));
    if (keyLength < 1 || keyLength > kMaxKeyLength)
        ix.fail(QStringLiteral("tag %1: key length %2 is outside 1 to %3")
                    .arg(QString::fromLatin1(upper))
                    .arg(keyLength)
                    .arg(kMaxKeyLength));
    if (expression.size() > 500 || expression.contains('\0'))
        ix.fail(QStringLiteral("tag %1: the key expression is too long").arg(QString::fromLatin1(upper)));

    CdxOperation op(ix, true);
    const QByteArray dirKey = normalizedKey(upper, ix.directory.keyLength);
    for (CdxTag* t : ix.liveTags) {
        CdxTag::Impl& old = *t->impl_;
        if (old.name != upper)
            continue;
        ix.freeTree(old);
        ix.removeEntry(ix.directory, bytes(dirKey), old.header);
        ix.freePage(old.header);
        ix.freePage(old.header + kPageSize);
        old.removed = true;
    }
    std::erase_if(ix.liveTags, [](CdxTag* t) { return t->impl_->removed; });

    // Tag headers always go to the end of the file, so header order is creation order.
    if (ix.fileEnd + kHeaderSize > kMaxFileSize)
        ix.fail(QStringLiteral("the index would grow past 2 GiB"));
    const uint32_t header = uint32_t(ix.fileEnd);
    ix.fileEnd += kHeaderSize;
    ix.changed = true;

    ix.tagImpls.push_back(std::make_unique<CdxTag::Impl>());
    CdxTag::Impl* t = ix.tagImpls.back().get();
    t->index = &ix;
    t->header = header;
    t->name = upper;
    t->expression = expression;
    t->keyLength = keyLength;
    t->unique = unique;
    ix.tagHandles.push_back(std::unique_ptr<CdxTag>(new CdxTag(t)));
    CdxTag* handle = ix.tagHandles.back().get();

    uint8_t h[kHeaderSize] = {};
    putLe16(h + 12, uint16_t(keyLength));
    h[14] = unique ? 0x61 : 0x60;
    h[15] = 1;
    const int exprLen = int(expression.size()) + 1;
    putLe16(h + 504, uint16_t(exprLen)); // FOR expression: empty, after the key expression
    putLe16(h + 506, 1);
    putLe16(h + 508, 0);
    putLe16(h + 510, uint16_t(exprLen));
    std::memcpy(h + 512, expression.constData(), size_t(expression.size()));
    ix.writeAt(header, h, sizeof h); // reserve the header's pages before the tree's
    t->root = ix.buildTree(*t, recordCount, keyOf, isDeleted);
    putLe32(h, t->root);
    ix.writeAt(header, h, 4);
    ix.insertEntry(ix.directory, bytes(dirKey), header);
    ix.liveTags.push_back(handle);
    return handle;
}

void CdxIndex::flush()
{
    Impl& ix = *impl_;
    if (ix.access == Access::Exclusive && ix.changed && ix.haveState && !ix.broken) {
        ix.writeBack();
        ix.bumpCounter();
    }
}

void CdxIndex::verify()
{
    Impl& ix = *impl_;
    CdxOperation op(ix, false);
    if (ix.access == Access::Shared || !ix.changed)
        ix.loadState(); // read everything from the file, not from the cache
    ix.verifyTag(ix.directory);
    for (CdxTag* t : ix.liveTags)
        ix.verifyTag(*t->impl_);
    // The free list: inside the file, no loop.
    std::set<uint32_t> seen;
    uint32_t p = ix.freeHead;
    while (p != 0 && p != kNone) {
        ix.checkPointer(p, "the free-page list");
        if (!seen.insert(p).second)
            ix.fail(QStringLiteral("loop in the free-page list at offset %1").arg(p));
        if (ix.cache.count(p))
            ix.fail(QStringLiteral("page at offset %1 is both free and in use").arg(p));
        uint8_t word[4];
        ix.readAt(p, word, 4);
        p = getLe32(word);
    }
}

CdxIndex::Scope::Scope(CdxIndex& index, bool write)
    : index_(index), write_(write), exceptions_(std::uncaught_exceptions())
{
    index_.impl_->begin(write_);
}

CdxIndex::Scope::~Scope()
{
    if (std::uncaught_exceptions() > exceptions_)
        index_.impl_->abandon();
    index_.impl_->end();
}

// ---------------------------------------------------------------------------------------------
// CdxTag

CdxTag::CdxTag(Impl* impl) : impl_(impl) {}

QByteArray CdxTag::name() const { return impl_->name; }
QByteArray CdxTag::expression() const { return impl_->expression; }
int CdxTag::keyLength() const { return impl_->keyLength; }
bool CdxTag::unique() const { return impl_->unique; }

namespace {

void checkLive(const CdxTag::Impl& t)
{
    if (t.removed)
        throw StoreError(QStringLiteral("%1: tag %2 no longer exists").arg(t.index->path, QString::fromLatin1(t.name)));
}

} // namespace

bool CdxTag::first(CdxEntry& entry)
{
    return cdxRead(*impl_->index, [&] {
        checkLive(*impl_);
        return impl_->index->edge(*impl_, false, entry);
    });
}

bool CdxTag::last(CdxEntry& entry)
{
    return cdxRead(*impl_->index, [&] {
        checkLive(*impl_);
        return impl_->index->edge(*impl_, true, entry);
    });
}

bool CdxTag::seek(const QByteArray& key, uint32_t recno, CdxEntry& entry)
{
    const QByteArray k = normalizedKey(key, impl_->keyLength);
    return cdxRead(*impl_->index, [&] {
        checkLive(*impl_);
        return impl_->index->seekAt(*impl_, bytes(k), recno, false, entry);
    });
}

bool CdxTag::next(CdxEntry& entry)
{
    CdxIndex::Impl& ix = *impl_->index;
    const QByteArray k = normalizedKey(entry.key, impl_->keyLength);
    const uint8_t* key = bytes(k);
    const uint32_t recno = entry.recno;
    return cdxRead(ix, [&] {
    checkLive(*impl_);
    // Fast path: the entry lies within the leaf of the last step.
    if (impl_->lastGeneration == ix.generation && impl_->lastLeaf != kNone) {
        auto found = ix.cache.find(impl_->lastLeaf);
        if (found != ix.cache.end()) {
            NodePtr leaf = *found->second;
            if (leaf->isLeaf() && leaf->keyLength == impl_->keyLength && leaf->count() > 0 &&
                compareEntry(key, recno, leaf->key(0), leaf->recnos[0], impl_->keyLength) >= 0 &&
                compareEntry(key, recno, leaf->lastKey(), leaf->lastRecno(), impl_->keyLength) <= 0) {
                const int pos = leaf->lowerBound(key, recno, true);
                if (pos < leaf->count()) {
                    ix.fill(*leaf, pos, *impl_, entry);
                    return true;
                }
                size_t guard = 0;
                for (NodePtr n = ix.stepRight(*impl_, *leaf); n; n = ix.stepRight(*impl_, *n)) {
                    if (n->count() > 0) {
                        ix.fill(*n, 0, *impl_, entry);
                        return true;
                    }
                    if (++guard > ix.fileEnd / kPageSize)
                        ix.fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(impl_->name)));
                }
                return false;
            }
        }
    }
    return ix.seekAt(*impl_, key, recno, true, entry);
    });
}

bool CdxTag::prior(CdxEntry& entry)
{
    CdxIndex::Impl& ix = *impl_->index;
    const QByteArray k = normalizedKey(entry.key, impl_->keyLength);
    const uint8_t* key = bytes(k);
    const uint32_t recno = entry.recno;
    return cdxRead(ix, [&] {
    checkLive(*impl_);
    if (impl_->lastGeneration == ix.generation && impl_->lastLeaf != kNone) {
        auto found = ix.cache.find(impl_->lastLeaf);
        if (found != ix.cache.end()) {
            NodePtr leaf = *found->second;
            if (leaf->isLeaf() && leaf->keyLength == impl_->keyLength && leaf->count() > 0 &&
                compareEntry(key, recno, leaf->key(0), leaf->recnos[0], impl_->keyLength) > 0 &&
                compareEntry(key, recno, leaf->lastKey(), leaf->lastRecno(), impl_->keyLength) <= 0) {
                const int pos = leaf->lowerBound(key, recno, false);
                ix.fill(*leaf, pos - 1, *impl_, entry);
                return true;
            }
        }
    }
    return ix.before(*impl_, key, recno, entry);
    });
}

void CdxTag::insert(const QByteArray& key, uint32_t recno)
{
    CdxIndex::Impl& ix = *impl_->index;
    if (key.size() > impl_->keyLength)
        ix.fail(QStringLiteral("tag %1: key of %2 bytes is longer than the tag's %3")
                    .arg(QString::fromLatin1(impl_->name))
                    .arg(key.size())
                    .arg(impl_->keyLength));
    CdxOperation op(ix, true);
    checkLive(*impl_);
    const QByteArray k = normalizedKey(key, impl_->keyLength);
    ix.insertEntry(*impl_, bytes(k), recno);
}

bool CdxTag::remove(const QByteArray& key, uint32_t recno)
{
    CdxIndex::Impl& ix = *impl_->index;
    if (key.size() > impl_->keyLength)
        return false;
    CdxOperation op(ix, true);
    checkLive(*impl_);
    const QByteArray k = normalizedKey(key, impl_->keyLength);
    return ix.removeEntry(*impl_, bytes(k), recno);
}

uint64_t CdxTag::count()
{
    CdxIndex::Impl& ix = *impl_->index;
    CdxOperation op(ix, false);
    checkLive(*impl_);
    CdxEntry e;
    if (!ix.edge(*impl_, false, e))
        return 0;
    NodePtr n = ix.node(*impl_, impl_->lastLeaf);
    uint64_t total = 0;
    size_t guard = 0;
    while (n) {
        total += uint64_t(n->count());
        if (++guard > ix.fileEnd / kPageSize)
            ix.fail(QStringLiteral("loop in the sibling links of tag %1").arg(QString::fromLatin1(impl_->name)));
        n = ix.stepRight(*impl_, *n);
    }
    return total;
}

} // namespace store
