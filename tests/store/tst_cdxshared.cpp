// Compound index: damaged files and access shared between handles and processes.
#include "cdxtestutil.h"
#include "store/cdxindex.h"
#include "store/cdxpage.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>
#include <functional>

using namespace store;
using namespace cdxtest;
using Damage = std::function<void(QByteArray&)>;
Q_DECLARE_METATYPE(Damage)

namespace {

constexpr int kKeyLength = 10;
constexpr uint32_t kTagHeader = 1536; // the first tag's header follows the directory's root leaf

uint32_t le32(const QByteArray& b, int at)
{
    return store::getLe32(reinterpret_cast<const uint8_t*>(b.constData()) + at);
}
uint32_t be32(const QByteArray& b, int at)
{
    return store::getBe32(reinterpret_cast<const uint8_t*>(b.constData()) + at);
}
void setLe32(QByteArray& b, int at, uint32_t v)
{
    store::putLe32(reinterpret_cast<uint8_t*>(b.data()) + at, v);
}
void setLe16(QByteArray& b, int at, uint16_t v)
{
    store::putLe16(reinterpret_cast<uint8_t*>(b.data()) + at, v);
}
void setBe32(QByteArray& b, int at, uint32_t v)
{
    store::putBe32(reinterpret_cast<uint8_t*>(b.data()) + at, v);
}
int root(const QByteArray& b) { return int(le32(b, kTagHeader)); }
int child(const QByteArray& b, int node, int i) { return int(be32(b, node + 12 + i * (kKeyLength + 8) + kKeyLength + 4)); }
int firstLeaf(const QByteArray& b) { return child(b, root(b), 0); }
int secondLeaf(const QByteArray& b) { return int(le32(b, firstLeaf(b) + 8)); }

QByteArray keyOf(uint32_t r) { return QByteArray::number(r * 37 % 10007).rightJustified(kKeyLength, '0'); }

// Opens, checks and walks every tag both ways: what a reader of a damaged file would do.
void useWholeIndex(const QString& path)
{
    auto ix = CdxIndex::open(path, CdxIndex::Access::Shared);
    ix->verify();
    for (CdxTag* t : ix->tags()) {
        walkForward(*t);
        walkBackward(*t);
        CdxEntry e;
        t->seek("5", 0, e);
        t->insert("0000000042", 99999);
        t->remove("0000000042", 99999);
    }
}

int childMain()
{
    // CDX_CHILD = path|first record|count: inserts `count` entries of its own, one lock each.
    const QStringList args = qEnvironmentVariable("CDX_CHILD").split(QLatin1Char('|'));
    try {
        auto ix = CdxIndex::open(args.value(0), CdxIndex::Access::Shared);
        CdxTag* t = ix->findTag("T");
        const uint32_t first = args.value(1).toUInt();
        const uint32_t count = args.value(2).toUInt();
        // Start together with the others: say "ready", wait for a byte on standard input.
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        char go = 0;
        if (std::fread(&go, 1, 1, stdin) != 1)
            return 2;
        for (uint32_t r = first; r < first + count; ++r)
            t->insert(keyOf(r), r);
    } catch (const StoreError& e) {
        fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

class TstCdxShared : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void damagedFile_data();
    void damagedFile();
    void byteFlipsNeverCrash();
    void failedChangeLeavesFileAsItWas_data();
    void failedChangeLeavesFileAsItWas();
    void failureInsideScopeKeepsEarlierChanges();
    void handlesSeeEachOthersChanges();
    void scopeBatchesOneWriteBack();
    void pagesBeyondTheCacheFollowChanges();
    void processesInsertAtOnce();

private:
    QTemporaryDir dir_;
    QByteArray good_; // a valid image: one tag with a two-level tree
};

void TstCdxShared::initTestCase()
{
    const QString path = dir_.filePath("good.cdx");
    {
        auto ix = CdxIndex::create(path, CdxIndex::Access::Exclusive);
        ix->addTag("T", "code", kKeyLength, false, 1500, keyOf, {});
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    good_ = f.readAll();
    QCOMPARE(root(good_) % 512, 0);
    QCOMPARE(good_[root(good_)], '\x01'); // an interior root over leaves: two levels
    QCOMPARE(good_[firstLeaf(good_)], '\x02');
    useWholeIndex(path);
}

void TstCdxShared::damagedFile_data()
{
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("fault"); // a word the message must contain
    QTest::newRow("directory signature") << Damage([](QByteArray& b) { b[15] = 0; }) << "signature";
    QTest::newRow("tag signature") << Damage([](QByteArray& b) { b[kTagHeader + 15] = 2; }) << "signature";
    QTest::newRow("key length 0") << Damage([](QByteArray& b) { setLe16(b, kTagHeader + 12, 0); }) << "key length";
    QTest::newRow("key length 241") << Damage([](QByteArray& b) { setLe16(b, kTagHeader + 12, 241); }) << "key length";
    QTest::newRow("root past the end") << Damage([](QByteArray& b) { setLe32(b, kTagHeader, 0x7FFF0000); }) << "offset";
    QTest::newRow("root not on a page") << Damage([](QByteArray& b) { setLe32(b, kTagHeader, le32(b, kTagHeader) + 3); }) << "offset";
    QTest::newRow("root in the header") << Damage([](QByteArray& b) { setLe32(b, kTagHeader, 512); }) << "offset";
    QTest::newRow("truncated") << Damage([](QByteArray& b) { b.chop(100); }) << "pages";
    QTest::newRow("too short") << Damage([](QByteArray& b) { b.truncate(1024); }) << "short";
    QTest::newRow("free-byte count") << Damage([](QByteArray& b) { setLe16(b, firstLeaf(b) + 12, uint16_t(le32(b, firstLeaf(b) + 12) + 1)); }) << "free-byte";
    QTest::newRow("leaf key count") << Damage([](QByteArray& b) { setLe16(b, firstLeaf(b) + 2, 400); }) << "leaf";
    QTest::newRow("entry layout") << Damage([](QByteArray& b) { b[firstLeaf(b) + 23] = 9; }) << "layout";
    QTest::newRow("attributes") << Damage([](QByteArray& b) { setLe16(b, firstLeaf(b), 0x40); }) << "attributes";
    QTest::newRow("interior key count") << Damage([](QByteArray& b) { setLe16(b, root(b) + 2, 100); }) << "interior";
    QTest::newRow("sibling loop to itself") << Damage([](QByteArray& b) { setLe32(b, firstLeaf(b) + 8, uint32_t(firstLeaf(b))); }) << "sibling";
    QTest::newRow("sibling loop backwards") << Damage([](QByteArray& b) {
        setLe32(b, secondLeaf(b) + 8, uint32_t(firstLeaf(b)));
        setLe32(b, firstLeaf(b) + 4, uint32_t(secondLeaf(b)));
    }) << "";
    QTest::newRow("sibling outside the file") << Damage([](QByteArray& b) { setLe32(b, firstLeaf(b) + 8, 0x10000000); }) << "offset";
    QTest::newRow("children swapped") << Damage([](QByteArray& b) {
        const int r = root(b);
        const uint32_t c0 = uint32_t(child(b, r, 0)), c1 = uint32_t(child(b, r, 1));
        setBe32(b, r + 12 + kKeyLength + 4, c1);
        setBe32(b, r + 12 + (kKeyLength + 8) + kKeyLength + 4, c0);
    }) << "";
    QTest::newRow("interior keys out of order") << Damage([](QByteArray& b) { b[root(b) + 12] = '9'; }) << "order";
    QTest::newRow("child loop") << Damage([](QByteArray& b) { setBe32(b, root(b) + 12 + kKeyLength + 4, uint32_t(root(b))); }) << "";
    QTest::newRow("directory entry") << Damage([](QByteArray& b) { b.replace(1024 + 24, 4, QByteArray(4, '\xFF')); }) << "";
    QTest::newRow("free list outside") << Damage([](QByteArray& b) { setLe32(b, 4, 0x00FFFE00); }) << "free";
}

void TstCdxShared::damagedFile()
{
    QFETCH(Damage, damage);
    QFETCH(QString, fault);
    QByteArray image = good_;
    damage(image);
    const QString path = dir_.filePath("damaged.cdx");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(image);
    f.close();
    try {
        useWholeIndex(path);
        QFAIL("the damage went unnoticed");
    } catch (const StoreError& e) {
        QVERIFY2(e.message().contains(path), qPrintable(e.message()));
        QVERIFY2(e.message().contains(fault, Qt::CaseInsensitive), qPrintable(e.message()));
    }
}

void TstCdxShared::byteFlipsNeverCrash()
{
    // Every byte of the headers and of the first pages of the tree, one at a time: either the
    // damage is reported or the file still works; never a crash or a hang.
    const QString path = dir_.filePath("flip.cdx");
    int reported = 0;
    const int end = std::min<int>(int(good_.size()), firstLeaf(good_) + 1024);
    for (int at = 0; at < end; at += (at < 2560 ? 13 : 5)) {
        QByteArray image = good_;
        image[at] = char(image[at] ^ 0x5A);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(image);
        f.close();
        try {
            useWholeIndex(path);
        } catch (const StoreError&) {
            ++reported;
        }
    }
    QVERIFY(reported > 0);
}

void TstCdxShared::failedChangeLeavesFileAsItWas_data()
{
    QTest::addColumn<bool>("exclusive");
    QTest::newRow("shared") << false;
    QTest::newRow("exclusive") << true;
}

void TstCdxShared::failedChangeLeavesFileAsItWas()
{
    QFETCH(bool, exclusive);
    // The bulk build packs the first leaf full; an insert into it splits it, and the split has to
    // update the damaged second leaf's link after the first leaf was already changed in memory.
    QByteArray image = good_;
    setLe16(image, secondLeaf(image) + 12, 7);
    const QString path = dir_.filePath("halfway.cdx");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(image);
    f.close();
    {
        auto ix = CdxIndex::open(path, exclusive ? CdxIndex::Access::Exclusive : CdxIndex::Access::Shared);
        CdxTag* t = ix->findTag("T");
        QVERIFY_THROWS_EXCEPTION(StoreError, t->insert("0000000000", 1));
        QVERIFY_THROWS_EXCEPTION(StoreError, t->insert("0000000000", 1));
        if (exclusive)
            QVERIFY_THROWS_EXCEPTION(StoreError, t->count());
    }
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    // Exclusive use may leave the page taken from the end of the file for the split, blank.
    QVERIFY(after.size() == image.size() || (exclusive && after.size() == image.size() + 512));
    QVERIFY(after.left(image.size()) == image);
    QVERIFY(after.mid(image.size()) == QByteArray(after.size() - image.size(), '\0'));
}

void TstCdxShared::failureInsideScopeKeepsEarlierChanges()
{
    QByteArray image = good_;
    setLe16(image, secondLeaf(image) + 12, 7);
    const QString path = dir_.filePath("scopefail.cdx");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(image);
    f.close();
    auto ix = CdxIndex::open(path, CdxIndex::Access::Shared);
    auto other = CdxIndex::open(path, CdxIndex::Access::Shared);
    CdxEntry e;
    QVERIFY(other->findTag("T")->last(e)); // the other handle caches the last leaf
    CdxTag* t = ix->findTag("T");
    {
        CdxIndex::Scope scope(*ix, true);
        t->insert("9999999999", 5);        // the last leaf: fine
        QVERIFY_THROWS_EXCEPTION(StoreError, t->insert("0000000000", 1)); // needs the damaged leaf
        t->insert("9999999998", 6);        // the scope goes on
    }
    QVERIFY(other->findTag("T")->last(e));
    QCOMPARE(e.key, QByteArray("9999999999"));
    QVERIFY(other->findTag("T")->prior(e));
    QCOMPARE(e.key, QByteArray("9999999998"));
}

void TstCdxShared::handlesSeeEachOthersChanges()
{
    const QString path = dir_.filePath("two.cdx");
    auto a = CdxIndex::create(path, CdxIndex::Access::Shared);
    a->addTag("T", "code", kKeyLength, false, 100, keyOf, {});
    auto b = CdxIndex::open(path, CdxIndex::Access::Shared);
    CdxTag* ta = a->findTag("T");
    CdxTag* tb = b->findTag("T");
    QCOMPARE(tb->count(), 100u);
    CdxEntry e;
    QVERIFY(tb->last(e)); // b caches its pages now
    for (uint32_t r = 101; r <= 3000; ++r)
        ta->insert(keyOf(r), r);
    QCOMPARE(tb->count(), 3000u);
    QVERIFY(tb->remove(keyOf(7), 7));
    QVERIFY(!ta->seek(keyOf(7), 7, e) || e.recno != 7);
    // A tag added through one handle appears in the other.
    a->addTag("U", "code", kKeyLength, true, 50, keyOf, {});
    QVERIFY(b->findTag("U"));
    QCOMPARE(b->tags().size(), size_t(2));
    b->verify();
    // Closing another descriptor of the file does not drop a handle's lock scope.
    {
        CdxIndex::Scope scope(*a, true);
        { QFile other(path); QVERIFY(other.open(QIODevice::ReadOnly)); }
        ta->insert("ZZZZZZZZZZ", 1);
    }
    QVERIFY(tb->last(e));
    QCOMPARE(e.key, QByteArray("ZZZZZZZZZZ"));
    // With one thread, waiting for another handle of this program would never end: it is refused.
    {
        CdxIndex::Scope scope(*a, true);
        QVERIFY_THROWS_EXCEPTION(StoreError, tb->insert("YYYYYYYYYY", 2));
        QVERIFY_THROWS_EXCEPTION(StoreError, tb->count());
        ta->insert("YYYYYYYYYY", 2);
    }
    {
        CdxIndex::Scope readA(*a, false);
        CdxIndex::Scope readB(*b, false); // readers share
        QCOMPARE(tb->count(), ta->count());
    }
    QVERIFY(tb->seek("YYYYYYYYYY", 0, e));
    QCOMPARE(e.recno, 2u);
}

void TstCdxShared::scopeBatchesOneWriteBack()
{
    const QString path = dir_.filePath("scope.cdx");
    auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
    CdxTag* t = ix->addTag("T", "code", kKeyLength, false, 0, {}, {});
    auto header = [&]() {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.read(28);
    };
    auto counter = [&]() { return be32(header(), 8); };
    const uint32_t before = counter();
    t->insert("A", 1);
    QCOMPARE(counter(), before + 1); // every change is announced
    {
        CdxIndex::Scope scope(*ix, true);
        // Announced and marked as under way when it begins, once for the whole scope.
        QCOMPARE(counter(), before + 2);
        QCOMPARE(le32(header(), 24), 0x57524954u); // the mark, where no engine writes
        QCOMPARE(le32(header(), 16), 0u);
        for (uint32_t r = 1; r <= 2000; ++r)
            t->insert(keyOf(r), r);
        {
            CdxIndex::Scope inner(*ix, false);
            QCOMPARE(t->count(), 2001u);
        }
    }
    QCOMPARE(counter(), before + 2);
    QCOMPARE(le32(header(), 24), 0u);
    auto other = CdxIndex::open(path, CdxIndex::Access::Shared);
    QCOMPARE(other->findTag("T")->count(), 2001u);
    other->verify();
}

// A reader keeps more pages than it keeps decoded, and looks them up without the lock while the
// change counter stands: changes by another handle, and its own, must show all the same.
void TstCdxShared::pagesBeyondTheCacheFollowChanges()
{
    const QString path = dir_.filePath("pages.cdx");
    constexpr uint32_t kCount = 60000; // a few thousand leaves: more than the decoded cache holds
    // Keys that share short prefixes only, so that a leaf holds few of them.
    const auto keyOf = [](uint32_t r) {
        return QByteArray::number(uint64_t(r) * 2654435761u % 4294967291u).rightJustified(kKeyLength, '0');
    };
    auto a = CdxIndex::create(path, CdxIndex::Access::Shared);
    CdxTag* ta = a->addTag("T", "code", kKeyLength, false, kCount, keyOf, {});
    auto b = CdxIndex::open(path, CdxIndex::Access::Shared);
    CdxTag* tb = b->findTag("T");
    QCOMPARE(walkForward(*tb).size(), size_t(kCount)); // every page read once, under the lock
    CdxEntry e;
    for (uint32_t r = 1; r <= kCount; r += 97) {
        QVERIFY(tb->seek(keyOf(r), r, e));
        QCOMPARE(e.recno, r);
    }
    // Another handle changes pages all over the tag.
    for (uint32_t r = 1; r <= kCount; r += 50)
        QVERIFY(ta->remove(keyOf(r), r));
    ta->insert("!", kCount + 1); // before every other key
    for (uint32_t r = 1; r <= kCount; r += 50)
        QVERIFY(!tb->seek(keyOf(r), r, e) || e.recno != r || e.key != keyOf(r));
    QVERIFY(tb->first(e));
    QCOMPARE(e.recno, kCount + 1);
    QCOMPARE(walkForward(*tb), walkForward(*ta));
    // Its own changes, to pages it holds only raw (the first leaves left the decoded cache
    // during the walks above), are what it and the other handle read afterwards.
    for (uint32_t r = 2; r <= kCount; r += 50)
        QVERIFY(tb->remove(keyOf(r), r));
    for (uint32_t r = 2; r <= kCount; r += 50)
        QVERIFY(!tb->seek(keyOf(r), r, e) || e.recno != r || e.key != keyOf(r));
    const std::vector<Entry> fromB = walkForward(*tb);
    QCOMPARE(fromB.size(), size_t(kCount + 1 - 2 * ((kCount + 49) / 50)));
    QCOMPARE(walkBackward(*tb).size(), fromB.size());
    QCOMPARE(walkForward(*ta), fromB);
    b->verify();
    auto fresh = CdxIndex::open(path, CdxIndex::Access::Shared);
    QCOMPARE(walkForward(*fresh->findTag("T")), fromB);
}

void TstCdxShared::processesInsertAtOnce()
{
    const QString path = dir_.filePath("procs.cdx");
    auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
    CdxTag* t = ix->addTag("T", "code", kKeyLength, false, 0, {}, {});
    constexpr uint32_t kEach = 6000;
    std::vector<std::unique_ptr<QProcess>> children;
    for (int c = 0; c < 2; ++c) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("CDX_CHILD", QStringLiteral("%1|%2|%3").arg(path).arg(1 + (c + 1) * kEach).arg(kEach));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(p->waitForStarted());
        children.push_back(std::move(p));
    }
    for (auto& p : children) {
        while (!p->canReadLine())
            QVERIFY(p->waitForReadyRead(30000));
        QCOMPARE(p->readLine(), QByteArray("ready\n"));
    }
    for (auto& p : children)
        p->write("g");
    for (auto& p : children)
        p->waitForBytesWritten(1000);
    for (uint32_t r = 1; r <= kEach; ++r)
        t->insert(keyOf(r), r);
    for (auto& p : children) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
    }
    ix->verify();
    QCOMPARE(t->count(), uint64_t(3 * kEach));
    CdxEntry e;
    for (uint32_t r = 1; r <= 3 * kEach; ++r) {
        QVERIFY(t->seek(keyOf(r), r, e));
        QCOMPARE(e.recno, r);
    }
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("CDX_CHILD"))
        return childMain();
    QCoreApplication app(argc, argv);
    TstCdxShared test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_cdxshared.moc"
