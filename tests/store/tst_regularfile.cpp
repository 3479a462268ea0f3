#include "store/regularfile.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Names that stand for something other than a regular file are refused at once, never opened for
// a read that would wait or never end.
class tst_RegularFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QFile file(path("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("twelve bytes");
        file.close();
        QCOMPARE(::mkfifo(QFile::encodeName(path("pipe")).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path("zero")));
        QVERIFY(QFile::link(path("plain"), path("link")));
        QVERIFY(QFile::link(path("nothing"), path("dangling")));
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("folder")));
    }

    void readWhole_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("bound");
        QTest::addColumn<bool>("followLinks");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("fault");
        QTest::newRow("regular") << "plain" << qint64(12) << true << true << "";
        QTest::newRow("missing") << "none" << qint64(12) << true << false << "";
        QTest::newRow("over the bound")
            << "plain" << qint64(11) << true << true << " is larger than 11 bytes";
        QTest::newRow("pipe") << "pipe" << qint64(12) << true << true << " is a pipe, not a regular file";
        QTest::newRow("link to a device")
            << "zero" << qint64(12) << true << true << " is a device, not a regular file";
        QTest::newRow("folder") << "folder" << qint64(12) << true << true << " is a folder, not a file";
        QTest::newRow("link followed") << "link" << qint64(12) << true << true << "";
        QTest::newRow("link refused") << "link" << qint64(12) << false << true << " is a symbolic link";
        QTest::newRow("link to nothing")
            << "dangling" << qint64(12) << true << true << " is a link to nothing";
    }

    void readWhole()
    {
        QFETCH(QString, name);
        QFETCH(qint64, bound);
        QFETCH(bool, followLinks);
        QFETCH(bool, exists);
        QFETCH(QString, fault);
        const QString file = dir_.filePath(name);
        const store::WholeFile whole = store::readWholeFile(file, bound, followLinks);
        QCOMPARE(whole.exists, exists);
        QCOMPARE(whole.fault, fault.isEmpty() ? QString() : file + fault);
        QCOMPARE(whole.bytes, whole.read() ? QByteArray("twelve bytes") : QByteArray());
    }

    void tableAndIndexOnAPipeAreRefused()
    {
        QCOMPARE(::mkfifo(QFile::encodeName(path("BUSERS.DBF")).constData(), 0600), 0);
        store::Table table;
        table.setConnection(store::Connection(dir_.path()));
        table.setTableName(QStringLiteral("BUSERS.DBF"));
        try {
            table.open();
            QFAIL("a pipe opened as a table");
        } catch (const store::StoreError& e) {
            QCOMPARE(e.message(),
                QStringLiteral("Cannot open table %1: it is a pipe, not a regular file")
                    .arg(path("BUSERS.DBF")));
        }
        QVERIFY_THROWS_EXCEPTION(
            store::StoreError, store::openRegularFile(path("pipe"), O_RDWR, QStringLiteral("index")));
        QCOMPARE(store::openRegularFile(path("none"), O_RDWR, QStringLiteral("index"), true), -1);
    }
};

QTEST_GUILESS_MAIN(tst_RegularFile)
#include "tst_regularfile.moc"
