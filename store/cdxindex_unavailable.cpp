// Stand-in used while the compound index is not part of the build: opening or creating an index
// fails with a clear message, so tables work in record order only.
#include "store/cdxindex.h"

#include "store/storeerror.h"

namespace store {

struct CdxIndex::Impl {};
struct CdxTag::Impl {};

namespace {
[[noreturn]] void unavailable(const QString& path)
{
    throw StoreError(QStringLiteral("Index file %1: compound indexes are not available in this build").arg(path));
}
} // namespace

std::unique_ptr<CdxIndex> CdxIndex::open(const QString& path, Access) { unavailable(path); }
std::unique_ptr<CdxIndex> CdxIndex::create(const QString& path, Access) { unavailable(path); }
CdxIndex::CdxIndex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CdxIndex::~CdxIndex() = default;
QString CdxIndex::path() const { return {}; }
CdxIndex::Access CdxIndex::access() const { return Access::Shared; }
std::vector<CdxTag*> CdxIndex::tags() const { return {}; }
CdxTag* CdxIndex::findTag(const QByteArray&) const { return nullptr; }
CdxTag* CdxIndex::addTag(const QByteArray&, const QByteArray&, int, bool, uint32_t,
                         const std::function<QByteArray(uint32_t)>&, const std::function<bool(uint32_t)>&)
{
    unavailable(path());
}
void CdxIndex::flush() {}
void CdxIndex::verify() {}
CdxIndex::Scope::Scope(CdxIndex& index, bool write) : index_(index), write_(write) {}
CdxIndex::Scope::~Scope() = default;

CdxTag::CdxTag(Impl* impl) : impl_(impl) {}
QByteArray CdxTag::name() const { return {}; }
QByteArray CdxTag::expression() const { return {}; }
int CdxTag::keyLength() const { return 0; }
bool CdxTag::unique() const { return false; }
bool CdxTag::first(CdxEntry&) { return false; }
bool CdxTag::last(CdxEntry&) { return false; }
bool CdxTag::seek(const QByteArray&, uint32_t, CdxEntry&) { return false; }
bool CdxTag::next(CdxEntry&) { return false; }
bool CdxTag::prior(CdxEntry&) { return false; }
void CdxTag::insert(const QByteArray&, uint32_t) {}
bool CdxTag::remove(const QByteArray&, uint32_t) { return false; }
uint64_t CdxTag::count() { return 0; }

} // namespace store
