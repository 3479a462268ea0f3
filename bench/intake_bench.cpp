// intake_bench: the HTTP listener at load through the real session. 20 clients (threads, each with
// a kept-alive connection) send 1,000 alerts (the Events API v2 shape, each its own dedup_key) from
// one source with RATEMIN 9999; every answer's time is taken. Then DLVSTAT and ALERTS are counted
// from disk: every alert queued once, none lost or doubled. Last, 1,000 idle connections are held
// open and the process's peak resident memory is read.
//
//   intake_bench [alerts] [clients] [idle connections]
//
// The session does not tick: the pages stay queued (WAITING), as the question is what taking them
// costs, not what delivering them does.

#include "intake/httpserver.h"
#include "intake/listeners.h"
#include "intake/sourceregistry.h"
#include "peakmemory.h"
#include "session/desksession.h"
#include "store/connection.h"
#include "store/fieldnames.h"
#include "store/table.h"
#include "support/datafolder.h"
#include "support/records.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QThread>

#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

struct Answer {
    long status = 0;
    double ms = 0;
    QString dedupKey;
};

size_t collect(char* data, size_t size, size_t count, void* out)
{
    static_cast<QByteArray*>(out)->append(data, qsizetype(size * count));
    return size * count;
}

// One client: `count` alerts numbered from `first`, one after the other on one connection.
QList<Answer> client(quint16 port, const QByteArray& token, int first, int count)
{
    QList<Answer> answers;
    CURL* curl = curl_easy_init();
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) + "/v2/enqueue";
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    for (int i = first; i < first + count; ++i) {
        const QByteArray body = QJsonDocument(QJsonObject { { "routing_key", QString::fromLatin1(token) },
                                                   { "event_action", "trigger" }, { "dedup_key", QStringLiteral("bench-%1").arg(i) },
                                                   { "payload", QJsonObject { { "summary", QStringLiteral("Alert %1").arg(i) },
                                                                    { "severity", "warning" }, { "source", "bench" } } } })
                                    .toJson(QJsonDocument::Compact);
        QByteArray reply;
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size()));
        QElapsedTimer took;
        took.start();
        Answer a;
        if (curl_easy_perform(curl) == CURLE_OK)
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &a.status);
        a.ms = double(took.nsecsElapsed()) / 1e6;
        a.dedupKey = QJsonDocument::fromJson(reply).object().value(QLatin1String("dedup_key")).toString();
        answers.append(a);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answers;
}

int rows(const QString& folder, const QString& table)
{
    store::Table t;
    t.setConnection(store::Connection(folder));
    t.setTableName(table);
    t.open();
    int n = 0;
    for (t.first(); !t.eof(); t.next())
        ++n;
    return n;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int alerts = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int clients = argc > 2 ? std::atoi(argv[2]) : 20;
    const int idleCount = argc > 3 ? std::atoi(argv[3]) : 1000;
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, rlim_t(idleCount) * 2 + 512);
    setrlimit(RLIMIT_NOFILE, &limit);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    testsupport::DataFolder dir;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    testsupport::DataFolder::writeSettings(QStringLiteral("[Intake]\nHttpPort=%1\n").arg(port));
    QByteArray token;
    {
        core::Desk desk(dir.path());
        if (const QString failure = desk.open(); !failure.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(failure));
            return 2;
        }
        testsupport::addCarrier(desk, QStringLiteral("Land"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        testsupport::addUser(desk, QStringLiteral("Alice"), QStringLiteral("Land"), QStringLiteral("1001"));
        QString refusal;
        intake::SourceRegistry sources(desk.SourcesT());
        token = sources.add(QStringLiteral("bench"), QStringLiteral("HTTP"), QStringLiteral("Alice"), &refusal);
        desk.SourcesT().refresh();
        for (desk.SourcesT().first(); !desk.SourcesT().eof(); desk.SourcesT().next()) {
            desk.SourcesT().edit();
            desk.SourcesT().setFieldInt(store::sources::RateMin, 9999);
            desk.SourcesT().post();
        }
    }
    session::DeskSession deskSession(dir.path());
    if (const QString failure = deskSession.open(); !failure.isEmpty() || !deskSession.listeners().http()) {
        std::fprintf(stderr, "session: %s %s\n", qPrintable(failure), qPrintable(deskSession.startupLines().join(' ')));
        return 2;
    }
    const QByteArray before = bench::peakResident();

    std::mutex lock;
    QList<Answer> answers;
    std::atomic<int> done { 0 };
    QList<QThread*> threads;
    QElapsedTimer wall;
    wall.start();
    for (int c = 0; c < clients; ++c) {
        const int first = alerts * c / clients;
        const int count = alerts * (c + 1) / clients - first;
        threads << QThread::create([&, first, count] {
            const QList<Answer> mine = client(port, token, first, count);
            std::lock_guard guard(lock);
            answers += mine;
            ++done;
        });
        threads.last()->start();
    }
    while (done < clients)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double seconds = double(wall.elapsed()) / 1000;
    for (QThread* t : threads) {
        t->wait();
        delete t;
    }

    std::vector<double> ms;
    int accepted = 0;
    QSet<QString> keys;
    for (const Answer& a : answers) {
        ms.push_back(a.ms);
        accepted += a.status == 202;
        keys.insert(a.dedupKey);
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms.empty() ? 0.0 : ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    const int statusRows = rows(dir.path(), QStringLiteral("DLVSTAT.DBF"));
    const int alertRows = rows(dir.path(), QStringLiteral("ALERTS.DBF"));
    std::printf("alerts %d from %d clients in %.2f s: %d answered 202, %lld distinct dedup keys\n", alerts, clients, seconds,
        accepted, qlonglong(keys.size()));
    std::printf("answer time ms: median %.2f, p90 %.2f, p99 %.2f, max %.2f (goal: median under 20)\n", at(0.5), at(0.9), at(0.99),
        ms.empty() ? 0.0 : ms.back());
    std::printf("DLVSTAT rows %d, ALERTS rows %d, pages queued %lld: %s\n", statusRows, alertRows,
        qlonglong(deskSession.desk().SendMsgs().rowCount()),
        statusRows == alerts && alertRows == alerts && accepted == alerts ? "none lost or doubled" : "MISMATCH");

    // Idle connections: opened, accepted by the server, held.
    const QByteArray afterAlerts = bench::peakResident();
    // Plain sockets, so that the figure is the server's and not the clients'.
    std::vector<int> idle;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < idleCount; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
            idle.push_back(fd);
        else if (fd >= 0)
            ::close(fd);
    }
    intake::HttpServer* server = deskSession.listeners().http();
    (void)QTest::qWaitFor([&] { return server->connectionCount() >= idleCount; }, 20000);
    const int held = server->connectionCount();
    QTest::qWait(500);
    std::printf("peak resident memory: %s before the alerts, %s after them, %s with %d idle connections held\n",
        before.constData(), afterAlerts.constData(), bench::peakResident().constData(), held);
    for (const int fd : idle)
        ::close(fd);
    curl_global_cleanup();
    return statusRows == alerts && alertRows == alerts && accepted == alerts ? 0 : 1;
}
