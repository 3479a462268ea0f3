// The desk's tables and the start-up step that creates missing tables and rebuilds index files.
#include "store/connection.h"
#include "store/keyexpression.h"
#include "store/dbffile.h"
#include "store/cdxindex.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using store::Connection;
using store::StoreError;
using store::Table;
using store::TableSchema;

Q_DECLARE_METATYPE(const TableSchema*)

namespace {

QStringList fieldSummary(const std::vector<store::FieldDef>& fields)
{
    QStringList out;
    for (const auto& f : fields)
        out << QStringLiteral("%1 %2 %3 %4")
                   .arg(QString::fromLatin1(f.name))
                   .arg(QLatin1Char(f.type))
                   .arg(f.width)
                   .arg(f.decimals);
    return out;
}

// What Perl's XBase::Index, an independent reader, finds in a tag: "key<TAB>recno" lines.
QStringList perlTag(const QString& cdx, const QString& tag)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/perl"),
        { QStringLiteral("-MXBase::Index"), QStringLiteral("-e"),
            QStringLiteral("my $i = XBase::Index->new($ARGV[0], tag => $ARGV[1], type => 'C') or die "
                           "XBase::Index->errstr;"
                           "$i->prepare_select; while (my ($k, $v) = $i->fetch) { $k =~ s/[\\0 ]+$//; print "
                           "\"$k\\t$v\\n\"; }"),
            cdx, tag });
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning("perl: %s", p.readAllStandardError().constData());
        return { QStringLiteral("perl failed") };
    }
    return QString::fromLatin1(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The tag names Perl's XBase::Index finds in the index file's directory.
QStringList perlTagNames(const QString& cdx, const QString& anyTag)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/perl"),
        { QStringLiteral("-MXBase::Index"), QStringLiteral("-e"),
            QStringLiteral("my $i = XBase::Index->new($ARGV[0], tag => $ARGV[1], type => 'C') or die "
                           "XBase::Index->errstr; print join(',', $i->tags), \"\\n\";"),
            cdx, anyTag });
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return { QStringLiteral("perl failed: ") + QString::fromLocal8Bit(p.readAllStandardError()) };
    QStringList names = QString::fromLatin1(p.readAllStandardOutput()).trimmed().split(u',');
    names.sort();
    return names;
}

} // namespace

class tst_Schema : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    Connection connection;

    void addLog(const QString& table, const QString& date, const QString& time, const QString& user,
        const QString& must)
    {
        Table t;
        t.setConnection(connection);
        t.setTableName(table);
        t.open();
        t.append();
        t.setFieldText(QStringLiteral("DDATE"), date);
        t.setFieldText(QStringLiteral("DTIME"), time);
        t.setFieldText(QStringLiteral("USERNAME"), user);
        t.setFieldText(QStringLiteral("MUSTSEND"), must);
        t.setFieldText(QStringLiteral("MSG"), user + QStringLiteral(" at ") + time);
        t.post();
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

    void firstStart_data()
    {
        QTest::addColumn<const TableSchema*>("schema");
        QTest::addColumn<QString>("file"); // as created
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("tags"); // "NAME expression [unique]" in creation order
        QTest::addColumn<QString>("defaultTag");
        QTest::newRow("BUSERS") << &store::busersSchema() << "Busers.dbf"
                                << QStringList { "USERNAME C 30 0", "PAGERCOMP C 30 0", "GROUP C 12 0",
                                       "PAGER_ID C 12 0" }
                                << QStringList { "USERNAME USERNAME unique", "GROUP GROUP",
                                       "PAGERCOMP PAGERCOMP" }
                                << "USERNAME";
        QTest::newRow("PAGECOMP") << &store::pageCompSchema() << "PAGECOMP.dbf"
                                  << QStringList { "PAGERCOMP C 30 0", "HOST_TEL C 14 0", "HOST_SPEED C 5 0",
                                         "HOST_CHARS N 3 0", "HOST_PASSW C 10 0" }
                                  << QStringList { "PAGERCOMP PagerComp" } << "PAGERCOMP";
        QTest::newRow("GROUPS") << &store::groupsSchema() << "Groups.dbf"
                                << QStringList { "GROUP C 16 0", "GROUPEXTRA C 8 0" }
                                << QStringList { "GROUP_UNIQ GROUP unique" } << "GROUP_UNIQ";
        QTest::newRow("QUICKMSG") << &store::quickMsgSchema() << "QUICKMSG.dbf"
                                  << QStringList { "MSGTITLE C 16 0", "MSG M 10 0" } << QStringList {} << "";
        QTest::newRow("MODEMS") << &store::modemsSchema() << "Modems.dbf"
                                << QStringList { "MODEMS C 40 0", "INITSTR C 80 0", "PARAM2 C 80 0" }
                                << QStringList { "MODEMS Modems" } << "MODEMS";
        const QStringList log { "DDATE C 10 0", "DTIME C 14 0", "USERNAME C 30 0", "MUSTSEND C 1 0",
            "MSG M 10 0" };
        QTest::newRow("MSGLOG2") << &store::msgLogSchema() << "MSGLOG2.dbf" << log
                                 << QStringList { "BY_DATE DDATE", "BY_NAME USERNAME+DDATE" } << "BY_DATE";
        QTest::newRow("SCHEDMS2") << &store::schedMsgSchema() << "SCHEDMS2.dbf" << log
                                  << QStringList { "BY_SENTSTA MUSTSEND+DDATE+DTIME" } << "BY_SENTSTA";
        QTest::newRow("CARRPATH") << &store::carrPathSchema() << "CARRPATH.DBF"
                                  << QStringList { "PAGERCOMP C 30 0", "PATHNO C 2 0", "METHOD C 8 0",
                                         "ADDRESS C 120 0", "LOGIN C 40 0", "PASSWORD C 40 0",
                                         "MAXCHARS N 5 0", "ENABLED L 1 0" }
                                  << QStringList { "BY_CARRIER PAGERCOMP+PATHNO" } << "BY_CARRIER";
        QTest::newRow("DLVSTAT") << &store::dlvStatSchema() << "DLVSTAT.DBF"
                                 << QStringList { "LOGREC C 10 0", "PAGER_ID C 12 0", "USERNAME C 30 0",
                                        "METHOD C 8 0", "ADDRESS C 120 0", "TRACKING C 40 0", "STATUS C 10 0",
                                        "CHANGED C 19 0" }
                                 << QStringList { "BY_TRACK TRACKING", "BY_LOG LOGREC" } << "BY_TRACK";
        QTest::newRow("SOURCES") << &store::sourcesSchema() << "SOURCES.DBF"
                                 << QStringList { "SOURCE C 20 0", "KIND C 8 0", "SECRET C 64 0",
                                        "RECIPIENT C 40 0", "RATEMIN N 4 0", "ENABLED L 1 0" }
                                 << QStringList { "BY_SOURCE SOURCE unique" } << "BY_SOURCE";
        QTest::newRow("ALERTS") << &store::alertsSchema() << "ALERTS.DBF"
                                << QStringList { "ALERTKEY C 40 0", "SOURCE C 20 0", "STATE C 10 0",
                                       "SUMMARY C 120 0", "FIRST C 19 0", "LAST C 19 0", "COUNT N 6 0",
                                       "LOGREC C 10 0" }
                                << QStringList { "BY_KEY ALERTKEY" } << "BY_KEY";
    }
    void firstStart()
    {
        QFETCH(const TableSchema*, schema);
        QFETCH(QString, file);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, tags);
        QFETCH(QString, defaultTag);
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files.filter(QStringLiteral(".dbf"), Qt::CaseInsensitive).size(), 11);
        QCOMPARE(files.filter(QStringLiteral(".cdx"), Qt::CaseInsensitive).size(), 10);
        QCOMPARE(files.filter(QStringLiteral(".fpt"), Qt::CaseInsensitive).size(), 3);
        QVERIFY2(files.contains(file), qPrintable(files.join(u' ')));
        QCOMPARE(schema->defaultTag, defaultTag);

        Table t;
        t.setConnection(connection);
        t.setTableName(schema->openedAs);
        t.setIndexName(schema->defaultTag);
        t.open();
        QCOMPARE(fieldSummary(t.fields()), fields);
        QVERIFY(t.isEmpty());
        QStringList upper;
        for (const QString& tag : tags)
            upper << tag.section(u' ', 0, 0).toUpper();
        QCOMPARE(t.tagNames(), upper);
        t.close();
        if (tags.isEmpty()) {
            QVERIFY(!connection.exists(QStringLiteral("QUICKMSG.cdx")));
            return;
        }
        auto index = store::CdxIndex::open(
            connection.resolve(schema->indexLookedFor), store::CdxIndex::Access::Shared);
        QStringList found;
        for (store::CdxTag* tag : index->tags())
            found << QString::fromLatin1(
                tag->name() + ' ' + tag->expression() + (tag->unique() ? " unique" : ""));
        for (int i = 0; i < tags.size(); ++i)
            QCOMPARE(found[i].toUpper(), tags[i].toUpper());
        QCOMPARE(found.size(), tags.size());
        upper.sort();
        QCOMPARE(perlTagNames(connection.resolve(schema->indexLookedFor), upper.first()), upper);
    }

    // A folder of an older desk, the seven tables with records in them: the start adds the
    // new tables with their indexes, leaves every other file as it was, and is quiet about it.
    void olderFolderGainsNewTables()
    {
        store::CreateDatabase(connection);
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("Ann"), QString());
        {
            Table carriers;
            carriers.setConnection(connection);
            carriers.setTableName(QStringLiteral("PAGECOMP.DBF"));
            carriers.open();
            carriers.append();
            carriers.setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("Acme"));
            carriers.post();
        }
        const QStringList newFiles { "CARRPATH.DBF", "CARRPATH.CDX", "DLVSTAT.DBF", "DLVSTAT.CDX", "SOURCES.DBF",
            "SOURCES.CDX", "ALERTS.DBF", "ALERTS.CDX" };
        QDir d(dir.path());
        for (const QString& name : newFiles)
            QVERIFY2(QFile::remove(connection.resolve(name)), qPrintable(name));
        std::map<QString, QByteArray> before;
        for (const QString& name : d.entryList(QDir::Files)) {
            QFile f(d.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            before[name] = f.readAll();
        }
        QCOMPARE(before.size(), size_t(7 + 6 + 3));

        QCOMPARE(store::CreateDatabase(connection), QStringList());
        QStringList added = d.entryList(QDir::Files);
        for (const auto& [name, bytes] : before) {
            QFile f(d.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY2(f.readAll() == bytes, qPrintable(name));
            added.removeOne(name);
        }
        for (QString& name : added)
            name = name.toUpper();
        added.sort();
        QCOMPARE(added,
            (QStringList { "ALERTS.CDX", "ALERTS.DBF", "CARRPATH.CDX", "CARRPATH.DBF", "DLVSTAT.CDX", "DLVSTAT.DBF",
                "SOURCES.CDX", "SOURCES.DBF" }));

        // The new tables work with their tags, in the order an independent reader sees too.
        Table paths;
        paths.setConnection(connection);
        paths.setTableName(QStringLiteral("carrpath.dbf"));
        paths.setIndexName(store::carrPathSchema().defaultTag);
        paths.open();
        for (const char* row : { "Zed|02", "Acme|02", "Acme|01" }) {
            const QStringList parts = QString::fromLatin1(row).split(u'|');
            paths.append();
            paths.setFieldText(QStringLiteral("PAGERCOMP"), parts[0]);
            paths.setFieldText(QStringLiteral("PATHNO"), parts[1]);
            paths.setFieldBool(QStringLiteral("ENABLED"), true);
            paths.post();
        }
        paths.close();
        QCOMPARE(perlTag(connection.resolve(QStringLiteral("CARRPATH.CDX")), QStringLiteral("BY_CARRIER")),
            (QStringList { QStringLiteral("Acme").leftJustified(30, u' ') + "01\t3",
                QStringLiteral("Acme").leftJustified(30, u' ') + "02\t2",
                QStringLiteral("Zed").leftJustified(30, u' ') + "02\t1" }));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
    }

    void existingTableKept()
    {
        store::CreateDatabase(connection);
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("Ann"), QString());
        const QByteArray before = [&] {
            QFile f(connection.resolve(QStringLiteral("MsgLog2.dbf")));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        QFile f(connection.resolve(QStringLiteral("MsgLog2.dbf")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }

    void missingIndexRebuilt()
    {
        store::CreateDatabase(connection);
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/03/01"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("Cid"), QString());
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/01"), QStringLiteral("10:00:00 AM"),
            QStringLiteral("Ann"), QString());
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/02/01"), QStringLiteral("11:00:00 AM"),
            QStringLiteral("Bob"), QString());
        QVERIFY(QFile::remove(connection.resolve(QStringLiteral("MsgLog2.cdx"))));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        const QString cdx = connection.resolve(QStringLiteral("MsgLog2.cdx"));
        const QString dbf = connection.resolve(QStringLiteral("MsgLog2.dbf"));
        QCOMPARE(tagcheck::entriesOf(cdx, "BY_DATE"), tagcheck::rebuildOf(dbf, "DDATE", false));
        QCOMPARE(tagcheck::entriesOf(cdx, "BY_NAME"), tagcheck::rebuildOf(dbf, "USERNAME+DDATE", false));
        QCOMPARE(tagcheck::entriesOf(cdx, "BY_DATE").size(), size_t(3));
        // An independent reader sees the same tags.
        QCOMPARE(perlTag(cdx, QStringLiteral("BY_DATE")),
            (QStringList { "2024/01/01\t2", "2024/02/01\t3", "2024/03/01\t1" }));
        QCOMPARE(perlTag(cdx, QStringLiteral("BY_NAME")),
            (QStringList { QStringLiteral("Ann").leftJustified(30, u' ') + "2024/01/01\t2",
                QStringLiteral("Bob").leftJustified(30, u' ') + "2024/02/01\t3",
                QStringLiteral("Cid").leftJustified(30, u' ') + "2024/03/01\t1" }));
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.setIndexName(QStringLiteral("BY_DATE"));
        t.open();
        QStringList users;
        for (t.first(); !t.eof(); t.next())
            users << t.fieldText(QStringLiteral("USERNAME"));
        QCOMPARE(users, (QStringList { "Ann", "Bob", "Cid" }));
    }

    void staleIndexBesideMissingTable()
    {
        store::CreateDatabase(connection);
        addLog(QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00"),
            QStringLiteral("Ann"), QStringLiteral("Y"));
        QVERIFY(QFile::remove(connection.resolve(QStringLiteral("SchedMs2.dbf"))));
        QVERIFY(connection.exists(QStringLiteral("SchedMs2.cdx")));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("SCHEDMS2.dbf"));
        t.setIndexName(QStringLiteral("BY_SENTSTA"));
        t.open();
        QVERIFY(t.isEmpty());
        QCOMPARE(tagcheck::entriesOf(connection.resolve(QStringLiteral("SchedMs2.cdx")), "BY_SENTSTA").size(),
            size_t(0));
        addLog(QStringLiteral("SCHEDMS2.dbf"), QStringLiteral("2024/01/03"), QStringLiteral("09:00:00"),
            QStringLiteral("Bob"), QStringLiteral("Y"));
        t.refresh();
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Bob"));
    }

    void damagedTableNamed_data()
    {
        QTest::addColumn<int>("cut"); // bytes cut from the end
        QTest::addColumn<int>("count"); // record count written into the header, -1 kept
        QTest::newRow("truncated by more than a record") << 150 << -1;
        QTest::newRow("count disagrees") << 0 << 7;
    }
    void damagedTableNamed()
    {
        QFETCH(int, cut);
        QFETCH(int, count);
        store::CreateDatabase(connection);
        for (int i = 0; i < 3; ++i)
            addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00 AM"),
                QStringLiteral("U%1").arg(i), QString());
        const QString path = connection.resolve(QStringLiteral("MsgLog2.dbf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        bytes.chop(cut);
        if (count >= 0)
            bytes[4] = char(count);
        f.resize(0);
        f.seek(0);
        f.write(bytes);
        f.close();
        QVERIFY(QFile::remove(connection.resolve(QStringLiteral("MsgLog2.cdx"))));
        try {
            store::CreateDatabase(connection);
            QFAIL("a damaged table must be reported");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("MSGLOG2.dbf")), qPrintable(e.message()));
        }
    }

    void damagedIndexReportedAndRebuilt()
    {
        store::CreateDatabase(connection);
        Table users;
        users.setConnection(connection);
        users.setTableName(QStringLiteral("BUSERS.DBF"));
        users.open();
        for (const char* name : { "Cid", "Ann", "Bob" }) {
            users.append();
            users.setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(name));
            users.post();
        }
        users.close();
        const QString cdx = connection.resolve(QStringLiteral("Busers.cdx"));
        QFile f(cdx);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.size() > 2048);
        f.seek(f.size() - 400); // inside the last tree page: key bytes
        f.write(QByteArray(400, '\xAB'));
        f.seek(1024 + 512); // and the first tag's tree
        f.write(QByteArray(24, '\xFF'));
        f.close();
        const QStringList problems = store::CreateDatabase(connection);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QStringLiteral("Busers.cdx")), qPrintable(problems[0]));
        const QString dbf = connection.resolve(QStringLiteral("BUSERS.DBF"));
        QCOMPARE(tagcheck::entriesOf(cdx, "USERNAME"), tagcheck::rebuildOf(dbf, "USERNAME", true));
        QCOMPARE(tagcheck::entriesOf(cdx, "GROUP"), tagcheck::rebuildOf(dbf, "GROUP", false));
        QCOMPARE(tagcheck::entriesOf(cdx, "PAGERCOMP").size(), size_t(3));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
    }

    // Indexes that pass the structural check but disagree with their records: rebuilt, told once,
    // and every record is seen again in tag order.
    void indexDisagreesWithRecords_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("damage");
        QTest::newRow("users index lags its table") << "BUSERS.DBF"
                                                    << "lag";
        QTest::newRow("log index lags its table") << "MSGLOG2.dbf"
                                                  << "lag";
        QTest::newRow("record number changed in a users leaf") << "BUSERS.DBF"
                                                               << "recno";
        // A change under way, as this program marked it before its mark moved to bytes 24 to 27.
        QTest::newRow("log index marked at the mark's old place") << "MSGLOG2.dbf"
                                                                  << "old-mark";
    }
    void indexDisagreesWithRecords()
    {
        QFETCH(QString, table);
        QFETCH(QString, damage);
        const bool users = table == u"BUSERS.DBF";
        store::CreateDatabase(connection);
        const QString cdx
            = connection.resolve(users ? QStringLiteral("Busers.cdx") : QStringLiteral("MsgLog2.cdx"));
        const QString dbf
            = connection.resolve(users ? QStringLiteral("Busers.dbf") : QStringLiteral("MsgLog2.dbf"));
        const auto add = [&](int from, int to) {
            for (int i = from; i < to; ++i) {
                if (!users) {
                    addLog(table, QStringLiteral("2024/01/0%1").arg(1 + i), QStringLiteral("09:00:00 AM"),
                        QStringLiteral("U%1").arg(i), QString());
                    continue;
                }
                Table t;
                t.setConnection(connection);
                t.setTableName(table);
                t.open();
                t.append();
                t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("User %1").arg(i));
                t.post();
            }
        };
        add(0, 5);
        QFile f(cdx);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray image = f.readAll(); // the index of 5 records
        add(5, 8);
        if (damage == u"recno") {
            // Another program rewrote one entry's record number: the first tag's only leaf (the
            // root) follows its header; its first entry's record number is in its low bits.
            f.seek(0);
            image = f.readAll();
            const int leaf = int(tagcheck::le32(image, 1536));
            image[leaf + 24] = char(image[leaf + 24] ^ 0x06);
        } else if (damage == u"old-mark") {
            f.seek(0);
            image = f.readAll();
            image.replace(16, 4, "TIRW"); // 0x57524954, little-endian
        }
        // The index as another program left it.
        f.seek(0);
        f.write(image);
        f.resize(image.size());
        f.close();
        const QStringList problems = store::CreateDatabase(connection);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QFileInfo(cdx).fileName()), qPrintable(problems[0]));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        QByteArray tag = users ? "USERNAME" : "BY_DATE";
        QCOMPARE(
            tagcheck::entriesOf(cdx, tag), tagcheck::rebuildOf(dbf, users ? "USERNAME" : "DDATE", users));
        Table t;
        t.setConnection(connection);
        t.setTableName(table);
        t.setIndexName(QString::fromLatin1(tag));
        t.open();
        int seen = 0;
        for (t.first(); !t.eof(); t.next())
            ++seen;
        QCOMPARE(seen, 8);
    }

    // A memo file whose next free block lies past its end or inside its header: corrected at
    // start and told once; the next memo goes to the end of the file and no memo is overwritten.
    void memoHeaderCorrected_data()
    {
        QTest::addColumn<quint32>("nextFree");
        QTest::newRow("past the end") << 0xFFFFFFFFu;
        QTest::newRow("inside the header") << 1u;
    }
    void memoHeaderCorrected()
    {
        QFETCH(quint32, nextFree);
        store::CreateDatabase(connection);
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/01"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("First"), QString());
        const QString fpt = connection.resolve(QStringLiteral("MsgLog2.fpt"));
        const qint64 size = QFileInfo(fpt).size();
        QFile f(fpt);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const char word[4]
            = { char(nextFree >> 24), char(nextFree >> 16), char(nextFree >> 8), char(nextFree) };
        f.write(word, 4);
        f.close();
        const QStringList problems = store::CreateDatabase(connection);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QStringLiteral("MsgLog2.fpt"), Qt::CaseInsensitive),
            qPrintable(problems[0]));
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("Second"), QString());
        QCOMPARE(QFileInfo(fpt).size(), 2 * size - 512);
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        QStringList memos;
        for (t.first(); !t.eof(); t.next())
            memos << t.fieldText(QStringLiteral("MSG"));
        QCOMPARE(memos, QStringList({ "First at 09:00:00 AM", "Second at 09:00:00 AM" }));
    }

    // A file of the log cut short by a power loss: a table whose last counted record is cut opens
    // with its complete records; a memo file shorter than what its records point to gets its new
    // memos after those blocks, so no older record reads another's, also through a handle that
    // never ran the start-up step (the header's next free block keeps them). A memo file that ends
    // with its last memo's bytes, the rest of that block missing (other engines write no padding),
    // is sound. What was mended is said once; the records read, and the index equals its rebuild,
    // after a new record.
    void cutLogFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("cut"); // bytes cut from the end
        QTest::addColumn<bool>("startUp"); // the start-up step runs after the cut
        QTest::addColumn<QString>("said"); // "": nothing
        QTest::addColumn<QStringList>("records"); // USERNAME=MSG after Dan's record was added
        const QStringList cidLost { "Ann=Ann at 09:00:00 AM", "Bob=Bob at 09:00:00 AM", "Cid=",
            "Dan=Dan at 09:00:00 AM" };
        QTest::newRow("last record cut") << "MsgLog2.dbf" << 30 << true << "its last record was cut short"
                                         << QStringList { "Ann=Ann at 09:00:00 AM", "Bob=Bob at 09:00:00 AM",
                                                "Dan=Dan at 09:00:00 AM" };
        QTest::newRow("memo file shorter than its references")
            << "MsgLog2.fpt" << 64 << true << "shorter than its records' references" << cidLost;
        QTest::newRow("memo file cut, no start-up step") << "MsgLog2.fpt" << 64 << false << "" << cidLost;
        // Cid's memo takes 8 + 18 bytes of its 64-byte block.
        QTest::newRow("last memo block ends after its text")
            << "MsgLog2.fpt" << 38 << true << ""
            << QStringList { "Ann=Ann at 09:00:00 AM", "Bob=Bob at 09:00:00 AM", "Cid=Cid at 09:00:00 AM",
                   "Dan=Dan at 09:00:00 AM" };
    }
    void cutLogFile()
    {
        QFETCH(QString, file);
        QFETCH(int, cut);
        QFETCH(bool, startUp);
        QFETCH(QString, said);
        QFETCH(QStringList, records);
        store::CreateDatabase(connection);
        for (const char* user : { "Ann", "Bob", "Cid" })
            addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/01"), QStringLiteral("09:00:00 AM"),
                QString::fromLatin1(user), QString());
        QFile f(connection.resolve(file));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(f.size() - cut));
        f.close();
        if (startUp) {
            const QStringList problems = store::CreateDatabase(connection);
            if (said.isEmpty())
                QCOMPARE(problems, QStringList());
            else
                QVERIFY2(problems.filter(said).size() == 1
                        && problems.filter(said).constFirst().contains(file, Qt::CaseInsensitive),
                    qPrintable(problems.join(u'|')));
            QCOMPARE(store::CreateDatabase(connection), QStringList());
        }
        addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/02"), QStringLiteral("09:00:00 AM"),
            QStringLiteral("Dan"), QString());
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        QStringList shown;
        for (t.first(); !t.eof(); t.next())
            shown << t.fieldText(QStringLiteral("USERNAME")) + u'=' + t.fieldText(QStringLiteral("MSG"));
        QCOMPARE(shown, records);
        QCOMPARE(tagcheck::entriesOf(connection.resolve(QStringLiteral("MsgLog2.cdx")), "BY_NAME"),
            tagcheck::rebuildOf(connection.resolve(QStringLiteral("MsgLog2.dbf")), "USERNAME+DDATE", false));
    }

    // A record that a writer wrote but did not count before it stopped is adopted at start, with
    // its keys; the end-of-file mark stays where independent readers look for it.
    void uncountedRecordAdopted()
    {
        store::CreateDatabase(connection);
        for (const char* user : { "Ann", "Bob" })
            addLog(QStringLiteral("MSGLOG2.dbf"), QStringLiteral("2024/01/01"), QStringLiteral("09:00:00 AM"),
                QString::fromLatin1(user), QString());
        const QString dbf = connection.resolve(QStringLiteral("MsgLog2.dbf"));
        QFile f(dbf);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(4);
        f.write(QByteArray("\x01", 1)); // the count before the second append was published
        f.close();
        const QStringList problems = store::CreateDatabase(connection);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QStringLiteral("adopted")), qPrintable(problems[0]));
        QCOMPARE(tagcheck::entriesOf(connection.resolve(QStringLiteral("MsgLog2.cdx")), "BY_NAME"),
            tagcheck::rebuildOf(dbf, "USERNAME+DDATE", false));
        QCOMPARE(tagcheck::rebuildOf(dbf, "USERNAME+DDATE", false).size(), size_t(2));
    }

    // An index whose tags the table could not use (a key of fields it lacks) is rebuilt too.
    void foreignIndexRebuilt()
    {
        store::CreateDatabase(connection);
        const QString cdx = connection.resolve(QStringLiteral("Modems.cdx"));
        {
            auto index = store::CdxIndex::create(cdx, store::CdxIndex::Access::Exclusive);
            index->addTag(
                "MODEMS", "Modems", 40, false, 0, [](uint32_t) { return QByteArray(40, ' '); },
                [](uint32_t) { return false; });
            index->addTag(
                "OTHER", "NOSUCH", 5, false, 0, [](uint32_t) { return QByteArray(5, ' '); },
                [](uint32_t) { return false; });
        }
        const QStringList problems = store::CreateDatabase(connection);
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems[0].contains(QStringLiteral("NOSUCH"))
                && problems[0].contains(QStringLiteral("Modems.cdx")),
            qPrintable(problems[0]));
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MODEMS.DBF"));
        t.setIndexName(QStringLiteral("MODEMS"));
        t.open();
        QCOMPARE(t.tagNames(), QStringList { QStringLiteral("MODEMS") });
    }

    // A damaged table is reported as such, and its index file is left alone.
    void damagedTableKeepsIndex()
    {
        store::CreateDatabase(connection);
        const QString path = connection.resolve(QStringLiteral("Groups.dbf"));
        QFile f(path);
        QVERIFY(f.resize(20));
        const qint64 cdxSize = QFileInfo(connection.resolve(QStringLiteral("Groups.cdx"))).size();
        try {
            store::CreateDatabase(connection);
            QFAIL("a damaged table must be reported");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("Groups.dbf")), qPrintable(e.message()));
        }
        QCOMPARE(QFileInfo(connection.resolve(QStringLiteral("Groups.cdx"))).size(), cdxSize);
    }

    void uniqueUsersAndGroups()
    {
        store::CreateDatabase(connection);
        Table groups;
        groups.setConnection(connection);
        groups.setTableName(QStringLiteral("groups.dbf"));
        groups.setIndexName(QStringLiteral("group_uniq"));
        groups.open();
        for (const char* g : { "Ops", "Admin", "Ops" }) {
            groups.append();
            groups.setFieldText(QStringLiteral("GROUP"), QString::fromLatin1(g));
            groups.setFieldText(QStringLiteral("GROUPEXTRA"), QString::number(groups.recordCount() + 1));
            groups.post();
        }
        QStringList seen;
        for (groups.first(); !groups.eof(); groups.next())
            seen << groups.fieldText(QStringLiteral("GROUP"))
                    + groups.fieldText(QStringLiteral("GROUPEXTRA"));
        QCOMPARE(seen, (QStringList { "Admin2", "Ops1" }));
        QCOMPARE(groups.recordCount(), 3u);
        const QString cdx = connection.resolve(QStringLiteral("Groups.cdx"));
        groups.close();
        QCOMPARE(perlTag(cdx, QStringLiteral("GROUP_UNIQ")), (QStringList { "Admin\t2", "Ops\t1" }));
    }

    // A unique tag kept by the other engines' rule (a key's lowest-numbered record, deleted or not)
    // is no damage: kept as it is, and the live record of such a key is still found through it.
    // This program's own changes then follow its own rule (the lowest-numbered live record).
    void uniqueTagOfOtherEngines()
    {
        store::CreateDatabase(connection);
        const QString dbf = connection.resolve(QStringLiteral("Groups.dbf"));
        const QString cdx = connection.resolve(QStringLiteral("Groups.cdx"));
        {
            Table groups;
            groups.setConnection(connection);
            groups.setTableName(QStringLiteral("Groups.dbf"));
            groups.open();
            for (const char* g : { "Ops", "Admin", "Ops" }) {
                groups.append();
                groups.setFieldText(QStringLiteral("GROUP"), QString::fromLatin1(g));
                groups.setFieldText(QStringLiteral("GROUPEXTRA"), QString::number(groups.recordCount() + 1));
                groups.post();
            }
            groups.first();
            groups.deleteRecord(); // the first "Ops"
        }
        {
            // The tag as another engine builds it.
            store::DbfFile table(dbf, true);
            const store::KeyExpression key("GROUP", table.fields(), dbf);
            auto index = store::CdxIndex::open(cdx, store::CdxIndex::Access::Shared);
            QByteArray record(table.recordLength(), '\0');
            index->addTag("GROUP_UNIQ", "GROUP", key.keyLength(), true, table.recordCount(),
                [&](uint32_t r) {
                    table.readRecord(r, record.data());
                    return key.keyOf(record.constData());
                },
                [](uint32_t) { return false; });
        }
        const auto entries = [&] {
            QStringList out;
            for (const auto& [k, r] : tagcheck::entriesOf(cdx, "GROUP_UNIQ"))
                out << QString::fromLatin1(k).trimmed() + QString::number(r);
            return out;
        };
        QCOMPARE(entries(), (QStringList { "Admin2", "Ops1" }));
        QFile file(cdx);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray image = file.readAll();
        file.close();
        QCOMPARE(store::CreateDatabase(connection), QStringList());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), image);
        file.close();

        Table groups;
        groups.setConnection(connection);
        groups.setTableName(QStringLiteral("Groups.dbf"));
        groups.setIndexName(QStringLiteral("GROUP_UNIQ"));
        groups.open();
        const auto shown = [&](bool backwards) {
            QStringList out;
            for (backwards ? groups.last() : groups.first(); !(backwards ? groups.bof() : groups.eof());
                 backwards ? groups.prior() : groups.next())
                out << groups.fieldText(QStringLiteral("GROUP")) + groups.fieldText(QStringLiteral("GROUPEXTRA"));
            return out;
        };
        QCOMPARE(shown(false), (QStringList { "Admin2", "Ops3" }));
        QCOMPARE(shown(true), (QStringList { "Ops3", "Admin2" }));
        QVERIFY(groups.seek("Ops"));
        QCOMPARE(groups.recNo(), 3u);
        QVERIFY(groups.locate(QStringLiteral("GROUP"), QStringLiteral("Ops")));
        QCOMPARE(groups.recNo(), 3u);
        QCOMPARE(groups.entryNumber(), 1u);

        groups.append();
        groups.setFieldText(QStringLiteral("GROUP"), QStringLiteral("Ops"));
        groups.post();
        QCOMPARE(entries(), (QStringList { "Admin2", "Ops3" }));
        groups.close();
        QCOMPARE(store::CreateDatabase(connection), QStringList());
    }

    void scheduleOrder()
    {
        store::CreateDatabase(connection);
        const QString table = QStringLiteral("SCHEDMS2.dbf");
        addLog(table, QStringLiteral("2024/01/02"), QStringLiteral("13:30:00"), QStringLiteral("late"),
            QStringLiteral("Y"));
        addLog(table, QStringLiteral("2024/01/01"), QStringLiteral("23:00:00"), QStringLiteral("held"),
            QStringLiteral("N"));
        addLog(table, QStringLiteral("2024/01/02"), QStringLiteral("09:00:00"), QStringLiteral("early"),
            QStringLiteral("Y"));
        addLog(table, QStringLiteral("2023/12/31"), QStringLiteral("18:00:00"), QStringLiteral("first"),
            QStringLiteral("Y"));
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("SchedMs2.dbf"));
        t.setIndexName(QStringLiteral("BY_SENTSTA"));
        t.open();
        QStringList order;
        for (t.first(); !t.eof(); t.next())
            order << t.fieldText(QStringLiteral("USERNAME"));
        QCOMPARE(order, (QStringList { "held", "first", "early", "late" }));
        // The due-message scan: seek the waiting ones.
        QVERIFY(!t.seek("Y2024/01/02"));
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("early"));
    }

    void indexStepRestoresHandle()
    {
        store::CreateDatabase(connection);
        Table t;
        t.setIndexName(QStringLiteral("whatever"));
        store::Index_MsgLog(t, connection);
        QVERIFY(!t.isOpen());
        QVERIFY(!t.exclusive());
        QCOMPARE(t.indexName(), QStringLiteral("BY_DATE"));
        t.open();
        QCOMPARE(t.tagNames(), (QStringList { "BY_DATE", "BY_NAME" }));
    }
};

QTEST_GUILESS_MAIN(tst_Schema)
#include "tst_schema.moc"
