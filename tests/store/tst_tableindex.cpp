// The table handle over its structural index: tag order, seek, selecting tags, and index upkeep on
// every append, key change and delete (every tag must always equal its rebuild).
#include "store/connection.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"
#include "userfields.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using store::Connection;
using store::StoreError;
using store::Table;

namespace {
const QString kLogFields = QStringLiteral("DDATE,C,10;DTIME,C,14;USERNAME,C,30;MUSTSEND,C,1;MSG,M;");
} // namespace

class tst_TableIndex : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    Connection connection;

    // BUSERS with a unique USERNAME tag and a plain PAGERCOMP tag.
    void makeUsers(const QStringList& names, const QStringList& carriers = {})
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("BUSERS.DBF"));
        t.open();
        for (int i = 0; i < names.size(); ++i) {
            t.append();
            t.setFieldText(QStringLiteral("USERNAME"), names[i]);
            t.setFieldText(
                QStringLiteral("PAGERCOMP"), i < carriers.size() ? carriers[i] : QStringLiteral("Acme"));
            t.setFieldText(QStringLiteral("PAGER_ID"), QString::number(i + 1));
            t.post();
        }
        t.close();
        t.setExclusive(true);
        t.open();
        t.addTag(QStringLiteral("Busers"), QStringLiteral("USERNAME"), QStringLiteral("USERNAME"), true);
        t.addTag(
            QStringLiteral("BUsers.cdx"), QStringLiteral("PAGERCOMP"), QStringLiteral("PagerComp"), false);
    }
    void openUsers(Table& t, const QString& tag)
    {
        t.setConnection(connection);
        t.setTableName(QStringLiteral("busers.dbf"));
        t.setIndexName(tag);
        t.open();
    }
    QStringList walk(Table& t, const QString& field = QStringLiteral("PAGER_ID"))
    {
        QStringList out;
        for (t.first(); !t.eof(); t.next())
            out << t.fieldText(field);
        return out;
    }
    void checkTagsEqualRebuild()
    {
        const QString cdx = connection.resolve(QStringLiteral("BUSERS.CDX"));
        const QString dbf = connection.resolve(QStringLiteral("BUSERS.DBF"));
        QCOMPARE(tagcheck::entriesOf(cdx, "USERNAME"), tagcheck::rebuildOf(dbf, "USERNAME", true));
        QCOMPARE(tagcheck::entriesOf(cdx, "PAGERCOMP"), tagcheck::rebuildOf(dbf, "PAGERCOMP", false));
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        const QDir d(dir.path());
        for (const QString& f : d.entryList(QDir::Files))
            QFile::remove(d.filePath(f));
        connection.setFolder(dir.path());
    }

    void tagOrder()
    {
        makeUsers({ QStringLiteral("Cid"), QStringLiteral("Ann"), QStringLiteral("Bob") },
            { QStringLiteral("Z"), QStringLiteral("Y"), QStringLiteral("Z") });
        Table t;
        openUsers(t, QStringLiteral("username"));
        QCOMPARE(t.tagNames(), (QStringList { "USERNAME", "PAGERCOMP" }));
        QCOMPARE(walk(t), (QStringList { "2", "3", "1" }));
        t.last();
        QCOMPARE(t.recNo(), 1u);
        t.prior();
        QCOMPARE(t.recNo(), 3u);
        t.selectTag(QStringLiteral("PagerComp")); // stays on record 3
        QCOMPARE(t.recNo(), 3u);
        t.next();
        QVERIFY(t.eof());
        t.selectTag(QString());
        QCOMPARE(walk(t), (QStringList { "1", "2", "3" }));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.selectTag(QStringLiteral("NOSUCH")));
    }

    void seek_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<QString>("at"); // PAGER_ID of the record found, "" = eof
        QTest::newRow("exact") << QByteArray("Bob") << true << "3";
        QTest::newRow("padded") << QByteArray("Bob").leftJustified(30, ' ') << true << "3";
        QTest::newRow("between") << QByteArray("Ba") << false << "3";
        QTest::newRow("prefix is not exact") << QByteArray("Bo") << false << "3";
        QTest::newRow("before all") << QByteArray("A") << false << "2";
        QTest::newRow("after all") << QByteArray("Zz") << false << "";
        QTest::newRow("case matters") << QByteArray("bob") << false << "";
    }
    void seek()
    {
        QFETCH(QByteArray, key);
        QFETCH(bool, exact);
        QFETCH(QString, at);
        makeUsers({ QStringLiteral("Cid"), QStringLiteral("Ann"), QStringLiteral("Bob") });
        Table t;
        openUsers(t, QStringLiteral("USERNAME"));
        QCOMPARE(t.seek(key), exact);
        QCOMPARE(t.eof(), at.isEmpty());
        if (!at.isEmpty())
            QCOMPARE(t.fieldText(QStringLiteral("PAGER_ID")), at);
        t.selectTag(QString());
        QVERIFY_THROWS_EXCEPTION(StoreError, t.seek(key));
    }

    // Two users of one name: only the first is seen in USERNAME order; deleting it shows the
    // second; a deleted record never comes back; the file keeps its size.
    void uniqueTag()
    {
        makeUsers({ QStringLiteral("Ann"), QStringLiteral("Bob"), QStringLiteral("Ann") });
        const qint64 size = QFileInfo(connection.resolve(QStringLiteral("BUSERS.DBF"))).size();
        Table t;
        openUsers(t, QStringLiteral("USERNAME"));
        QCOMPARE(walk(t), (QStringList { "1", "2" }));
        QVERIFY(t.locate(QStringLiteral("USERNAME"), QStringLiteral("Ann")));
        QCOMPARE(t.recNo(), 1u);
        t.deleteRecord();
        QCOMPARE(walk(t), (QStringList { "3", "2" }));
        checkTagsEqualRebuild();
        QVERIFY(t.locate(QStringLiteral("USERNAME"), QStringLiteral("Ann")));
        QCOMPARE(t.recNo(), 3u);
        // A new "Ann" has a higher number than the live one: still hidden.
        t.append();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Ann"));
        t.setFieldText(QStringLiteral("PAGER_ID"), QStringLiteral("4"));
        t.post();
        QCOMPARE(walk(t), (QStringList { "3", "2" }));
        // Renaming the live one brings the next live "Ann" (record 4), never deleted record 1.
        QVERIFY(t.locate(QStringLiteral("USERNAME"), QStringLiteral("Ann")));
        t.edit();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Cid"));
        t.post();
        QCOMPARE(walk(t), (QStringList { "4", "2", "3" }));
        checkTagsEqualRebuild();
        t.selectTag(QString());
        QCOMPARE(walk(t), (QStringList { "2", "3", "4" }));
        t.close();
        QCOMPARE(QFileInfo(connection.resolve(QStringLiteral("BUSERS.DBF"))).size(), size + 85);
    }

    void deleteAndAddSameName()
    {
        makeUsers({ QStringLiteral("Ann") });
        Table t;
        openUsers(t, QStringLiteral("USERNAME"));
        t.deleteRecord();
        QVERIFY(t.isEmpty());
        t.append();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Ann"));
        t.setFieldText(QStringLiteral("PAGER_ID"), QStringLiteral("new"));
        t.post();
        QCOMPARE(walk(t), QStringList { QStringLiteral("new") });
        checkTagsEqualRebuild();
    }

    // Random appends, key changes and deletes through two handles: the tags equal their rebuild.
    void upkeepEqualsRebuild()
    {
        makeUsers({});
        Table a;
        Table b;
        openUsers(a, QStringLiteral("USERNAME"));
        openUsers(b, QStringLiteral("PAGERCOMP"));
        QRandomGenerator rng(42);
        const auto name = [&] { return QStringLiteral("U%1").arg(rng.bounded(12)); };
        for (int step = 0; step < 400; ++step) {
            Table& t = rng.bounded(2) ? a : b;
            t.refresh();
            const int what = rng.bounded(10);
            if (what < 5 || t.isEmpty()) {
                t.append();
                t.setFieldText(QStringLiteral("USERNAME"), name());
                t.setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("C%1").arg(rng.bounded(4)));
                t.post();
            } else if (what < 8) {
                t.edit();
                t.setFieldText(
                    rng.bounded(2) ? QStringLiteral("USERNAME") : QStringLiteral("PAGERCOMP"), name());
                t.post();
            } else {
                t.deleteRecord();
            }
            if (step % 50 == 0)
                t.first();
            else
                t.next();
        }
        a.close();
        b.close();
        checkTagsEqualRebuild();
        auto index = store::CdxIndex::open(
            connection.resolve(QStringLiteral("BUSERS.CDX")), store::CdxIndex::Access::Shared);
        index->verify();
    }

    void addTagRules()
    {
        connection.createTable(QStringLiteral("MSGLOG2.dbf"), kLogFields);
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        QVERIFY_THROWS_EXCEPTION(StoreError,
            t.addTag(QStringLiteral("MsgLog2"), QStringLiteral("BY_DATE"), QStringLiteral("DDATE"),
                false)); // shared
        t.close();
        t.setExclusive(true);
        t.open();
        QVERIFY_THROWS_EXCEPTION(StoreError,
            t.addTag(QStringLiteral("Other"), QStringLiteral("BY_DATE"), QStringLiteral("DDATE"), false));
        QVERIFY_THROWS_EXCEPTION(StoreError,
            t.addTag(QStringLiteral("MsgLog2"), QStringLiteral("BY_MSG"), QStringLiteral("MSG"), false));
        QVERIFY_THROWS_EXCEPTION(StoreError,
            t.addTag(
                QStringLiteral("MsgLog2"), QStringLiteral("BY_X"), QStringLiteral("DDATE+NOSUCH"), false));
        t.addTag(
            QStringLiteral("msglog2"), QStringLiteral("by_name"), QStringLiteral("username+ddate"), false);
        QCOMPARE(t.tagNames(), QStringList { QStringLiteral("BY_NAME") });
        t.close();
        // The table header now says a structural index exists.
        QFile f(connection.resolve(QStringLiteral("MSGLOG2.dbf")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(29).at(28) & 0x01, 0x01);
    }

    // A walk reads ahead; changes by another handle show after refresh(), and after a short
    // while without one.
    void walkSeesOtherHandlesChanges()
    {
        makeUsers({ QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D") });
        Table walker;
        Table other;
        openUsers(walker, QStringLiteral("USERNAME"));
        openUsers(other, QStringLiteral("USERNAME"));
        walker.first();
        walker.next(); // on B; C and D are read ahead
        QVERIFY(other.locate(QStringLiteral("USERNAME"), QStringLiteral("C")));
        other.deleteRecord();
        walker.refresh();
        walker.next();
        QCOMPARE(walker.fieldText(QStringLiteral("USERNAME")), QStringLiteral("D"));
        walker.first(); // on A; B, D read ahead
        QVERIFY(other.locate(QStringLiteral("USERNAME"), QStringLiteral("B")));
        other.edit();
        other.setFieldText(QStringLiteral("PAGER_ID"), QStringLiteral("changed"));
        other.post();
        QTest::qWait(80);
        walker.next();
        QCOMPARE(walker.fieldText(QStringLiteral("PAGER_ID")), QStringLiteral("changed"));
        // The handle's own changes are seen at once.
        walker.first();
        walker.edit();
        walker.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("E"));
        walker.post();
        QCOMPARE(walk(walker, QStringLiteral("USERNAME")), (QStringList { "B", "D", "E" }));
    }

    // Longer walks, both ways: batches of entries whose records lie far apart or close, deleted
    // and filtered records between them.
    void longWalks()
    {
        QStringList names;
        QStringList carriers;
        for (int i = 0; i < 300; ++i) {
            names << QStringLiteral("N%1").arg((i * 7919) % 1000, 4, 10, QLatin1Char('0'));
            carriers << (i % 3 ? QStringLiteral("Acme") : QStringLiteral("Beta"));
        }
        makeUsers(names, carriers);
        Table t;
        openUsers(t, QStringLiteral("USERNAME"));
        QStringList expected;
        for (int i = 0; i < 300; ++i) {
            if (i % 5 == 0) {
                QVERIFY(t.locate(QStringLiteral("USERNAME"), names[i]));
                t.deleteRecord();
            } else if (carriers[i] == u"Acme") {
                expected << names[i];
            }
        }
        t.setFilter(Table::equalsFilter(QStringLiteral("PAGERCOMP"), QStringLiteral("Acme")));
        std::sort(expected.begin(), expected.end());
        QCOMPARE(walk(t, QStringLiteral("USERNAME")), expected);
        QStringList backwards;
        for (t.last(); !t.bof(); t.prior())
            backwards.prepend(t.fieldText(QStringLiteral("USERNAME")));
        QCOMPARE(backwards, expected);
    }

    // Entries by number: every entry of the order has one, deleted records included, which
    // goToEntry() refuses; the numbers follow another handle's changes and the record order.
    void entriesByNumber()
    {
        QStringList names;
        QStringList carriers;
        for (int i = 0; i < 600; ++i) {
            names << QStringLiteral("N%1").arg(i);
            carriers << QStringLiteral("C%1").arg((i * 7919) % 600, 3, 10, QLatin1Char('0'));
        }
        makeUsers(names, carriers);
        Table numbered;
        Table other;
        openUsers(numbered, QStringLiteral("PAGERCOMP"));
        openUsers(other, QStringLiteral("PAGERCOMP"));
        for (int i = 0; i < 600; i += 7) {
            QVERIFY(other.locate(QStringLiteral("USERNAME"), names[i]));
            other.deleteRecord();
        }
        const QStringList order = walk(numbered, QStringLiteral("USERNAME"));
        const auto byNumber = [&] {
            QStringList shown;
            for (uint32_t n = 0; n < numbered.entryCount(); ++n) {
                if (numbered.goToEntry(n)) {
                    shown << numbered.fieldText(QStringLiteral("USERNAME"));
                    if (numbered.entryNumber() != n || numbered.entryNumberOf(numbered.recNo()) != n)
                        return QStringList { QStringLiteral("entry %1 numbered wrongly").arg(n) };
                }
            }
            return shown;
        };
        QCOMPARE(numbered.entryCount(), 600u);
        QCOMPARE(byNumber(), order);
        QVERIFY(!numbered.goToEntry(600));

        other.append();
        other.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Middle"));
        other.setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("C300x"));
        other.post();
        QCOMPARE(numbered.entryCount(), 601u);
        const uint32_t middle = numbered.entryNumberOf(other.recNo());
        QVERIFY(numbered.goToEntry(middle));
        QCOMPARE(numbered.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Middle"));
        QCOMPARE(byNumber(), walk(numbered, QStringLiteral("USERNAME")));

        numbered.selectTag(QString());
        QVERIFY(numbered.goToEntry(600));
        QCOMPARE(numbered.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Middle"));
        QVERIFY(!numbered.goToEntry(0)); // record 1 was deleted
    }

    void openWithoutIndexFile()
    {
        makeUsers({ QStringLiteral("Ann"), QStringLiteral("Bob") });
        QVERIFY(QFile::remove(connection.resolve(QStringLiteral("BUSERS.CDX"))));
        Table t;
        openUsers(t, QString());
        QVERIFY(t.tagNames().isEmpty());
        QCOMPARE(walk(t), (QStringList { "1", "2" }));
    }
};

QTEST_GUILESS_MAIN(tst_TableIndex)
#include "tst_tableindex.moc"
