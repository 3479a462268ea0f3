// The public face of the compound index: opening, creating, tags, scopes.
#include "store/cdxindeximpl.h"
#include "store/filelock.h"
#include "store/regularfile.h"
#include "store/storeerror.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <utility>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

using namespace cdx;
using namespace cdxi;

// CdxIndex

CdxIndex::CdxIndex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CdxIndex::~CdxIndex()
{
    try {
        flush();
    } catch (...) {
    }
}

std::unique_ptr<CdxIndex> CdxIndex::open(const QString& path, Access access, CdxRecords* records)
{
    auto index = openIfExists(path, access, records);
    if (!index)
        throw StoreError(QStringLiteral("%1: cannot open the index (%2)").arg(path, QString::fromLocal8Bit(strerror(ENOENT))));
    return index;
}

std::unique_ptr<CdxIndex> CdxIndex::openIfExists(const QString& path, Access access, CdxRecords* records)
{
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->access = access;
    impl->records = records;
    // Only a regular file: a pipe or a device under the index's name would block or never end.
    impl->fd = openRegularFile(path, O_RDWR, QStringLiteral("index"), true);
    if (impl->fd < 0)
        return nullptr;
    struct stat st;
    if (::fstat(impl->fd, &st) != 0 || uint64_t(st.st_size) < kHeaderSize + kPageSize)
        impl->fail(QStringLiteral("file of %1 bytes is too short for a compound index").arg(qint64(st.st_size)));
    impl->device = uint64_t(st.st_dev);
    impl->inode = uint64_t(st.st_ino);
    {
        CdxOperation op(*impl, false);
    }
    return std::unique_ptr<CdxIndex>(new CdxIndex(std::move(impl)));
}

void CdxIndex::Impl::emptyIndexImage(uint8_t* image)
{
    std::memset(image, 0, kHeaderSize + kPageSize);
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
}

std::unique_ptr<CdxIndex> CdxIndex::create(const QString& path, Access access, CdxRecords* records)
{
    uint8_t image[kHeaderSize + kPageSize];
    Impl::emptyIndexImage(image);
    // Written beside and renamed over the old file: a handle still open on the old file keeps
    // its own (it is never truncated under it).
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(image), qint64(sizeof image)) != qint64(sizeof image) || !out.commit())
        throw StoreError(QStringLiteral("%1: cannot create the index (%2)").arg(path, out.errorString()));
    return open(path, access, records);
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

namespace {

// Records given as two functions, for addTag().
class FunctionRecords : public CdxRecords {
public:
    FunctionRecords(uint32_t count, const std::function<QByteArray(uint32_t)>& keyOf,
                    const std::function<bool(uint32_t)>& isDeleted)
        : count_(count), keyOf_(keyOf), isDeleted_(isDeleted)
    {
    }
    void prepare(const std::vector<CdxTagSpec>& tags) override { keyLength_ = tags.at(0).keyLength; }
    uint32_t count() override { return count_; }
    bool keys(uint32_t recno, uint8_t* const* keys) override
    {
        const QByteArray k = keyOf_(recno);
        if (k.size() > keyLength_)
            throw StoreError(QStringLiteral("key of record %1 is %2 bytes long, the tag's keys %3")
                                 .arg(recno)
                                 .arg(k.size())
                                 .arg(keyLength_));
        std::memcpy(keys[0], k.constData(), size_t(k.size()));
        std::memset(keys[0] + k.size(), kFill, size_t(keyLength_ - k.size()));
        return isDeleted_ && isDeleted_(recno);
    }

private:
    uint32_t count_;
    const std::function<QByteArray(uint32_t)>& keyOf_;
    const std::function<bool(uint32_t)>& isDeleted_;
    int keyLength_ = 0;
};

} // namespace

CdxTag* CdxIndex::addTag(const QByteArray& name, const QByteArray& expression, int keyLength, bool unique,
                         uint32_t recordCount, const std::function<QByteArray(uint32_t)>& keyOf,
                         const std::function<bool(uint32_t)>& isDeleted)
{
    FunctionRecords records(recordCount, keyOf, isDeleted);
    return addTags({CdxTagSpec{name, expression, keyLength, unique}}, records).front();
}

std::vector<CdxTag*> CdxIndex::addTags(const std::vector<CdxTagSpec>& tags, CdxRecords& records)
{
    Impl& ix = *impl_;
    std::vector<CdxTagSpec> specs;
    for (const CdxTagSpec& spec : tags) {
        const QByteArray upper = spec.name.trimmed().toUpper();
        if (upper.isEmpty() || upper.size() > kTagNameLength || upper.contains(' '))
            ix.fail(QStringLiteral("tag name \"%1\" must be 1 to %2 characters without blanks")
                        .arg(QString::fromLatin1(spec.name))
                        .arg(kTagNameLength));
        if (spec.keyLength < 1 || spec.keyLength > kMaxKeyLength)
            ix.fail(QStringLiteral("tag %1: key length %2 is outside 1 to %3")
                        .arg(QString::fromLatin1(upper))
                        .arg(spec.keyLength)
                        .arg(kMaxKeyLength));
        if (spec.expression.size() > 500 || spec.expression.contains('\0'))
            ix.fail(QStringLiteral("tag %1: the key expression is too long").arg(QString::fromLatin1(upper)));
        specs.push_back(spec);
        specs.back().name = upper;
    }
    CdxOperation op(ix, true);
    for (const CdxTagSpec& spec : specs) {
        const QByteArray dirKey = normalizedKey(spec.name, ix.directory.keyLength);
        for (CdxTag* t : ix.liveTags) {
            CdxTag::Impl& old = *t->impl_;
            if (old.name != spec.name)
                continue;
            ix.freeTree(old);
            ix.removeEntry(ix.directory, bytes(dirKey), old.header);
            ix.freePage(old.header);
            ix.freePage(old.header + kPageSize);
            old.removed = true;
        }
        std::erase_if(ix.liveTags, [](CdxTag* t) { return t->impl_->removed; });
    }
    return ix.buildTags(specs, records, false);
}

void CdxIndex::rebuild()
{
    Impl& ix = *impl_;
    if (!ix.records)
        ix.fail(QStringLiteral("no records to rebuild the tags from"));
    CdxOperation op(ix, true);
    ix.rebuildInPlace();
}

QString CdxIndex::takeRepairNote()
{
    return std::exchange(impl_->repairNote, QString());
}

void CdxIndex::flush()
{
    Impl& ix = *impl_;
    if (ix.access == Access::Exclusive && ix.changed && ix.haveState && !ix.broken) {
        ix.writeBack();
        if (!ix.marked)
            ix.bumpCounter();
    }
    if (ix.access == Access::Exclusive && ix.marked && !ix.broken) {
        // Everything is in the file: the change is complete.
        ix.clearMark();
        ix.unlockFile();
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
    impl_->numbering.valid = false;
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
    impl_->numbering.valid = false;
    return ix.removeEntry(*impl_, bytes(k), recno);
}

} // namespace store
