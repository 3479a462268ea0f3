// The command-line sender as a user runs it: against the simulator, its output lines and exit code.

#include "pagersimprocess.h"

#include <QProcess>
#include <QTest>

class tst_PageSend : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sends_data();
    void sends();
    void sendsThroughSnpp();
    void sendsThroughWctp();
    void helpNamesEveryOption();

private:
    static QString program() { return QStringLiteral(PLIMO_BINARY_DIR "/tools/pagesend/pagesend"); }
};

void tst_PageSend::initTestCase()
{
    QVERIFY(QFile::exists(program()));
    QVERIFY(QFile::exists(PagerSimProcess::program()));
}

void tst_PageSend::sends_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("mustPrint");
    QTest::newRow("one page") << QStringList() << QStringList { "--pager", "123", "hello", "there" } << 0
                              << QStringList { "30 Opening port", "0 Successful ", "final 0 Successful " };
    QTest::newRow("group with a bad ID")
        << QStringList { "--fault", "invalid=2" }
        << QStringList { "--pager", "1^2^3^", "--size", "5", "group", "text" } << 24
        << QStringList { "35 Sending page 5 of 6", "6 GroupRes|2:511Invalid pager ID",
               "final 24 Group page: bad pager IDs" };
    QTest::newRow("busy") << QStringList { "--fault", "busy" } << QStringList { "--pager", "9", "x" } << 18
                          << QStringList { "final 18 Line busy" };
    QTest::newRow("numeric, pulse") << QStringList()
                                    << QStringList { "--baud", "B300", "--pulse", "--pager", "5551234",
                                           "--size", "2", "42" }
                                    << 0 << QStringList { "final 0 Successful " };
}

void tst_PageSend::sends()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, mustPrint);
    PagerSimProcess sim;
    QVERIFY(sim.start(simArgs));
    const bool numeric = args.contains(QStringLiteral("B300"));
    QProcess p;
    p.start(program(),
        QStringList { "--port", sim.device(), "--init", "ATZ", "--debug", sim.dir() + "/debug.txt",
            "--network", numeric ? "#," : "5551234^pw" }
            + args);
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    const QStringList lines
        = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : mustPrint)
        QVERIFY2(
            lines.contains(line), qPrintable(line + QStringLiteral(" missing from:\n") + lines.join('\n')));
    QVERIFY(lines.last().startsWith(QStringLiteral("final ")));
    QVERIFY(QFile::exists(sim.dir() + "/debug.txt"));
    bool initSent = false;
    for (const QJsonObject& m : sim.transcript(QStringLiteral("modem")))
        initSent |= m.value("command").toString() == QLatin1String("ATZ");
    QVERIFY(initSent);
}

// --snpp, with --login and --password: a group through the simulator's SNPP server.
void tst_PageSend::sendsThroughSnpp()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--snpp", "0", "--password", "pw" }));
    QProcess p;
    p.start(program(),
        { "--snpp", sim.snpp(), "--login", "desk", "--password", "pw", "--pager", "7^8^", "lunch", "is", "ready" });
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QByteArray out = p.readAllStandardOutput();
    QVERIFY2(out.contains("34 Logging in") && out.endsWith("final 0 Successful \n"), out.constData());
    const QList<QJsonObject> pages = sim.transcript(QStringLiteral("page"));
    QCOMPARE(pages.size(), 2);
    QCOMPARE(pages.at(1).value("id").toString(), QStringLiteral("8"));
    QCOMPARE(pages.at(1).value("text").toString(), QStringLiteral("lunch is ready"));
    // --login belongs to SNPP: with a port it is refused before anything is sent.
    p.start(program(), { "--port", "/dev/null", "--network", "1^pw", "--login", "x", "--pager", "1", "hi" });
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
}

// --wctp: no port, no modem; every page accepted prints its tracking number.
void tst_PageSend::sendsThroughWctp()
{
    PagerSimProcess sim;
    QVERIFY(sim.start({ "--wctp", "0", "--password", "pw" }));
    QProcess p;
    p.start(program(), { "--wctp", sim.wctp(), "--login", "desk", "--password", "pw", "--pager", "1^2^", "hello" });
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    const QStringList lines
        = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QStringList tracking = lines.filter(QStringLiteral("tracking "));
    QStringList recorded;
    for (const QJsonObject& page : sim.transcript(QStringLiteral("page")))
        recorded << QStringLiteral("tracking ") + page.value("tracking").toString();
    QCOMPARE(tracking, recorded);
    QCOMPARE(recorded.size(), 2);
    QCOMPARE(lines.last(), QStringLiteral("final 0 Successful "));
}

void tst_PageSend::helpNamesEveryOption()
{
    QProcess p;
    p.start(program(), { "--help" });
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    const QString help = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* option :
        { "--port", "--snpp", "--wctp", "--path", "--login", "--password", "--baud", "--init", "--pulse", "--size", "--debug",
            "--network", "--pager", "MESSAGE" })
        QVERIFY2(help.contains(QLatin1String(option)), option);
    // A negative page size is refused before anything is sent (0 stays "no limit").
    p.start(program(), { "--port", "/dev/null", "--network", "5551234^pw", "--pager", "1", "--size", "-1", "hi" });
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("--size"));
}

QTEST_GUILESS_MAIN(tst_PageSend)
#include "tst_pagesend.moc"
