// The desk session without a window: every way into a page takes its text and recipient as values,
// so the operator's draft and ticks survive the scheduled scan and a resend; "By Pager ID" ticks
// its switch only for a page it queued; one runner holds a data folder.
#include "core/page.h"
#include "core/queues.h"
#include "msglog/logresend.h"
#include "session/runnerlock.h"
#include "store/fieldnames.h"
#include "support/datafolder.h"
#include "support/records.h"
#include "support/sessionrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

#include <unistd.h>

using namespace testsupport;

class tst_DeskSession : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DataFolder> dir_;

    std::unique_ptr<SessionRun> startDesk()
    {
        {
            core::Desk desk(dir_->path());
            if (!desk.open().isEmpty())
                return nullptr;
            addCarrier(desk, QStringLiteral("Metro"), QStringLiteral("5550101"), QStringLiteral("1200"), 80,
                QStringLiteral("pw"));
            addUser(desk, QStringLiteral("Alice"), QStringLiteral("Metro"), QStringLiteral("1001"));
            addUser(desk, QStringLiteral("Bob"), QStringLiteral("Metro"), QStringLiteral("1002"));
            const QDateTime due = QDateTime::currentDateTime();
            desk.SchedMsgT().append();
            desk.SchedMsgT().setFieldText(store::schedmsg::DDate, due.toString(QStringLiteral("yyyy/MM/dd")));
            desk.SchedMsgT().setFieldText(store::schedmsg::DTime, QStringLiteral("00:00:00"));
            desk.SchedMsgT().setFieldText(store::schedmsg::UserName, QStringLiteral("Alice"));
            desk.SchedMsgT().setFieldText(store::schedmsg::MustSend, QStringLiteral("Y"));
            desk.SchedMsgT().setMemoLines(store::schedmsg::Msg, { QStringLiteral("Scheduled text") });
            desk.SchedMsgT().post();
        }
        return std::make_unique<SessionRun>(dir_->path());
    }

    static QStringList queued(core::Desk& desk, const char* field)
    {
        QStringList values;
        for (desk.SendMsgs().first(); !desk.SendMsgs().eof(); desk.SendMsgs().next())
            values << desk.SendMsgs().fieldText(QString::fromLatin1(field));
        return values;
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<DataFolder>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() { dir_.reset(); }

    void aDueScheduledRecordLeavesTheDraft()
    {
        auto run = startDesk();
        QVERIFY(run && run->openError.isEmpty());
        run->composition.setText(QStringLiteral("Important draft for Bob"));
        QVERIFY(run->composition.tick(QStringLiteral("Bob")));
        // The quarter minute, through the real tick.
        run->now = QDateTime(QDate::currentDate(), QTime(23, 59, 45));
        run->tick();
        QCOMPARE(queued(run->desk(), core::page::UserOrGroupName), QStringList { "Alice" });
        QCOMPARE(queued(run->desk(), core::page::MessageToSend), QStringList { "Scheduled text" });
        QCOMPARE(run->composition.text(), QStringLiteral("Important draft for Bob"));
        QCOMPARE(run->composition.tickedNames(), QStringList { "Bob" });
    }

    void aResendLeavesTheDraft()
    {
        auto run = startDesk();
        QVERIFY(run);
        run->composition.setMessageLog(true);
        run->deskSession.sendToRecipient(QStringLiteral("Bob"), QStringLiteral("Logged\nline two"));
        run->composition.setText(QStringLiteral("My draft"));
        msglog::LogResend resend(run->desk(), run->composition,
            [&](const QString& recipient, const QString& text) { run->deskSession.sendToRecipient(recipient, text); });
        run->desk().MsgLogT().last();
        resend.resend();
        QCOMPARE(queued(run->desk(), core::page::MessageToSend), QStringList({ "Loggedline two", "Loggedline two" }));
        QCOMPARE(run->composition.text(), QStringLiteral("My draft"));
        QVERIFY(!run->composition.selectByGroup());
        // "Use Msg" is the operator's own command: it does write the editor.
        resend.copyMessage();
        QCOMPARE(run->composition.text(), QStringLiteral("Logged\nline two"));
    }

    void byPagerIdTicksItsSwitchOnlyForAQueuedPage()
    {
        auto run = startDesk();
        QVERIFY(run);
        QVERIFY(run->composition.tick(QStringLiteral("Bob")));
        // Nothing typed: nothing queued, and the switch stays off.
        QVERIFY(!run->deskSession.sendByPagerId(QStringLiteral("777"), QStringLiteral("Metro")));
        QCOMPARE(run->infos, QStringList { "Enter message to send" });
        QVERIFY(!run->composition.sendByPager());
        // So the next "Send Mesg" pages the ticked user, not the typed ID, and unticks him.
        run->composition.setText(QStringLiteral("For Bob"));
        run->deskSession.sendComposed();
        QCOMPARE(queued(run->desk(), core::page::PagerPhone), QStringList { "1002" });
        QVERIFY(run->composition.tickedNames().isEmpty());
        // A page that was queued ticks it until the end of its attempt.
        QVERIFY(run->deskSession.sendByPagerId(QStringLiteral("777"), QStringLiteral("Metro")));
        QVERIFY(run->composition.sendByPager());
        QCOMPARE(queued(run->desk(), core::page::PagerPhone), QStringList({ "1002", "777" }));
    }

    void aStoppedLockHolderCostsOneWait()
    {
        auto run = startDesk();
        QVERIFY(run);
        // An xBase tool stopped (Ctrl+Z) while it held the lock of the scheduled messages' index.
        QProcess holder;
        holder.start(QStringLiteral("python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import fcntl, os, signal, sys\n"
                               "fd = os.open(sys.argv[1], os.O_RDWR)\n"
                               "fcntl.lockf(fd, fcntl.LOCK_EX, 1, 0x7FFFFFFE)\n"
                               "print('locked', flush=True)\n"
                               "os.kill(os.getpid(), signal.SIGSTOP)\n"),
                QDir(dir_->path()).entryInfoList({ QStringLiteral("SCHEDMS2.cdx") }, QDir::Files).value(0).filePath() });
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll().trimmed(), QByteArray("locked"));

        QElapsedTimer took;
        took.start();
        run->now = QDateTime(QDate::currentDate(), QTime(23, 59, 0));
        run->tick(); // the scan cannot read the scheduled messages
        const qint64 firstTick = took.restart();
        run->now = run->now.addSecs(15);
        run->tick();
        run->now = run->now.addSecs(15);
        run->tick();
        const qint64 laterTicks = took.elapsed();
        holder.kill();
        holder.waitForFinished(5000);

        QVERIFY2(firstTick < 6000, qPrintable(QString::number(firstTick)));
        QVERIFY2(laterTicks < 500, qPrintable(QString::number(laterTicks)));
        QCOMPARE(run->errors, QStringList { "Table SCHEDMS2 is locked by another program" });
        // Nothing was lost meanwhile: with the lock gone the record is sent, once.
        QCOMPARE(queued(run->desk(), core::page::UserOrGroupName), QStringList());
        QVERIFY(run->deskSession.runScheduledScan());
        QVERIFY(!run->deskSession.runScheduledScan());
        QCOMPARE(queued(run->desk(), core::page::UserOrGroupName), QStringList { "Alice" });
        qInfo("first tick %lld ms, the next two %lld ms", firstTick, laterTicks);
    }

    void oneRunnerHoldsAFolder()
    {
        session::RunnerLock first;
        QCOMPARE(first.acquire(dir_->path(), QStringLiteral("plimopagerd")), session::RunnerLock::Result::Held);
        session::RunnerLock second;
        QCOMPARE(second.acquire(dir_->path(), QStringLiteral("plimopager")), session::RunnerLock::Result::HeldByOther);
        QCOMPARE(second.holder().program, QStringLiteral("plimopagerd"));
        QCOMPARE(second.holder().pid, qint64(::getpid()));
        QCOMPARE(second.holder().host, QSysInfo::machineHostName());
        QVERIFY(second.heldMessage(dir_->path()).contains(QStringLiteral("plimopagerd (process ")));
        first.release();
        QCOMPARE(second.acquire(dir_->path(), QStringLiteral("plimopager")), session::RunnerLock::Result::Held);
    }
};

QTEST_GUILESS_MAIN(tst_DeskSession)
#include "tst_desksession.moc"
