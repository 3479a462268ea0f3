// Files of an open table made unwritable (the immutable attribute: the descriptors stay open for
// writing, and a store through a writable mapping of the file would end the program with SIGBUS):
// a change is a StoreError naming the file, the same text each time, and leaves the table and its
// index as they were; writable again, the table takes it.
#include "store/connection.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_Unwritable : public QObject {
    Q_OBJECT

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void aChangeToAnUnwritableFileIsAnError_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("named"); // the first of them an append writes
        QTest::newRow("index") << QStringList { "MSGS.CDX" } << "MSGS.CDX";
        QTest::newRow("table") << QStringList { "MSGS.DBF" } << "MSGS.DBF";
        QTest::newRow("memo") << QStringList { "MSGS.FPT" } << "MSGS.FPT";
        QTest::newRow("all three") << QStringList { "MSGS.DBF", "MSGS.CDX", "MSGS.FPT" } << "MSGS.FPT";
    }
    void aChangeToAnUnwritableFileIsAnError()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, named);
        QTemporaryDir dir;
        store::Connection connection;
        connection.setFolder(dir.path());
        connection.createTable(QStringLiteral("MSGS.DBF"), QStringLiteral("USERNAME,C,30;MSG,M;"));
        store::Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("MSGS.DBF"));
        t.setExclusive(true);
        t.open();
        t.addTag(QStringLiteral("MSGS.CDX"), QStringLiteral("USERNAME"), QStringLiteral("USERNAME"), false);
        t.close();
        t.setExclusive(false);
        t.setIndexName(QStringLiteral("USERNAME"));
        t.open();
        const auto append = [&t](const QString& name) {
            t.append();
            t.setFieldText(QStringLiteral("USERNAME"), name);
            t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Hello ") + name });
            t.post();
        };
        append(QStringLiteral("Bob")); // the index and the count read through their mappings
        const QString dbf = connection.resolve(QStringLiteral("MSGS.DBF"));
        const QString cdx = connection.resolve(QStringLiteral("MSGS.CDX"));
        const QByteArray table = readAll(dbf);
        const QByteArray index = readAll(cdx);
        QStringList paths;
        for (const QString& file : files)
            paths << connection.resolve(file);
        if (::geteuid() != 0 || QProcess::execute(QStringLiteral("chattr"), QStringList { "+i" } + paths) != 0)
            QSKIP("the immutable attribute needs the super-user and a file system that has it");
        QString faults[2];
        for (QString& fault : faults) {
            try {
                append(QStringLiteral("Alice"));
            } catch (const store::StoreError& e) {
                fault = e.message();
            }
            t.cancel();
        }
        QProcess::execute(QStringLiteral("chattr"), QStringList { "-i" } + paths);

        QVERIFY2(faults[0].contains(named, Qt::CaseInsensitive), qPrintable(faults[0]));
        QVERIFY2(faults[0].contains(QStringLiteral("Operation not permitted")), qPrintable(faults[0]));
        QCOMPARE(faults[1], faults[0]); // a repeated fault is said once
        QCOMPARE(readAll(dbf), table);
        QCOMPARE(readAll(cdx), index);
        append(QStringLiteral("Alice"));
        QCOMPARE(t.fieldText(QStringLiteral("MSG")), QStringLiteral("Hello Alice"));
        t.close();
        QCOMPARE(tagcheck::entriesOf(cdx, "USERNAME"), tagcheck::rebuildOf(dbf, "USERNAME", false));
    }
};

QTEST_GUILESS_MAIN(tst_Unwritable)
#include "tst_unwritable.moc"
