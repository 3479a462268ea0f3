// The B-tree of a tag: navigation, insert and remove with splits and merges, the bulk build and
// the deep check.
#include "store/cdxbuild.h"
#include "store/cdxindeximpl.h"
#include "store/storeerror.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <set>
#include <unistd.h>

namespace store {

using namespace cdx;
using namespace cdxi;

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

NodePtr CdxIndex::Impl::edgeLeaf(CdxTag::Impl& tag, bool last)
{
    uint32_t offset = tag.root;
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth)
            fail(QStringLiteral("tag %1 is deeper than %2 levels (a loop of child links)")
                     .arg(QString::fromLatin1(tag.name))
                     .arg(kMaxDepth));
        NodePtr n = node(tag, offset);
        if (n->isLeaf())
            return n;
        if (n->count() == 0)
            fail(QStringLiteral("interior node at offset %1 has no keys").arg(offset));
        offset = last ? n->children.back() : n->children.front();
    }
}

bool CdxIndex::Impl::edge(CdxTag::Impl& tag, bool last, CdxEntry& out)
{
    NodePtr n = edgeLeaf(tag, last);
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
            listOf(**found->second).erase(found->second);
            cache.erase(found);
        }
        freePage(p);
    }
}

namespace {

// Pages of a bulk build: taken from the end of the file one after another and gathered in memory,
// so that they reach the file in order, in large writes. A page written after its stretch went
// out (an interior node finished late) is written on its own.
class PageSink {
public:
    explicit PageSink(CdxIndex::Impl& index) : ix_(index), start_(index.fileEnd) {}

    uint32_t allocate()
    {
        if (ix_.fileEnd + kPageSize > kMaxFileSize)
            ix_.fail(QStringLiteral("the index would grow past 2 GiB"));
        const uint32_t offset = uint32_t(ix_.fileEnd);
        ix_.fileEnd += kPageSize;
        buffer_.resize(size_t(ix_.fileEnd - start_));
        if (buffer_.size() >= kChunk)
            flush();
        return offset;
    }

    void write(uint32_t offset, const uint8_t* data, size_t length)
    {
        if (offset >= start_ && offset + length <= start_ + buffer_.size())
            std::memcpy(buffer_.data() + (offset - start_), data, length);
        else
            ix_.writeAt(offset, data, length);
    }

    void flush()
    {
        if (!buffer_.empty())
            ix_.writeAt(start_, buffer_.data(), buffer_.size());
        buffer_.clear();
        start_ = ix_.fileEnd;
    }

private:
    static constexpr size_t kChunk = 1u << 20;
    CdxIndex::Impl& ix_;
    uint64_t start_;
    std::vector<uint8_t> buffer_;
};

} // namespace

std::vector<CdxTag*> CdxIndex::Impl::buildTags(const std::vector<CdxTagSpec>& specs, CdxRecords& source,
                                               bool reuse, const std::function<void()>& afterPass)
{
    // One pass over the records feeds every tag's sorter.
    source.prepare(specs);
    const uint32_t count = source.count();
    const QString spillDir = QFileInfo(path).absolutePath();
    std::vector<std::unique_ptr<EntrySorter>> sorters;
    std::vector<std::vector<uint8_t>> keys;
    std::vector<uint8_t*> keyPointers;
    // The sorters share one memory budget, so a reindex of a large table stays small whatever
    // its tags.
    constexpr size_t kSortMemory = 20u << 20;
    for (const CdxTagSpec& spec : specs) {
        sorters.push_back(
            std::make_unique<EntrySorter>(spec.keyLength, spec.unique, spillDir, kSortMemory / specs.size()));
        keys.emplace_back(size_t(spec.keyLength), kFill);
    }
    for (auto& k : keys)
        keyPointers.push_back(k.data());
    for (auto& sorter : sorters)
        sorter->expect(count);
    for (uint32_t r = 1; r <= count && r != 0; ++r) {
        const bool deleted = source.keys(r, keyPointers.data());
        for (size_t i = 0; i < specs.size(); ++i)
            if (!(deleted && specs[i].unique))
                sorters[i]->add(keyPointers[i], r);
    }
    if (afterPass)
        afterPass();

    // Then the tags' definitions, each header with an empty root leaf, into the file and the tag
    // directory first (headers in the order given, which is creation order): a writer stopped
    // while the trees are built leaves tags that a repair can read and build again.
    changed = true;
    PageSink sink(*this);
    std::vector<CdxTag*> built;
    std::vector<uint32_t> emptyRoots;
    for (const CdxTagSpec& spec : specs) {
        const uint32_t header = sink.allocate();
        sink.allocate();
        const uint32_t root = sink.allocate();
        CdxTag* handle = nullptr;
        if (reuse) {
            for (auto& h : tagHandles)
                if (h->impl_->name == spec.name && h->impl_->index == this)
                    handle = h.get();
        }
        if (!handle) {
            tagImpls.push_back(std::make_unique<CdxTag::Impl>());
            tagHandles.push_back(std::unique_ptr<CdxTag>(new CdxTag(tagImpls.back().get())));
            handle = tagHandles.back().get();
        }
        CdxTag::Impl* t = handle->impl_;
        t->index = this;
        t->header = header;
        t->name = spec.name;
        t->expression = spec.expression;
        t->keyLength = spec.keyLength;
        t->unique = spec.unique;
        t->removed = false;
        t->lastLeaf = kNone;
        t->root = root;

        uint8_t h[kHeaderSize] = {};
        putLe32(h, root);
        putLe16(h + 12, uint16_t(spec.keyLength));
        h[14] = spec.unique ? 0x61 : 0x60;
        h[15] = 1;
        const int exprLen = int(spec.expression.size()) + 1;
        putLe16(h + 504, uint16_t(exprLen)); // FOR expression: empty, after the key expression
        putLe16(h + 506, 1);
        putLe16(h + 508, 0);
        putLe16(h + 510, uint16_t(exprLen));
        std::memcpy(h + 512, spec.expression.constData(), size_t(spec.expression.size()));
        sink.write(header, h, sizeof h);
        Node empty;
        empty.attr = kAttrRoot | kAttrLeaf;
        empty.keyLength = spec.keyLength;
        uint8_t page[kPageSize];
        encodeNode(empty, page);
        sink.write(root, page, kPageSize);
        emptyRoots.push_back(root);
        built.push_back(handle);
    }
    const auto extendFile = [&] {
        sink.flush();
        if (::ftruncate(fd, off_t(fileEnd)) != 0)
            fail(QStringLiteral("cannot extend the file (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
        growMap();
    };
    extendFile();
    for (CdxTag* handle : built) {
        const QByteArray dirKey = normalizedKey(handle->impl_->name, directory.keyLength);
        insertEntry(directory, bytes(dirKey), handle->impl_->header);
        liveTags.push_back(handle);
    }
    writeBack();

    // Then the trees, their pages in file order; the empty roots go to the free list.
    for (size_t i = 0; i < specs.size(); ++i) {
        TreeWriter writer(
            specs[i].keyLength, [&] { return sink.allocate(); },
            [&](uint32_t offset, const uint8_t* page) { sink.write(offset, page, kPageSize); });
        sorters[i]->finish([&](const uint8_t* key, uint32_t recno) { writer.add(key, recno); });
        sorters[i].reset();
        setRoot(*built[i]->impl_, writer.finish());
        freePage(emptyRoots[i]);
    }
    extendFile();
    changed = true;
    return built;
}

void CdxIndex::Impl::rebuildInPlace()
{
    std::vector<CdxTagSpec> specs;
    try {
        loadState();
    } catch (const StoreError& e) {
        fail(QStringLiteral("its tags cannot be read to rebuild them (%1); remove the file to have them built "
                            "anew")
                 .arg(e.message()));
    }
    for (CdxTag* t : liveTags)
        specs.push_back({t->impl_->name, t->impl_->expression, t->impl_->keyLength, t->impl_->unique});
    // The records are read first, while the file still holds the tags' definitions; then the file
    // starts again from an empty tag directory, marked until the end.
    const auto startAgain = [this] {
        const uint32_t nextCounter = counter + 1;
        dropCache();
        uint8_t image[kHeaderSize + kPageSize];
        emptyIndexImage(image);
        putBe32(image + 8, nextCounter);
        putLe32(image + kMarkOffset, kMarkValue);
        if (::ftruncate(fd, off_t(sizeof image)) != 0)
            fail(QStringLiteral("cannot rewrite the file (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
        dropWindow();
        fileEnd = sizeof image;
        writeAt(0, image, sizeof image);
        counter = nextCounter;
        freeHead = 0;
        directory.index = this;
        directory.header = 0;
        directory.keyLength = kTagNameLength;
        directory.root = kHeaderSize;
        haveState = true;
        for (auto& impl : tagImpls)
            impl->removed = true; // back to life, by name, in buildTags
        liveTags.clear();
    };
    buildTags(specs, *records, true, startAgain);
    writeBack();
    ++generation;
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

} // namespace store
