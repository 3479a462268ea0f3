// The message-log store workload: one phase per run on the same folder, figures printed as
// NAME<TAB>SECONDS<TAB>OPERATIONS. Usage: store_bench DIR PHASE N M MODE
// (PHASE append | last | seek | walk | number | reindex | churn | startcheck; MODE shared | excl).
#include "store/connection.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using store::Connection;
using store::Table;

namespace {

const QString kTable = QStringLiteral("MsgLog2.dbf");
const QString kFields = QStringLiteral("DDATE,C,10;DTIME,C,14;USERNAME,C,30;MUSTSEND,C,1;MSG,M;");

struct Record {
    QString ddate;
    QString dtime;
    QString username; // without padding
    QString msg;
};

Record recordOf(uint64_t i, uint64_t n)
{
    static const QDate start(2015, 1, 1);
    Record r;
    const QDate day = start.addDays(qint64((i - 1) * 3650 / n));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", day.year(), day.month(), day.day());
    r.ddate = QString::fromLatin1(buf);
    const uint64_t s = (i * 7919) % 86400;
    const uint64_t h = s / 3600;
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d %s", int(h % 12 == 0 ? 12 : h % 12), int((s / 60) % 60),
        int(s % 60), h < 12 ? "AM" : "PM");
    r.dtime = QString::fromLatin1(buf);
    std::snprintf(buf, sizeof buf, "User %05d", int((i * 613) % 20000));
    r.username = QString::fromLatin1(buf);
    std::snprintf(buf, sizeof buf, ": call ext %04d", int(i % 10000));
    r.msg = QStringLiteral("Message %1 for %2").arg(i).arg(r.username) + QString::fromLatin1(buf);
    return r;
}

// The BY_NAME key of record i (USERNAME padded to 30, then DDATE), built without the other
// fields: the seek phase times the lookups, not the making of whole records.
QByteArray nameKeyOf(uint64_t i, uint64_t n)
{
    static const QDate start(2015, 1, 1);
    const QDate day = start.addDays(qint64((i - 1) * 3650 / n));
    char name[16];
    char date[16];
    std::snprintf(name, sizeof name, "User %05d", int((i * 613) % 20000));
    std::snprintf(date, sizeof date, "%04d/%02d/%02d", day.year(), day.month(), day.day());
    QByteArray key(40, ' ');
    std::memcpy(key.data(), name, std::strlen(name));
    std::memcpy(key.data() + 30, date, 10);
    return key;
}

void figure(const char* name, double seconds, uint64_t operations)
{
    std::printf("%s\t%.6f\t%llu\n", name, seconds, static_cast<unsigned long long>(operations));
}

void openTable(Table& t, const Connection& c, bool exclusive, const QString& tag)
{
    t.setConnection(c);
    t.setTableName(kTable);
    t.setExclusive(exclusive);
    t.setIndexName(tag);
    t.open();
}

void buildTags(Table& t)
{
    t.addTags(QStringLiteral("MsgLog2"),
        { { QStringLiteral("BY_DATE"), QStringLiteral("DDATE"), false },
            { QStringLiteral("BY_NAME"), QStringLiteral("USERNAME+DDATE"), false } });
}

int phaseAppend(const Connection& c, uint64_t n, bool exclusive)
{
    const QDir dir(c.folder());
    for (const QString& f : dir.entryList({ QStringLiteral("MsgLog2.*") }, QDir::Files))
        QFile::remove(dir.filePath(f));
    c.createTable(kTable, kFields);
    {
        Table t;
        openTable(t, c, true, QString());
        buildTags(t);
    }
    QElapsedTimer timer;
    timer.start();
    Table t;
    openTable(t, c, exclusive, QString());
    for (uint64_t i = 1; i <= n; ++i) {
        const Record r = recordOf(i, n);
        t.append();
        t.setFieldText(QStringLiteral("DDATE"), r.ddate);
        t.setFieldText(QStringLiteral("DTIME"), r.dtime);
        t.setFieldText(QStringLiteral("USERNAME"), r.username);
        t.setFieldText(QStringLiteral("MUSTSEND"), QString());
        t.setFieldText(QStringLiteral("MSG"), r.msg);
        t.post();
    }
    t.close();
    figure("append", timer.nsecsElapsed() / 1e9, n);
    t.open();
    if (t.recordCount() != n) {
        std::printf(
            "# expected %llu records, found %u\n", static_cast<unsigned long long>(n), t.recordCount());
        return 1;
    }
    return 0;
}

int phaseLast(const Connection& c, uint64_t n, bool exclusive)
{
    const Record expected = recordOf(n, n);
    QString line;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 100; ++round) {
        Table t;
        openTable(t, c, exclusive, QStringLiteral("BY_DATE"));
        t.last();
        const QString ddate = t.fieldText(QStringLiteral("DDATE"));
        const QString dtime = t.fieldText(QStringLiteral("DTIME"));
        const QString user = t.fieldText(QStringLiteral("USERNAME"));
        const QString must = t.fieldText(QStringLiteral("MUSTSEND"));
        const QString msg = t.fieldText(QStringLiteral("MSG"));
        if (round == 0)
            line = QStringLiteral("# last record %1: %2 | %3 | %4 | %5 | %6")
                       .arg(t.recNo())
                       .arg(ddate, dtime, user, must, msg);
        if (ddate != expected.ddate) {
            std::printf(
                "# last record has DDATE %s, expected %s\n", qPrintable(ddate), qPrintable(expected.ddate));
            return 1;
        }
        t.close();
    }
    figure("last", timer.nsecsElapsed() / 1e9, 100);
    std::printf("%s\n", qPrintable(line));
    return 0;
}

int phaseSeek(const Connection& c, uint64_t n, uint64_t m, bool exclusive)
{
    Table t;
    openTable(t, c, exclusive, QStringLiteral("BY_NAME"));
    QElapsedTimer timer;
    timer.start();
    uint64_t missed = 0;
    for (uint64_t j = 1; j <= m; ++j) {
        const uint64_t r = ((j * 2654435761ULL) % n) + 1;
        if (!t.seek(nameKeyOf(r, n)))
            ++missed;
    }
    figure("seek", timer.nsecsElapsed() / 1e9, m);
    if (missed) {
        std::printf("# %llu seeks did not find their key\n", static_cast<unsigned long long>(missed));
        return 1;
    }
    return 0;
}

int phaseWalk(const Connection& c, uint64_t n, bool exclusive)
{
    Table t;
    openTable(t, c, exclusive, QStringLiteral("BY_DATE"));
    QElapsedTimer timer;
    timer.start();
    uint64_t count = 0;
    QString previous;
    bool ordered = true;
    for (t.first(); !t.eof(); t.next()) {
        const QString ddate = t.fieldText(QStringLiteral("DDATE"));
        if (ddate < previous)
            ordered = false;
        previous = ddate;
        ++count;
    }
    figure("walk", timer.nsecsElapsed() / 1e9, n);
    if (count != n || !ordered) {
        std::printf("# walked %llu records of %llu%s\n", static_cast<unsigned long long>(count),
            static_cast<unsigned long long>(n), ordered ? "" : ", DDATE out of order");
        return 1;
    }
    return 0;
}

// Entries by number, as a grid reads them: the first count on a fresh handle (one walk of the
// leaf headers), M records found by number, and M records numbered.
int phaseNumber(const Connection& c, uint64_t n, uint64_t m, bool exclusive)
{
    Table t;
    openTable(t, c, exclusive, QStringLiteral("BY_DATE"));
    QElapsedTimer timer;
    timer.start();
    const uint32_t count = t.entryCount();
    figure("number-count", timer.nsecsElapsed() / 1e9, 1);
    if (count != n) {
        std::printf("# %u entries, expected %llu\n", count, static_cast<unsigned long long>(n));
        return 1;
    }
    std::vector<uint32_t> recnos;
    timer.restart();
    for (uint64_t j = 1; j <= m; ++j) {
        const uint32_t entry = uint32_t((j * 2654435761ULL) % n);
        if (!t.goToEntry(entry)) {
            std::printf("# entry %u not found\n", entry);
            return 1;
        }
        recnos.push_back(t.recNo());
    }
    figure("number-goto", timer.nsecsElapsed() / 1e9, m);
    timer.restart();
    for (uint64_t j = 1; j <= m; ++j) {
        const uint32_t entry = uint32_t((j * 2654435761ULL) % n);
        if (t.entryNumberOf(recnos[j - 1]) != entry) {
            std::printf("# record %u numbered wrongly\n", recnos[j - 1]);
            return 1;
        }
    }
    figure("number-of", timer.nsecsElapsed() / 1e9, m);
    return 0;
}

int phaseReindex(const Connection& c, uint64_t n)
{
    QFile::remove(c.resolve(QStringLiteral("MsgLog2.cdx")));
    QElapsedTimer timer;
    timer.start();
    Table t;
    openTable(t, c, true, QString());
    buildTags(t);
    t.close();
    figure("reindex", timer.nsecsElapsed() / 1e9, 2 * n);
    return 0;
}

// N random changes, seeded by M: about half appends with memos, a third edits of both keys
// (USERNAME and DDATE), the rest deletes, each on a record reached by a seek to a random name.
// The table is created when absent.
int phaseChurn(const Connection& c, uint64_t n, uint64_t seed, bool exclusive)
{
    if (!c.exists(kTable)) {
        c.createTable(kTable, kFields);
        Table t;
        openTable(t, c, true, QString());
        buildTags(t);
    }
    Table t;
    openTable(t, c, exclusive, QStringLiteral("BY_NAME"));
    QRandomGenerator rng(uint32_t(seed ^ (seed >> 32)));
    const auto someName
        = [&] { return QStringLiteral("User %1").arg(rng.bounded(20000), 5, 10, QLatin1Char('0')); };
    const auto someDate = [&] { return recordOf(1 + rng.bounded(3650), 3650).ddate; };
    const auto goSomewhere = [&] {
        if (!t.seek(someName().toLatin1()) && t.eof())
            t.last();
        return !t.eof() && t.recNo() != 0;
    };
    uint64_t appends = 0, edits = 0, deletes = 0;
    QElapsedTimer timer;
    timer.start();
    for (uint64_t i = 1; i <= n; ++i) {
        const uint32_t what = rng.bounded(6);
        if (what < 3 || !goSomewhere()) {
            const Record r = recordOf(t.recordCount() + 1, n);
            t.append();
            t.setFieldText(QStringLiteral("DDATE"), someDate());
            t.setFieldText(QStringLiteral("DTIME"), r.dtime);
            t.setFieldText(QStringLiteral("USERNAME"), someName());
            t.setFieldText(QStringLiteral("MSG"), r.msg);
            t.post();
            ++appends;
        } else if (what < 5) {
            t.edit();
            t.setFieldText(QStringLiteral("USERNAME"), someName());
            t.setFieldText(QStringLiteral("DDATE"), someDate());
            t.post();
            ++edits;
        } else {
            t.deleteRecord();
            ++deletes;
        }
    }
    t.close();
    figure("churn", timer.nsecsElapsed() / 1e9, n);
    std::printf("# %llu appends, %llu edits, %llu deletes\n", static_cast<unsigned long long>(appends),
        static_cast<unsigned long long>(edits), static_cast<unsigned long long>(deletes));
    return 0;
}

// The desk's start-up step on a folder of its seven tables with N users (added when the users
// table has fewer): creating nothing, it checks every index against its records. 20 rounds.
int phaseStartCheck(const Connection& c, uint64_t n)
{
    store::CreateDatabase(c);
    {
        Table users;
        users.setConnection(c);
        users.setTableName(QStringLiteral("BUSERS.DBF"));
        users.open();
        for (uint64_t i = users.recordCount() + 1; i <= n; ++i) {
            users.append();
            users.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("User %1").arg(i * 7919 % 100003));
            users.setFieldText(QStringLiteral("PAGERCOMP"), QStringLiteral("Carrier %1").arg(i % 7));
            users.setFieldText(QStringLiteral("PAGER_ID"), QString::number(5550000 + i));
            users.post();
        }
    }
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < 20; ++round) {
        const QStringList problems = store::CreateDatabase(c);
        if (!problems.isEmpty()) {
            std::printf("# %s\n", qPrintable(problems.join(QLatin1Char(' '))));
            return 1;
        }
    }
    figure("startcheck", timer.nsecsElapsed() / 1e9, 20);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s DIR PHASE N M MODE\n", argv[0]);
        return 2;
    }
    const Connection c(QString::fromLocal8Bit(argv[1]));
    const QByteArray phase = argv[2];
    const uint64_t n = std::strtoull(argv[3], nullptr, 10);
    const uint64_t m = std::strtoull(argv[4], nullptr, 10);
    const QByteArray mode = argv[5];
    if (n == 0 || (mode != "shared" && mode != "excl")) {
        std::fprintf(stderr, "N must be at least 1 and MODE shared or excl\n");
        return 2;
    }
    const bool exclusive = mode == "excl";
    std::printf("# phase %s, N %llu, M %llu, mode %s\n", phase.constData(),
        static_cast<unsigned long long>(n), static_cast<unsigned long long>(m), mode.constData());
    try {
        if (phase == "append")
            return phaseAppend(c, n, exclusive);
        if (phase == "last")
            return phaseLast(c, n, exclusive);
        if (phase == "seek")
            return phaseSeek(c, n, m, exclusive);
        if (phase == "walk")
            return phaseWalk(c, n, exclusive);
        if (phase == "number")
            return phaseNumber(c, n, m, exclusive);
        if (phase == "reindex")
            return phaseReindex(c, n);
        if (phase == "startcheck")
            return phaseStartCheck(c, n);
        if (phase == "churn")
            return phaseChurn(c, n, m, exclusive);
    } catch (const store::StoreError& e) {
        std::printf("# store error: %s\n", qPrintable(e.message()));
        return 1;
    }
    std::fprintf(stderr, "unknown phase %s\n", phase.constData());
    return 2;
}
