// The desk's SNPP listener through the real session: a socket, pagesend and HylaFAX's sendpage as
// clients, the pages delivered through the carrier simulator and read back from DLVSTAT.
#include "config/inifile.h"
#include "intake/listeners.h"
#include "intake/snppdialogue.h"
#include "intake/snppserver.h"
#include "intakerun.h"
#include "store/table.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>

#include <pwd.h>
#include <unistd.h>

using namespace intaketest;

class tst_SnppListener : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IntakeRun> intake_;

    // A session on the listener, logged in as "nurse".
    std::unique_ptr<LineClient> login()
    {
        auto client = std::make_unique<LineClient>();
        if (!client->connectTo(intake_->snppPort) || !client->line().startsWith("220"))
            return nullptr;
        if (!client->ask("LOGI nurse " + intake_->snppToken + "\r\n").startsWith("250"))
            return nullptr;
        return client;
    }

private slots:
    void init()
    {
        intake_ = std::make_unique<IntakeRun>();
        QVERIFY(intake_->seed(QStringLiteral("MaxBody=2000\n")));
    }
    void cleanup() { intake_.reset(); }

    // LOGI, a user by name and one by pager ID, a dot-stuffed DATA, SEND: both paged, each with its
    // row; a group named with "_" for its blank pages its members.
    void messagePagesEveryRecipient()
    {
        auto& run = intake_->open();
        QVERIFY2(run.deskSession.startupLines().join('\n').contains(QStringLiteral("SNPP listener on 127.0.0.1:")),
            qPrintable(run.deskSession.startupLines().join('\n')));
        auto client = login();
        QVERIFY(client);
        QCOMPARE(client->ask("PAGE alice\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("PAGE 1002\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("DATA\r\n").left(3), QByteArray("354"));
        QCOMPARE(client->ask("Ward 3 bed 12\r\n..dots kept\r\n.\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("SEND\r\n"), QByteArray("250 Message queued"));
        QVERIFY(intake_->waitPaged(2));
        QCOMPARE(client->ask("PAGE night_SHIFT\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("MESS Second\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("SEND\r\n"), QByteArray("250 Message queued"));
        QVERIFY(intake_->waitPaged(4));
        QCOMPARE(client->ask("QUIT\r\n").left(3), QByteArray("221"));
        QVERIFY(client->waitClosed());

        QStringList paged = intake_->paged();
        QCOMPARE(paged.mid(0, 2), (QStringList { "1001: Ward 3 bed 12 .dots kept", "1002: Ward 3 bed 12 .dots kept" }));
        paged = paged.mid(2);
        paged.sort();
        QCOMPARE(paged, (QStringList { "1001: Second", "1002: Second" }));
        const QStringList rows = intake_->outcomes();
        QCOMPARE(rows.size(), 4);
        for (const QString& row : rows)
            QVERIFY2(row.endsWith(QStringLiteral("|SENT")), qPrintable(row));
    }

    // What a client may not do gets its reply and pages nobody: PAGE before LOGI (530), a LOGI
    // without a password, with a wrong one or an HTTP source's token (550), an unknown pager ID or
    // a file's name (550), an unknown command (500), SEND without a message (503).
    void refusalsPageNobody()
    {
        intake_->open();
        LineClient client;
        QVERIFY(client.connectTo(intake_->snppPort));
        QVERIFY(client.line().startsWith("220"));
        QCOMPARE(client.ask("PAGE 1001\r\n").left(3), QByteArray("530"));
        QCOMPARE(client.ask("MESS hello\r\n").left(3), QByteArray("530"));
        QCOMPARE(client.ask("LOGI nurse\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("LOGI nurse " + intake_->snppToken.left(10) + "\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("LOGI monitoring " + intake_->httpToken + "\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("SEND\r\n").left(3), QByteArray("530"));
        QCOMPARE(client.ask("LOGI nurse " + intake_->snppToken + "\r\n").left(3), QByteArray("250"));
        QCOMPARE(client.ask("PAGE 9999\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("PAGE /etc/passwd\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("PAGE ../BUSERS.DBF\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("SEND\r\n").left(3), QByteArray("503"));
        QCOMPARE(client.ask("2WAY\r\n").left(3), QByteArray("500"));
        QCOMPARE(client.ask("HOLD 991340\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("LEVE 12\r\n").left(3), QByteArray("550"));
        QCOMPARE(client.ask("HELP\r\n").left(3), QByteArray("250"));
        QCOMPARE(client.ask("MESS one\r\n").left(3), QByteArray("250"));
        QCOMPARE(client.ask("MESS two\r\n").left(3), QByteArray("503"));
        QCOMPARE(client.ask("RESE\r\n").left(3), QByteArray("250"));
        QCOMPARE(client.ask("SEND\r\n").left(3), QByteArray("503"));
        QTest::qWait(300);
        QVERIFY(intake_->outcomes().isEmpty());
        QVERIFY(intake_->paged().isEmpty());
    }

    // HOLD makes a scheduled record due at that moment; nothing is paged now.
    void holdSchedules()
    {
        auto& run = intake_->open();
        auto client = login();
        QVERIFY(client);
        const QDateTime due = QDateTime::currentDateTime().addDays(2);
        QCOMPARE(client->ask("PAGE Bob\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("HOLD " + due.toString(QStringLiteral("yyMMddHHmm")).toLatin1() + "\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("MESS Later\r\n").left(3), QByteArray("250"));
        QCOMPARE(client->ask("SEND\r\n"), QByteArray("250 Message queued"));
        store::Table& sched = run.desk().SchedMsgT();
        sched.refresh();
        int records = 0;
        for (sched.first(); !sched.eof(); sched.next()) {
            ++records;
            QCOMPARE(sched.fieldText(store::schedmsg::UserName).trimmed(), QStringLiteral("Bob"));
            QCOMPARE(sched.fieldText(store::schedmsg::DDate).trimmed(), due.toString(QStringLiteral("yyyy/MM/dd")));
        }
        QCOMPARE(records, 1);
        QVERIFY(intake_->paged().isEmpty());
    }

    void holdTimes_data()
    {
        QTest::addColumn<QByteArray>("when");
        QTest::addColumn<QByteArray>("gmt");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("minutes") << QByteArray("2612241830") << QByteArray() << QDateTime(QDate(2026, 12, 24), QTime(18, 30));
        QTest::newRow("seconds") << QByteArray("261224183015") << QByteArray() << QDateTime(QDate(2026, 12, 24), QTime(18, 30, 15));
        QTest::newRow("GMT difference")
            << QByteArray("2612241830") << QByteArray("-0500")
            << QDateTime(QDate(2026, 12, 24), QTime(23, 30), Qt::UTC).toLocalTime();
        QTest::newRow("no such day") << QByteArray("2602301830") << QByteArray() << QDateTime();
        QTest::newRow("letters") << QByteArray("26122418xx") << QByteArray() << QDateTime();
        QTest::newRow("difference out of range") << QByteArray("2612241830") << QByteArray("+2500") << QDateTime();
    }
    // HOLD's forms: YYMMDDHHMM[SS] in local time, or at a GMT difference; anything else is invalid.
    void holdTimes()
    {
        QFETCH(QByteArray, when);
        QFETCH(QByteArray, gmt);
        QTEST(intake::SnppDialogue::holdTime(when, gmt), "expected");
    }

    void limitsEndTheSession_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("line over 512 bytes") << "MESS " + QByteArray(600, 'x') + "\r\n" << QByteArray("421");
        QTest::newRow("line without an end") << QByteArray(600, 'x') << QByteArray("421");
        QTest::newRow("CR inside a command") << QByteArray("PAGE 1001\rPAGE 1002\r\n") << QByteArray("421");
        QTest::newRow("NUL inside a command") << QByteArray("PAGE 1001\0x\r\n", 13) << QByteArray("421");
        QByteArray pages;
        for (int i = 0; i < 101; ++i)
            pages += "PAGE 1001\r\n";
        QTest::newRow("101 PAGEs") << pages << QByteArray("421");
        QByteArray data = "PAGE 1001\r\nDATA\r\n";
        for (int i = 0; i < 30; ++i)
            data += QByteArray(100, 'd') + "\r\n";
        QTest::newRow("DATA over MaxBody") << data << QByteArray("554");
    }
    // A line too long, a control character inside a command, too many PAGEs or a message over
    // MaxBody end the session with its reply; nothing is paged, and the listener goes on.
    void limitsEndTheSession()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        intake_->open();
        auto client = login();
        QVERIFY(client);
        client->socket.write(sent);
        QByteArray last;
        for (QByteArray line = client->line(); !line.isEmpty(); line = client->line(1000))
            last = line;
        QCOMPARE(last.left(3), reply);
        QVERIFY(client->waitClosed());
        auto next = login();
        QVERIFY(next);
        QCOMPARE(next->ask("SEND\r\n").left(3), QByteArray("503"));
        QVERIFY(intake_->outcomes().isEmpty());
    }

    // Silence ends a session with 421; connections over the cap are answered 421 and closed.
    void silenceAndConnectionCap()
    {
        auto& run = intake_->open();
        intake::SnppServer* server = run.deskSession.listeners().snpp();
        QVERIFY(server);
        server->setIdleTimeout(300);
        server->setMaxConnections(2);
        auto first = login();
        QVERIFY(first);
        LineClient second;
        QVERIFY(second.connectTo(intake_->snppPort));
        QVERIFY(second.line().startsWith("220"));
        LineClient third;
        QVERIFY(third.connectTo(intake_->snppPort));
        QCOMPARE(third.line().left(3), QByteArray("421"));
        QVERIFY(third.waitClosed());
        QCOMPARE(first->line(3000), QByteArray("421 Timeout, Goodbye"));
        QVERIFY(first->waitClosed());
        QVERIFY(second.waitClosed());
        QVERIFY(QTest::qWaitFor([&] { return server->connectionCount() == 0; }, 3000));
    }

    // The desk's own command-line sender reaches the listener with its --login and --password.
    void pagesendReachesTheListener()
    {
        intake_->open();
        QProcess pagesend;
        pagesend.start(QStringLiteral(PLIMO_BINARY_DIR "/tools/pagesend/pagesend"),
            { "--snpp", QStringLiteral("127.0.0.1:%1").arg(intake_->snppPort), "--login", "nurse", "--password",
                QString::fromLatin1(intake_->snppToken), "--pager", "1001", "From", "pagesend" });
        QVERIFY(QTest::qWaitFor([&] { return pagesend.state() == QProcess::NotRunning; }, 20000));
        const QByteArray out = pagesend.readAllStandardOutput();
        QVERIFY2(out.contains("final 0 "), out.constData());
        QVERIFY(intake_->waitPaged(1));
        QCOMPARE(intake_->paged(), QStringList { "1001: From pagesend" });
    }

    // HylaFAX's sendpage logs in as the user running it, is asked for the password on its
    // terminal (a pseudo-terminal here), and pages.
    void hylafaxSendpage()
    {
        const QString sendpage = QStandardPaths::findExecutable(QStringLiteral("sendpage"));
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (sendpage.isEmpty() || script.isEmpty())
            QSKIP("sendpage (hylafax-client) or script (bsdutils) is not installed");
        const passwd* user = getpwuid(getuid());
        QVERIFY(user);
        const QByteArray token = intake_->addSource(QString::fromLocal8Bit(user->pw_name), QStringLiteral("SNPP"), QStringLiteral("Bob"));
        QVERIFY(!token.isEmpty());
        intake_->open();
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        const QString command = QStringLiteral("%1 -h 127.0.0.1:%2 -p 1002 Boiler pressure low").arg(sendpage).arg(intake_->snppPort);
        process.start(script, { "-qec", command, "/dev/null" });
        QByteArray seen;
        QVERIFY(QTest::qWaitFor([&] {
            seen += process.readAll();
            return seen.contains("assword") || process.state() == QProcess::NotRunning;
        }, 10000));
        QVERIFY2(seen.contains("assword"), seen.constData());
        process.write(token + "\n");
        QVERIFY(QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000));
        seen += process.readAll();
        QVERIFY2(process.exitCode() == 0, seen.constData());
        QVERIFY(intake_->waitPaged(1));
        QCOMPARE(intake_->paged(), QStringList { "1002: Boiler pressure low" });
    }

    // plimopagerd listens as the desk does, and a SIGTERM ends it at once with a session open; a
    // pass of its own (--once) does not listen.
    void plimopagerdListensAndStops()
    {
        QProcess once;
        once.setProcessChannelMode(QProcess::MergedChannels);
        once.start(QStringLiteral(PLIMO_BINARY_DIR "/service/plimopagerd"),
            { "--data", intake_->dir.path(), "--config", config::pagerIniPath(), "--once" });
        QVERIFY(QTest::qWaitFor([&] { return once.state() == QProcess::NotRunning; }, 20000));
        QVERIFY(!once.readAll().contains("listener"));

        QProcess service;
        service.setProcessChannelMode(QProcess::MergedChannels);
        service.start(QStringLiteral(PLIMO_BINARY_DIR "/service/plimopagerd"),
            { "--data", intake_->dir.path(), "--config", config::pagerIniPath() });
        QByteArray out;
        QVERIFY(QTest::qWaitFor([&] {
            out += service.readAll();
            return out.contains("SNPP listener on") && out.contains("HTTP listener on");
        }, 20000));
        LineClient client;
        QVERIFY(client.connectTo(intake_->snppPort));
        QVERIFY(client.line().startsWith("220"));
        QCOMPARE(client.ask("LOGI nurse " + intake_->snppToken + "\r\n").left(3), QByteArray("250"));
        service.terminate();
        QVERIFY(QTest::qWaitFor([&] { return service.state() == QProcess::NotRunning; }, 10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(client.waitClosed());
    }
};

QTEST_GUILESS_MAIN(tst_SnppListener)
#include "tst_snpplistener.moc"
