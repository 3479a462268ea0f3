// Compound index: contents under insert/remove against a model, bulk build, unique tags, and the
// files as an independent reader sees them.
#include "cdxtestutil.h"
#include "store/cdxbuild.h"
#include "store/cdxindex.h"
#include "store/storeerror.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace store;
using namespace cdxtest;

class TstCdxIndex : public QObject {
    Q_OBJECT

private slots:
    void emptyIndex();
    void randomSequences_data();
    void randomSequences();
    void bulkMatchesIncremental_data();
    void bulkMatchesIncremental();
    void sorterSpillsAndMerges_data();
    void sorterSpillsAndMerges();
    void uniqueBuildKeepsLowestLiveRecord();
    void replaceTagAndTagOrder();
    void navigationFromVanishedEntry();
    void freedPagesAreReused();
    void appendsInKeyOrder_data();
    void appendsInKeyOrder();
    void largeIndexThroughBoundedMapping();
    void perlReadsOurFiles_data();
    void perlReadsOurFiles();

private:
    QTemporaryDir dir_;
    QString file(const char* name) const { return dir_.filePath(QLatin1String(name)); }
};

void TstCdxIndex::emptyIndex()
{
    const QString path = file("empty.cdx");
    {
        auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
        QVERIFY(ix->tags().empty());
        CdxTag* t = ix->addTag("NAME", "name", 8, false, 0, {}, {});
        CdxEntry e;
        QVERIFY(!t->first(e));
        QVERIFY(!t->last(e));
        QVERIFY(!t->seek("A", 0, e));
        QCOMPARE(t->count(), 0u);
        QVERIFY(!t->remove("A", 1));
        ix->verify();
    }
    QCOMPARE(QFileInfo(path).size() % 512, 0);
    auto ix = CdxIndex::open(path, CdxIndex::Access::Exclusive);
    QCOMPARE(ix->tags().size(), size_t(1));
    QVERIFY(ix->findTag("name"));
    QCOMPARE(ix->findTag("Name")->expression(), QByteArray("name"));
    QVERIFY(!ix->findTag("OTHER"));
}

void TstCdxIndex::randomSequences_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("operations");
    QTest::addColumn<int>("removePercent");
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<uint>("seed");
    QTest::addColumn<int>("minPages"); // to be sure that exclusive use wrote pages out of a full cache
    QTest::newRow("short keys, grow") << 10 << 20000 << 20 << false << 1u << 0;
    QTest::newRow("short keys, churn") << 10 << 20000 << 50 << false << 2u << 0;
    QTest::newRow("short keys, exclusive") << 10 << 20000 << 40 << true << 3u << 0;
    QTest::newRow("one-byte keys") << 1 << 6000 << 45 << false << 4u << 0;
    QTest::newRow("40-byte keys") << 40 << 10000 << 40 << true << 5u << 0;
    QTest::newRow("40-byte keys, more pages than the cache") << 40 << 60000 << 30 << true << 8u << 1500;
    QTest::newRow("240-byte keys, grow") << 240 << 2500 << 25 << false << 6u << 0;
    QTest::newRow("240-byte keys, churn") << 240 << 3000 << 55 << true << 7u << 0;
}

void TstCdxIndex::randomSequences()
{
    QFETCH(int, keyLength);
    QFETCH(int, operations);
    QFETCH(int, removePercent);
    QFETCH(bool, exclusive);
    QFETCH(uint, seed);
    QFETCH(int, minPages);
    const auto access = exclusive ? CdxIndex::Access::Exclusive : CdxIndex::Access::Shared;
    const QString path = file("random.cdx");
    std::mt19937 rng(seed);
    Model model;
    std::vector<Entry> present; // for picking entries to remove
    {
        auto ix = CdxIndex::create(path, access);
        CdxTag* t = ix->addTag("T", "t", keyLength, false, 0, {}, {});
        std::uniform_int_distribution<int> pct(0, 99);
        std::uniform_int_distribution<uint32_t> rec(1, 3000000);
        for (int i = 0; i < operations; ++i) {
            // Phases: growth first, then mostly removal, so that pages split and later empty out.
            const int removeChance = i < operations / 2 ? removePercent / 2 : std::min(95, removePercent + 30);
            if (!present.empty() && pct(rng) < removeChance) {
                const size_t at = std::uniform_int_distribution<size_t>(0, present.size() - 1)(rng);
                const Entry e = present[at];
                present[at] = present.back();
                present.pop_back();
                QVERIFY(t->remove(e.first, e.second));
                model.erase(e);
                QVERIFY(!t->remove(e.first, e.second));
            } else {
                const Entry e{randomKey(rng, keyLength), rec(rng)};
                t->insert(e.first, e.second);
                if (model.insert(e).second)
                    present.push_back(e);
            }
            if (!model.empty() && i % 997 == 0) {
                t->insert(model.begin()->first, model.begin()->second); // already there: no change
                QCOMPARE(t->count(), uint64_t(model.size()));
            }
        }
        ix->verify();
        const std::vector<Entry> expected(model.begin(), model.end());
        QCOMPARE(walkForward(*t), expected);
        QCOMPARE(walkBackward(*t), std::vector<Entry>(expected.rbegin(), expected.rend()));
    }
    QVERIFY(QFileInfo(path).size() >= qint64(minPages) * 512);
    // What was written is what is read back by a fresh handle.
    auto ix = CdxIndex::open(path, CdxIndex::Access::Shared);
    ix->verify();
    CdxTag* t = ix->findTag("T");
    QVERIFY(t);
    QCOMPARE(walkForward(*t), std::vector<Entry>(model.begin(), model.end()));
    // Seeks land on the first entry at or after the target.
    for (int i = 0; i < 300; ++i) {
        const Entry target{randomKey(rng, keyLength), uint32_t(rng() % 3000000)};
        auto it = model.lower_bound(target);
        CdxEntry e;
        const bool found = t->seek(target.first, target.second, e);
        QCOMPARE(found, it != model.end());
        if (found)
            QCOMPARE(Entry(e.key, e.recno), *it);
    }
}

void TstCdxIndex::bulkMatchesIncremental_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("keyLength");
    QTest::newRow("one leaf") << 20 << 10;
    QTest::newRow("three levels, 10 bytes") << 30000 << 10;
    QTest::newRow("40 bytes") << 8000 << 40;
    QTest::newRow("240 bytes") << 700 << 240;
}

void TstCdxIndex::bulkMatchesIncremental()
{
    QFETCH(int, records);
    QFETCH(int, keyLength);
    std::mt19937 rng(records);
    std::vector<QByteArray> keys;
    for (int i = 0; i < records; ++i)
        keys.push_back(randomKey(rng, keyLength, 3));
    auto ix = CdxIndex::create(file("bulk.cdx"), CdxIndex::Access::Exclusive);
    CdxTag* bulk = ix->addTag("BULK", "k", keyLength, false, uint32_t(records),
                              [&](uint32_t r) { return keys[r - 1]; }, {});
    CdxTag* inc = ix->addTag("INC", "k", keyLength, false, 0, {}, {});
    for (int i = records; i >= 1; --i) // descending record order: never an append at the end
        inc->insert(keys[size_t(i - 1)], uint32_t(i));
    ix->flush();
    ix->verify();
    const auto a = walkForward(*bulk);
    QCOMPARE(a.size(), size_t(records));
    QCOMPARE(walkForward(*inc), a);
    QVERIFY(std::is_sorted(a.begin(), a.end()));
    QCOMPARE(walkBackward(*bulk), std::vector<Entry>(a.rbegin(), a.rend()));
}

void TstCdxIndex::sorterSpillsAndMerges_data()
{
    QTest::addColumn<bool>("unique");
    QTest::addColumn<QString>("order"); // of the keys as they come: random, ascending, or grouped
    for (const char* order : {"random", "ascending", "grouped"}) {
        QTest::addRow("plain, %s", order) << false << QString::fromLatin1(order);
        QTest::addRow("unique, %s", order) << true << QString::fromLatin1(order);
    }
}

void TstCdxIndex::sorterSpillsAndMerges()
{
    QFETCH(bool, unique);
    QFETCH(QString, order);
    // A 64 KiB budget makes dozens of runs from 50,000 entries. Ascending keys make runs that
    // follow each other; grouped keys (a few names over and over) runs that interleave.
    cdx::EntrySorter sorter(12, unique, dir_.path(), 64 * 1024);
    std::mt19937 rng(11);
    Model model;
    std::set<QByteArray> keysSeen;
    for (uint32_t r = 1; r <= 50000; ++r) {
        QByteArray k = order == u"random" ? randomKey(rng, 12, 3).left(12)
            : order == u"ascending"       ? QByteArray::number(r / 3).rightJustified(12, '0')
                                          : QByteArray::number(r % 97).rightJustified(12, ' ');
        sorter.add(reinterpret_cast<const uint8_t*>(k.constData()), r);
        if (!unique || keysSeen.insert(k).second)
            model.emplace(k, r);
    }
    std::vector<Entry> out;
    sorter.finish([&](const uint8_t* k, uint32_t r) { out.emplace_back(QByteArray(reinterpret_cast<const char*>(k), 12), r); });
    QVERIFY(sorter.runCount() > 10);
    QCOMPARE(out, std::vector<Entry>(model.begin(), model.end()));
}

void TstCdxIndex::uniqueBuildKeepsLowestLiveRecord()
{
    // record: key, deleted
    const std::vector<std::pair<QByteArray, bool>> records = {
        {"BOB", true}, {"ANN", false}, {"BOB", false}, {"ANN", false}, {"CY", true},
        {"BOB", false}, {"CY", true}, {"DAN", true}, {"DAN", false}, {"EVE", false},
    };
    auto ix = CdxIndex::create(file("unique.cdx"), CdxIndex::Access::Shared);
    auto keyOf = [&](uint32_t r) { return records[r - 1].first.leftJustified(6, ' '); };
    auto deleted = [&](uint32_t r) { return records[r - 1].second; };
    CdxTag* u = ix->addTag("U", "name", 6, true, uint32_t(records.size()), keyOf, deleted);
    CdxTag* p = ix->addTag("P", "name", 6, false, uint32_t(records.size()), keyOf, deleted);
    QVERIFY(u->unique());
    QVERIFY(!p->unique());
    const std::vector<Entry> expected = {{"ANN   ", 2}, {"BOB   ", 3}, {"DAN   ", 9}, {"EVE   ", 10}};
    QCOMPARE(walkForward(*u), expected);
    QCOMPARE(p->count(), uint64_t(records.size())); // a plain tag holds deleted records too
    ix->verify();
    auto again = CdxIndex::open(file("unique.cdx"), CdxIndex::Access::Shared);
    QVERIFY(again->findTag("U")->unique());
    QCOMPARE(walkForward(*again->findTag("U")), expected);
}

void TstCdxIndex::replaceTagAndTagOrder()
{
    const QString path = file("order.cdx");
    auto ix = CdxIndex::create(path, CdxIndex::Access::Exclusive);
    auto keyOf = [](uint32_t r) { return QByteArray::number(r).rightJustified(8, '0'); };
    ix->addTag("ZETA", "z", 8, false, 5000, keyOf, {});
    ix->addTag("ALPHA", "a", 8, false, 10, keyOf, {});
    ix->addTag("MID", "m", 8, false, 10, keyOf, {});
    const qint64 sizeBefore = QFileInfo(path).size();
    CdxTag* z = ix->addTag("zeta", "z2", 8, true, 3000, keyOf, {}); // replaces ZETA
    QCOMPARE(z->count(), 3000u);
    ix->flush();
    ix->verify();
    QVERIFY(QFileInfo(path).size() < sizeBefore + 100 * 1024);
    ix.reset();
    ix = CdxIndex::open(path, CdxIndex::Access::Shared);
    QStringList names;
    for (CdxTag* t : ix->tags())
        names << QString::fromLatin1(t->name());
    QCOMPARE(names, QStringList({"ALPHA", "MID", "ZETA"})); // creation order
    QCOMPARE(ix->findTag("ZETA")->expression(), QByteArray("z2"));
    QVERIFY(ix->findTag("ZETA")->unique());
    QCOMPARE(ix->findTag("ZETA")->count(), 3000u);
}

void TstCdxIndex::navigationFromVanishedEntry()
{
    auto ix = CdxIndex::create(file("nav.cdx"), CdxIndex::Access::Shared);
    auto keyOf = [](uint32_t r) { return QByteArray::number(r * 2).rightJustified(6, '0'); };
    CdxTag* t = ix->addTag("N", "n", 6, false, 4000, keyOf, {});
    CdxEntry e;
    QVERIFY(t->seek("001000", 0, e));
    QCOMPARE(e.recno, 500u);
    QVERIFY(t->remove(e.key, e.recno));
    CdxEntry stale = e;
    QVERIFY(t->next(stale)); // the entry it stood on is gone: the one after it
    QCOMPARE(stale.recno, 501u);
    stale = e;
    QVERIFY(t->prior(stale));
    QCOMPARE(stale.recno, 499u);
    // Equal keys by record number; targets between entries.
    t->insert("001002", 400);
    QVERIFY(t->seek("001002", 0, e));
    QCOMPARE(e.recno, 400u);
    QVERIFY(t->next(e));
    QCOMPARE(e.recno, 501u);
    QVERIFY(t->seek("001002", 401, e));
    QCOMPARE(e.recno, 501u);
    CdxEntry between{"001003", 0};
    QVERIFY(t->next(between));
    QCOMPARE(between.key, QByteArray("001004"));
    between = {"001003", 0};
    QVERIFY(t->prior(between));
    QCOMPARE(between.recno, 501u);
    CdxEntry beyond{"999999", 0};
    QVERIFY(!t->next(beyond));
    beyond = {"999999", 0};
    QVERIFY(t->prior(beyond));
    QCOMPARE(beyond.recno, 4000u);
    CdxEntry before{"000000", 0};
    QVERIFY(!t->prior(before));
    QVERIFY(t->last(e));
    QCOMPARE(e.recno, 4000u);
    QVERIFY(!t->next(e));
}

void TstCdxIndex::freedPagesAreReused()
{
    const QString path = file("reuse.cdx");
    auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
    CdxTag* t = ix->addTag("R", "r", 20, false, 0, {}, {});
    auto key = [](int i) { return QByteArray::number(i * 7919 % 100003).rightJustified(20, 'x'); };
    for (int i = 0; i < 5000; ++i)
        t->insert(key(i), uint32_t(i + 1));
    const qint64 full = QFileInfo(path).size();
    for (int i = 0; i < 5000; ++i)
        QVERIFY(t->remove(key(i), uint32_t(i + 1)));
    QCOMPARE(t->count(), 0u);
    ix->verify();
    for (int i = 0; i < 5000; ++i)
        t->insert(key(i), uint32_t(i + 1));
    ix->verify();
    QCOMPARE(t->count(), 5000u);
    QVERIFY2(QFileInfo(path).size() <= full + 4 * 512, "pages freed by removal were not reused");
}

void TstCdxIndex::appendsInKeyOrder_data()
{
    QTest::addColumn<int>("keyLength");
    QTest::addColumn<int>("firstRecno");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("sameKeyRun"); // consecutive records sharing one key
    // Record numbers that cross 2^8, 2^16 and 2^24 make the pages' entry layout wider on the way.
    QTest::newRow("10 bytes, from 1") << 10 << 1 << 3000 << 7;
    QTest::newRow("10 bytes, across 2^16") << 10 << 65000 << 2000 << 1;
    QTest::newRow("40 bytes, across 2^24") << 40 << 16776000 << 2500 << 3;
    QTest::newRow("3 bytes, all one key") << 3 << 200 << 2000 << 100000;
}

// Records added in key order (the usual case of a log table) change a leaf only at its end, and
// such a change is written into the page alone: the pages must read back as the entries went in.
void TstCdxIndex::appendsInKeyOrder()
{
    QFETCH(int, keyLength);
    QFETCH(int, firstRecno);
    QFETCH(int, records);
    QFETCH(int, sameKeyRun);
    const QString path = file("ordered.cdx");
    std::vector<Entry> expected;
    {
        auto ix = CdxIndex::create(path, CdxIndex::Access::Shared); // each insert written back
        CdxTag* t = ix->addTag("ORD", "k", keyLength, false, 0, {}, {});
        for (int i = 0; i < records; ++i) {
            // Growing keys with shared prefixes and trailing blanks of varying length.
            const QByteArray stem = QByteArray::number(i / sameKeyRun, 36).rightJustified(4, '0');
            QByteArray key = stem.left(std::min<qsizetype>(keyLength, 1 + (i / sameKeyRun) % 4));
            key = (key + stem).left(keyLength).leftJustified(keyLength, ' ');
            if (!expected.empty() && key < expected.back().first)
                key = expected.back().first; // keep the order: a repeated key
            t->insert(key, uint32_t(firstRecno + i));
            expected.emplace_back(key, uint32_t(firstRecno + i));
        }
        ix->verify();
    }
    auto again = CdxIndex::open(path, CdxIndex::Access::Shared);
    CdxTag* t = again->findTag("ORD");
    QVERIFY(t);
    QCOMPARE(walkForward(*t), expected);
    QCOMPARE(walkBackward(*t), std::vector<Entry>(expected.rbegin(), expected.rend()));
    again->verify();
}

// An index several times larger than the mapped window the handle keeps resident: pages written
// and dropped from the mapping again and again must all reach the file.
void TstCdxIndex::largeIndexThroughBoundedMapping()
{
    const QString path = file("large.cdx");
    std::mt19937 rng(7);
    Model model;
    {
        auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
        CdxTag* t = ix->addTag("BIG", "k", 40, false, 0, {}, {});
        for (uint32_t r = 1; r <= 150000; ++r) {
            const QByteArray key = QByteArray::number(uint32_t(rng()), 16).repeated(5).left(40).leftJustified(40, ' ');
            t->insert(key, r);
            model.emplace(key, r);
        }
    }
    QVERIFY2(QFileInfo(path).size() > 2 * 4 * 1024 * 1024, "the index is too small to test the window");
    auto again = CdxIndex::open(path, CdxIndex::Access::Shared);
    again->verify();
    CdxTag* t = again->findTag("BIG");
    QVERIFY(t);
    QCOMPARE(walkForward(*t), std::vector<Entry>(model.begin(), model.end()));
}

void TstCdxIndex::perlReadsOurFiles_data()
{
    QTest::addColumn<bool>("incremental");
    QTest::newRow("bulk build") << false;
    QTest::newRow("incremental") << true;
}

void TstCdxIndex::perlReadsOurFiles()
{
    QFETCH(bool, incremental);
    if (!QFileInfo::exists(QStringLiteral("/usr/share/perl5/XBase/Index.pm")))
        QSKIP("the Perl XBase module is not installed");
    const QString path = file("perl.cdx");
    std::mt19937 rng(77);
    std::vector<QByteArray> names;
    for (int i = 0; i < 6000; ++i)
        names.push_back(("U" + QByteArray::number(rng() % 2500)).leftJustified(30, ' ') + "2015/01/0" + char('1' + rng() % 9) + ' ');
    auto keyOf = [&](uint32_t r) { return names[r - 1]; };
    auto deleted = [](uint32_t r) { return r % 5 == 0; };
    Model plain, unique;
    std::set<QByteArray> seen;
    for (uint32_t r = 1; r <= names.size(); ++r) {
        plain.emplace(names[r - 1], r);
        if (!deleted(r) && seen.insert(names[r - 1]).second)
            unique.emplace(names[r - 1], r);
    }
    {
        auto ix = CdxIndex::create(path, CdxIndex::Access::Exclusive);
        if (incremental) {
            CdxTag* p = ix->addTag("BY_NAME", "USERNAME+DDATE", 41, false, 0, {}, {});
            CdxTag* u = ix->addTag("UNAME", "username", 41, true, 0, {}, {});
            for (const Entry& e : plain)
                p->insert(e.first, e.second);
            for (const Entry& e : unique)
                u->insert(e.first, e.second);
        } else {
            ix->addTag("BY_NAME", "USERNAME+DDATE", 41, false, uint32_t(names.size()), keyOf, deleted);
            ix->addTag("UNAME", "username", 41, true, uint32_t(names.size()), keyOf, deleted);
        }
    }
    for (const auto& [tag, model, expr] : {std::tuple{QByteArray("BY_NAME"), &plain, QString("USERNAME+DDATE")},
                                           std::tuple{QByteArray("UNAME"), &unique, QString("username")}}) {
        QString error;
        const QStringList lines = perlRead(path, tag, &error);
        QVERIFY2(!lines.isEmpty(), qPrintable(error));
        QCOMPARE(lines.value(0), "EXPR\t" + expr);
        QCOMPARE(lines.value(1), QStringLiteral("TAGS\tBY_NAME,UNAME"));
        QStringList expected;
        for (const Entry& e : *model)
            expected << perlLine(e);
        QCOMPARE(lines.mid(2), expected);
    }
}

QTEST_GUILESS_MAIN(TstCdxIndex)
#include "tst_cdxindex.moc"
