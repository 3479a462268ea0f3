// Tables whose files cannot be written: the immutable attribute set while a handle has them open
// (the descriptor stays open for writing, and a store through a writable mapping of the file
// would end the program with SIGBUS). Each write is a StoreError naming the file, the same text
// every time; the table and its index stay as they were, and take changes again once writable.
#include "store/connection.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "tagcheck.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using store::Connection;
using store::StoreError;
using store::Table;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Makes files unwritable, even for the super-user (the immutable attribute), while it lives.
class Immutable {
public:
    explicit Immutable(const QStringList& paths)
        : paths_(paths)
    {
        active_ = ::geteuid() == 0 && QProcess::execute(QStringLiteral("chattr"), QStringList { "+i" } + paths_) == 0;
    }
    ~Immutable() { release(); }
    bool active() const { return active_; }
    void release()
    {
        if (active_)
            QProcess::execute(QStringLiteral("chattr"), QStringList { "-i" } + paths_);
        active_ = false;
    }

private:
    QStringList paths_;
    bool active_ = false;
};

} // namespace

class tst_Unwritable : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    Connection connection_;

    QString path(const QString& name) const { return connection_.resolve(name); }
    // MSGS.DBF with a memo and a USERNAME tag, three records.
    void makeTable()
    {
        for (const QString& f : QDir(dir_.path()).entryList(QDir::Files))
            QFile::remove(dir_.filePath(f));
        connection_.setFolder(dir_.path());
        connection_.createTable(QStringLiteral("MSGS.DBF"), QStringLiteral("USERNAME,C,30;MSG,M;"));
        Table t;
        t.setConnection(connection_);
        t.setTableName(QStringLiteral("MSGS.DBF"));
        t.setExclusive(true);
        t.open();
        t.addTag(QStringLiteral("MSGS.CDX"), QStringLiteral("USERNAME"), QStringLiteral("USERNAME"), false);
        for (const char* name : { "Carol", "Alice", "Bob" }) {
            t.append();
            t.setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(name));
            t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Hello ") + QString::fromLatin1(name) });
            t.post();
        }
        t.close();
    }
    void openShared(Table& t)
    {
        t.setConnection(connection_);
        t.setTableName(QStringLiteral("MSGS.DBF"));
        t.setIndexName(QStringLiteral("USERNAME"));
        t.open();
    }
    QStringList names(Table& t)
    {
        QStringList out;
        for (t.first(); !t.eof(); t.next())
            out << t.fieldText(QStringLiteral("USERNAME"));
        return out;
    }
    // The text of the StoreError that `change` throws; empty when it throws none.
    template <typename F> static QString failureOf(F change)
    {
        try {
            change();
        } catch (const StoreError& e) {
            return e.message();
        }
        return {};
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void aChangeToAnUnwritableFileIsAnError_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("named"); // the file an append's fault names: the first it writes
        QTest::newRow("index") << QStringList { "MSGS.CDX" } << "MSGS.CDX";
        QTest::newRow("table") << QStringList { "MSGS.DBF" } << "MSGS.DBF";
        QTest::newRow("memo") << QStringList { "MSGS.FPT" } << "MSGS.FPT";
        QTest::newRow("all three") << QStringList { "MSGS.DBF", "MSGS.CDX", "MSGS.FPT" } << "MSGS.FPT";
    }
    void aChangeToAnUnwritableFileIsAnError()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, named);
        makeTable();
        Table t;
        openShared(t);
        // The handle has read the index and the record count through its mappings first.
        QCOMPARE(names(t), QStringList({ "Alice", "Bob", "Carol" }));
        const QByteArray table = readAll(path(QStringLiteral("MSGS.DBF")));
        const QByteArray index = readAll(path(QStringLiteral("MSGS.CDX")));
        QStringList paths;
        for (const QString& f : files)
            paths << path(f);
        Immutable locked(paths);
        if (!locked.active())
            QSKIP("the immutable attribute needs the super-user and a file system that has it");

        // An append, then the same again: one text for both (the desk says a repeated fault once).
        t.append();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Dave"));
        t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Hello Dave") });
        const QString appendFault = failureOf([&] { t.post(); });
        QVERIFY2(appendFault.contains(named, Qt::CaseInsensitive), qPrintable(appendFault));
        QVERIFY2(appendFault.contains(QStringLiteral("Operation not permitted")), qPrintable(appendFault));
        QCOMPARE(failureOf([&] { t.post(); }), appendFault);
        t.cancel();
        // A key changed in place: the index or the record cannot take it (a memo file alone
        // that cannot be written does not matter to a change without a memo).
        QVERIFY(t.locate(QStringLiteral("USERNAME"), QStringLiteral("Bob")));
        t.edit();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Zoe"));
        const QString editFault = failureOf([&] { t.post(); });
        QCOMPARE(editFault.isEmpty(), files == QStringList { "MSGS.FPT" });
        if (editFault.isEmpty()) {
            t.edit();
            t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Bob"));
            t.post();
        } else {
            t.cancel();
        }
        QCOMPARE(names(t), QStringList({ "Alice", "Bob", "Carol" }));

        // Writable again: the table takes the append, and nothing of the refused ones is left.
        locked.release();
        QCOMPARE(readAll(path(QStringLiteral("MSGS.DBF"))), table);
        if (files != QStringList { "MSGS.FPT" })
            QCOMPARE(readAll(path(QStringLiteral("MSGS.CDX"))), index);
        t.append();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Dave"));
        t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("Hello Dave") });
        t.post();
        QCOMPARE(names(t), QStringList({ "Alice", "Bob", "Carol", "Dave" }));
        QCOMPARE(t.fieldText(QStringLiteral("MSG")), QStringLiteral("Hello Dave"));
        t.close();
        QCOMPARE(tagcheck::entriesOf(path(QStringLiteral("MSGS.CDX")), "USERNAME"),
            tagcheck::rebuildOf(path(QStringLiteral("MSGS.DBF")), "USERNAME", false));
    }

    // An exclusive handle writes its index at close: the close says so.
    void anExclusiveHandleSaysSoWhenItWritesItsIndex()
    {
        makeTable();
        Table t;
        t.setConnection(connection_);
        t.setTableName(QStringLiteral("MSGS.DBF"));
        t.setExclusive(true);
        t.open();
        QCOMPARE(names(t).size(), 3);
        Immutable locked({ path(QStringLiteral("MSGS.CDX")) });
        if (!locked.active())
            QSKIP("the immutable attribute needs the super-user and a file system that has it");
        t.append();
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Dave"));
        QString fault = failureOf([&] { t.post(); });
        if (fault.isEmpty())
            fault = failureOf([&] { t.close(); });
        QVERIFY2(fault.contains(QStringLiteral("MSGS.CDX"), Qt::CaseInsensitive), qPrintable(fault));
    }

    // Unwritable before it is opened: the open is refused.
    void aTableThatCannotBeOpenedForWritingIsRefused()
    {
        makeTable();
        Immutable locked({ path(QStringLiteral("MSGS.CDX")) });
        if (!locked.active())
            QSKIP("the immutable attribute needs the super-user and a file system that has it");
        Table t;
        const QString fault = failureOf([&] { openShared(t); });
        QVERIFY2(fault.contains(QStringLiteral("MSGS.CDX"), Qt::CaseInsensitive), qPrintable(fault));
        QVERIFY(!t.isOpen());
    }
};

QTEST_GUILESS_MAIN(tst_Unwritable)
#include "tst_unwritable.moc"
