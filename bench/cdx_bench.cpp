// Timings of the compound index engine on the message-log keys: incremental appends to two tags,
// seeks, a walk, "last" after open, bulk builds, and insert cost against tree size.
// Usage: cdx_bench [DIR] [N] [PHASE]   (defaults: a temporary folder, 1,000,000, every phase)
// Each phase runs in a child process so that its peak memory is its own.
#include "store/cdxindex.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace store;

namespace {

uint32_t N = 1000000;
QString dir;

// The keys are made cheaply (dates from a table), so that the figures are the index's own.
std::vector<QByteArray> dates;

QByteArray dateKey(uint32_t i)
{
    if (dates.empty())
        for (int d = 0; d <= 3650; ++d)
            dates.push_back(QDate(2015, 1, 1).addDays(d).toString(QStringLiteral("yyyy/MM/dd")).toLatin1());
    return dates[size_t(uint64_t(i - 1) * 3650 / N)];
}

QByteArray nameKey(uint32_t i)
{
    QByteArray k("User 00000                    ", 30);
    unsigned n = unsigned(uint64_t(i) * 613 % 20000);
    for (int d = 9; d >= 5; --d, n /= 10)
        k[d] = char('0' + n % 10);
    return k + dateKey(i);
}

QString cdxPath() { return dir + QStringLiteral("/MsgLog2.cdx"); }

double cpuSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Wall-clock time of the phase, and the CPU time this process spent in it (user + system), which
// is the steadier figure on a machine shared with other work.
double cpuStart = 0;
void startClock() { cpuStart = cpuSeconds(); }

void report(const char* name, double seconds, uint64_t ops)
{
    const double cpu = cpuSeconds() - cpuStart;
    std::printf("%-28s %8.3f s wall %8.3f s cpu %10llu ops %8.3f us/op (cpu)\n", name, seconds, cpu,
                (unsigned long long)ops, ops ? cpu * 1e6 / double(ops) : 0.0);
    std::fflush(stdout);
}

void phaseAppend()
{
    QFile::remove(cdxPath());
    auto ix = CdxIndex::create(cdxPath(), CdxIndex::Access::Shared);
    CdxTag* byDate = ix->addTag("BY_DATE", "DDATE", 10, false, 0, {}, {});
    CdxTag* byName = ix->addTag("BY_NAME", "USERNAME+DDATE", 40, false, 0, {}, {});
    QElapsedTimer t;
    startClock();
    t.start();
    for (uint32_t i = 1; i <= N; ++i) {
        byDate->insert(dateKey(i), i);
        byName->insert(nameKey(i), i);
    }
    report("append (2 tags, shared)", t.nsecsElapsed() / 1e9, 2ull * N);
}

// The same with both tags of a record changed under one Scope: one lock, one write-back.
void phaseAppendScoped()
{
    QFile::remove(cdxPath());
    auto ix = CdxIndex::create(cdxPath(), CdxIndex::Access::Shared);
    CdxTag* byDate = ix->addTag("BY_DATE", "DDATE", 10, false, 0, {}, {});
    CdxTag* byName = ix->addTag("BY_NAME", "USERNAME+DDATE", 40, false, 0, {}, {});
    QElapsedTimer t;
    startClock();
    t.start();
    for (uint32_t i = 1; i <= N; ++i) {
        CdxIndex::Scope scope(*ix, true);
        byDate->insert(dateKey(i), i);
        byName->insert(nameKey(i), i);
    }
    report("append, Scope per record", t.nsecsElapsed() / 1e9, 2ull * N);
}

void phaseSeek()
{
    auto ix = CdxIndex::open(cdxPath(), CdxIndex::Access::Shared);
    CdxTag* byName = ix->findTag("BY_NAME");
    const uint32_t M = 100000;
    std::vector<QByteArray> keys;
    std::vector<uint32_t> recs;
    for (uint32_t j = 1; j <= M; ++j) {
        const uint32_t r = uint32_t((uint64_t(j) * 2654435761u) % N) + 1;
        keys.push_back(nameKey(r));
        recs.push_back(r);
    }
    QElapsedTimer t;
    startClock();
    t.start();
    CdxEntry e;
    for (uint32_t j = 0; j < M; ++j)
        if (!byName->seek(keys[j], 0, e) || e.key != keys[j]) {
            std::printf("seek failed for record %u\n", recs[j]);
            ::_exit(1);
        }
    report("seek 40-byte (shared)", t.nsecsElapsed() / 1e9, M);
}

void phaseWalk()
{
    auto ix = CdxIndex::open(cdxPath(), CdxIndex::Access::Shared);
    CdxTag* byDate = ix->findTag("BY_DATE");
    QElapsedTimer t;
    startClock();
    t.start();
    CdxEntry e;
    uint64_t n = 0;
    QByteArray prev;
    for (bool ok = byDate->first(e); ok; ok = byDate->next(e)) {
        if (e.key < prev) {
            std::printf("walk out of order\n");
            ::_exit(1);
        }
        prev = e.key;
        ++n;
    }
    report("walk 10-byte (shared)", t.nsecsElapsed() / 1e9, n);
    if (n != N)
        ::_exit(1);
}

void phaseLast()
{
    QElapsedTimer t;
    startClock();
    t.start();
    uint32_t rec = 0;
    for (int round = 0; round < 100; ++round) {
        auto ix = CdxIndex::open(cdxPath(), CdxIndex::Access::Shared);
        CdxEntry e;
        if (!ix->findTag("BY_DATE")->last(e))
            ::_exit(1);
        rec = e.recno;
    }
    report("open + last (shared)", t.nsecsElapsed() / 1e9, 100);
    std::printf("# last record %u\n", rec);
}

void phaseBuild()
{
    QFile::remove(cdxPath());
    QElapsedTimer t;
    startClock();
    t.start();
    auto ix = CdxIndex::create(cdxPath(), CdxIndex::Access::Exclusive);
    ix->addTag("BY_DATE", "DDATE", 10, false, N, dateKey, {});
    ix->addTag("BY_NAME", "USERNAME+DDATE", 40, false, N, nameKey, {});
    ix.reset();
    report("bulk build of both tags", t.nsecsElapsed() / 1e9, 2ull * N);
}

void phaseVerify()
{
    auto ix = CdxIndex::open(cdxPath(), CdxIndex::Access::Shared);
    QElapsedTimer t;
    startClock();
    t.start();
    ix->verify();
    const uint64_t a = ix->findTag("BY_DATE")->count(), b = ix->findTag("BY_NAME")->count();
    report("verify + counts", t.nsecsElapsed() / 1e9, a + b);
    if (a != N || b != N)
        ::_exit(1);
}

// CPU cost of one random 40-byte insert into a tag that already holds `size` entries put there by
// random inserts as well (so both trees have the fill that inserts leave, not a bulk build's).
double insertCost(uint32_t size)
{
    const QString path = dir + QStringLiteral("/logn.cdx");
    QFile::remove(path);
    auto ix = CdxIndex::create(path, CdxIndex::Access::Shared);
    std::mt19937 rng(5);
    auto randomKey = [&]() {
        QByteArray k(40, ' ');
        for (int i = 0; i < 16; ++i)
            k[i] = char('A' + rng() % 26);
        return k;
    };
    CdxTag* t = ix->addTag("T", "K", 40, false, 0, {}, {});
    for (uint32_t r = 1; r <= size; ++r)
        t->insert(randomKey(), r);
    std::vector<QByteArray> more(5000);
    for (auto& k : more)
        k = randomKey();
    const double cpu0 = cpuSeconds();
    for (uint32_t i = 0; i < more.size(); ++i)
        t->insert(more[i], size + 1 + i);
    return (cpuSeconds() - cpu0) * 1e6 / double(more.size());
}

void phaseLogN()
{
    const double small = insertCost(1000), large = insertCost(N);
    std::printf("%-28s %8.3f us at 1,000 entries  %8.3f us at %u  ratio %.2f (cpu)\n", "random insert cost", small,
                large, N, large / small);
}

const char* only = nullptr; // run just this phase, in this process (for a profiler)

void runPhase(const char* name, const std::function<void()>& phase)
{
    if (only) {
        if (std::strcmp(only, name) == 0)
            phase();
        return;
    }
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            phase();
        } catch (const StoreError& e) {
            std::printf("%s: %s\n", name, e.what());
            ::_exit(1);
        }
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    struct rusage ru = {};
    ::wait4(pid, &status, 0, &ru);
    std::printf("# %-26s peak RSS %6.1f MiB%s\n", name, ru.ru_maxrss / 1024.0,
                WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "  FAILED");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : tmp.path();
    if (argc > 2)
        N = uint32_t(std::strtoul(argv[2], nullptr, 10));
    if (argc > 3)
        only = argv[3];
    QDir().mkpath(dir);
    std::printf("# %u records in %s\n", N, qPrintable(dir));
    runPhase("append scoped", phaseAppendScoped);
    runPhase("append", phaseAppend);
    runPhase("verify", phaseVerify);
    runPhase("seek", phaseSeek);
    runPhase("walk", phaseWalk);
    runPhase("last", phaseLast);
    runPhase("build", phaseBuild);
    runPhase("verify", phaseVerify);
    runPhase("log n", phaseLogN);
    return 0;
}
