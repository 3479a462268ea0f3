// Files this store writes, read by independent xBase readers (Debian's python3-dbfread and Perl's
// XBase module), files another writer (python3-dbf) made, read by this store, and two processes
// appending to, or appending, editing and deleting in, one table at once.
#include "store/cdxindex.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"
#include "userfields.h"
#include "writerchild.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <map>

using store::Connection;
using store::Table;

namespace {

const QString kLogFields = QStringLiteral("DDATE,C,10;DTIME,C,14;USERNAME,C,30;MUSTSEND,C,1;MSG,M;");
const QString kPython = QStringLiteral("/usr/bin/python3");

QByteArray runPython(const QString& script, const QStringList& args)
{
    QProcess p;
    p.start(kPython, QStringList { QStringLiteral("-c"), script } + args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("python failed: %s", p.readAllStandardError().constData());
        return {};
    }
    return p.readAllStandardOutput();
}

// Child mode: appends `count` log records named after `tag` to the table in `folder`.
int appendChild(const QString& folder, const QString& tag, int count)
{
    try {
        Table t;
        t.setConnection(Connection(folder));
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        for (int i = 0; i < count; ++i) {
            t.append();
            t.setFieldText(QStringLiteral("DDATE"),
                QStringLiteral("2024/01/%1").arg(1 + i % 28, 2, 10, QLatin1Char('0')));
            t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("%1 %2").arg(tag).arg(i));
            t.setFieldText(QStringLiteral("MSG"), QStringLiteral("%1 message %2").arg(tag).arg(i));
            t.post();
        }
        return 0;
    } catch (const store::StoreError& e) {
        fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

// Child mode: adds, renames and deletes users of a few names in BUSERS.DBF, whose USERNAME tag is
// unique, so that two processes keep competing for the same keys.
int usersChild(const QString& folder, int seed, int count)
{
    try {
        Table t;
        t.setConnection(Connection(folder));
        t.setTableName(QStringLiteral("BUSERS.DBF"));
        t.setIndexName(QStringLiteral("USERNAME"));
        t.open();
        QRandomGenerator rng { uint32_t(seed) };
        const auto name = [&] { return QStringLiteral("U%1").arg(rng.bounded(8)); };
        for (int i = 0; i < count; ++i) {
            const int what = rng.bounded(4);
            try {
                if (what == 0 || !t.locate(QStringLiteral("USERNAME"), name())) {
                    t.append();
                    t.setFieldText(QStringLiteral("USERNAME"), name());
                    t.setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("C%1").arg(rng.bounded(3)));
                    t.post();
                } else if (what == 1) {
                    t.edit();
                    t.setFieldText(QStringLiteral("USERNAME"), name());
                    t.post();
                } else {
                    t.deleteRecord();
                }
            } catch (const store::StoreError& e) {
                // The other process deleted the record found a moment ago: the operator would be
                // told so and go on.
                if (!e.message().contains(QStringLiteral("deleted by another user")))
                    throw;
                t.cancel();
            }
        }
        return 0;
    } catch (const store::StoreError& e) {
        fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

} // namespace

class tst_Interop : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    Connection connection;

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        const QDir d(dir.path());
        for (const QString& f : d.entryList(QDir::Files))
            QFile::remove(d.filePath(f));
        connection.setFolder(dir.path());
    }

    void ourTableReadByDbfread()
    {
        connection.createTable(QStringLiteral("MSGLOG2.dbf"), kLogFields);
        const QStringList names { QStringLiteral("Ann"), QString::fromUtf8("Zoë “Z” €"),
            QStringLiteral("Gone"), QStringLiteral("Group: Ops") };
        {
            Table t;
            t.setConnection(connection);
            t.setTableName(QStringLiteral("MsgLog2.DBF"));
            t.open();
            for (const QString& name : names) {
                t.append();
                t.setFieldText(QStringLiteral("DDATE"), QStringLiteral("2024/01/02"));
                t.setFieldText(QStringLiteral("DTIME"), QStringLiteral("09:00:00 AM"));
                t.setFieldText(QStringLiteral("USERNAME"), name);
                t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("to ") + name, QString(200, u'.') });
                t.post();
            }
            QVERIFY(t.locate(QStringLiteral("USERNAME"), QStringLiteral("Gone")));
            t.deleteRecord();
        }
        const QString script = QStringLiteral(R"(
import json, sys
from dbfread import DBF
t = DBF(sys.argv[1], encoding='cp1252', char_decode_errors='strict')
live = [dict(r) for r in t]
dead = [dict(r) for r in t.deleted]
print(json.dumps({'live': live, 'dead': dead, 'version': t.header.dbversion}))
)");
        const QByteArray out = runPython(script, { dir.filePath(QStringLiteral("MSGLOG2.dbf")) });
        QVERIFY(!out.isEmpty());
        const QJsonObject doc = QJsonDocument::fromJson(out).object();
        QCOMPARE(doc.value(QStringLiteral("version")).toInt(), 0xF5);
        const QJsonArray live = doc.value(QStringLiteral("live")).toArray();
        const QJsonArray dead = doc.value(QStringLiteral("dead")).toArray();
        QCOMPARE(live.size(), 3);
        QCOMPARE(dead.size(), 1);
        QCOMPARE(dead[0].toObject().value(QStringLiteral("USERNAME")).toString(), QStringLiteral("Gone"));
        const QStringList liveNames { names[0], names[1], names[3] };
        for (int i = 0; i < 3; ++i) {
            const QJsonObject r = live[i].toObject();
            QCOMPARE(r.value(QStringLiteral("USERNAME")).toString(), liveNames[i]);
            QCOMPARE(r.value(QStringLiteral("DTIME")).toString(), QStringLiteral("09:00:00 AM"));
            QCOMPARE(r.value(QStringLiteral("MUSTSEND")).toString(), QString());
            QCOMPARE(r.value(QStringLiteral("MSG")).toString(),
                QStringLiteral("to ") + liveNames[i] + QStringLiteral("\r\n") + QString(200, u'.'));
        }
    }

    void pythonDbfTableReadByUs()
    {
        const QString script = QStringLiteral(R"(
import sys, dbf
t = dbf.Table(sys.argv[1], 'NAME C(30); MSG M', dbf_type='fp', codepage='cp1252')
t.open(mode=dbf.READ_WRITE)
t.append(('Ann', 'hello\r\nworld'))
t.append(('Gone', 'deleted'))
t.append(('B\u00f8b \u20ac', 'x' * 300))
t.append(('Empty', ''))
with t[1] as r:
    dbf.delete(r)
t.close()
)");
        runPython(script, { dir.filePath(QStringLiteral("people.dbf")) });
        QVERIFY(connection.exists(QStringLiteral("PEOPLE.DBF")));
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("PEOPLE.DBF"));
        t.open();
        QCOMPARE(t.recordCount(), 4u);
        QStringList names;
        QStringList memos;
        for (t.first(); !t.eof(); t.next()) {
            names << t.fieldText(QStringLiteral("name"));
            memos << t.fieldText(QStringLiteral("MSG"));
        }
        QCOMPARE(names,
            (QStringList { QStringLiteral("Ann"), QString::fromUtf8("Bøb €"), QStringLiteral("Empty") }));
        QCOMPARE(memos, (QStringList { QStringLiteral("hello\r\nworld"), QString(300, u'x'), QString() }));
        // And we can add to it.
        t.append();
        t.setFieldText(QStringLiteral("NAME"), QStringLiteral("Added"));
        t.setFieldText(QStringLiteral("MSG"), QStringLiteral("by us"));
        t.post();
        t.close();
        const QByteArray out = runPython(QStringLiteral(R"(
import sys
from dbfread import DBF
print('|'.join(r['NAME'] + '=' + r['MSG'] for r in DBF(sys.argv[1], encoding='cp1252')))
)"),
            { dir.filePath(QStringLiteral("people.dbf")) });
        QVERIFY2(out.trimmed().endsWith("Added=by us"), out.constData());
    }

    void twoProcessesAppend()
    {
        connection.createTable(QStringLiteral("MSGLOG2.dbf"), kLogFields);
        {
            Table t;
            t.setConnection(connection);
            t.setTableName(QStringLiteral("MSGLOG2.dbf"));
            t.setExclusive(true);
            t.open();
            t.addTag(QStringLiteral("MsgLog2"), QStringLiteral("BY_DATE"), QStringLiteral("DDATE"), false);
            t.addTag(QStringLiteral("MsgLog2"), QStringLiteral("BY_NAME"), QStringLiteral("USERNAME+DDATE"),
                false);
        }
        const int perChild = 10000;
        QProcess a;
        QProcess b;
        const QString self = QCoreApplication::applicationFilePath();
        a.start(self,
            { QStringLiteral("--append-child"), dir.path(), QStringLiteral("A"), QString::number(perChild) });
        b.start(self,
            { QStringLiteral("--append-child"), dir.path(), QStringLiteral("B"), QString::number(perChild) });
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QVERIFY2(a.exitCode() == 0, a.readAllStandardError().constData());
        QVERIFY2(b.exitCode() == 0, b.readAllStandardError().constData());

        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        QCOMPARE(int(t.recordCount()), 2 * perChild);
        QSet<QString> seen;
        std::vector<std::pair<QByteArray, uint32_t>> byDate;
        std::vector<std::pair<QByteArray, uint32_t>> byName;
        for (t.first(); !t.eof(); t.next()) {
            const QString name = t.fieldText(QStringLiteral("USERNAME"));
            QCOMPARE(
                t.fieldText(QStringLiteral("MSG")), name.left(1) + QStringLiteral(" message ") + name.mid(2));
            seen.insert(name);
            const QByteArray date = t.fieldText(QStringLiteral("DDATE")).toLatin1();
            byDate.emplace_back(date, t.recNo());
            byName.emplace_back(name.toLatin1().leftJustified(30, ' ') + date, t.recNo());
        }
        QCOMPARE(seen.size(), 2 * perChild);
        t.close();
        // Both tags equal what a rebuild from the records would hold.
        std::sort(byDate.begin(), byDate.end());
        std::sort(byName.begin(), byName.end());
        auto index = store::CdxIndex::open(
            connection.resolve(QStringLiteral("MSGLOG2.cdx")), store::CdxIndex::Access::Shared);
        index->verify();
        for (const auto& [tagName, expected] :
            { std::pair { "BY_DATE", &byDate }, std::pair { "BY_NAME", &byName } }) {
            store::CdxTag* tag = index->findTag(tagName);
            QVERIFY(tag);
            store::CdxEntry e;
            size_t i = 0;
            for (bool ok = tag->first(e); ok; ok = tag->next(e), ++i) {
                QVERIFY(i < expected->size());
                QCOMPARE(e.key, (*expected)[i].first);
                QCOMPARE(e.recno, (*expected)[i].second);
            }
            QCOMPARE(i, expected->size());
        }
    }

    // Both processes append, edit keys and delete at once: every record either appended is there
    // with its memo, the count is the sum, and both tags equal their rebuilds.
    void twoProcessesChurn()
    {
        store::CreateDatabase(connection);
        const QString self = QCoreApplication::applicationFilePath();
        QProcess a;
        QProcess b;
        a.start(
            self, { QStringLiteral("--churn-child"), dir.path(), QStringLiteral("A"), QStringLiteral("11") });
        b.start(
            self, { QStringLiteral("--churn-child"), dir.path(), QStringLiteral("B"), QStringLiteral("12") });
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QVERIFY2(a.exitCode() == 0, a.readAllStandardError().constData());
        QVERIFY2(b.exitCode() == 0, b.readAllStandardError().constData());
        std::map<uint32_t, QString> appended;
        for (QProcess* p : { &a, &b })
            for (const QByteArray& line : p->readAllStandardOutput().split('\n'))
                if (line.startsWith("A "))
                    QVERIFY(
                        appended.emplace(line.split(' ')[1].toUInt(), QString::fromLatin1(line.split(' ')[2]))
                            .second);
        QVERIFY(appended.size() > 2000);

        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGLOG2.dbf"));
        t.open();
        QCOMPARE(size_t(t.recordCount()), appended.size());
        size_t live = 0;
        for (t.first(); !t.eof(); t.next(), ++live)
            QCOMPARE(t.fieldText(QStringLiteral("MSG")), appended[t.recNo()]);
        QVERIFY(live < appended.size()); // some were deleted
        t.close();
        const QString cdx = connection.resolve(QStringLiteral("MsgLog2.cdx"));
        const QString dbf = connection.resolve(QStringLiteral("MsgLog2.dbf"));
        QCOMPARE(tagcheck::entriesOf(cdx, "BY_DATE"), tagcheck::rebuildOf(dbf, "DDATE", false));
        QCOMPARE(tagcheck::entriesOf(cdx, "BY_NAME"), tagcheck::rebuildOf(dbf, "USERNAME+DDATE", false));
    }

    void twoProcessesShareUniqueTag()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        {
            Table t;
            t.setConnection(connection);
            t.setTableName(QStringLiteral("BUSERS.DBF"));
            t.setExclusive(true);
            t.open();
            t.addTag(QStringLiteral("Busers"), QStringLiteral("USERNAME"), QStringLiteral("USERNAME"), true);
            t.addTag(
                QStringLiteral("BUsers"), QStringLiteral("PAGERCOMP"), QStringLiteral("PAGERCOMP"), false);
        }
        const QString self = QCoreApplication::applicationFilePath();
        QProcess a;
        QProcess b;
        a.start(self,
            { QStringLiteral("--users-child"), dir.path(), QStringLiteral("1"), QStringLiteral("1500") });
        b.start(self,
            { QStringLiteral("--users-child"), dir.path(), QStringLiteral("2"), QStringLiteral("1500") });
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QVERIFY2(a.exitCode() == 0, a.readAllStandardError().constData());
        QVERIFY2(b.exitCode() == 0, b.readAllStandardError().constData());
        const QString cdx = connection.resolve(QStringLiteral("BUSERS.CDX"));
        const QString dbf = connection.resolve(QStringLiteral("BUSERS.DBF"));
        QCOMPARE(tagcheck::entriesOf(cdx, "USERNAME"), tagcheck::rebuildOf(dbf, "USERNAME", true));
        QCOMPARE(tagcheck::entriesOf(cdx, "PAGERCOMP"), tagcheck::rebuildOf(dbf, "PAGERCOMP", false));
        store::CdxIndex::open(cdx, store::CdxIndex::Access::Shared)->verify();
    }
};

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--append-child") == 0)
        return appendChild(
            QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), std::atoi(argv[4]));
    if (argc == 5 && std::strcmp(argv[1], "--churn-child") == 0)
        return writerchild::run(QStringLiteral("churn"), QString::fromLocal8Bit(argv[2]),
            QString::fromLocal8Bit(argv[3]), uint32_t(std::atoi(argv[4])), 5000);
    if (argc == 5 && std::strcmp(argv[1], "--users-child") == 0)
        return usersChild(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    QCoreApplication app(argc, argv);
    tst_Interop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_interop.moc"
