// The SNPP client against an SNPP server it was not written with: hfaxd of Debian's hylafax-server,
// standalone on a free loopback port (-d -q SPOOL -l 127.0.0.1 -s PORT) with a spool of its own in a
// temporary folder. What hfaxd queued is read back from its job files (sendq/qN: "page:" holds the
// pager ID, "data:" names the document in docq/ that holds the text).
//
// hfaxd chroots into the spool and works as the fax user "uucp", so it runs only for root (as CI runs
// the tests). Its SEND hands each job to the queuer (faxq) through the spool's FIFO and answers once the
// queuer reports the job finished; a thread here plays the queuer: it takes each job and reports it
// done, so SEND is answered at once rather than after a modem delivered the page.

#include "pagerecorder.h"

#include "paging/pagestatus.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <map>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace paging;

namespace {

// crypt(3) of "s3cret" (openssl passwd -6 -salt plimopeer s3cret): "desk" logs in with that password,
// "open" without one. The pager map refuses every ID that starts with 9.
constexpr char kUsers[] = "^desk@::$6$plimopeer$.PDtwiCy3Z34EDDlwUu09OWlyUKWspJoHV1pXMvC3xnHKJU39QGBq4HQVmIVIq"
                          "fz91Vr0b8AkJc1c7mU6hsNB0\n^open@\n";
constexpr char kPagerMap[] = "^9\treject\n.*\t5551234\n";

QString hfaxdProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("hfaxd"),
        { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin") });
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A loopback port nothing holds, not even in TIME_WAIT (hfaxd binds without SO_REUSEADDR).
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), len) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    ::close(fd);
    return ok ? ntohs(a.sin_port) : 0;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

bool pipeDrained(int fd)
{
    int pending = 0;
    return ::ioctl(fd, FIONREAD, &pending) == 0 && pending == 0;
}

// The queuer's "job finished" report as faxq 6.0.7 writes it to a client's FIFO: a 16-byte header
// ('!', ' ', sequence, length, event 4, time), then the job's times, priority and state (7: done), its
// resolution and its ID, number and modem as strings.
QByteArray jobDone(quint16 sequence, const QByteArray& jobId)
{
    QByteArray body;
    const auto put = [&body](auto v) { body.append(reinterpret_cast<const char*>(&v), sizeof v); };
    const qint64 now = ::time(nullptr);
    put(now);
    put(now + 300);
    put(qint64(0));
    put(qint32(127));
    put(qint32(0));
    for (quint16 v : { 7, 0, 0, 98 })
        put(v);
    body += jobId + '\0' + QByteArray("5551234\0any\0\0", 13);
    QByteArray event("! ");
    const auto head = [&event](auto v) { event.append(reinterpret_cast<const char*>(&v), sizeof v); };
    head(sequence);
    head(quint16(16 + body.size()));
    head(quint16(4));
    head(now);
    return event + body;
}

} // namespace

class HfaxdPeer {
public:
    ~HfaxdPeer()
    {
        if (m_hfaxd.state() != QProcess::NotRunning) { // hfaxd and the session it forked for each client
            ::kill(-pid_t(m_hfaxd.processId()), SIGKILL);
            m_hfaxd.waitForFinished(3000);
        }
        m_stop = true;
        if (m_queuer.joinable())
            m_queuer.join();
        if (m_fifo >= 0)
            ::close(m_fifo);
    }

    bool start(QString* why)
    {
        const QString spool = m_dir.path();
        for (const char* sub : { "etc", "dev", "sendq", "docq", "tmp", "client" })
            QDir(spool).mkdir(QLatin1String(sub));
        const passwd* fax = ::getpwnam("uucp");
        if (!fax || ::mkfifo(QFile::encodeName(spool + QStringLiteral("/FIFO")).constData(), 0600) != 0
            || !writeFile(spool + QStringLiteral("/etc/hosts.hfaxd"), kUsers)
            || !writeFile(spool + QStringLiteral("/etc/pagermap"), kPagerMap)) {
            *why = QStringLiteral("cannot set up the spool");
            return false;
        }
        ::chmod(QFile::encodeName(spool + QStringLiteral("/etc/hosts.hfaxd")).constData(), 0600);
        QDirIterator it(spool, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
        for (QString path = spool; !path.isEmpty(); path = it.hasNext() ? it.next() : QString()) {
            if (::chown(QFile::encodeName(path).constData(), fax->pw_uid, fax->pw_gid) != 0) { // the fax user's
                *why = QStringLiteral("cannot give %1 to uucp: %2").arg(path, QString::fromLocal8Bit(::strerror(errno)));
                return false;
            }
        }
        m_fifo = ::open(QFile::encodeName(spool + QStringLiteral("/FIFO")).constData(), O_RDWR | O_NONBLOCK);
        m_queuer = std::thread([this] { playQueuer(); });

        for (int attempt = 0; attempt < 3; ++attempt) { // another process may take the port first
            m_port = freePort();
            m_hfaxd.setProgram(hfaxdProgram());
            m_hfaxd.setArguments({ QStringLiteral("-d"), QStringLiteral("-q"), spool, QStringLiteral("-l"),
                QStringLiteral("127.0.0.1"), QStringLiteral("-s"), QString::number(m_port) });
            m_hfaxd.setProcessChannelMode(QProcess::ForwardedChannels);
            m_hfaxd.setChildProcessModifier([] { ::setpgid(0, 0); });
            m_hfaxd.start();
            m_hfaxd.waitForStarted(3000);
            const QDeadlineTimer deadline(3000);
            while (m_hfaxd.state() == QProcess::Running && !deadline.hasExpired() && !accepts(m_port))
                QThread::msleep(20);
            if (m_hfaxd.state() == QProcess::Running && !deadline.hasExpired())
                return true;
            ::kill(-pid_t(m_hfaxd.processId()), SIGKILL);
            m_hfaxd.waitForFinished(3000);
        }
        *why = QStringLiteral("hfaxd did not take connections on a loopback port");
        return false;
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // What hfaxd queued, one "ID|text" per job in the order of the jobs.
    QStringList queued() const
    {
        QDir sendq(m_dir.filePath(QStringLiteral("sendq")));
        QStringList jobs = sendq.entryList({ QStringLiteral("q*") }, QDir::Files);
        std::sort(jobs.begin(), jobs.end(), [](const QString& a, const QString& b) {
            return a.mid(1).toInt() < b.mid(1).toInt();
        });
        QStringList out;
        for (const QString& job : std::as_const(jobs)) {
            QFile file(sendq.filePath(job));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QString id;
            QString text;
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.startsWith("page:"))
                    id = QString::fromLatin1(line.split(':').value(3));
                if (line.startsWith("data:")) {
                    QFile doc(m_dir.filePath(QString::fromLatin1(line.split(':').value(3))));
                    if (doc.open(QIODevice::ReadOnly))
                        text = QString::fromLatin1(doc.readAll());
                }
            }
            out.append(id + u'|' + text);
        }
        return out;
    }

private:
    // The queuer's side of the FIFO: "T<fifo>:<events>" registers a trigger, answered "T*<id>";
    // "S<fifo>:<job>" submits a job, answered "S*"; "D<id>" drops the trigger. Once a client has been
    // quiet for a moment, each job it submitted is reported done on its FIFO, every report a read of its
    // own; reports go again while its trigger stands, in case one went astray.
    void playQueuer()
    {
        struct Client {
            QList<QByteArray> jobs;
            QDeadlineTimer reportAt;
            quint16 sequence = 0;
            int trigger = -1;
        };
        std::map<QByteArray, Client> clients;
        int triggers = 0;
        QByteArray input;
        const auto send = [this](const QByteArray& fifo, const QByteArray& bytes) {
            const int fd = ::open(QFile::encodeName(m_dir.filePath(QString::fromLatin1(fifo))).constData(),
                O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                return;
            ::write(fd, bytes.constData(), size_t(bytes.size()));
            for (int i = 0; i < 100 && !pipeDrained(fd); ++i)
                QThread::msleep(5);
            ::close(fd);
        };
        while (!m_stop) {
            pollfd p { m_fifo, POLLIN, 0 };
            if (::poll(&p, 1, 20) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(m_fifo, buffer, sizeof buffer);
                if (n > 0)
                    input.append(buffer, n);
            }
            for (qsizetype end; (end = input.indexOf('\0')) >= 0; input.remove(0, end + 1)) {
                const QByteArray message = input.left(end);
                const qsizetype colon = message.indexOf(':');
                const QByteArray fifo = message.mid(1, colon - 1);
                if (message.startsWith('T')) {
                    clients[fifo].trigger = triggers;
                    send(fifo, "T*" + QByteArray::number(triggers++) + '\0');
                } else if (message.startsWith('S')) {
                    Client& c = clients[fifo];
                    c.jobs.append(message.mid(colon + 1));
                    c.reportAt.setRemainingTime(100);
                    send(fifo, QByteArray("S*\0", 3));
                } else if (message.startsWith('D')) {
                    std::erase_if(clients, [&](const auto& c) { return c.second.trigger == message.mid(1).toInt(); });
                }
            }
            for (auto& [fifo, c] : clients) {
                if (c.trigger < 0 || c.jobs.isEmpty() || !c.reportAt.hasExpired())
                    continue;
                for (const QByteArray& job : std::as_const(c.jobs))
                    send(fifo, jobDone(++c.sequence, job));
                c.reportAt.setRemainingTime(1000);
            }
        }
    }

    QTemporaryDir m_dir;
    QProcess m_hfaxd;
    quint16 m_port = 0;
    int m_fifo = -1;
    std::atomic<bool> m_stop { false };
    std::thread m_queuer;
};

class tst_SnppPeer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pages_data();
    void pages();
    void pagesendSendsAGroup();
};

void tst_SnppPeer::initTestCase()
{
    if (hfaxdProgram().isEmpty())
        QSKIP("hfaxd is not installed (Debian package hylafax-server)");
    if (::geteuid() != 0)
        QSKIP("hfaxd runs only as root: it chroots into its spool");
}

void tst_SnppPeer::pages_data()
{
    QTest::addColumn<QString>("network"); // LOGIN^PASSWORD
    QTest::addColumn<QString>("pager");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QString>("status"); // a status the page must have reported

    QTest::newRow("one line as MESS, login with password")
        << "desk^s3cret" << "123" << 80 << "Meeting moved to 3 pm" << 0 << QStringList { "123|Meeting moved to 3 pm" }
        << "34 Logging in";
    // hfaxd takes the lines as they come: the dot that keeps a line from ending the message stays.
    QTest::newRow("lines as DATA, a leading dot stuffed")
        << "desk^s3cret" << "123" << 0 << ".start\r\nmiddle\n.\nend" << 0
        << QStringList { "123|..start\nmiddle\n..\nend\n" } << "35 Sending page 1 of 1";
    QTest::newRow("group in one transaction, login without password")
        << "open^" << "11^22^33^" << 80 << "Fire drill^^" << 0
        << QStringList { "11|Fire drill", "22|Fire drill", "33|Fire drill" } << "33 Connected";
    // hfaxd's RESE logs the session out: each page after the first needs LOGI again.
    QTest::newRow("pages of a long message, RESE and LOGI between")
        << "desk^s3cret" << "77" << 10 << "abcdefghijKLMNOPQRSTuv" << 0
        << QStringList { "77|abcdefghij", "77|KLMNOPQRST", "77|uv" } << "35 Sending page 3 of 3";
    QTest::newRow("pager ID refused by the pager map (550)")
        << "desk^s3cret" << "9123" << 80 << "x" << int(SnppPageRefused) << QStringList() << "";
    QTest::newRow("one ID of a group refused")
        << "open^" << "11^922^33^" << 80 << "Drill^^" << int(GroupBadIds) << QStringList { "11|Drill", "33|Drill" }
        << "6 GroupRes|2:550Invalid pager ID";
    QTest::newRow("wrong password (550 to LOGI)")
        << "desk^wrong" << "123" << 80 << "x" << int(LoginRefused) << QStringList() << "";
    QTest::newRow("no LOGI (530 to PAGE)")
        << "" << "1^2^" << 80 << "x^^" << int(LoginRefused) << QStringList()
        << "4 GroupRes|1:000Terminal refused login";
}

void tst_SnppPeer::pages()
{
    QFETCH(QString, network);
    QFETCH(QString, pager);
    QFETCH(int, size);
    QFETCH(QString, message);
    QFETCH(int, code);
    QFETCH(QStringList, queued);
    QFETCH(QString, status);

    HfaxdPeer peer;
    QString why;
    QVERIFY2(peer.start(&why), qPrintable(why));
    PageRecorder rec(("snpp:" + peer.address()).toUtf8());
    QCOMPARE(rec.start(QStringLiteral("300"), QString(), QString(), network, pager, size, message), 0);
    QVERIFY(QTest::qWaitFor([&] { return rec.finished; }, 15000));
    QCOMPARE(rec.finalCode, code);
    QCOMPARE(peer.queued(), queued);
    QStringList statuses;
    for (const auto& s : std::as_const(rec.statuses))
        statuses.append(QString::number(s.first) + u' ' + s.second);
    if (!status.isEmpty())
        QVERIFY2(statuses.contains(status), qPrintable(statuses.join(u'\n')));
}

// pagesend as a user runs it against hfaxd.
void tst_SnppPeer::pagesendSendsAGroup()
{
    HfaxdPeer peer;
    QString why;
    QVERIFY2(peer.start(&why), qPrintable(why));
    QProcess p;
    p.start(QStringLiteral(PLIMO_BINARY_DIR "/tools/pagesend/pagesend"),
        { "--snpp", peer.address(), "--login", "desk", "--password", "s3cret", "--pager", "41^42^", "Two", "at", "once" });
    QVERIFY(p.waitForFinished(15000));
    const QByteArray out = p.readAllStandardOutput();
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(out.contains("final 0 Successful \n"), out.constData());
    QCOMPARE(peer.queued(), (QStringList { "41|Two at once", "42|Two at once" }));
}

QTEST_GUILESS_MAIN(tst_SnppPeer)
#include "tst_snpppeer.moc"
