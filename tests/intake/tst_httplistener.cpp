// The desk's HTTP listener through the real session: webhook bodies, the Events API v2 shape, pages
// and their status, every refusal, TLS, and hostile clients; the pages delivered through the
// carrier simulator and read back from DLVSTAT.
#include "intake/httpserver.h"
#include "intake/listeners.h"
#include "intake/snppserver.h"
#include "httpclient.h"
#include "intakerun.h"

#include "store/memtable.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <thread>

using namespace intaketest;

namespace {

QByteArray alertmanager(const QString& status, const QString& groupKey, const QString& version = QStringLiteral("4"))
{
    const QJsonObject alert { { "status", status }, { "labels", QJsonObject { { "alertname", "DiskFull" }, { "instance", "db1" } } },
        { "annotations", QJsonObject { { "summary", "Disk full on db1" } } }, { "startsAt", "2026-12-09T10:00:00Z" },
        { "fingerprint", "a1b2c3" } };
    const QJsonObject body { { "version", version }, { "status", status }, { "groupKey", groupKey },
        { "receiver", "desk" }, { "alerts", QJsonArray { alert } } };
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

QByteArray eventBody(const QByteArray& routingKey, const QString& action, const QString& key, const QString& summary = QString())
{
    QJsonObject body { { "routing_key", QString::fromLatin1(routingKey) }, { "event_action", action } };
    if (!key.isEmpty())
        body.insert(QLatin1String("dedup_key"), key);
    if (!summary.isEmpty())
        body.insert(QLatin1String("payload"), QJsonObject { { "summary", summary }, { "severity", "critical" }, { "source", "db1" } });
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

// A raw request on a socket: what comes back before the server closes or `ms` pass.
QByteArray raw(quint16 port, const QByteArray& request, int ms = 5000)
{
    LineClient client;
    if (!client.connectTo(port))
        return "no connection";
    client.socket.write(request);
    client.waitClosed(ms);
    return client.buffer + client.socket.readAll();
}

// `count` pages POSTed at once, each from a thread of its own on a connection of its own: for each,
// its status and whether its text was in the pending file at `pendingPath` (read from disk by a
// fresh table) as its answer arrived. The session's thread is held busy meanwhile, so that they all
// wait for it together.
QList<std::pair<int, bool>> burst(
    quint16 port, const QByteArray& token, const QString& pendingPath, const QString& tag, int count)
{
    QList<std::pair<int, bool>> results(count);
    std::atomic<int> done { 0 };
    std::vector<std::thread> clients;
    for (int i = 0; i < count; ++i) {
        clients.emplace_back([&, i] {
            const QByteArray text = tag.toUtf8() + ' ' + QByteArray::number(i);
            const QByteArray body = R"({"to":"1001","text":")" + text + R"("})";
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(5000)) {
                ++done;
                return;
            }
            socket.write("POST /v1/page HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer " + token
                + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            QByteArray answer;
            while (!answer.contains("\r\n") && socket.waitForReadyRead(10000))
                answer += socket.readAll();
            bool onDisk = false;
            store::TMemTable file;
            try {
                file.loadFromFile(pendingPath);
                for (file.first(); !file.eof() && !onDisk; file.next())
                    onDisk = file.fieldText(QStringLiteral("MessageToSend")) == QString::fromUtf8(text);
            } catch (const std::exception&) {
            }
            results[i] = { answer.mid(9, 3).toInt(), onDisk };
            ++done;
        });
    }
    QThread::msleep(300);
    (void)QTest::qWaitFor([&] { return done == count; }, 20000);
    for (std::thread& client : clients)
        client.join();
    return results;
}

} // namespace

class tst_HttpListener : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IntakeRun> intake_;

private slots:
    void init()
    {
        intake_ = std::make_unique<IntakeRun>();
        QVERIFY(intake_->seed(QStringLiteral("MaxBody=4096\n")));
    }
    void cleanup() { intake_.reset(); }

    // The same notification twice (as Alertmanager's peers send it) pages the group once, its
    // "resolved" pages "RESOLVED: ..."; each answer is 202 once queued; the status shows the pages.
    void alertmanagerOnceThenResolved()
    {
        intake_->open();
        HttpClient http(intake_->httpPort);
        HttpResult first = http.post(QStringLiteral("/v1/alertmanager"), alertmanager("firing", "{}:{alertname=\"DiskFull\"}"), intake_->httpToken);
        QCOMPARE(first.status, 202);
        QCOMPARE(first.json.value("duplicate").toBool(), false);
        QCOMPARE(first.json.value("rows").toArray().size(), 2);
        HttpResult again = http.post(QStringLiteral("/v1/alertmanager"), alertmanager("firing", "{}:{alertname=\"DiskFull\"}"), intake_->httpToken);
        QCOMPARE(again.status, 202);
        QCOMPARE(again.json.value("duplicate").toBool(), true);
        QCOMPARE(again.json.value("count").toInt(), 2);
        QVERIFY(intake_->waitPaged(2));
        HttpResult resolved = http.post(QStringLiteral("/v1/alertmanager"), alertmanager("resolved", "{}:{alertname=\"DiskFull\"}"), intake_->httpToken);
        QCOMPARE(resolved.status, 202);
        QVERIFY(intake_->waitPaged(4));
        QStringList paged = intake_->paged();
        paged.sort();
        QCOMPARE(paged, (QStringList { "1001: RESOLVED: [FIRING:1] Disk full on db1", "1001: [FIRING:1] Disk full on db1",
                            "1002: RESOLVED: [FIRING:1] Disk full on db1", "1002: [FIRING:1] Disk full on db1" }));
        QCOMPARE(intake_->outcomes().size(), 4);
        const HttpResult status = http.get(QStringLiteral("/v1/status?dedup_key=%1")
                                               .arg(QString::fromLatin1(QUrl::toPercentEncoding(first.json.value("dedup_key").toString()))),
            intake_->httpToken);
        QCOMPARE(status.status, 200);
        QVERIFY2(status.body.contains("SENT"), status.body.constData());
        // Grafana's body is the same shape with its own version, on its own endpoint.
        QCOMPARE(http.post(QStringLiteral("/v1/grafana"), alertmanager("firing", "grafana-1", "1"), intake_->httpToken).status, 202);
        QCOMPARE(http.post(QStringLiteral("/v1/grafana"), alertmanager("firing", "grafana-2", "4"), intake_->httpToken).status, 400);
    }

    // The Events API v2 shape: a trigger pages once per dedup_key and answers as that API does,
    // an acknowledgement pages nobody, a resolve pages "RESOLVED: ..."; a bad body is 400 with the
    // fields named.
    void eventsV2()
    {
        intake_->open();
        HttpClient http(intake_->httpPort);
        const QString trigger = QStringLiteral("/v2/enqueue");
        HttpResult r = http.post(trigger, eventBody(intake_->httpToken, "trigger", "boiler-7", "Boiler 7 pressure low"));
        QCOMPARE(r.status, 202);
        QCOMPARE(r.json, (QJsonObject { { "status", "success" }, { "message", "Event processed" }, { "dedup_key", "boiler-7" } }));
        QCOMPARE(http.post(trigger, eventBody(intake_->httpToken, "trigger", "boiler-7", "Boiler 7 pressure low")).status, 202);
        QCOMPARE(http.post(trigger, eventBody(intake_->httpToken, "acknowledge", "boiler-7")).status, 202);
        QVERIFY(intake_->waitPaged(2));
        QCOMPARE(http.post(trigger, eventBody(intake_->httpToken, "resolve", "boiler-7")).status, 202);
        QVERIFY(intake_->waitPaged(4));
        QCOMPARE(intake_->paged().filter(QStringLiteral("RESOLVED: Boiler 7 pressure low")).size(), 2);
        // A trigger without a key is given one.
        r = http.post(trigger, eventBody(intake_->httpToken, "trigger", QString(), "Door open"));
        QCOMPARE(r.status, 202);
        QVERIFY(!r.json.value("dedup_key").toString().isEmpty());

        const HttpResult bad = http.post(trigger, R"({"routing_key":")" + intake_->httpToken + R"(","event_action":"trigger","payload":{"severity":"loud"}})");
        QCOMPARE(bad.status, 400);
        QCOMPARE(bad.json.value("status").toString(), QStringLiteral("invalid event"));
        const QString errors = QJsonDocument(bad.json.value("errors").toArray()).toJson();
        QVERIFY2(errors.contains("payload.summary") && errors.contains("payload.severity") && errors.contains("payload.source"),
            qPrintable(errors));
        QCOMPARE(http.post(trigger, eventBody("not-a-token", "trigger", "x", "y")).status, 401);
    }

    // /v1/page as JSON and as a form: 202 with the rows, whose outcome /v1/status gives.
    void pageAndItsStatus()
    {
        intake_->open();
        HttpClient http(intake_->httpPort);
        HttpResult json = http.post(QStringLiteral("/v1/page"), R"({"to":"Bob","text":"Call the desk"})", intake_->httpToken);
        QCOMPARE(json.status, 202);
        QCOMPARE(json.json.value("rows").toArray().size(), 1);
        HttpResult form = http.post(QStringLiteral("/v1/page"), "to=1001&text=Lift+3+stuck", intake_->httpToken,
            "application/x-www-form-urlencoded");
        QCOMPARE(form.status, 202);
        QVERIFY(intake_->waitPaged(2));
        QCOMPARE(intake_->paged(), (QStringList { "1002: Call the desk", "1001: Lift 3 stuck" }));
        const int row = json.json.value("rows").toArray().first().toInt();
        const HttpResult status = http.get(QStringLiteral("/v1/status?row=%1").arg(row), intake_->httpToken);
        QCOMPARE(status.status, 200);
        QVERIFY2(status.body.contains("SENT") && status.body.contains("Bob"), status.body.constData());
        QCOMPARE(http.post(QStringLiteral("/v1/page"), R"({"to":"Nobody Known","text":"x"})", intake_->httpToken).status, 400);
    }

    // Every refusal has its status and pages nobody.
    void refusals()
    {
        intake_->open();
        HttpClient http(intake_->httpPort);
        const QByteArray body = alertmanager("firing", "g1");
        HttpResult r = http.post(QStringLiteral("/v1/alertmanager"), body);
        QCOMPARE(r.status, 401);
        QVERIFY(r.wwwAuthenticate.startsWith("Bearer"));
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), body, "wrong").status, 401);
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), body, intake_->snppToken).status, 401);
        QCOMPARE(http.get(QStringLiteral("/v1/status?row=1"), "wrong").status, 401);
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), body, intake_->httpToken, "text/plain").status, 415);
        QCOMPARE(http.post(QStringLiteral("/v1/page"), "<page/>", intake_->httpToken, "application/xml").status, 415);
        r = http.post(QStringLiteral("/v1/alertmanager"), R"({"version":"4","alerts":[{)", intake_->httpToken);
        QCOMPARE(r.status, 400);
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), "[1,2]", intake_->httpToken).status, 400);
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), QByteArray(4000, '['), intake_->httpToken).status, 400);
        QCOMPARE(http.post(QStringLiteral("/v1/alertmanager"), QByteArray(5000, '['), intake_->httpToken).status, 413);
        QCOMPARE(http.get(QStringLiteral("/v1/alertmanager"), intake_->httpToken).status, 405);
        QCOMPARE(http.get(QStringLiteral("/v1/status"), intake_->httpToken).status, 400);
        QCOMPARE(http.get(QStringLiteral("/etc/passwd"), intake_->httpToken).status, 404);
        // A chunked body over the limit is refused as it arrives.
        QByteArray chunked = "POST /v1/page HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + intake_->httpToken
            + "\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < 10; ++i)
            chunked += "3e8\r\n" + QByteArray(1000, ' ') + "\r\n";
        chunked += "0\r\n\r\n";
        QVERIFY2(raw(intake_->httpPort, chunked).contains(" 413 "), "chunked body over MaxBody");
        QTest::qWait(300);
        QVERIFY(intake_->outcomes().isEmpty());
        QVERIFY(intake_->paged().isEmpty());
    }

    // Over the source's pages a minute: 429 with Retry-After, nothing queued.
    void rateLimit()
    {
        const QByteArray token = intake_->addSource(QStringLiteral("chatty"), QStringLiteral("HTTP"), QStringLiteral("Bob"), 1);
        intake_->open();
        HttpClient http(intake_->httpPort);
        QCOMPARE(http.post(QStringLiteral("/v1/page"), R"({"text":"one"})", token).status, 202);
        const HttpResult second = http.post(QStringLiteral("/v1/page"), R"({"text":"two"})", token);
        QCOMPARE(second.status, 429);
        QVERIFY(second.retryAfter.toInt() >= 1);
        QVERIFY(intake_->waitPaged(1));
        QCOMPARE(intake_->outcomes().size(), 1);
    }

    // With a certificate and key both listeners speak TLS: a client that trusts the certificate
    // pages, a plain request gets no answer.
    void tls()
    {
        QTemporaryDir keys;
        const QString cert = keys.filePath(QStringLiteral("desk.crt"));
        const QString key = keys.filePath(QStringLiteral("desk.key"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"), { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                                      "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1" });
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        intake_.reset();
        intake_ = std::make_unique<IntakeRun>();
        QVERIFY(intake_->seed(QStringLiteral("TlsCertificate=%1\nTlsKey=%2\n").arg(cert, key)));
        auto& run = intake_->open();
        QVERIFY2(run.deskSession.startupLines().filter(QStringLiteral("(TLS)")).size() == 2,
            qPrintable(run.deskSession.startupLines().join('\n')));
        HttpClient https(intake_->httpPort, true);
        https.trust(QSslCertificate::fromPath(cert));
        QCOMPARE(https.post(QStringLiteral("/v1/page"), R"({"text":"Over TLS"})", intake_->httpToken).status, 202);
        HttpClient plain(intake_->httpPort);
        QCOMPARE(plain.post(QStringLiteral("/v1/page"), R"({"text":"In clear"})", intake_->httpToken).status, 0);

        QSslSocket snpp;
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(QSslCertificate::fromPath(cert));
        snpp.setSslConfiguration(configuration);
        snpp.connectToHostEncrypted(QStringLiteral("127.0.0.1"), intake_->snppPort);
        QVERIFY(QTest::qWaitFor([&] { return snpp.canReadLine(); }, 10000));
        QVERIFY(snpp.readLine().startsWith("220"));
        // Over the cap from the handshake on.
        run.deskSession.listeners().snpp()->setMaxConnections(1);
        QSslSocket over;
        over.setSslConfiguration(configuration);
        over.connectToHostEncrypted(QStringLiteral("127.0.0.1"), intake_->snppPort);
        QVERIFY(QTest::qWaitFor([&] { return over.state() == QAbstractSocket::UnconnectedState; }, 10000));
        QVERIFY(!over.isEncrypted());
        QVERIFY(intake_->waitPaged(1));
        QCOMPARE(intake_->paged(), (QStringList { "1001: Over TLS", "1002: Over TLS" }));
    }

    // A port taken or a certificate that does not load is one status line each; the rest runs.
    void listenerThatCannotStart()
    {
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, intake_->httpPort));
        auto& run = intake_->open();
        const QString lines = run.deskSession.startupLines().join('\n');
        QVERIFY2(lines.contains(QStringLiteral("HTTP listener not started on 127.0.0.1:%1").arg(intake_->httpPort)), qPrintable(lines));
        QVERIFY2(run.statusLines.join('\n').contains(QStringLiteral("HTTP listener not started")), qPrintable(lines));
        auto client = std::make_unique<LineClient>();
        QVERIFY(client->connectTo(intake_->snppPort));
        QVERIFY(client->line().startsWith("220"));
        intake_->run.reset();

        QVERIFY(testsupport::DataFolder::writeSettings(QStringLiteral("[Intake]\nSnppPort=%1\nHttpPort=%2\nTlsCertificate=%3\nTlsKey=%3\n")
                                                           .arg(intake_->snppPort).arg(freePort()).arg(intake_->dir.filePath(QStringLiteral("BUSERS.DBF")))));
        auto& bad = intake_->open();
        QCOMPARE(bad.deskSession.startupLines().filter(QStringLiteral("not started")).size(), 2);
        QVERIFY(!bad.deskSession.listeners().snpp() && !bad.deskSession.listeners().http());
    }

    // Hostile clients: a body that never ends and a client dripping its headers are cut off at
    // the deadline, idle connections beyond the cap are refused; the SNPP listener goes on
    // meanwhile, and nothing is paged.
    void hostileClients()
    {
        auto& run = intake_->open();
        intake::HttpServer* server = run.deskSession.listeners().http();
        QVERIFY(server);
        server->setMaxConnections(20);
        server->setRequestDeadline(1000);
        server->setIdleTimeout(60);
        server->close();
        const QString relisten = server->listen(QHostAddress::LocalHost, intake_->httpPort);
        QVERIFY2(relisten.isEmpty(), qPrintable(relisten));

        LineClient endless;
        QVERIFY(endless.connectTo(intake_->httpPort));
        endless.socket.write("POST /v1/page HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + intake_->httpToken
            + "\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n{\"text\":");
        LineClient dripping;
        QVERIFY(dripping.connectTo(intake_->httpPort));
        QTimer drip;
        connect(&drip, &QTimer::timeout, &dripping.socket, [&] { dripping.socket.write("X"); });
        dripping.socket.write("POST /v1/page HTTP/1.1\r\nX-Slow: ");
        drip.start(100);
        std::vector<std::unique_ptr<LineClient>> idle;
        for (int i = 0; i < 40; ++i) {
            idle.push_back(std::make_unique<LineClient>());
            idle.back()->socket.connectToHost(QHostAddress::LocalHost, intake_->httpPort);
        }
        QTest::qWait(300);
        QVERIFY(server->connectionCount() <= 20);

        auto snpp = std::make_unique<LineClient>();
        QVERIFY(snpp->connectTo(intake_->snppPort));
        QVERIFY(snpp->line().startsWith("220"));
        QCOMPARE(snpp->ask("LOGI nurse " + intake_->snppToken + "\r\n").left(3), QByteArray("250"));

        QVERIFY(endless.waitClosed(5000));
        QVERIFY(dripping.waitClosed(5000));
        drip.stop();
        QVERIFY(!endless.buffer.contains(" 202 "));
        idle.clear();
        QVERIFY(QTest::qWaitFor([&] { return server->connectionCount() == 0; }, 5000));
        HttpClient http(intake_->httpPort);
        QCOMPARE(http.post(QStringLiteral("/v1/page"), R"({"text":"Still here"})", intake_->httpToken).status, 202);
        QVERIFY(intake_->waitPaged(2));
        QCOMPARE(intake_->outcomes().size(), 2);
    }

    // Requests that arrive together share one write of the pending file: when it fails, every one
    // is answered 503 and nothing of them stays queued (their rows say REFUSED); once it can be
    // written, every one is answered 202 and its page is on disk as its answer arrives.
    void concurrentRequestsShareOneWrite()
    {
        intake_->run = std::make_unique<testsupport::SessionRun>(intake_->dir.path());
        testsupport::SessionRun& run = *intake_->run;
        run.deskSession.clock = [] { return QDateTime::currentDateTime(); };
        core::PendingFile& pending = run.desk().pendingFile();
        const QString path = QFileInfo(pending.path()).absoluteFilePath();
        const int count = 20;

        pending.setPath(intake_->dir.filePath(QStringLiteral("missing/PendMsgs")));
        for (const auto& [status, onDisk] : burst(intake_->httpPort, intake_->httpToken, path, QStringLiteral("Lost"), count))
            QCOMPARE(status, 503);
        QVERIFY(run.desk().SendMsgs().isEmpty());
        QCOMPARE(intake_->outcomes(), QStringList(count, QStringLiteral("Alice|1001|REFUSED")));

        pending.setPath(path);
        for (const auto& [status, onDisk] : burst(intake_->httpPort, intake_->httpToken, path, QStringLiteral("Kept"), count)) {
            QCOMPARE(status, 202);
            QVERIFY(onDisk);
        }
        QCOMPARE(run.desk().SendMsgs().rowCount(), count);
    }

    // A refused token is answered no sooner than an accepted request takes.
    void wrongTokenAnsweredAsLateAsARightOne()
    {
        intake_->open();
        HttpClient http(intake_->httpPort);
        QElapsedTimer clock;
        qint64 accepted = 0;
        for (int i = 0; i < 3; ++i) {
            clock.start();
            QCOMPARE(http.post(QStringLiteral("/v1/page"), R"({"to":"1001","text":"t"})", intake_->httpToken).status, 202);
            accepted += clock.elapsed();
        }
        clock.start();
        QCOMPARE(http.post(QStringLiteral("/v1/page"), R"({"to":"1001","text":"t"})", "wrong-token").status, 401);
        const qint64 refused = clock.elapsed();
        QVERIFY2(refused * 3 >= accepted / 2, qPrintable(QStringLiteral("%1 ms against %2 ms").arg(refused).arg(accepted / 3)));
    }

    // Stopping with a request handed to the session and not yet answered: it is answered 503 and
    // the stop does not wait on anything.
    void stopAnswersWhatWaits()
    {
        auto& run = intake_->open();
        QByteArray answer;
        std::thread client([&, port = intake_->httpPort, token = intake_->httpToken] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(5000))
                return;
            const QByteArray body = R"({"text":"Caught by the stop"})";
            socket.write("POST /v1/page HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " + token
                + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            socket.waitForBytesWritten(5000);
            while (socket.waitForReadyRead(5000))
                answer += socket.readAll();
        });
        // The session's thread is busy: the request waits for it, its connection suspended.
        QThread::msleep(500);
        QElapsedTimer stopping;
        stopping.start();
        run.deskSession.listeners().stop();
        QVERIFY(stopping.elapsed() < 2000);
        client.join();
        QVERIFY2(answer.startsWith("HTTP/1.1 503"), answer.constData());
        QTest::qWait(200);
        QVERIFY(intake_->outcomes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_HttpListener)
#include "tst_httplistener.moc"
