// Writers killed at random moments (appending, churning, re-indexing; the log and the users table
// with its unique tag). After each kill: a handle that was open all along repairs before it reads;
// the folder opens as the desk opens it; every header agrees with its file; every tag equals its
// rebuild; every memo reads; every change whose post returned is there (only the one under way may
// be missing); and the independent readers agree. The seed is printed on failure; CRASH_SEED
// repeats a run.
#include "cdxtestutil.h"
#include "store/connection.h"
#include "store/dbffile.h"
#include "store/fptfile.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"
#include "writerchild.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <map>

using store::Connection;
using store::Table;

namespace {

struct Expected {
    QByteArray name; // empty: not known (appended with a name the writer did not print)
    QByteArray memo;
    bool deleted = false;
};

struct Target {
    QString table;
    QString tag;
    QString dbf;
    QString cdx;
    std::vector<std::pair<QByteArray, QByteArray>> tags; // name, expression
    bool unique = false;
};

Target targetOf(const QString& mode)
{
    if (mode == u"users")
        return { QStringLiteral("BUSERS.DBF"), QStringLiteral("USERNAME"), QStringLiteral("Busers.dbf"),
            QStringLiteral("Busers.cdx"), { { "USERNAME", "USERNAME" }, { "PAGERCOMP", "PAGERCOMP" } },
            true };
    return { QStringLiteral("MSGLOG2.dbf"), QStringLiteral("BY_NAME"), QStringLiteral("MsgLog2.dbf"),
        QStringLiteral("MsgLog2.cdx"), { { "BY_DATE", "DDATE" }, { "BY_NAME", "USERNAME+DDATE" } }, false };
}

void seedRecords(const Connection& c, const Target& target, int count)
{
    Table t;
    t.setConnection(c);
    t.setTableName(target.table);
    t.open();
    for (int i = 0; i < count; ++i) {
        t.append();
        t.setFieldText(
            QStringLiteral("USERNAME"), QStringLiteral("N%1").arg(i % 500, 3, 10, QLatin1Char('0')));
        if (t.hasField(QStringLiteral("MSG"))) {
            t.setFieldText(QStringLiteral("DDATE"), QStringLiteral("2023/12/31"));
            t.setFieldText(QStringLiteral("MSG"), QStringLiteral("seed-%1").arg(i));
        }
        t.post();
    }
}

QString dbfreadCount(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-c"),
            QStringLiteral("import sys\nfrom dbfread import DBF\nt = DBF(sys.argv[1], encoding='cp1252')\n"
                           "print(sum(1 for _ in t) + sum(1 for _ in t.deleted))"),
            path });
    p.waitForFinished(60000);
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed()
        + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
}

} // namespace

class tst_Crash : public QObject {
    Q_OBJECT

private slots:
    void killedWriters();

private:
    void trial(const QString& mode, uint32_t childSeed, int acks, uint32_t spin, bool readers,
        const QString& context);
};

void tst_Crash::killedWriters()
{
    const uint32_t seed = qEnvironmentVariableIsSet("CRASH_SEED")
        ? uint32_t(qEnvironmentVariableIntValue("CRASH_SEED"))
        : QRandomGenerator::system()->generate();
    QRandomGenerator rng(seed);
    const QStringList modes = { QStringLiteral("append"), QStringLiteral("churn"), QStringLiteral("users"),
        QStringLiteral("reindex") };
    for (int n = 0; n < 40; ++n) {
        const QString mode = modes[n % modes.size()];
        const int acks = mode == u"reindex" ? 1 + int(rng.bounded(3)) : 1 + int(rng.bounded(400));
        const QString context = QStringLiteral("CRASH_SEED=%1, trial %2 (%3)").arg(seed).arg(n).arg(mode);
        const uint32_t spin = rng.bounded(mode == u"reindex" ? 40'000'000u : 400'000u);
        trial(mode, rng.generate(), acks, spin, n % 4 == 1, context);
        if (QTest::currentTestFailed())
            return;
    }
}

void tst_Crash::trial(
    const QString& mode, uint32_t childSeed, int acks, uint32_t spin, bool readers, const QString& context)
{
    const auto say = [&](const QString& what) { return qPrintable(context + QStringLiteral(": ") + what); };
    QTemporaryDir folder;
    const Connection c(folder.path());
    store::CreateDatabase(c);
    const Target target = targetOf(mode);
    seedRecords(c, target, mode == u"reindex" ? 20000 : 300);

    // A handle open in this process all along, its pages cached.
    Table live;
    live.setConnection(c);
    live.setTableName(target.table);
    live.setIndexName(target.tag);
    live.open();
    live.last();

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--writer"), mode, folder.path(), QStringLiteral("W"), QString::number(childSeed) });
    QList<QByteArray> lines;
    while (lines.size() < acks && child.state() != QProcess::NotRunning) {
        if (!child.canReadLine() && !child.waitForReadyRead(20000))
            break;
        while (child.canReadLine())
            lines << child.readLine().trimmed();
    }
    // Then a random stretch of work of this process's own, so that the kill falls anywhere in
    // the writer's next change.
    volatile uint64_t busy = 0;
    for (uint32_t i = 0; i < spin; ++i)
        busy = busy + i * i;
    child.kill(); // SIGKILL
    child.waitForFinished(20000);
    QVERIFY2(lines.size() >= acks,
        say(QStringLiteral("the writer stopped early: ")
            + QString::fromLocal8Bit(child.readAllStandardError())));
    while (child.canReadLine())
        lines << child.readLine().trimmed();

    // The open handle reads the whole table in its tag's order, repairing first if it must.
    int visible = 0;
    try {
        for (live.first(); !live.eof(); live.next()) {
            ++visible;
            if (live.hasField(QStringLiteral("MSG")))
                live.fieldText(QStringLiteral("MSG"));
        }
    } catch (const store::StoreError& e) {
        QFAIL(say(QStringLiteral("the open handle: ") + e.message()));
    }
    live.close();

    // The desk's start.
    try {
        store::CreateDatabase(c);
    } catch (const store::StoreError& e) {
        QFAIL(say(QStringLiteral("start: ") + e.message()));
    }

    const QString dbfPath = c.resolve(target.dbf);
    const QString cdxPath = c.resolve(target.cdx);
    store::DbfFile dbf(dbfPath, true);
    const uint32_t count = dbf.recordCount();
    QFile raw(dbfPath);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray head = raw.read(12);
    const qint64 headerLength = uchar(head[8]) | (uchar(head[9]) << 8);
    QVERIFY2(raw.size() == headerLength + qint64(count) * dbf.recordLength() + 1,
        say(QStringLiteral("header count %1, file size %2").arg(count).arg(raw.size())));
    for (const auto& [tag, expression] : target.tags)
        QVERIFY2(tagcheck::entriesOf(cdxPath, tag)
                == tagcheck::rebuildOf(dbfPath, expression, target.unique && tag == target.tags[0].first),
            say(QStringLiteral("tag %1 differs from its rebuild").arg(QString::fromLatin1(tag))));

    // Every record reads, memos included; what the writer was told was done is there.
    std::map<uint32_t, Expected> expected;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> parts = line.split(' ');
        const uint32_t recno = parts.value(1).toUInt();
        if (line.startsWith("A "))
            expected[recno] = { QByteArray(), parts.value(2), false };
        else if (line.startsWith("E "))
            expected[recno].name = parts.value(2);
        else if (line.startsWith("D "))
            expected[recno].deleted = true;
    }
    std::unique_ptr<store::FptFile> fpt;
    if (dbf.hasMemo())
        fpt = std::make_unique<store::FptFile>(c.resolve(QStringLiteral("MsgLog2.fpt")), true);
    const store::FieldDef* nameField = nullptr;
    const store::FieldDef* memoField = nullptr;
    for (const store::FieldDef& f : dbf.fields()) {
        if (f.name == "USERNAME")
            nameField = &f;
        if (f.name == (dbf.hasMemo() ? "MSG" : "PAGER_ID"))
            memoField = &f;
    }
    int visibleInFile = 0;
    int inFlight = 0;
    QByteArray record(dbf.recordLength(), '\0');
    for (uint32_t r = 1; r <= count; ++r) {
        QVERIFY(dbf.readRecord(r, record.data()));
        visibleInFile += record[0] != '*';
        QByteArray memo = record.mid(memoField->offset, memoField->width).trimmed();
        if (fpt && !memo.isEmpty()) {
            try {
                memo = fpt->read(memo.toUInt());
            } catch (const store::StoreError& e) {
                QFAIL(say(e.message()));
            }
        }
        const auto it = expected.find(r);
        if (it == expected.end())
            continue;
        const Expected& x = it->second;
        QVERIFY2(x.memo.isEmpty() || memo == x.memo,
            say(QStringLiteral("record %1 holds \"%2\", not \"%3\"")
                    .arg(r)
                    .arg(QString::fromLatin1(memo), QString::fromLatin1(x.memo))));
        const QByteArray name = record.mid(nameField->offset, nameField->width).trimmed();
        if ((!x.name.isEmpty() && name != x.name) || (record[0] == '*') != x.deleted)
            ++inFlight;
    }
    QVERIFY2(inFlight <= 1, say(QStringLiteral("%1 acknowledged changes are missing").arg(inFlight)));
    for (const auto& [recno, x] : expected)
        QVERIFY2(recno <= count, say(QStringLiteral("acknowledged record %1 is gone").arg(recno)));
    // A unique tag shows each live name once.
    if (target.unique)
        visibleInFile = int(tagcheck::rebuildOf(dbfPath, target.tags[0].second, true).size());
    QVERIFY2(visible == visibleInFile,
        say(QStringLiteral("the open handle saw %1 records, the file has %2")
                .arg(visible)
                .arg(visibleInFile)));

    if (!readers)
        return;
    QCOMPARE(dbfreadCount(dbfPath), QString::number(count));
    QString error;
    const QStringList perl = cdxtest::perlRead(cdxPath, target.tags[1].first, &error);
    QVERIFY2(error.isEmpty(), say(error));
    QStringList ours;
    for (const auto& e : tagcheck::entriesOf(cdxPath, target.tags[1].first))
        ours << cdxtest::perlLine(e);
    QCOMPARE(perl.mid(2), ours);
}

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--writer") == 0)
        return writerchild::run(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
            QString::fromLocal8Bit(argv[4]), uint32_t(std::strtoul(argv[5], nullptr, 10)), -1);
    QCoreApplication app(argc, argv);
    tst_Crash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash.moc"
