// The gate as the listeners use it, through a real desk session on a data folder of its own: every
// answer checked against what is on disk afterwards (the pending file, DLVSTAT, ALERTS, SCHEDMS2,
// read by fresh handles), and the pages that matter delivered through the carrier simulator.
#include "compose/memberfile.h"
#include "core/deliverystatus.h"
#include "intake/gate.h"
#include "intake/sourceregistry.h"
#include "paging/pagersimprocess.h"
#include "session/runnerlock.h"
#include "store/fieldnames.h"
#include "support/datafolder.h"
#include "support/pendingfile.h"
#include "support/records.h"
#include "support/sessionrun.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

using namespace testsupport;
using intake::Queued;

class tst_IntakeGate : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;
    QByteArray token_; // the token of source "monitoring"

    // Alice Demo and Bob Demo on a carrier that dials `port`'s modem, both in group Night Shift;
    // source "monitoring" (HTTP) pages the group unless told otherwise.
    void seed(const QString& port = QStringLiteral("/dev/null"))
    {
        QVERIFY(DataFolder::writeSimulatorSettings(port));
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        addCarrier(desk, QStringLiteral("Land"), QStringLiteral("5550101"), QStringLiteral("1200"), 80, QString());
        addUser(desk, QStringLiteral("Alice Demo"), QStringLiteral("Land"), QStringLiteral("1001"));
        addUser(desk, QStringLiteral("Bob Demo"), QStringLiteral("Land"), QStringLiteral("1002-7"));
        addGroup(desk, QStringLiteral("Night Shift"));
        QVERIFY(compose::writeMemberFile(compose::memberFilePath(dir_->path(), QStringLiteral("Night Shift")),
            { "Alice Demo", "Bob Demo" })
                    .isEmpty());
        QString refusal;
        token_ = intake::SourceRegistry(desk.SourcesT())
                     .add(QStringLiteral("monitoring"), QStringLiteral("HTTP"), QStringLiteral("Group: Night Shift"),
                         &refusal);
        QVERIFY2(!token_.isEmpty(), qPrintable(refusal));
    }

    intake::Source source(SessionRun& r)
    {
        const auto found = r.deskSession.gate().authenticate(QStringLiteral("monitoring"), token_);
        return found.value_or(intake::Source {});
    }

    static intake::PageRequest request(const QString& text, const QStringList& to = {})
    {
        intake::PageRequest request;
        request.text = text;
        request.recipients = to;
        return request;
    }

    // FIELDS of every row of TABLE, in record order, read from disk by a handle of its own.
    QStringList rows(const QString& table, const QStringList& fields) const
    {
        return onDisk(dir_->path(), table, QString(), fields);
    }
    QStringList statusRows() const
    {
        using namespace store::dlvstat;
        return rows(QStringLiteral("DLVSTAT.DBF"), { UserName, PagerId, Status });
    }

    // plimopagerd --add-source ARGS on the data folder: its exit status, standard output and error.
    int addSource(const QStringList& args, QString* out, QString* err)
    {
        QProcess p;
        p.start(QStringLiteral(PLIMO_BINARY_DIR "/service/plimopagerd"),
            QStringList { QStringLiteral("--data"), dir_->path(), QStringLiteral("--config"), config::pagerIniPath(),
                QStringLiteral("--add-source") }
                + args);
        if (!p.waitForFinished(30000)) {
            p.kill();
            return -1;
        }
        *out = QString::fromUtf8(p.readAllStandardOutput());
        *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    void setSource(const QString& field, const QVariant& value)
    {
        core::Desk desk(dir_->path());
        QVERIFY(desk.open().isEmpty());
        QVERIFY(desk.SourcesT().locate(store::sources::Source, QStringLiteral("monitoring")));
        desk.SourcesT().edit();
        if (value.typeId() == QMetaType::Bool)
            desk.SourcesT().setFieldBool(field, value.toBool());
        else
            desk.SourcesT().setFieldInt(field, value.toInt());
        desk.SourcesT().post();
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    // The token is found by itself or with its source's name in any case; a wrong token, a token
    // of another name, a disabled source and an empty token are refused. Only the hash is stored.
    void authenticates()
    {
        seed();
        {
            SessionRun r(dir_->path());
            QVERIFY(r.openError.isEmpty());
            intake::Gate& gate = r.deskSession.gate();
            QCOMPARE(token_.size(), 43);
            QCOMPARE(gate.authenticate(QString(), token_)->name, QStringLiteral("monitoring"));
            const auto byName = gate.authenticate(QStringLiteral("MONITORING"), token_);
            QVERIFY(byName);
            QCOMPARE(byName->kind, QStringLiteral("HTTP"));
            QCOMPARE(byName->recipient, QStringLiteral("Group: Night Shift"));
            QCOMPARE(byName->rateMin, 60);
            QVERIFY(!gate.authenticate(QStringLiteral("other"), token_));
            QByteArray wrong = token_;
            wrong[0] = wrong[0] == 'A' ? 'B' : 'A';
            QVERIFY(!gate.authenticate(QString(), wrong));
            QVERIFY(!gate.authenticate(QString(), QByteArray()));
        }
        const QStringList stored = rows(QStringLiteral("SOURCES.DBF"), { store::sources::Secret });
        QCOMPARE(stored,
            QStringList { QString::fromLatin1(QCryptographicHash::hash(token_, QCryptographicHash::Sha256).toHex()) });
        setSource(store::sources::Enabled, false);
        SessionRun r(dir_->path());
        QVERIFY(!r.deskSession.gate().authenticate(QString(), token_));
    }

    // Recipients as programs type them: a name in any case with "_" for blanks, a pager ID with or
    // without its dash, a group with or without "Group:"; the source's own when none is named.
    void resolvesRecipients_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("item");
        QTest::newRow("name") << "Alice Demo" << "Alice Demo";
        QTest::newRow("case and blanks") << "alice_DEMO" << "Alice Demo";
        QTest::newRow("pager ID") << "1001" << "Alice Demo";
        QTest::newRow("pager ID without its dash") << "10027" << "Bob Demo";
        QTest::newRow("group") << "night_shift" << "Group: Night Shift";
        QTest::newRow("group item") << "GROUP: night shift" << "Group: Night Shift";
        QTest::newRow("nobody") << "Carol" << "";
        QTest::newRow("blank") << "  " << "";
    }
    void resolvesRecipients()
    {
        QFETCH(QString, typed);
        QFETCH(QString, item);
        seed();
        SessionRun r(dir_->path());
        QCOMPARE(r.deskSession.gate().resolveRecipient(typed), item);
    }

    // A page is answered Queued only once the pending file on disk holds it (no return to the
    // event loop between), with a WAITING row for each pager ID and its line in the status list.
    void submitQueuesDurably()
    {
        seed();
        SessionRun r(dir_->path());
        intake::Gate& gate = r.deskSession.gate();
        const Queued toGroup = gate.submit(source(r), request(QStringLiteral("[FIRING:1] Disk full on db1\nmore")));
        QCOMPARE(toGroup.outcome, Queued::Outcome::Queued);
        QCOMPARE(toGroup.statusRows, (QList<quint32> { 1, 2 }));
        const Queued toUser = gate.submit(source(r), request(QStringLiteral("Call in"), { QStringLiteral("bob_demo") }));
        QCOMPARE(toUser.statusRows, QList<quint32> { 3 });
        QCOMPARE(pendingNames(), (QStringList { "Group: Night Shift", "Bob Demo" }));
        QCOMPARE(statusRows(),
            (QStringList { "Alice Demo|1001|WAITING", "Bob Demo|10027|WAITING", "Bob Demo|10027|WAITING" }));
        QVERIFY2(r.statusLines.contains(
                     QStringLiteral("From monitoring (HTTP): [FIRING:1] Disk full on db1 \u2192 Group: Night Shift")),
            qPrintable(r.statusLines.join(u'\n')));
        QVERIFY(r.boxTexts().isEmpty());
    }

    // An unknown recipient or an empty message queues nothing and writes no row.
    void refusedRequestsQueueNothing()
    {
        seed();
        SessionRun r(dir_->path());
        intake::Gate& gate = r.deskSession.gate();
        const Queued unknown
            = gate.submit(source(r), request(QStringLiteral("Hello"), { QStringLiteral("Alice Demo"), QStringLiteral("Nobody") }));
        QCOMPARE(unknown.outcome, Queued::Outcome::UnknownRecipient);
        QVERIFY(unknown.reason.contains(QStringLiteral("Nobody")));
        QCOMPARE(gate.submit(source(r), request(QStringLiteral(" \n "))).outcome, Queued::Outcome::Refused);
        QVERIFY(r.desk().SendMsgs().isEmpty());
        QCOMPARE(statusRows(), QStringList());
        QVERIFY(r.boxTexts().isEmpty());
    }

    // RATEMIN 2: the third page of the minute is refused with the seconds to wait; a minute after
    // the first the source may page again.
    void rateLimited()
    {
        seed();
        setSource(store::sources::RateMin, 2);
        SessionRun r(dir_->path());
        intake::Gate& gate = r.deskSession.gate();
        const QDateTime start = r.now;
        QCOMPARE(gate.submit(source(r), request(QStringLiteral("one"))).outcome, Queued::Outcome::Queued);
        r.now = start.addSecs(20);
        QCOMPARE(gate.submit(source(r), request(QStringLiteral("two"))).outcome, Queued::Outcome::Queued);
        r.now = start.addSecs(30);
        const Queued third = gate.submit(source(r), request(QStringLiteral("three")));
        QCOMPARE(third.outcome, Queued::Outcome::RateLimited);
        QCOMPARE(third.retryAfterSeconds, 30);
        QCOMPARE(r.desk().SendMsgs().rowCount(), 2);
        r.now = start.addSecs(60);
        QCOMPARE(gate.submit(source(r), request(QStringLiteral("four"))).outcome, Queued::Outcome::Queued);
    }

    // HOLD: a waiting SCHEDMS2 record for the recipient at that moment, nothing queued.
    void holdMakesAScheduledRecord()
    {
        seed();
        SessionRun r(dir_->path());
        intake::PageRequest held = request(QStringLiteral("Later"), { QStringLiteral("1001") });
        held.holdUntil = QDateTime(r.now.date().addDays(1), QTime(7, 30, 15));
        const Queued answer = r.deskSession.gate().submit(source(r), held);
        QCOMPARE(answer.outcome, Queued::Outcome::Scheduled);
        QVERIFY(r.desk().SendMsgs().isEmpty());
        using namespace store::schedmsg;
        QCOMPARE(rows(QStringLiteral("SCHEDMS2.DBF"), { DDate, DTime, UserName, MustSend }),
            QStringList { held.holdUntil.toString(QStringLiteral("yyyy/MM/dd")) + "|07:30:15|Alice Demo|Y" });
    }

    // A pending file that cannot be written: Unavailable with the reason, and nothing of the request
    // stays queued (a retry would page twice); its rows say REFUSED.
    void unwritablePendingFileIsUnavailable()
    {
        seed();
        SessionRun r(dir_->path());
        r.desk().pendingFile().setPath(dir_->filePath(QStringLiteral("missing/PendMsgs")));
        const Queued answer = r.deskSession.gate().submit(source(r), request(QStringLiteral("Lost?")));
        QCOMPARE(answer.outcome, Queued::Outcome::Unavailable);
        QVERIFY(!answer.reason.isEmpty());
        QVERIFY(r.desk().SendMsgs().isEmpty());
        QCOMPARE(statusRows(), (QStringList { "Alice Demo|1001|REFUSED", "Bob Demo|10027|REFUSED" }));
    }

    // A batch whose one write fails: nothing of it stays queued, its rows say REFUSED, the alert it
    // opened is gone and the one it counted again counts as before, so that the retry pages.
    void failedBatchIsTakenBack()
    {
        seed();
        SessionRun r(dir_->path());
        intake::Gate& gate = r.deskSession.gate();
        const intake::Source monitoring = source(r);
        intake::AlertEvent db1;
        db1.dedupKey = QStringLiteral("db1/disk");
        db1.summary = QStringLiteral("Disk full on db1");
        db1.recipient = QStringLiteral("Alice Demo");
        intake::AlertEvent db2 = db1;
        db2.dedupKey = QStringLiteral("db2/disk");
        db2.summary = QStringLiteral("Disk full on db2");
        QCOMPARE(gate.alert(monitoring, db1).queued.outcome, Queued::Outcome::Queued);

        const QString pendingPath = r.desk().pendingFile().path();
        r.desk().pendingFile().setPath(dir_->filePath(QStringLiteral("missing/PendMsgs")));
        gate.beginBatch();
        QCOMPARE(gate.alert(monitoring, db1).count, 2);
        QCOMPARE(gate.alert(monitoring, db2).queued.outcome, Queued::Outcome::Queued);
        QCOMPARE(gate.submit(monitoring, request(QStringLiteral("Call in"), { QStringLiteral("Bob Demo") })).outcome,
            Queued::Outcome::Queued);
        QVERIFY(!gate.commitBatch().isEmpty());
        QCOMPARE(r.desk().SendMsgs().rowCount(), 1);
        QCOMPARE(statusRows(),
            (QStringList { "Alice Demo|1001|WAITING", "Alice Demo|1001|REFUSED", "Bob Demo|10027|REFUSED" }));
        using namespace store::alerts;
        QCOMPARE(rows(QStringLiteral("ALERTS.DBF"), { Summary, Count }), QStringList { "Disk full on db1|1" });

        r.desk().pendingFile().setPath(pendingPath);
        const intake::AlertAnswer retried = gate.alert(monitoring, db2);
        QCOMPARE(retried.queued.outcome, Queued::Outcome::Queued);
        QVERIFY(!retried.duplicate);
        QCOMPARE(pendingNames(), (QStringList { "Alice Demo", "Alice Demo" }));
    }

    // Through the simulator: a trigger pages once however often it comes (COUNT counts), an
    // acknowledgement pages nobody, the resolution pages "RESOLVED: ..." to the same recipient, and
    // a trigger after it opens a new alert that pages again. The status shows the outcomes, to
    // the source that raised the alert only.
    void alertsAreDeduplicated()
    {
        PagerSimProcess sim;
        QVERIFY(sim.start({}));
        seed(sim.device());
        SessionRun r(dir_->path());
        r.deskSession.clock = [] { return QDateTime::currentDateTime(); };
        r.deskSession.setTickInterval(50);
        r.deskSession.start();
        intake::Gate& gate = r.deskSession.gate();
        const intake::Source monitoring = source(r);
        auto idle = [&r] { return !r.desk().pageInProgress() && r.desk().SendMsgs().isEmpty(); };

        intake::AlertEvent event;
        event.dedupKey = QStringLiteral("db1/disk");
        event.summary = QStringLiteral("Disk full on db1");
        event.recipient = QStringLiteral("Alice Demo");
        const intake::AlertAnswer first = gate.alert(monitoring, event);
        QCOMPARE(first.queued.outcome, Queued::Outcome::Queued);
        QCOMPARE(first.state, QStringLiteral("OPEN"));
        QVERIFY(!first.duplicate);
        const intake::AlertAnswer again = gate.alert(monitoring, event);
        QVERIFY(again.duplicate);
        QCOMPARE(again.count, 2);
        QCOMPARE(again.queued.outcome, Queued::Outcome::None);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 15000);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 1));

        using namespace store::alerts;
        const QString key = QString::fromLatin1(
            QCryptographicHash::hash("monitoringdb1/disk", QCryptographicHash::Sha1).toHex());
        QCOMPARE(rows(QStringLiteral("ALERTS.DBF"), { AlertKey, Source, State, Summary, Count }),
            QStringList { key + "|monitoring|OPEN|Disk full on db1|2" });
        const QJsonObject status = gate.status(monitoring, event.dedupKey, 0);
        QCOMPARE(status.value(QStringLiteral("state")).toString(), QStringLiteral("OPEN"));
        const QJsonArray pages = status.value(QStringLiteral("pages")).toArray();
        QCOMPARE(pages.size(), 1);
        QCOMPARE(pages.at(0).toObject().value(QStringLiteral("status")).toString(), core::kSent);
        QCOMPARE(pages.at(0).toObject().value(QStringLiteral("recipient")).toString(), QStringLiteral("Alice Demo"));
        const quint32 row = quint32(pages.at(0).toObject().value(QStringLiteral("row")).toInteger());
        QCOMPARE(gate.status(monitoring, QString(), row).value(QStringLiteral("pages")).toArray().size(), 1);
        intake::Source other = monitoring;
        other.name = QStringLiteral("intruder");
        QVERIFY(gate.status(other, QString(), row).isEmpty());
        QVERIFY(gate.status(other, event.dedupKey, 0).isEmpty());

        event.action = intake::AlertAction::Acknowledge;
        QCOMPARE(gate.alert(monitoring, event).state, QStringLiteral("ACKED"));
        event.action = intake::AlertAction::Resolve;
        const intake::AlertAnswer resolved = gate.alert(monitoring, event);
        QCOMPARE(resolved.state, QStringLiteral("RESOLVED"));
        QCOMPARE(resolved.queued.outcome, Queued::Outcome::Queued);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 15000);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 2));
        QCOMPARE(sim.transcript(QStringLiteral("page")).at(1).value(QStringLiteral("text")).toString(),
            QStringLiteral("RESOLVED: Disk full on db1"));
        // Resolved twice: nobody paged again.
        QCOMPARE(gate.alert(monitoring, event).queued.outcome, Queued::Outcome::None);

        event.action = intake::AlertAction::Trigger;
        const intake::AlertAnswer reopened = gate.alert(monitoring, event);
        QVERIFY(!reopened.duplicate);
        QCOMPARE(reopened.count, 1);
        QTRY_VERIFY_WITH_TIMEOUT(idle(), 15000);
        QVERIFY(sim.waitFor(QStringLiteral("page"), 3));
        QCOMPARE(rows(QStringLiteral("ALERTS.DBF"), { State, Count }), (QStringList { "RESOLVED|2", "OPEN|1" }));
        QCOMPARE(sim.transcript(QStringLiteral("page")).size(), 3);
    }

    // plimopagerd --add-source: the token alone on standard output, its last line, which then
    // authenticates the source with its recipient as found; refused (2) for a name taken, a
    // recipient nobody is, a kind that is none, and while another runner holds the folder.
    void addSourceCommand()
    {
        seed();
        QString out;
        QString err;
        QCOMPARE(addSource({ QStringLiteral("pager-mon"), QStringLiteral("snpp"), QStringLiteral("night_shift") }, &out, &err), 0);
        QVERIFY2(out.endsWith(u'\n') && out.count(u'\n') == 1, qPrintable(out));
        const QByteArray token = out.trimmed().toLatin1();
        QCOMPARE(token.size(), 43);
        QVERIFY(!err.contains(QString::fromLatin1(token)));
        {
            core::Desk desk(dir_->path());
            QVERIFY(desk.open().isEmpty());
            const auto found = intake::SourceRegistry(desk.SourcesT()).authenticate(QStringLiteral("pager-mon"), token);
            QVERIFY(found);
            QCOMPARE(found->kind, QStringLiteral("SNPP"));
            QCOMPARE(found->recipient, QStringLiteral("Group: Night Shift"));
        }
        for (const QStringList& refused : { QStringList { "PAGER-MON", "HTTP", "1001" },
                 QStringList { "other", "HTTP", "Nobody" }, QStringList { "other", "FAX", "1001" } }) {
            QCOMPARE(addSource(refused, &out, &err), 2);
            QVERIFY2(out.isEmpty() && !err.isEmpty(), qPrintable(refused.join(u' ')));
        }
        session::RunnerLock lock;
        QCOMPARE(lock.acquire(dir_->path() + u'/', QStringLiteral("test")), session::RunnerLock::Result::Held);
        QCOMPARE(addSource({ QStringLiteral("other"), QStringLiteral("HTTP"), QStringLiteral("1001") }, &out, &err), 2);
        QVERIFY2(out.isEmpty() && err.contains(QStringLiteral("test")), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(tst_IntakeGate)
#include "tst_intakegate.moc"
