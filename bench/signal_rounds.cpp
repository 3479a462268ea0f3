// signal_rounds: plimopagerd stopped at random moments while it pages through the carrier
// simulator's SNPP or WCTP server, each reply held back a little so that a stop often falls between
// a page's bytes leaving and the server's answer. Each round makes a fresh data folder with four
// scheduled pages due at once, starts the service, sends it SIGTERM or SIGKILL at a random moment
// after its first call to the server,
// then lets one pass (--once, pending pages not resent) take up whatever was not yet taken. A page
// must end delivered once, or pending (marked "may have been delivered" when it may have been); it
// must never be delivered twice, nor be delivered and pending unmarked, nor be lost. Run by hand:
//     build/bench/signal_rounds snpp|wctp TERM|KILL [ROUNDS] [SEED]

#include "pagingbench.h"
#include "core/deliverymarks.h"
#include "core/desk.h"
#include "core/page.h"
#include "support/records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

constexpr int kPages = 4;

QString binary(const QString& relative)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") + relative;
}

// How many times the simulator took each text.
QHash<QString, int> delivered(const QString& transcript)
{
    QHash<QString, int> count;
    QFile file(transcript);
    if (!file.open(QIODevice::ReadOnly))
        return count;
    while (!file.atEnd()) {
        const QJsonObject event = QJsonDocument::fromJson(file.readLine()).object();
        if (event.value(QStringLiteral("event")).toString() == QLatin1String("page"))
            ++count[event.value(QStringLiteral("text")).toString()];
    }
    return count;
}

bool seed(const QString& data, const QString& method, const QString& address, int round)
{
    core::Desk desk(data);
    if (!desk.open().isEmpty())
        return false;
    testsupport::addCarrier(desk, QStringLiteral("Net"), QString(), QStringLiteral("1200"), 80, QString());
    testsupport::addPath(desk, QStringLiteral("Net"), QStringLiteral("01"), method.toUpper(), address);
    for (int i = 1; i <= kPages; ++i) {
        const QString user = QStringLiteral("User %1").arg(i);
        testsupport::addUser(desk, user, QStringLiteral("Net"), QString::number(1000 + i));
        desk.SchedMsgT().append();
        desk.SchedMsgT().setFieldText(store::schedmsg::DDate, QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd")));
        desk.SchedMsgT().setFieldText(store::schedmsg::DTime, QStringLiteral("00:00:00"));
        desk.SchedMsgT().setFieldText(store::schedmsg::UserName, user);
        desk.SchedMsgT().setFieldText(store::schedmsg::MustSend, QStringLiteral("Y"));
        desk.SchedMsgT().setMemoLines(store::schedmsg::Msg, { QStringLiteral("round %1 page %2").arg(round).arg(i) });
        desk.SchedMsgT().post();
    }
    return desk.saveQueues().isEmpty();
}

void runService(QProcess& p, const QString& data, const QString& ini, const QStringList& args)
{
    p.setProgram(binary(QStringLiteral("service/plimopagerd")));
    p.setArguments(QStringList { QStringLiteral("--data"), data, QStringLiteral("--config"), ini } + args);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PLIMOPAGERD_TICK_MS"), QStringLiteral("100"));
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start();
    p.waitForStarted(5000);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: signal_rounds snpp|wctp TERM|KILL [ROUNDS] [SEED]\n");
        return 2;
    }
    const QString method = QString::fromLatin1(argv[1]).toLower();
    const bool kill = QByteArray(argv[2]).toUpper() == "KILL";
    const int rounds = argc > 3 ? std::max(1, QByteArray(argv[3]).toInt()) : 30;
    QRandomGenerator random(argc > 4 ? QByteArray(argv[4]).toUInt() : 1);
    QTemporaryDir dir;
    const QString transcript = dir.filePath(QStringLiteral("transcript.jsonl"));
    QProcess sim;
    const auto said = bench::startSimulator(sim, QString(),
        { QStringLiteral("--") + method, QStringLiteral("0"), QStringLiteral("--fault"), QStringLiteral("slow-ack=0.15"),
            QStringLiteral("--wctp-delivered-ms"), QStringLiteral("-1"), QStringLiteral("--transcript"), transcript });
    const QString address = QString::fromLatin1(said.value(method.toUpper().toLatin1()));
    if (address.isEmpty()) {
        std::fprintf(stderr, "pagersim did not start\n");
        return 1;
    }
    const QString ini = dir.filePath(QStringLiteral("pager.ini"));
    {
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly) || file.write("[System]\nComPort=\nDeliveryRetries=1\n") < 0)
            return 1;
    }
    int once = 0, pending = 0, marked = 0, twice = 0, unmarked = 0, lost = 0;
    for (int round = 1; round <= rounds; ++round) {
        const QString data = dir.filePath(QStringLiteral("round-%1").arg(round));
        QDir().mkpath(data);
        QDir::setCurrent(data); // the desk keeps its queues in its current folder, as the service does
        if (!seed(data, method, address, round)) {
            std::fprintf(stderr, "round %d: the data folder could not be made\n", round);
            return 1;
        }
        QProcess service;
        const qint64 heard = QFileInfo(transcript).size();
        runService(service, data, ini, {});
        // The service takes up due records at its scan (every 15 s); the stop falls at a random
        // moment after its first call to the server.
        for (int waited = 0; QFileInfo(transcript).size() == heard && waited < 20000; waited += 10)
            QThread::msleep(10);
        QThread::msleep(random.bounded(0, 4000));
        ::kill(pid_t(service.processId()), kill ? SIGKILL : SIGTERM);
        service.waitForFinished(20000);
        const int before = int(delivered(transcript).size());
        QProcess pass;
        runService(pass, data, ini, { QStringLiteral("--once") });
        pass.waitForFinished(60000);
        sim.readAll();
        if (qEnvironmentVariableIsSet("SIGNAL_ROUNDS_VERBOSE"))
            std::printf("round %d: %d texts delivered before the stop, %d after the pass\n", round, before,
                int(delivered(transcript).size()));

        const QHash<QString, int> taken = delivered(transcript);
        core::Desk desk(data);
        desk.open();
        QHash<QString, bool> queued; // text -> marked
        for (const store::TMemTable* queue : { &desk.SendMsgs(), &desk.PendingMsgs() }) {
            for (int row = 0; row < queue->rowCount(); ++row) {
                const core::Page page = core::pageAt(*queue, row);
                queued.insert(page.messageToSend, desk.deliveryMarks().contains(page));
            }
        }
        for (int i = 1; i <= kPages; ++i) {
            const QString text = QStringLiteral("round %1 page %2").arg(round).arg(i);
            const int d = taken.value(text);
            const bool inQueue = queued.contains(text);
            const bool isMarked = queued.value(text);
            const char* verdict = "";
            if (d >= 2)
                ++twice, verdict = "DELIVERED TWICE";
            else if (d == 1 && inQueue && !isMarked)
                ++unmarked, verdict = "DELIVERED AND PENDING UNMARKED";
            else if (d == 0 && !inQueue)
                ++lost, verdict = "LOST";
            else if (inQueue && isMarked)
                ++marked;
            else if (inQueue)
                ++pending;
            else
                ++once;
            if (*verdict)
                std::printf("round %d page %d: %s\n", round, i, verdict);
        }
    }
    sim.kill();
    sim.waitForFinished();
    if (twice + unmarked + lost > 0) {
        dir.setAutoRemove(false);
        std::printf("the rounds' folders and the transcript are kept in %s\n", qPrintable(dir.path()));
    }
    std::printf("%s SIG%s, %d rounds of %d pages: delivered once %d, pending %d, pending marked %d; "
                "delivered twice %d, delivered and pending unmarked %d, lost %d\n",
        qPrintable(method.toUpper()), kill ? "KILL" : "TERM", rounds, kPages, once, pending, marked, twice, unmarked,
        lost);
    return twice + unmarked + lost == 0 ? 0 : 1;
}
