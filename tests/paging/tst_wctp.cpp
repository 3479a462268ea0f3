// Pages through a WCTP carrier: the paging library against the carrier simulator's WCTP server (a real
// process on loopback HTTP), the documents both sides write checked against the WCTP 1.3 DTD with
// xmllint, and TLS refusals against a real TLS server with a certificate that does not verify.

#include "pagerecorder.h"
#include "pagersimprocess.h"

#include "paging/pagestatus.h"
#include "paging/wctpclient.h"
#include "paging/wctpmessage.h"

#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

using namespace paging;

class tst_Wctp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void documentsValidate_data();
    void documentsValidate();
    void pages_data();
    void pages();
    void failsWithinTheDeadline_data();
    void failsWithinTheDeadline();
    void tlsRefusalNamesTheHost_data();
    void tlsRefusalNamesTheHost();
    void queryFollowsTheMessage();
    void cancelEndsAWaitingSubmit();

private:
    static QString dtd() { return QStringLiteral(PLIMO_SOURCE_DIR "/tests/paging/wctp-v1r3.dtd"); }
    // xmllint's verdict on BODY against the DTD: empty when valid, else what it said.
    QString invalidity(const QByteArray& body);
    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_Wctp::initTestCase()
{
    QVERIFY(QFile::exists(PagerSimProcess::program()));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty(),
        "xmllint (Debian package libxml2-utils) is needed");
}

QString tst_Wctp::invalidity(const QByteArray& body)
{
    const QString path = m_dir.filePath(QStringLiteral("doc%1.xml").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
        return QStringLiteral("cannot write %1").arg(path);
    file.close();
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), { QStringLiteral("--noout"), QStringLiteral("--dtdvalid"), dtd(), path });
    if (!lint.waitForFinished(10000))
        return QStringLiteral("xmllint did not finish");
    if (lint.exitCode() == 0)
        return QString();
    return QString::fromUtf8(lint.readAllStandardError()) + QString::fromUtf8(body);
}

// What the desk writes, whatever the texts hold: markup characters, non-Latin text, controls that XML
// cannot carry, an empty message, no password.
void tst_Wctp::documentsValidate_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "desk" << "secret" << "Call the office";
    QTest::newRow("markup characters") << "a\"b'<c>" << "p&w<\">" << "if a < b && c > \"d\" then 'e' ]]>";
    QTest::newRow("non-Latin") << "desk" << "pässwörd" << QString::fromUtf8("Grüße – 日本語 🚑");
    QTest::newRow("control characters") << "desk" << "pw"
                                        << QString::fromLatin1("a\x01\x1b[p\x7f b\r\nc\td") + QChar(0xFFFE);
    QTest::newRow("empty text, no password") << "desk" << "" << "";
}

void tst_Wctp::documentsValidate()
{
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, text);
    const QByteArray submit = wctp::writeSubmit({ login, password, QStringLiteral("5551234"), text });
    QCOMPARE(invalidity(submit), QString());
    QCOMPARE(invalidity(wctp::writeQuery({ login, QStringLiteral("5551234"), QStringLiteral("W1&2") })), QString());
    QCOMPARE(submit.contains("authorizationCode"), !password.isEmpty());
}

// Pages that reach the server's answer: the final code, the statuses on the way, the tracking numbers
// given back, and what the server recorded (each ID once per page, the text exact).
void tst_Wctp::pages_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("pager");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("finalCode");
    QTest::addColumn<QStringList>("mustReport");
    QTest::addColumn<QStringList>("pagesRecorded"); // "ID:text" in the order received

    const QString text = QString::fromUtf8("Fire & <smoke> at \"Gate 3\" – Grüße");
    QTest::newRow("one page") << QStringList() << "pw" << "5551234" << 0 << text << 0
                              << QStringList { "Sending page 1 of 1" } << QStringList { "5551234:" + text };
    QTest::newRow("group: one submit per ID")
        << QStringList() << "pw" << "11^22^33^" << 0 << "group text^^" << 0
        << QStringList { "Sending page 3 of 3" } << QStringList { "11:group text", "22:group text", "33:group text" };
    QTest::newRow("long message: one submit per page")
        << QStringList() << "pw" << "7" << 5 << "abcdefghijkl" << 0 << QStringList { "Sending page 3 of 3" }
        << QStringList { "7:abcde", "7:fghij", "7:kl" };
    QTest::newRow("group with an invalid recipient")
        << QStringList { "--fault", "invalid=22" } << "pw" << "11^22^33^" << 0 << "x^^" << int(GroupBadIds)
        << QStringList { "GroupRes|2:403Invalid pager ID" } << QStringList { "11:x", "33:x" };
    QTest::newRow("invalid recipient") << QStringList { "--fault", "invalid=9" } << "pw" << "9" << 0 << "x"
                                       << int(InvalidPagerId) << QStringList() << QStringList();
    QTest::newRow("wrong password") << QStringList() << "wrong" << "11^22^" << 0 << "x^^" << int(LoginRefused)
                                    << QStringList { "GroupRes|1:000Terminal refused login",
                                           "GroupRes|2:000Terminal refused login" }
                                    << QStringList();
    QTest::newRow("server's own trouble (600s): try later")
        << QStringList { "--fault", "wctp-fail=602" } << "pw" << "1" << 0 << "x" << int(WctpServerBusy)
        << QStringList() << QStringList();
    QTest::newRow("message refused (500s)") << QStringList { "--fault", "wctp-fail=503" } << "pw" << "1" << 0 << "x"
                                            << int(WctpRefused) << QStringList() << QStringList();
}

void tst_Wctp::pages()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, password);
    QFETCH(QString, pager);
    QFETCH(int, size);
    QFETCH(QString, message);
    QFETCH(int, finalCode);
    QFETCH(QStringList, mustReport);
    QFETCH(QStringList, pagesRecorded);

    PagerSimProcess sim;
    QVERIFY(sim.start(QStringList { "--wctp", "0", "--password", "pw" } + simArgs));
    PageRecorder rec("WCTP");
    QCOMPARE(rec.startWctp({ QUrl(sim.wctp()), QStringLiteral("desk"), password }, pager, size, message), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 10000);
    QVERIFY2(rec.finalCode == finalCode, qPrintable(QStringLiteral("%1 %2").arg(rec.finalCode).arg(rec.finalText)));
    for (const QString& text : mustReport)
        QVERIFY2(rec.texts().contains(text), qPrintable(text + " not in " + rec.texts().join(" | ")));

    const QList<QJsonObject> recorded = sim.transcript(QStringLiteral("page"));
    QStringList seen;
    QStringList tracking;
    for (const QJsonObject& page : recorded) {
        seen << page.value("id").toString() + ":" + page.value("text").toString();
        tracking << page.value("tracking").toString();
    }
    QCOMPARE(seen, pagesRecorded);
    // The tracking numbers come back in the order of the pages, each with its ID and page.
    const QList<WctpTicket> tickets = wctpTickets("WCTP");
    QStringList given;
    for (const WctpTicket& t : tickets)
        given << t.trackingNumber;
    QCOMPARE(given, tracking);
    for (const QJsonObject& login : sim.transcript(QStringLiteral("login")))
        QCOMPARE(login.value("sender").toString(), QStringLiteral("desk"));
}

// A server that does not give a WCTP answer: a retryable failure, within the deadline, naming the host.
void tst_Wctp::failsWithinTheDeadline_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("urlPath"); // "" keeps the simulator's URL; "refused" a closed port
    QTest::addColumn<int>("finalCode");
    QTest::addColumn<bool>("retryable");
    QTest::newRow("garbage for an answer") << QStringList { "--fault", "garbage" } << "" << int(BadServerAnswer) << true;
    QTest::newRow("closed without an answer") << QStringList { "--fault", "close" } << "" << int(ConnectionLost) << true;
    QTest::newRow("never answers") << QStringList { "--fault", "silent-terminal" } << "" << int(ServerNotResponding) << true;
    QTest::newRow("answers too late") << QStringList { "--fault", "slow-ack=2" } << "" << int(ServerNotResponding) << true;
    QTest::newRow("nobody listening") << QStringList() << "refused" << int(ServerUnavailable) << true;
    QTest::newRow("wrong path: HTTP 404") << QStringList() << "/other" << int(HttpError) << false;
}

void tst_Wctp::failsWithinTheDeadline()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, urlPath);
    QFETCH(int, finalCode);
    QFETCH(bool, retryable);
    constexpr int kDeadlineMs = 800;
    PagerSimProcess sim;
    QVERIFY(sim.start(QStringList { "--wctp", "0" } + simArgs));
    QUrl url(sim.wctp());
    if (urlPath == u"refused") {
        QTcpServer probe; // a port that was free a moment ago
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        url.setPort(probe.serverPort());
    } else if (!urlPath.isEmpty()) {
        url.setPath(urlPath);
    }
    PageRecorder rec("WCTP");
    QCOMPARE(rec.startWctp({ url, QStringLiteral("desk"), QStringLiteral("pw"), kDeadlineMs }, "1^2^", 0, "x^^"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 10000);
    QVERIFY2(rec.finalCode == finalCode, qPrintable(QStringLiteral("%1 %2").arg(rec.finalCode).arg(rec.finalText)));
    QCOMPARE(isRetryable(rec.finalCode), retryable);
    QVERIFY2(rec.finishedAfterMs < kDeadlineMs + 500, qPrintable(QString::number(rec.finishedAfterMs)));
    QVERIFY2(rec.finalText.contains(QStringLiteral("127.0.0.1")), qPrintable(rec.finalText));
    // The first submit failed: both places of the group are told why.
    QVERIFY(rec.texts().contains(groupResultText(2, 0, statusText(finalCode))));
}

// HTTPS to a server whose certificate does not verify (self-signed), and to a port that speaks no TLS.
void tst_Wctp::tlsRefusalNamesTheHost_data()
{
    QTest::addColumn<bool>("selfSigned");
    QTest::newRow("self-signed certificate") << true;
    QTest::newRow("plain HTTP port") << false;
}

void tst_Wctp::tlsRefusalNamesTheHost()
{
    QFETCH(bool, selfSigned);
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--wctp", "0" }));
    QSslServer tls;
    QUrl url(sim.wctp());
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("localhost"));
    if (selfSigned) {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("openssl is needed to make a certificate");
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
            { "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
                "-out", cert, "-days", "2", "-subj", "/CN=localhost" });
        QVERIFY(openssl.waitForFinished(20000));
        QCOMPARE(openssl.exitCode(), 0);
        QFile k(key), c(cert);
        QVERIFY(k.open(QIODevice::ReadOnly) && c.open(QIODevice::ReadOnly));
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(c.readAll()));
        config.setPrivateKey(QSslKey(k.readAll(), QSsl::Ec));
        tls.setSslConfiguration(config);
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        url.setPort(tls.serverPort());
    }
    PageRecorder rec("WCTP");
    QCOMPARE(rec.startWctp({ url, QStringLiteral("desk"), QStringLiteral("pw"), 5000 }, "1", 0, "x"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 10000);
    QVERIFY2(rec.finalCode == TlsFailure, qPrintable(QStringLiteral("%1 %2").arg(rec.finalCode).arg(rec.finalText)));
    QVERIFY(!isRetryable(TlsFailure));
    QVERIFY2(rec.finalText.contains(QStringLiteral("localhost")), qPrintable(rec.finalText));
    if (selfSigned)
        QVERIFY2(rec.finalText.contains(QStringLiteral("does not verify")), qPrintable(rec.finalText));
    QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 0);
}

// A tracking number queried as the server moves it on: QUEUED, DELIVERED, READ, with the server's poll
// interval; the server's answers are valid documents too. An unknown number is a failure, not a state.
void tst_Wctp::queryFollowsTheMessage()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--wctp", "0", "--wctp-delivered-ms", "500", "--wctp-read-ms", "1200" }));
    WctpClient client({ QUrl(sim.wctp()), QStringLiteral("desk"), QStringLiteral("pw"), 5000 });
    const WctpClient::SubmitResult submitted = client.submit(QStringLiteral("42"), QStringLiteral("hello"));
    QCOMPARE(submitted.status, 0);
    QVERIFY(submitted.answer.success);
    QCOMPARE(invalidity(client.lastBody()), QString());
    QElapsedTimer since;
    since.start();
    const QString number = submitted.answer.trackingNumber;

    const auto stateAt = [&](int ms) {
        while (since.elapsed() < ms)
            QTest::qWait(10);
        const WctpClient::QueryResult r = client.query(QStringLiteral("42"), number);
        if (r.status != 0 || !invalidity(client.lastBody()).isEmpty())
            return QStringLiteral("status %1 %2").arg(r.status).arg(r.detail);
        if (r.answer.nextPollSeconds != 60 || !r.answer.when.isValid())
            return QStringLiteral("no poll interval or time");
        return wctp::deliveryName(r.answer.state);
    };
    QCOMPARE(stateAt(0), QStringLiteral("QUEUED"));
    QCOMPARE(stateAt(800), QStringLiteral("DELIVERED"));
    QCOMPARE(stateAt(1500), QStringLiteral("READ"));

    const WctpClient::QueryResult unknown = client.query(QStringLiteral("42"), QStringLiteral("NOSUCH"));
    QCOMPARE(unknown.status, 0);
    QCOMPARE(unknown.answer.state, wctp::Delivery::Failed);
    QVERIFY(unknown.answer.errorCode > 0);
    QCOMPARE(invalidity(client.lastBody()), QString());
}

void tst_Wctp::cancelEndsAWaitingSubmit()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--wctp", "0", "--fault", "silent-terminal" }));
    PageRecorder rec("WCTP");
    QCOMPARE(rec.startWctp({ QUrl(sim.wctp()), QStringLiteral("desk"), QString() }, "1", 0, "x"), 0);
    QVERIFY(sim.waitFor(QStringLiteral("connect"), 1));
    QCOMPARE(CancelPage("WCTP"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rec.finished, 2000);
    QCOMPARE(rec.finalCode, int(Cancelled));
}

QTEST_GUILESS_MAIN(tst_Wctp)
#include "tst_wctp.moc"
