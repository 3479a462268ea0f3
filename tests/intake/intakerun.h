#pragma once

// The desk session with its listeners on loopback ports, as plimopagerd runs it: a data folder with
// a carrier reached through the carrier simulator's modem, the users Alice (1001) and Bob (1002),
// the group "Night Shift" of both, and the sources "monitoring" (HTTP, to the group) and "nurse"
// (SNPP, to Alice). The pages go out through the simulator and are read back from DLVSTAT.

#include "compose/memberfile.h"
#include "intake/sourceregistry.h"
#include "paging/pagersimprocess.h"
#include "store/fieldnames.h"
#include "support/datafolder.h"
#include "support/records.h"
#include "support/sessionrun.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace intaketest {

// A port nobody listens on now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class IntakeRun {
public:
    // Seeds the folder and writes the settings: the simulator as the port, both listeners on free
    // ports, `more` lines in the [Intake] section.
    bool seed(const QString& more = QString())
    {
        if (!dir.isValid() || !sim.start({}))
            return false;
        snppPort = freePort();
        httpPort = freePort();
        const QString lines = QStringLiteral("SnppPort=%1\nHttpPort=%2\n").arg(snppPort).arg(httpPort) + more;
        if (!testsupport::DataFolder::writeSettings(
                QStringLiteral("[System]\nComPort=%1\nDeliveryRetries=1\n[Intake]\n%2").arg(sim.device(), lines)))
            return false;
        core::Desk desk(dir.path());
        if (!desk.open().isEmpty())
            return false;
        testsupport::addCarrier(desk, QStringLiteral("Land"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        testsupport::addUser(desk, QStringLiteral("Alice"), QStringLiteral("Land"), QStringLiteral("1001"));
        testsupport::addUser(desk, QStringLiteral("Bob"), QStringLiteral("Land"), QStringLiteral("1002"));
        testsupport::addGroup(desk, QStringLiteral("Night Shift"));
        if (!compose::writeMemberFile(compose::memberFilePath(dir.path(), QStringLiteral("Night Shift")), { "Alice", "Bob" })
                 .isEmpty())
            return false;
        intake::SourceRegistry sources(desk.SourcesT());
        QString refusal;
        httpToken = sources.add(QStringLiteral("monitoring"), QStringLiteral("HTTP"), QStringLiteral("Group: Night Shift"), &refusal);
        snppToken = sources.add(QStringLiteral("nurse"), QStringLiteral("SNPP"), QStringLiteral("Alice"), &refusal);
        return !httpToken.isEmpty() && !snppToken.isEmpty();
    }

    // Another source, its token returned; `rateMin` pages a minute (0: the default).
    QByteArray addSource(const QString& name, const QString& kind, const QString& recipient, int rateMin = 0)
    {
        core::Desk desk(dir.path());
        if (!desk.open().isEmpty())
            return {};
        intake::SourceRegistry sources(desk.SourcesT());
        QString refusal;
        const QByteArray token = sources.add(name, kind, recipient, &refusal);
        if (rateMin > 0 && sources.find(name)) {
            desk.SourcesT().refresh();
            for (desk.SourcesT().first(); !desk.SourcesT().eof(); desk.SourcesT().next()) {
                if (desk.SourcesT().fieldText(store::sources::Source).trimmed() == name) {
                    desk.SourcesT().edit();
                    desk.SourcesT().setFieldInt(store::sources::RateMin, rateMin);
                    desk.SourcesT().post();
                }
            }
        }
        return token;
    }

    // The session opened on the folder (which starts the listeners), ticking every 50 ms.
    testsupport::SessionRun& open()
    {
        run = std::make_unique<testsupport::SessionRun>(dir.path());
        run->deskSession.clock = [] { return QDateTime::currentDateTime(); };
        run->deskSession.setTickInterval(50);
        run->deskSession.start();
        return *run;
    }

    // USERNAME|PAGER_ID|STATUS of every DLVSTAT row, in record order, read from disk.
    QStringList outcomes() const
    {
        using namespace store::dlvstat;
        return testsupport::onDisk(dir.path(), QStringLiteral("DLVSTAT.DBF"), QString(), { UserName, PagerId, Status });
    }

    // The texts the simulated terminal took, "ID: text", in order.
    QStringList paged() const
    {
        QStringList out;
        for (const QJsonObject& page : sim.transcript(QStringLiteral("page")))
            out << page.value(QLatin1String("id")).toString() + QStringLiteral(": ") + page.value(QLatin1String("text")).toString();
        return out;
    }

    // Waits until the simulator took `n` pages and the session has nothing left to send.
    bool waitPaged(int n, int ms = 20000)
    {
        return sim.waitFor(QStringLiteral("page"), n, ms)
            && QTest::qWaitFor([&] { return !run->desk().pageInProgress() && run->desk().SendMsgs().isEmpty(); }, ms);
    }

    testsupport::DataFolder dir;
    PagerSimProcess sim;
    std::unique_ptr<testsupport::SessionRun> run;
    quint16 snppPort = 0;
    quint16 httpPort = 0;
    QByteArray httpToken;
    QByteArray snppToken;
};

// A client on a TCP connection that reads line by line while the session's event loop runs.
class LineClient {
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    // The next line received (without CR LF); empty when none came in `ms`.
    QByteArray line(int ms = 5000)
    {
        (void)QTest::qWaitFor([&] {
            buffer += socket.readAll();
            return buffer.contains('\n');
        }, ms);
        const qsizetype end = buffer.indexOf('\n');
        if (end < 0)
            return {};
        QByteArray out = buffer.left(end);
        buffer.remove(0, end + 1);
        return out.endsWith('\r') ? out.chopped(1) : out;
    }
    // Sends `bytes` and returns the reply's last line (a multi-line reply's "214" lines skipped).
    QByteArray ask(const QByteArray& bytes, int ms = 5000)
    {
        socket.write(bytes);
        QByteArray reply = line(ms);
        while (reply.startsWith("214"))
            reply = line(ms);
        return reply;
    }
    bool waitClosed(int ms = 5000)
    {
        return QTest::qWaitFor([&] {
            buffer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        }, ms);
    }

    QTcpSocket socket;
    QByteArray buffer;
};

} // namespace intaketest
