#include "store/connection.h"
#include "store/cp1252.h"
#include "store/fielddef.h"
#include "store/storeerror.h"
#include "store/table.h"
#include "support/filebytes.h"
#include "userfields.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using store::Connection;
using store::StoreError;
using store::Table;

namespace {

const QString kCarrierFields
    = QStringLiteral("PAGERCOMP,C,30;HOST_TEL,C,14;HOST_SPEED,C,5;HOST_CHARS,N,3,0;HOST_PASSW,C,10;");
const QString kMemoFields = QStringLiteral("MSGTITLE,C,16;MSG,M;");
const QString kPathFields = QStringLiteral("PATHNO,C,2;ENABLED,L;MAXCHARS,N,5,0;");

// Runs a Perl script with the XBase module (an independent xBase reader and writer) on `args`;
// its output, or "perl failed: ..." .
QString perl(const QString& script, const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/perl"), QStringList { QStringLiteral("-MXBase"), QStringLiteral("-e"), script } + args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("perl failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
    return QString::fromLatin1(p.readAllStandardOutput());
}

} // namespace

class tst_Table : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    Connection connection;

    void openTable(Table& t, const QString& name)
    {
        t.setConnection(connection);
        t.setTableName(name);
        t.open();
    }
    void addUsers(Table& t, const QStringList& names)
    {
        for (const QString& name : names) {
            t.append();
            t.setFieldText(QStringLiteral("USERNAME"), name);
            t.post();
        }
    }
    QStringList visibleNames(Table& t, const QString& field = QStringLiteral("USERNAME"))
    {
        QStringList names;
        for (t.first(); !t.eof(); t.next())
            names << t.fieldText(field);
        return names;
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        const QDir d(dir.path());
        for (const QString& f : d.entryList(QDir::Files))
            QFile::remove(d.filePath(f));
        connection.setFolder(dir.path());
    }

    void fieldDefinitions_data()
    {
        QTest::addColumn<QString>("definitions");
        QTest::addColumn<int>("fields");
        QTest::addColumn<int>("recordLength"); // 0: the string is refused
        QTest::newRow("users") << kUserFields << 4 << 85;
        QTest::newRow("carriers") << kCarrierFields << 5 << 63;
        QTest::newRow("memo takes 10") << kMemoFields << 2 << 27;
        QTest::newRow("logical takes 1") << kPathFields << 3 << 9;
        QTest::newRow("logical, lower case") << QStringLiteral("ok,l;") << 1 << 2;
        QTest::newRow("lower case, blanks") << QStringLiteral(" name , c , 5 ; n ,N, 3,0;") << 2 << 9;
        QTest::newRow("no trailing semicolon") << QStringLiteral("A,C,1") << 1 << 2;
        QTest::newRow("empty") << QString() << 0 << 0;
        QTest::newRow("no width") << QStringLiteral("A,C;") << 0 << 0;
        QTest::newRow("width 0") << QStringLiteral("A,C,0;") << 0 << 0;
        QTest::newRow("width 255") << QStringLiteral("A,C,255;") << 0 << 0;
        QTest::newRow("unknown type") << QStringLiteral("A,X,3;") << 0 << 0;
        QTest::newRow("date type") << QStringLiteral("A,D;") << 0 << 0;
        QTest::newRow("name too long") << QStringLiteral("ABCDEFGHIJK,C,3;") << 0 << 0;
        QTest::newRow("name with slash") << QStringLiteral("A/B,C,3;") << 0 << 0;
        QTest::newRow("twice") << QStringLiteral("A,C,3;a,C,4;") << 0 << 0;
    }
    void fieldDefinitions()
    {
        QFETCH(QString, definitions);
        QFETCH(int, fields);
        QFETCH(int, recordLength);
        if (recordLength == 0) {
            QVERIFY_THROWS_EXCEPTION(
                StoreError, connection.createTable(QStringLiteral("T.DBF"), definitions));
            QVERIFY(!connection.exists(QStringLiteral("T.DBF")));
            return;
        }
        connection.createTable(QStringLiteral("T.DBF"), definitions);
        Table t;
        openTable(t, QStringLiteral("t.dbf"));
        QCOMPARE(int(t.fields().size()), fields);
        QCOMPARE(store::recordLength(t.fields()), recordLength);
        QVERIFY(t.isEmpty());
        QVERIFY(t.eof() && t.bof());
        QCOMPARE(t.recNo(), 0u);
        const QByteArray bytes = testsupport::fileBytes(dir.filePath(QStringLiteral("T.DBF")));
        QCOMPARE(int(bytes.size()), 32 + 32 * fields + 1 + 1);
        QCOMPARE(bytes.back(), '\x1A');
        QCOMPARE(bytes[29], '\x03');
    }

    void fileNamesIgnoreCase()
    {
        connection.createTable(QStringLiteral("Busers.dbf"), kUserFields);
        QVERIFY(connection.exists(QStringLiteral("BUSERS.DBF")));
        QCOMPARE(
            connection.resolve(QStringLiteral("busers.DBF")), dir.filePath(QStringLiteral("Busers.dbf")));
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("Ann") });
        t.close();
        // Re-creating under another spelling replaces the file: still one table.
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        openTable(t, QStringLiteral("busers.dbf"));
        QVERIFY(t.isEmpty());
    }

    void pathSeparatorsRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("parent") << QStringLiteral("../x.dbf");
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd");
        QTest::newRow("backslash") << QStringLiteral("..\\x.dbf");
        QTest::newRow("dotdot") << QStringLiteral("..");
        QTest::newRow("empty") << QString();
    }
    void pathSeparatorsRefused()
    {
        QFETCH(QString, name);
        QVERIFY_THROWS_EXCEPTION(StoreError, connection.resolve(name));
        QVERIFY_THROWS_EXCEPTION(StoreError, connection.createTable(name, kUserFields));
        Table t;
        t.setConnection(connection);
        t.setTableName(name);
        QVERIFY_THROWS_EXCEPTION(StoreError, t.open());
    }

    void fieldAccess_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("read");
        QTest::newRow("trailing blanks dropped") << "PAGERCOMP"
                                                 << "Acme   "
                                                 << "Acme";
        QTest::newRow("leading blanks kept") << "PAGERCOMP"
                                             << "  Acme"
                                             << "  Acme";
        QTest::newRow("all blanks read empty") << "HOST_TEL"
                                               << "     "
                                               << "";
        QTest::newRow("cut to width") << "HOST_PASSW"
                                      << "0123456789abc"
                                      << "0123456789";
        QTest::newRow("lower case field name") << "host_speed"
                                               << "1200"
                                               << "1200";
        QTest::newRow("windows-1252")
            << "PAGERCOMP" << QString::fromUtf8("Café “€” Šž") << QString::fromUtf8("Café “€” Šž");
        QTest::newRow("outside code page") << "PAGERCOMP" << QString::fromUtf8("Ω✓") << "??";
        QTest::newRow("numeric as text") << "HOST_CHARS"
                                         << " 80 "
                                         << "80";
        QTest::newRow("numeric empty") << "HOST_CHARS"
                                       << ""
                                       << "";
    }
    void fieldAccess()
    {
        QFETCH(QString, field);
        QFETCH(QString, written);
        QFETCH(QString, read);
        connection.createTable(QStringLiteral("PAGECOMP.dbf"), kCarrierFields);
        Table t;
        openTable(t, QStringLiteral("PageComp.DBF"));
        t.append();
        t.setFieldText(field, written);
        QCOMPARE(t.fieldText(field), read); // the edit buffer
        t.post();
        t.close();
        openTable(t, QStringLiteral("PAGECOMP.DBF"));
        QCOMPARE(t.fieldText(field), read); // the file
    }

    void numericFields_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("stored"); // "" = refused
        QTest::newRow("80") << 80 << QByteArray(" 80");
        QTest::newRow("0") << 0 << QByteArray("  0");
        QTest::newRow("999") << 999 << QByteArray("999");
        QTest::newRow("-12") << -12 << QByteArray("-12");
        QTest::newRow("1000 too wide") << 1000 << QByteArray();
        QTest::newRow("-100 too wide") << -100 << QByteArray();
    }
    void numericFields()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, stored);
        connection.createTable(QStringLiteral("PAGECOMP.dbf"), kCarrierFields);
        Table t;
        openTable(t, QStringLiteral("PAGECOMP.dbf"));
        t.append();
        if (stored.isEmpty()) {
            QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldInt(QStringLiteral("HOST_CHARS"), value));
            return;
        }
        t.setFieldInt(QStringLiteral("Host_Chars"), value);
        t.post();
        QCOMPARE(t.fieldInt(QStringLiteral("HOST_CHARS")), value);
        t.close();
        const QByteArray bytes = testsupport::fileBytes(dir.filePath(QStringLiteral("PAGECOMP.dbf")));
        const int header = 32 + 5 * 32 + 1;
        QCOMPARE(bytes.mid(header + 1 + 30 + 14 + 5, 3), stored);
    }

    void memoFields()
    {
        connection.createTable(QStringLiteral("QUICKMSG.dbf"), kMemoFields);
        QVERIFY(connection.exists(QStringLiteral("quickmsg.fpt")));
        Table t;
        openTable(t, QStringLiteral("QuickMsg.dbf"));
        const QString longText = QString(700, u'x') + QString::fromUtf8("€");
        t.append();
        t.setFieldText(QStringLiteral("MSGTITLE"), QStringLiteral("Long"));
        t.setFieldText(QStringLiteral("msg"), longText);
        t.post();
        t.append();
        t.setFieldText(QStringLiteral("MSGTITLE"), QStringLiteral("Lines"));
        t.setMemoLines(QStringLiteral("MSG"), { QStringLiteral("one"), QStringLiteral("two") });
        t.post();
        t.append();
        t.setFieldText(QStringLiteral("MSGTITLE"), QStringLiteral("Empty"));
        t.post();
        // Changing a memo leaves the others as they were.
        t.first();
        t.edit();
        t.setFieldText(QStringLiteral("MSG"), QStringLiteral("short now"));
        t.post();
        t.close();
        openTable(t, QStringLiteral("QUICKMSG.DBF"));
        QCOMPARE(t.fieldText(QStringLiteral("MSG")), QStringLiteral("short now"));
        t.next();
        QCOMPARE(t.fieldText(QStringLiteral("MSG")), QStringLiteral("one\r\ntwo"));
        t.next();
        QCOMPARE(t.fieldText(QStringLiteral("MSG")), QString());
        const QByteArray fpt = testsupport::fileBytes(dir.filePath(QStringLiteral("QUICKMSG.fpt")));
        QCOMPARE(fpt.mid(6, 2), QByteArray("\x00\x40", 2)); // block size 64
        QVERIFY(fpt.size() % 64 == 0);
    }

    // A logical field written each way: the byte in the file, what a fresh handle reads and what
    // the Perl XBase module reads (1, 0, or U for not set).
    void logicalFields_data()
    {
        QTest::addColumn<QString>("written"); // "true"/"false": setFieldBool, else setFieldText
        QTest::addColumn<char>("stored");
        QTest::addColumn<bool>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("perlReads");
        QTest::newRow("bool true") << "true" << 'T' << true << "T" << "1";
        QTest::newRow("bool false") << "false" << 'F' << false << "F" << "0";
        QTest::newRow("text T") << "T" << 'T' << true << "T" << "1";
        QTest::newRow("text y") << "y" << 'T' << true << "T" << "1";
        QTest::newRow("text Y padded") << " Y " << 'T' << true << "T" << "1";
        QTest::newRow("text t") << "t" << 'T' << true << "T" << "1";
        QTest::newRow("text n") << "n" << 'F' << false << "F" << "0";
        QTest::newRow("text f") << "f" << 'F' << false << "F" << "0";
        QTest::newRow("text ?") << "?" << ' ' << false << "" << "U";
        QTest::newRow("text empty") << "" << ' ' << false << "" << "U";
        QTest::newRow("never written") << QString() << ' ' << false << "" << "U";
    }
    void logicalFields()
    {
        QFETCH(QString, written);
        QFETCH(char, stored);
        QFETCH(bool, value);
        QFETCH(QString, text);
        QFETCH(QString, perlReads);
        connection.createTable(QStringLiteral("CARRPATH.DBF"), kPathFields);
        {
            Table t;
            openTable(t, QStringLiteral("CARRPATH.DBF"));
            t.append();
            t.setFieldText(QStringLiteral("PATHNO"), QStringLiteral("01"));
            if (written == u"true" || written == u"false")
                t.setFieldBool(QStringLiteral("enabled"), written == u"true");
            else if (!written.isNull())
                t.setFieldText(QStringLiteral("ENABLED"), written);
            QCOMPARE(t.fieldBool(QStringLiteral("ENABLED")), value); // the edit buffer
            t.setFieldInt(QStringLiteral("MAXCHARS"), 7);
            t.post();
        }
        const QByteArray bytes = testsupport::fileBytes(dir.filePath(QStringLiteral("CARRPATH.DBF")));
        const int record = 32 + 3 * 32 + 1;
        QCOMPARE(bytes.mid(record, 9), QByteArray(" 01") + stored + QByteArray("    7"));
        Table t;
        openTable(t, QStringLiteral("carrpath.dbf"));
        QCOMPARE(t.fieldBool(QStringLiteral("ENABLED")), value);
        QCOMPARE(t.fieldText(QStringLiteral("ENABLED")), text);
        QCOMPARE(t.fieldInt(QStringLiteral("MAXCHARS")), 7); // the fields after it are in place
        t.close();
        if (!QFileInfo::exists(QStringLiteral("/usr/share/perl5/XBase.pm")))
            QSKIP("the Perl XBase module is not installed");
        QCOMPARE(perl(QStringLiteral("my $t = XBase->new($ARGV[0]) or die XBase->errstr;"
                                     "my (undef, $no, $on) = $t->get_record(0, 'PATHNO', 'ENABLED');"
                                     "print $no, '=', defined $on ? $on : 'U';"),
                     { dir.filePath(QStringLiteral("CARRPATH.DBF")) }),
            QStringLiteral("01=") + perlReads);
    }

    // A table another tool made: every spelling of a logical value reads as xBase tools mean it.
    void logicalFieldsFromOtherTools()
    {
        if (!QFileInfo::exists(QStringLiteral("/usr/share/perl5/XBase.pm")))
            QSKIP("the Perl XBase module is not installed");
        const QString path = dir.filePath(QStringLiteral("other.dbf"));
        // Perl writes 'T', 'F' and '?' (not set); the other spellings are put into the bytes after.
        QCOMPARE(perl(QStringLiteral("my $t = XBase->create(name => $ARGV[0], field_names => ['NAME', 'ON'],"
                                     " field_types => ['C', 'L'], field_lengths => [8, 1],"
                                     " field_decimals => [0, 0]) or die XBase->errstr;"
                                     "my @v = (1, 0, undef, 1, 0, 1, 0, 1);"
                                     "$t->set_record($_, \"r$_\", $v[$_]) for 0 .. $#v; $t->close;"),
                     { path }),
            QString());
        const QByteArray patch = "TF?YNyn ";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            const int header = 32 + 2 * 32 + 1;
            QCOMPARE(bytes.at(header + 1 + 8), 'T');
            QCOMPARE(bytes.at(header + 10 + 1 + 8), 'F');
            QCOMPARE(bytes.at(header + 2 * 10 + 1 + 8), '?');
            for (int r = 3; r < patch.size(); ++r)
                bytes[header + r * 10 + 1 + 8] = patch[r];
            QVERIFY(f.seek(0));
            QCOMPARE(f.write(bytes), bytes.size());
        }
        Table t;
        openTable(t, QStringLiteral("OTHER.DBF"));
        QString read;
        QStringList texts;
        for (t.first(); !t.eof(); t.next()) {
            read += t.fieldBool(QStringLiteral("ON")) ? u'1' : u'0';
            texts << t.fieldText(QStringLiteral("ON"));
        }
        QCOMPARE(read, QStringLiteral("10010100"));
        QCOMPARE(texts.join(u','), QStringLiteral("T,F,,T,F,T,F,"));
    }

    void logicalFieldsMisused()
    {
        connection.createTable(QStringLiteral("CARRPATH.DBF"), kPathFields);
        Table t;
        openTable(t, QStringLiteral("CARRPATH.DBF"));
        t.append();
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldText(QStringLiteral("ENABLED"), QStringLiteral("X")));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldText(QStringLiteral("ENABLED"), QStringLiteral("TRUE")));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldBool(QStringLiteral("PATHNO"), true));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.fieldBool(QStringLiteral("MAXCHARS")));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldInt(QStringLiteral("ENABLED"), 1));
        t.setFieldBool(QStringLiteral("ENABLED"), true);
        t.post();
        t.close();
        // No tag on a logical field, alone or in a sum; the table keeps no index file.
        t.setExclusive(true);
        openTable(t, QStringLiteral("CARRPATH.DBF"));
        for (const QString& key : { QStringLiteral("ENABLED"), QStringLiteral("PATHNO+ENABLED") }) {
            try {
                t.addTag(QStringLiteral("CarrPath"), QStringLiteral("ON"), key, false);
                QFAIL("a tag on a logical field was made");
            } catch (const StoreError& e) {
                QVERIFY2(e.message().contains(QStringLiteral("\"ENABLED\" is none")), qPrintable(e.message()));
            }
        }
        QVERIFY(t.fieldBool(QStringLiteral("ENABLED")));
        QVERIFY(t.tagNames().isEmpty());
    }

    void pendingEdits_data()
    {
        // Each row: what is done to a table holding "Ann", "Bob", and the names then stored.
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<int>("count");
        const QStringList both { QStringLiteral("Ann"), QStringLiteral("Bob") };
        QTest::newRow("append, post") << "append-post" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("append untouched, post")
            << "append-blank-post" << QStringList { "Ann", "Bob", "" } << 3;
        QTest::newRow("append, cancel") << "append-cancel" << both << 2;
        QTest::newRow("append untouched, navigate") << "append-next" << both << 2;
        QTest::newRow("append changed, navigate")
            << "append-set-first" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("append changed, refresh")
            << "append-set-refresh" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("append changed, locate")
            << "append-set-locate" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("edit, post") << "edit-post" << QStringList { "Zed", "Bob" } << 2;
        QTest::newRow("edit, cancel") << "edit-cancel" << both << 2;
        QTest::newRow("edit changed, navigate") << "edit-next" << QStringList { "Zed", "Bob" } << 2;
        QTest::newRow("edit same value, navigate") << "edit-same-next" << both << 2;
        QTest::newRow("edit changed, close") << "edit-close" << QStringList { "Zed", "Bob" } << 2;
        QTest::newRow("append changed, close") << "append-close" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("insert is append") << "insert-post" << QStringList { "Ann", "Bob", "Cid" } << 3;
        QTest::newRow("post in browse does nothing") << "browse-post" << both << 2;
    }
    void pendingEdits()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, stored);
        QFETCH(int, count);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("Ann"), QStringLiteral("Bob") });
        t.first();
        const QString user = QStringLiteral("USERNAME");
        if (action.startsWith(u"append") || action.startsWith(u"insert")) {
            action.startsWith(u"insert") ? t.insert() : t.append();
            QCOMPARE(t.state(), Table::State::Insert);
            QCOMPARE(t.fieldText(user), QString());
            if (action != u"append-blank-post" && action != u"append-next")
                t.setFieldText(user, QStringLiteral("Cid"));
        } else if (action.startsWith(u"edit")) {
            t.edit();
            QCOMPARE(t.state(), Table::State::Edit);
            t.setFieldText(user, action == u"edit-same-next" ? QStringLiteral("Ann") : QStringLiteral("Zed"));
        }
        if (action.endsWith(u"post"))
            t.post();
        else if (action.endsWith(u"cancel"))
            t.cancel();
        else if (action.endsWith(u"next"))
            t.next();
        else if (action.endsWith(u"first"))
            t.first();
        else if (action.endsWith(u"refresh"))
            t.refresh();
        else if (action.endsWith(u"locate"))
            t.locate(user, QStringLiteral("Bob"));
        else if (action.endsWith(u"close"))
            t.close();
        if (t.isOpen())
            QCOMPARE(t.state(), Table::State::Browse);
        t.close();
        openTable(t, QStringLiteral("BUSERS.DBF"));
        QCOMPARE(visibleNames(t), stored);
        QCOMPARE(int(t.recordCount()), count);
    }

    void writesOutsideEditRefused()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.edit()); // empty table
        addUsers(t, { QStringLiteral("Ann") });
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("x")));
        QVERIFY_THROWS_EXCEPTION(StoreError, t.fieldText(QStringLiteral("NOSUCH")));
        QVERIFY(!t.hasField(QStringLiteral("NOSUCH")));
        QVERIFY(t.hasField(QStringLiteral("pager_id")));
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Ann"));
    }

    void navigation()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C") });
        t.first();
        QCOMPARE(t.recNo(), 1u);
        QVERIFY(!t.bof() && !t.eof());
        t.prior();
        QVERIFY(t.bof());
        QCOMPARE(t.recNo(), 1u);
        t.last();
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("C"));
        t.next();
        QVERIFY(t.eof());
        QCOMPARE(t.recNo(), 3u);
        t.prior();
        QVERIFY(!t.eof());
        QCOMPARE(t.recNo(), 2u);
    }

    void deletedRecordsHidden()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C") });
        const qint64 size = QFileInfo(dir.filePath(QStringLiteral("BUSERS.DBF"))).size();
        t.first();
        t.next();
        t.deleteRecord();
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("C")); // the next one
        QVERIFY(!t.isDeleted());
        QCOMPARE(visibleNames(t), (QStringList { "A", "C" }));
        QVERIFY(!t.locate(QStringLiteral("USERNAME"), QStringLiteral("B")));
        t.last();
        t.deleteRecord(); // the last: the prior one becomes current
        QCOMPARE(t.fieldText(QStringLiteral("USERNAME")), QStringLiteral("A"));
        t.deleteRecord();
        QVERIFY(t.isEmpty());
        QVERIFY(t.eof() && t.bof());
        try {
            t.deleteRecord();
            QFAIL("deleting on an empty table must fail");
        } catch (const StoreError& e) {
            QCOMPARE(e.message(), QStringLiteral("Cannot perform this operation on an empty dataset"));
        }
        QCOMPARE(t.recordCount(), 3u);
        t.close();
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("BUSERS.DBF"))).size(), size);
        const QByteArray bytes = testsupport::fileBytes(dir.filePath(QStringLiteral("BUSERS.DBF")));
        const int header = 32 + 4 * 32 + 1;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(bytes[header + i * 85], '*');
        openTable(t, QStringLiteral("BUSERS.DBF"));
        QVERIFY(t.isEmpty());
    }

    void locate_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("recno"); // 0: not found, position kept
        QTest::newRow("first match") << "USERNAME"
                                     << "Bob" << 2;
        QTest::newRow("case-sensitive") << "USERNAME"
                                        << "bob" << 0;
        QTest::newRow("no prefix match") << "USERNAME"
                                         << "Bo" << 0;
        QTest::newRow("trailing blanks ignored") << "USERNAME"
                                                 << "Bob  " << 2;
        QTest::newRow("field name any case") << "pager_id"
                                             << "555" << 3;
        QTest::newRow("empty value") << "PAGER_ID"
                                     << "" << 1;
        QTest::newRow("longer than field") << "GROUP"
                                           << "ABCDEFGHIJKLMNOP" << 0;
        QTest::newRow("deleted skipped") << "USERNAME"
                                         << "Dan" << 5;
    }
    void locate()
    {
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(int, recno);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t,
            { QStringLiteral("Ann"), QStringLiteral("Bob"), QStringLiteral("Bob"), QStringLiteral("Dan"),
                QStringLiteral("Dan") });
        t.first();
        t.next();
        t.next();
        t.edit();
        t.setFieldText(QStringLiteral("PAGER_ID"), QStringLiteral("555"));
        t.post();
        t.next();
        t.deleteRecord(); // the first "Dan"
        t.last();
        t.first();
        t.next(); // standing on 2
        if (recno == 0) {
            QVERIFY(!t.locate(field, value));
            QCOMPARE(t.recNo(), 2u);
        } else {
            QVERIFY(t.locate(field, value));
            QCOMPARE(int(t.recNo()), recno);
        }
    }

    void filter_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QStringList>("visible"); // records' PAGER_ID
        QTest::newRow("double quotes") << "USERNAME = \"Bob\"" << QStringList { "2", "4" };
        QTest::newRow("single quotes") << "USERNAME='Bob'" << QStringList { "2", "4" };
        QTest::newRow("brackets") << "username = [Bob]" << QStringList { "2", "4" };
        QTest::newRow("exact, not prefix") << "USERNAME = \"Bo\"" << QStringList {};
        QTest::newRow("case-sensitive") << "USERNAME = \"bob\"" << QStringList {};
        QTest::newRow("quote in value") << "USERNAME = 'O\"Hara'" << QStringList { "3" };
        QTest::newRow("concatenated") << "USERNAME = \"O\" + '\"' + [Hara]" << QStringList { "3" };
        QTest::newRow("no match") << "USERNAME = \"Nobody\"" << QStringList {};
        QTest::newRow("deleted stay hidden") << "USERNAME = \"Del\"" << QStringList {};
        QTest::newRow("cleared") << "" << QStringList { "1", "2", "3", "4" };
    }
    void filter()
    {
        QFETCH(QString, expression);
        QFETCH(QStringList, visible);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        const QStringList names { QStringLiteral("Ann"), QStringLiteral("Bob"), QStringLiteral("O\"Hara"),
            QStringLiteral("Bob"), QStringLiteral("Del") };
        for (int i = 0; i < names.size(); ++i) {
            t.append();
            t.setFieldText(QStringLiteral("USERNAME"), names[i]);
            t.setFieldText(QStringLiteral("PAGER_ID"), QString::number(i + 1));
            t.post();
        }
        t.deleteRecord();
        t.setFilter(QStringLiteral("USERNAME = \"Ann\"")); // replaced below
        t.setFilter(expression);
        QCOMPARE(t.filter(), expression);
        QCOMPARE(visibleNames(t, QStringLiteral("PAGER_ID")), visible);
        QCOMPARE(t.isEmpty(), visible.isEmpty());
        if (!visible.isEmpty()) {
            t.last();
            QCOMPARE(t.fieldText(QStringLiteral("PAGER_ID")), visible.last());
        }
    }

    void malformedFilters_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::newRow("no quotes") << "USERNAME = Bob";
        QTest::newRow("unclosed") << "USERNAME = \"Bob";
        QTest::newRow("no equals") << "USERNAME \"Bob\"";
        QTest::newRow("unknown field") << "NOSUCH = \"Bob\"";
        QTest::newRow("trailing text") << "USERNAME = \"Bob\" .OR. .T.";
        QTest::newRow("dangling plus") << "USERNAME = \"Bob\" +";
        QTest::newRow("no field") << "= \"Bob\"";
    }
    void malformedFilters()
    {
        QFETCH(QString, expression);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("Ann") });
        QVERIFY_THROWS_EXCEPTION(StoreError, t.setFilter(expression));
        QCOMPARE(t.filter(), QString()); // the old filter (none) stays
        QCOMPARE(visibleNames(t), QStringList { QStringLiteral("Ann") });
    }

    // equalsFilter must give a filter that shows exactly the records holding the value, whatever
    // delimiters the value itself contains.
    void equalsFilterAnyValue_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "Bob";
        QTest::newRow("double quote") << "Bob \"B\"";
        QTest::newRow("double and single") << "O'Neil \"B\"";
        QTest::newRow("all three") << "a\"b'c]d[e";
        QTest::newRow("all three, quote first and last") << "\"'][\"";
        QTest::newRow("empty") << "";
    }
    void equalsFilterAnyValue()
    {
        QFETCH(QString, value);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t,
            { QStringLiteral("a"), value, QStringLiteral("Zed"), value + QStringLiteral("x"),
                QStringLiteral("e") });
        t.setFilter(Table::equalsFilter(QStringLiteral("USERNAME"), value));
        QCOMPARE(visibleNames(t), QStringList { value });
        QCOMPARE(t.recNo(), 2u);
    }

    void signalsForBoundWindows()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("A"), QStringLiteral("B") });
        QSignalSpy moved(&t, &Table::positionChanged);
        QSignalSpy changed(&t, &Table::recordChanged);
        QSignalSpy table(&t, &Table::tableChanged);
        QSignalSpy state(&t, &Table::stateChanged);
        t.first();
        QCOMPARE(moved.count(), 1);
        t.first();
        QCOMPARE(moved.count(), 1); // same record: no move
        t.edit();
        QCOMPARE(state.count(), 1);
        t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Z"));
        QVERIFY(changed.count() >= 1);
        t.post();
        QCOMPARE(state.count(), 2);
        QCOMPARE(state.last().at(0).value<Table::State>(), Table::State::Browse);
        const int tableBefore = table.count();
        t.deleteRecord();
        QVERIFY(table.count() > tableBefore);
        QCOMPARE(moved.count(), 2);
    }

    void sharedHandlesSeeEachOther()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table a;
        Table b;
        openTable(a, QStringLiteral("BUSERS.DBF"));
        openTable(b, QStringLiteral("busers.dbf"));
        addUsers(a, { QStringLiteral("A"), QStringLiteral("B") });
        QCOMPARE(b.recordCount(), 2u);
        b.refresh();
        QCOMPARE(visibleNames(b), (QStringList { "A", "B" }));
        b.first();
        a.first();
        a.deleteRecord();
        b.refresh(); // b's record went away: the next one takes its place
        QCOMPARE(b.fieldText(QStringLiteral("USERNAME")), QStringLiteral("B"));
        b.edit();
        b.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Bee"));
        b.post();
        a.refresh();
        QCOMPARE(a.fieldText(QStringLiteral("USERNAME")), QStringLiteral("Bee"));
        // Closing one handle keeps the other's locks and file working.
        a.close();
        addUsers(b, { QStringLiteral("C") });
        QCOMPARE(b.recordCount(), 3u);
    }

    // An exclusive handle gathers new records and memos in memory; whatever it reads or changes
    // meanwhile, and what the files hold after close, must be the same as with a shared handle.
    void exclusiveHandleCaches()
    {
        connection.createTable(QStringLiteral("QUICKMSG.dbf"), kMemoFields);
        Table t;
        t.setExclusive(true);
        openTable(t, QStringLiteral("QUICKMSG.dbf"));
        for (int i = 1; i <= 1500; ++i) {
            t.append();
            t.setFieldText(QStringLiteral("MSGTITLE"), QString::number(i));
            t.setFieldText(QStringLiteral("MSG"), QStringLiteral("memo %1").arg(i));
            t.post();
            if (i == 700) {
                t.first(); // records and memos still in memory
                QCOMPARE(t.fieldText(QStringLiteral("MSG")), QStringLiteral("memo 1"));
                t.last();
                QCOMPARE(t.fieldText(QStringLiteral("MSGTITLE")), QStringLiteral("700"));
                t.edit();
                t.setFieldText(QStringLiteral("MSG"), QStringLiteral("changed"));
                t.post();
            }
        }
        QCOMPARE(t.recordCount(), 1500u);
        t.close();
        t.setExclusive(false);
        openTable(t, QStringLiteral("QUICKMSG.dbf"));
        QCOMPARE(t.recordCount(), 1500u);
        int n = 0;
        for (t.first(); !t.eof(); t.next()) {
            ++n;
            const QString expected = n == 700 ? QStringLiteral("changed") : QStringLiteral("memo %1").arg(n);
            QCOMPARE(t.fieldText(QStringLiteral("MSGTITLE")), QString::number(n));
            QCOMPARE(t.fieldText(QStringLiteral("MSG")), expected);
        }
        QCOMPARE(n, 1500);
    }

    // An exclusive handle keeps the table to itself: a second exclusive open is refused, and a
    // shared handle's change waits a few seconds and then fails instead of hanging.
    void exclusiveUseKeepsOthersOut()
    {
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table shared;
        openTable(shared, QStringLiteral("BUSERS.DBF"));
        Table exclusive;
        exclusive.setExclusive(true);
        openTable(exclusive, QStringLiteral("BUSERS.DBF"));
        Table second;
        second.setExclusive(true);
        second.setConnection(connection);
        second.setTableName(QStringLiteral("BUSERS.DBF"));
        try {
            second.open();
            QFAIL("a second exclusive open must be refused");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("in use")), qPrintable(e.message()));
        }
        shared.append();
        shared.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Ann"));
        QElapsedTimer waited;
        waited.start();
        QVERIFY_THROWS_EXCEPTION(StoreError, shared.post());
        QVERIFY(waited.elapsed() < 15000);
        shared.cancel();
        exclusive.close();
        addUsers(shared, { QStringLiteral("Bob") });
        QCOMPARE(shared.recordCount(), 1u);
    }

    // A program stopped (Ctrl+Z) while it holds a lock of the table or its index: the first
    // operation that meets it waits the store's patience once and names the table; the next one
    // (the failed append posted again by close, another open) does not wait for it again. With the
    // holder gone the table works as before.
    void stoppedLockHolder_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("lock"); // held at 0x7FFFFFFE: r(ead) or w(rite)
        QTest::addColumn<bool>("append"); // else two opens
        QTest::newRow("index read, append") << "BUSERS.CDX" << "r" << true;
        QTest::newRow("index changed, open") << "BUSERS.CDX" << "w" << false;
        QTest::newRow("table header, append") << "BUSERS.DBF" << "w" << true;
    }
    void stoppedLockHolder()
    {
        QFETCH(QString, file);
        QFETCH(QString, lock);
        QFETCH(bool, append);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        Table t;
        t.setExclusive(true);
        openTable(t, QStringLiteral("BUSERS.DBF"));
        t.addTag(QStringLiteral("Busers"), QStringLiteral("USERNAME"), QStringLiteral("USERNAME"), true);
        t.close();
        t.setExclusive(false);
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("Ann") });
        if (!append)
            t.close();
        QProcess holder;
        holder.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
                QStringLiteral("import fcntl, os, signal, sys\nfd = os.open(sys.argv[1], os.O_RDWR)\n"
                               "fcntl.lockf(fd, fcntl.LOCK_EX if sys.argv[2] == 'w' else fcntl.LOCK_SH, 1, 0x7FFFFFFE)\n"
                               "print('locked', flush=True)\nos.kill(os.getpid(), signal.SIGSTOP)\n"),
                connection.resolve(file), lock });
        QVERIFY(holder.waitForReadyRead(10000));
        QElapsedTimer took;
        took.start();
        QStringList failures;
        for (int i = 0; i < 2; ++i) {
            try {
                if (append && i == 0) {
                    t.append();
                    t.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Bob"));
                    t.post();
                } else {
                    append ? t.close() : openTable(t, QStringLiteral("BUSERS.DBF"));
                }
            } catch (const StoreError& e) {
                failures << e.message();
            }
        }
        const qint64 waited = took.elapsed();
        holder.kill();
        holder.waitForFinished(5000);
        QCOMPARE(failures, QStringList(2, QStringLiteral("Table BUSERS is locked by another program")));
        QVERIFY2(waited < 6000, qPrintable(QStringLiteral("%1 ms").arg(waited)));
        openTable(t, QStringLiteral("BUSERS.DBF"));
        addUsers(t, { QStringLiteral("Cid") });
        QCOMPARE(visibleNames(t), QStringList({ "Ann", "Cid" }));
    }

    void damagedFiles_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("file"); // named in the message
        QTest::newRow("truncated header") << "cut-header"
                                          << "BUSERS.DBF";
        QTest::newRow("truncated by more than a record") << "cut-record"
                                           << "BUSERS.DBF";
        QTest::newRow("count too high") << "count-high"
                                        << "BUSERS.DBF";
        QTest::newRow("count too low") << "count-low"
                                       << "BUSERS.DBF";
        QTest::newRow("not a table") << "garbage"
                                     << "BUSERS.DBF";
    }
    void damagedFiles()
    {
        QFETCH(QString, damage);
        QFETCH(QString, file);
        connection.createTable(QStringLiteral("BUSERS.DBF"), kUserFields);
        {
            Table t;
            openTable(t, QStringLiteral("BUSERS.DBF"));
            addUsers(t, { QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C") });
        }
        const QString path = dir.filePath(QStringLiteral("BUSERS.DBF"));
        QByteArray bytes = testsupport::fileBytes(path);
        if (damage == u"cut-header")
            bytes.truncate(40);
        else if (damage == u"cut-record")
            bytes.truncate(bytes.size() - 100); // more than one record of 85 bytes: a last record cut short opens
        else if (damage == u"count-high")
            bytes[4] = 9;
        else if (damage == u"count-low")
            bytes[4] = 1;
        else
            bytes = QByteArray(600, 'x');
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        Table t;
        t.setConnection(connection);
        t.setTableName(QStringLiteral("busers.dbf"));
        try {
            t.open();
            QFAIL("a damaged table must not open");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(file), qPrintable(e.message()));
        }
        QVERIFY(!t.isOpen());
    }

    void memoPastEndOfFile()
    {
        connection.createTable(QStringLiteral("QUICKMSG.dbf"), kMemoFields);
        {
            Table t;
            openTable(t, QStringLiteral("QUICKMSG.dbf"));
            t.append();
            t.setFieldText(QStringLiteral("MSG"), QStringLiteral("hello"));
            t.post();
        }
        QFile fpt(dir.filePath(QStringLiteral("QUICKMSG.fpt")));
        QVERIFY(fpt.resize(512 + 4)); // the memo's block is gone
        Table t;
        openTable(t, QStringLiteral("QUICKMSG.dbf"));
        try {
            t.fieldText(QStringLiteral("MSG"));
            QFAIL("a memo past the end must not read");
        } catch (const StoreError& e) {
            QVERIFY2(e.message().contains(QStringLiteral("QUICKMSG.fpt")), qPrintable(e.message()));
        }
    }

    void codec()
    {
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(char(i));
        QCOMPARE(store::toCp1252(store::fromCp1252(all)), all);
        QCOMPARE(store::fromCp1252(QByteArray("\x80\x9f\xe9")), QString::fromUtf8("€Ÿé"));
    }
};

QTEST_GUILESS_MAIN(tst_Table)
#include "tst_table.moc"
