// The incoming/ folder through the real session: message files dropped there are taken in name order,
// one at each idle tick, and paged through the carrier simulator; what is no message file is refused
// by the rules of plimomsgs.txt; plimopager-mail, run as the mail server runs it, writes such files.
#include "compose/preparation.h"
#include "intakerun.h"
#include "support/undeletablefolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>

using namespace intaketest;

class tst_IncomingFolder : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<IntakeRun> intake_;

    QString incoming() const
    {
        return intake_->dir.filePath(compose::MessagePreparation::incomingFolderName());
    }
    bool drop(const QString& name, const QByteArray& bytes) const
    {
        QDir().mkpath(incoming());
        QFile file(incoming() + u'/' + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QStringList left() const
    {
        return QDir(incoming()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString said() const { return intake_->run->statusLines.join(u'\n'); }

    // plimopager-mail run on `data` for `recipient`, fed `mail`; its exit status.
    static int pipeMail(const QString& data, const QString& recipient, const QByteArray& mail)
    {
        QProcess tool;
        tool.start(QStringLiteral(PLIMO_BINARY_DIR "/tools/plimopager-mail/plimopager-mail"),
            { QStringLiteral("--data"), data, recipient });
        if (!tool.waitForStarted(5000))
            return -1;
        tool.write(mail);
        tool.closeWriteChannel();
        if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit)
            return -1;
        return tool.exitCode();
    }

private slots:
    void init()
    {
        intake_ = std::make_unique<IntakeRun>();
        QVERIFY(intake_->seed());
    }
    void cleanup() { intake_.reset(); }

    // One page a tick, in name order: a pager ID with a blank carrier line (Bob's carrier), a user
    // by name on the carrier named, a group; files still being written are left alone.
    void filesArePagedInNameOrder()
    {
        QVERIFY(drop(QStringLiteral("b-second"), "Alice\r\nLand\r\nSecond\r\n"));
        QVERIFY(drop(QStringLiteral("a-first"), "1002\r\n\r\nFirst\r\n"));
        QVERIFY(drop(QStringLiteral("c-third"), "Group: Night Shift\n\nThird\n"));
        QVERIFY(drop(QStringLiteral("d-writing.tmp"), "Alice\n\nNot yet\n"));
        QVERIFY(drop(QStringLiteral(".e-writing"), "Alice\n\nNot yet\n"));
        intake_->open();
        QVERIFY(intake_->waitPaged(4));
        const QStringList paged = intake_->paged();
        QCOMPARE(paged.mid(0, 2), QStringList({ QStringLiteral("1002: First"), QStringLiteral("1001: Second") }));
        QCOMPARE(QSet<QString>(paged.begin() + 2, paged.end()),
            QSet<QString>({ QStringLiteral("1001: Third"), QStringLiteral("1002: Third") }));
        QCOMPARE(left(), QStringList({ QStringLiteral(".e-writing"), QStringLiteral("d-writing.tmp") }));
        QVERIFY2(said().contains(QStringLiteral("From incoming/a-first: First \u2192 Bob")), qPrintable(said()));
        QVERIFY2(said().contains(QStringLiteral("From incoming/c-third: Third \u2192 Group: Night Shift")), qPrintable(said()));
        QCOMPARE(intake_->outcomes().filter(QStringLiteral("|SENT")).size(), 4);
    }

    // A link (its target kept), a file over the bound, a NUL byte and a blank carrier line for an
    // unknown pager ID are removed and said; a folder is said once and left; the file behind them
    // is paged all the same.
    void whatIsNoMessageFileIsRefused()
    {
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(QStringLiteral("secret"));
        QFile secret(target);
        QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("Alice\nLand\nSecret\n") > 0);
        secret.close();
        QVERIFY(drop(QStringLiteral("a-big"), QByteArray(compose::MessagePreparation::kMessageFileReadLimit + 1, 'x')));
        QVERIFY(QFile::link(target, incoming() + QStringLiteral("/b-link")));
        QVERIFY(QDir(incoming()).mkdir(QStringLiteral("c-folder")));
        QVERIFY(drop(QStringLiteral("d-nul"), QByteArray("Alice\nLand\nA\0B\n", 15)));
        QVERIFY(drop(QStringLiteral("e-nobody"), "555-0199\n\nHello\n"));
        QVERIFY(drop(QStringLiteral("f-good"), "Alice\n\nStill paged\n"));
        intake_->open();
        QVERIFY(intake_->waitPaged(1));
        QTest::qWait(300); // more ticks: the folder is not said again
        QCOMPARE(intake_->paged(), QStringList { QStringLiteral("1001: Still paged") });
        QCOMPARE(left(), QStringList { QStringLiteral("c-folder") });
        QVERIFY(QFile::exists(target));
        const QString lines = said();
        QVERIFY2(lines.contains(QStringLiteral("File incoming/a-big is larger than 4 MiB; it was deleted unread.")), qPrintable(lines));
        QVERIFY2(lines.contains(QStringLiteral("File incoming/b-link")), qPrintable(lines));
        QCOMPARE(lines.count(QStringLiteral("incoming/c-folder is a folder")), 1);
        QVERIFY2(lines.contains(QStringLiteral("File incoming/d-nul does not contain required information.")), qPrintable(lines));
        QVERIFY2(lines.contains(QStringLiteral("No carrier for 555-0199 in incoming/e-nobody")), qPrintable(lines));
        QVERIFY(!lines.contains(QStringLiteral("Secret")));
    }

    // A file the desk may not remove is said once and never paged; once it may, it is paged once.
    void undeletableFileIsNotPaged()
    {
        QVERIFY(drop(QStringLiteral("stuck"), "Alice\n\nStuck\n"));
        testsupport::UndeletableFolder locked(incoming());
        if (!locked.active())
            QSKIP("the folder cannot be made undeletable here");
        intake_->open();
        QTest::qWait(500);
        QCOMPARE(said().count(QStringLiteral("File incoming/stuck cannot be deleted and is not paged")), 1);
        QVERIFY(intake_->run->desk().SendMsgs().isEmpty());
        locked.release();
        QVERIFY(intake_->waitPaged(1));
        QTest::qWait(300);
        QCOMPARE(intake_->paged(), QStringList { QStringLiteral("1001: Stuck") });
        QVERIFY(left().isEmpty());
    }

    // A page goes at most once: while the pending file cannot be written the file waits under its
    // own name, said once, and is paged once it can be; a file a stopped desk had claimed is said,
    // never paged.
    void pageGoesAtMostOnce()
    {
        QVERIFY(drop(QStringLiteral(".left.taken"), "Alice\n\nLeft behind\n"));
        QVERIFY(drop(QStringLiteral("waits"), "Alice\n\nWaits\n"));
        core::PendingFile& pending = intake_->open().desk().pendingFile();
        const QString path = pending.path();
        pending.setPath(intake_->dir.filePath(QStringLiteral("missing/PendMsgs")));
        QTest::qWait(500);
        QVERIFY(intake_->run->desk().SendMsgs().isEmpty());
        QCOMPARE(left(), QStringList({ QStringLiteral(".left.taken"), QStringLiteral("waits") }));
        QCOMPARE(said().count(QStringLiteral("The message of incoming/waits waits")), 1);
        QCOMPARE(said().count(QStringLiteral("incoming/.left.taken was being taken when the desk stopped")), 1);
        pending.setPath(path);
        QVERIFY(intake_->waitPaged(1));
        QTest::qWait(300);
        QCOMPARE(intake_->paged(), QStringList { QStringLiteral("1001: Waits") });
        QCOMPARE(left(), QStringList { QStringLiteral(".left.taken") });
        QCOMPARE(intake_->outcomes(), QStringList({ QStringLiteral("From File 1001|1001|REFUSED"), QStringLiteral("From File 1001|1001|SENT") }));
    }

    // The mail server's pipe: a multipart mail with an encoded subject and a quoted-printable
    // Latin-1 part becomes one file, written whole, which the desk pages; incoming/ that cannot be
    // made is a temporary failure.
    void mailIsWrittenAndPaged()
    {
        const QByteArray mail = "Return-Path: <monitor@example.org>\r\n"
                                "From: monitor@example.org\r\n"
                                "Subject: =?UTF-8?Q?K=C3=BChlraum?=\r\n =?ISO-8859-1?B?IDMgd2FybQ==?=\r\n"
                                "MIME-Version: 1.0\r\n"
                                "Content-Type: multipart/alternative; boundary=\"==b1==\"\r\n"
                                "\r\n"
                                "This is a multi-part message.\r\n"
                                "--==b1==\r\n"
                                "Content-Type: text/html; charset=utf-8\r\n"
                                "\r\n"
                                "<p>html</p>\r\n"
                                "--==b1==\r\n"
                                "Content-Type: text/plain; charset=iso-8859-1\r\n"
                                "Content-Transfer-Encoding: quoted-printable\r\n"
                                "\r\n"
                                "Temperatur =FCber 8 =B0C seit 10 Min=\r\n"
                                "uten.\r\n"
                                "\r\n"
                                "-- \r\n"
                                "Monitoring\r\n"
                                "--==b1==--\r\n";
        QCOMPARE(pipeMail(intake_->dir.path(), QStringLiteral("1001@pager.example.org"), mail), 0);
        const QStringList files = left();
        QCOMPARE(files.size(), 1);
        QVERIFY2(files.constFirst().startsWith(QStringLiteral("mail-")), qPrintable(files.constFirst()));
        QFile written(incoming() + u'/' + files.constFirst());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(),
            "\xEF\xBB\xBF" + QStringLiteral("1001\r\n\r\nK\u00fchlraum 3 warm: Temperatur \u00fcber 8 \u00b0C seit 10 Minuten.\r\n").toUtf8());

        intake_->open();
        QVERIFY(intake_->waitPaged(1));
        QCOMPARE(intake_->paged().size(), 1);
        QVERIFY2(intake_->paged().constFirst().startsWith(QStringLiteral("1001: K")), qPrintable(intake_->paged().join(u'\n')));
        QVERIFY(left().isEmpty());

        // incoming/ cannot be made where a file has its name; a missing recipient is bad usage.
        QTemporaryDir other;
        QFile blocker(other.filePath(QStringLiteral("incoming")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QCOMPARE(pipeMail(other.path(), QStringLiteral("Alice"), mail), 75);
        QCOMPARE(pipeMail(other.path(), QString(), mail), 64);
    }
};

QTEST_GUILESS_MAIN(tst_IncomingFolder)
#include "tst_incomingfolder.moc"
