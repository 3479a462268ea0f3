// Writes that fail as a full disk makes them fail: on a small tmpfs where this process may mount
// one, otherwise under a file-size limit (the system refuses the write the same way, "File too
// large" instead of "No space left on device").
#include "core/pendingfile.h"
#include "core/queues.h"
#include "store/connection.h"
#include "store/fieldnames.h"
#include "store/memtable.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "support/pages.h"
#include "support/pendingfile.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

using namespace testsupport;

class tst_WriteFailures : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString folder_;
    bool mounted_ = false;
    rlimit previousLimit_ {};

    // Makes the folder full: the rest of the tmpfs taken by a filler file, or no file allowed to
    // grow past its size now.
    void fill()
    {
        if (mounted_) {
            QFile filler(folder_ + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        } else {
            rlimit limit = previousLimit_;
            limit.rlim_cur = 1;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
    }
    void makeRoom()
    {
        if (mounted_)
            QVERIFY(QFile::remove(folder_ + QStringLiteral("/filler")));
        else
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &previousLimit_), 0);
    }
    QString fullReason() const { return QString::fromLocal8Bit(std::strerror(mounted_ ? ENOSPC : EFBIG)); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        folder_ = dir_.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(folder_));
        QProcess mount;
        mount.setStandardErrorFile(QProcess::nullDevice());
        mount.start(QStringLiteral("mount"),
            { QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), QStringLiteral("size=512k"),
                QStringLiteral("tmpfs"), folder_ });
        mounted_ = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
        ::getrlimit(RLIMIT_FSIZE, &previousLimit_);
        // Past the limit the system sends SIGXFSZ, which would end the test; the write fails.
        std::signal(SIGXFSZ, SIG_IGN);
        qInfo("write failures from %s", mounted_ ? "a full tmpfs" : "a file-size limit");
    }
    void cleanupTestCase()
    {
        if (mounted_)
            QProcess::execute(QStringLiteral("umount"), { folder_ });
    }
    void cleanup()
    {
        QFile::remove(folder_ + QStringLiteral("/filler"));
        ::setrlimit(RLIMIT_FSIZE, &previousLimit_);
    }

    void aPendingFileThatCannotBeRewrittenStaysWhole()
    {
        store::TMemTable send;
        store::TMemTable pending;
        store::TMemTable temp;
        core::createQueueTables(send, pending, temp);
        const QString path = folder_ + QStringLiteral("/PendMsgs");
        core::PendingFile file(pending, send, path);
        file.setRetryInterval(50);
        QSignalSpy failures(&file, &core::PendingFile::writeFailed);
        file.follow();
        // Pages in the file on disk, read by a fresh reader (-1 before it exists).
        const auto onDisk = [&path]() -> qsizetype {
            try {
                return pendingNames(path).size();
            } catch (const store::StoreError&) {
                return -1;
            }
        };
        for (int i = 0; i < 201; ++i)
            appendPage(pending, TestPage { QStringLiteral("P%1").arg(i) });
        QTRY_COMPARE(onDisk(), 201);

        fill();
        appendPage(send, TestPage { QStringLiteral("Waiting") });
        QTRY_COMPARE(failures.size(), 1);
        QCOMPARE(failures.constFirst().constFirst().toString(), QStringLiteral("Cannot write '%1': %2").arg(path, fullReason()));
        appendPage(send, TestPage { QStringLiteral("Later") });
        QTest::qWait(200); // changes and retries meanwhile: said once
        QCOMPARE(failures.size(), 1);
        QCOMPARE(onDisk(), 201); // the old file, whole
        QCOMPARE(pending.rowCount() + send.rowCount(), 203); // the queues, whole in memory

        // Room again: the retry writes it without waiting for a change.
        makeRoom();
        QTRY_COMPARE(onDisk(), 203);
    }

    void anAppendOnAFullDiskLeavesNoRecordAndNoKeys()
    {
        store::Connection connection(folder_);
        store::CreateDatabase(connection);
        store::Table log;
        log.setConnection(connection);
        log.setTableName(store::msgLogSchema().openedAs);
        log.open();
        auto append = [&log](const QString& text) {
            log.append();
            log.setFieldText(store::msglog::UserName, QStringLiteral("Ann"));
            log.setFieldText(store::msglog::DDate, QStringLiteral("2031/05/14"));
            log.setFieldText(store::msglog::Msg, text);
            log.post();
        };
        append(QStringLiteral("before"));
        fill();
        QString said;
        for (int i = 0; i < 2000 && said.isEmpty(); ++i) {
            try {
                append(QString(200, u'm'));
            } catch (const store::StoreError& e) {
                said = e.message();
                try {
                    log.cancel();
                } catch (const store::StoreError&) {
                }
            }
        }
        QVERIFY2(said.contains(fullReason()) && !said.contains(QStringLiteral("Success")), qPrintable(said));
        makeRoom();
        const uint32_t count = log.recordCount();

        // A fresh handle: the records counted, every entry of every tag one of them.
        store::Table fresh;
        fresh.setConnection(connection);
        fresh.setTableName(store::msgLogSchema().openedAs);
        fresh.open();
        QCOMPARE(fresh.recordCount(), count);
        for (const QString& tag : fresh.tagNames()) {
            fresh.selectTag(tag);
            QCOMPARE(fresh.entryCount(), count);
        }
        fresh.last();
        QCOMPARE(fresh.fieldText(store::msglog::Msg).size() > 0, true);
        append(QStringLiteral("after"));
        QCOMPARE(log.recordCount(), count + 1);
    }
};

QTEST_GUILESS_MAIN(tst_WriteFailures)
#include "tst_writefailures.moc"
