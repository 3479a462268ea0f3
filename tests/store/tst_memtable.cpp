// TMemTable: row images and the table file, checked against bytes put together here by hand from
// the layout (slots with presence bytes, 12 bookkeeping bytes, CR-ended header lines, count word,
// CR "[BLOB]" CR), never against the class's own output.

#include "memtablebytes.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <functional>
#include <limits>

using store::StoreError;
using store::TMemTable;

namespace {

using namespace memtablebytes;

void checkPage(const TMemTable& t, const Page& p)
{
    QCOMPARE(t.fieldText("NetworkPhone"), QString::fromLatin1(p.network));
    QCOMPARE(t.fieldText("PagerPhone"), QString::fromLatin1(p.pager));
    QCOMPARE(t.fieldText("BaudRate"), QString::fromLatin1(p.baud));
    QCOMPARE(t.fieldInt("MessageSize"), p.size);
    QCOMPARE(t.fieldText("MessageToSend"), QString::fromLatin1(p.message));
    QCOMPARE(t.fieldBool("IsGroup"), p.isGroup);
    QCOMPARE(t.fieldText("UserOrGroupName"), QString::fromLatin1(p.name));
    QCOMPARE(t.fieldInt("Retries"), p.retries);
}

void appendPage(TMemTable& t, const Page& p)
{
    t.append();
    t.setFieldText("NetworkPhone", QString::fromLatin1(p.network));
    t.setFieldText("PagerPhone", QString::fromLatin1(p.pager));
    t.setFieldText("BaudRate", QString::fromLatin1(p.baud));
    t.setFieldInt("MessageSize", p.size);
    t.setFieldText("MessageToSend", QString::fromLatin1(p.message));
    t.setFieldBool("IsGroup", p.isGroup);
    t.setFieldText("UserOrGroupName", QString::fromLatin1(p.name));
    t.setFieldInt("Retries", p.retries);
    t.post();
}

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const StoreError& e) {
        return e.message();
    }
    return {};
}

} // namespace

class tst_MemTable : public QObject {
    Q_OBJECT

private slots:
    void rowImageLayout();
    void emptyPendingFile();
    void rowsInPendingOrder();
    void fileOrderDecidesLayout();
    void versionOneHasNoCount();
    void versionLine_data();
    void versionLine();
    void lineEnds_data();
    void lineEnds();
    void truncatedFile_data();
    void truncatedFile();
    void countBelowOne_data();
    void countBelowOne();
    void refusedTypes_data();
    void refusedTypes();
    void slotSizes_data();
    void slotSizes();
    void textIsCut_data();
    void textIsCut();
    void roundTrip();
    void blobRoundTrip();
    void indexLines();
    void loadWhileOpenIsRefused();
    void cursorAndEditing();
    void deleteMovesToFollowingRow();
    void saveIsAtomic();
};

void tst_MemTable::rowImageLayout()
{
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    QCOMPARE(t.rowSize(), 1095);
    t.open();
    appendPage(t, PageA);
    QCOMPARE(t.rowImage(0).toHex(), pendingRow(PageA).toHex());

    // Unset fields: all zero, presence byte 0.
    t.append();
    t.setFieldText("UserOrGroupName", "X");
    t.post();
    const QByteArray expected = intSlot(0, false) + textSlot(20, "", false) + textSlot(500, "", false)
        + textSlot(10, "", false) + intSlot(0, false) + textSlot(500, "", false) + boolSlot(0, false)
        + textSlot(30, "X") + Bookkeeping;
    QCOMPARE(t.rowImage(1), expected);
    QCOMPARE(t.fieldText("MessageToSend"), QString());
    QCOMPARE(t.fieldInt("Retries"), 0);
    QCOMPARE(t.fieldBool("IsGroup"), false);
    QVERIFY(t.isNull("Retries"));
    QVERIFY(!t.isNull("UserOrGroupName"));
}

void tst_MemTable::emptyPendingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("PendMsgs");
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    t.saveToFile(path);

    QByteArray expected = "[INFO]\rVersion=2\r[FIELD]\r";
    for (const QString& item : PendingItems)
        expected += item.toLatin1() + '\r';
    expected += "[INDEX]\r[DATA]\r" + QByteArray(4, '\0') + "\r[BLOB]\r";
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);

    TMemTable back;
    back.loadFromFile(path);
    QVERIFY(back.isOpen());
    QCOMPARE(back.rowCount(), 0);
    QVERIFY(back.eof());
    QCOMPARE(back.fieldDefinitions(), PendingItems);
}

void tst_MemTable::rowsInPendingOrder()
{
    const QByteArray bytes = pendingFile({ PageA, PageB });
    TMemTable t;
    t.loadFromBytes(bytes, "PendMsgs");
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentRow(), 0);
    checkPage(t, PageA);
    t.next();
    checkPage(t, PageB);
    t.next();
    QVERIFY(t.eof());
    // Written back byte for byte.
    QCOMPARE(t.saveToBytes(), bytes);
}

void tst_MemTable::fileOrderDecidesLayout()
{
    // A table designed in pending order loads a file whose fields come in send-queue order: the rows
    // are laid out as the file's field lines say, and every field reads right by name.
    QByteArray bytes = header(SendItems) + le32(2) + sendRow(PageA) + sendRow(PageB) + Trailer;
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.loadFromBytes(bytes, "PendMsgs");
    QCOMPARE(t.fieldDefinitions(), SendItems);
    QCOMPARE(t.rowCount(), 2);
    checkPage(t, PageA);
    t.next();
    checkPage(t, PageB);
    QCOMPARE(t.rowImage(1), sendRow(PageB));
}

void tst_MemTable::versionOneHasNoCount()
{
    // Version 1: no count word; every complete row up to the end of the data is read.
    TMemTable t;
    t.loadFromBytes(
        header(PendingItems, "Version=1") + pendingRow(PageA) + pendingRow(PageB) + Trailer, "v1");
    QCOMPARE(t.rowCount(), 2);
    t.last();
    checkPage(t, PageB);

    // No info section at all reads as version 1 too.
    QByteArray noInfo = "[FIELD]\r";
    for (const QString& item : PendingItems)
        noInfo += item.toLatin1() + '\r';
    noInfo += "[INDEX]\r[DATA]\r" + pendingRow(PageB);
    TMemTable u;
    u.loadFromBytes(noInfo, "noinfo");
    QCOMPARE(u.rowCount(), 1);
    checkPage(u, PageB);
}

void tst_MemTable::versionLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("hasCount");
    QTest::addColumn<bool>("valid");
    QTest::newRow("2") << QByteArray("Version=2") << true << true;
    QTest::newRow("2 with more after ;") << QByteArray("Version=2;extra") << true << true;
    QTest::newRow("3 with blanks") << QByteArray("Version= 3 ") << true << true;
    QTest::newRow("1") << QByteArray("Version=1") << false << true;
    QTest::newRow("0") << QByteArray("Version=0") << false << true;
    QTest::newRow("not a number") << QByteArray("Version=two") << false << false;
    QTest::newRow("empty value") << QByteArray("Version=") << false << false;
    QTest::newRow("no equals sign") << QByteArray("Version") << false << false;
}

void tst_MemTable::versionLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, hasCount);
    QFETCH(bool, valid);
    const QByteArray bytes
        = header(PendingItems, line) + (hasCount ? le32(1) : QByteArray()) + pendingRow(PageA) + Trailer;
    TMemTable t;
    t.setFieldDefinitions(SendItems);
    const QString error = errorOf([&] { t.loadFromBytes(bytes, "PendMsgs"); });
    if (!valid) {
        QVERIFY2(error.contains("invalid version"), qPrintable(error));
        QVERIFY(!t.isOpen());
        QCOMPARE(t.fieldDefinitions(), SendItems); // the table keeps its own definitions
        return;
    }
    QCOMPARE(error, QString());
    QCOMPARE(t.rowCount(), 1);
    checkPage(t, PageA);
}

void tst_MemTable::lineEnds_data()
{
    QTest::addColumn<QByteArray>("eol");
    QTest::addColumn<int>("rows");
    // Ten rows make a count word that starts with byte 10, the line feed: a CR-only file must not
    // lose it, a CR LF file must skip its own line feed.
    QTest::newRow("CR, 2 rows") << QByteArray("\r") << 2;
    QTest::newRow("CR, 10 rows") << QByteArray("\r") << 10;
    QTest::newRow("CR LF, 2 rows") << QByteArray("\r\n") << 2;
    QTest::newRow("CR LF, 10 rows") << QByteArray("\r\n") << 10;
}

void tst_MemTable::lineEnds()
{
    QFETCH(QByteArray, eol);
    QFETCH(int, rows);
    QByteArray bytes = header(PendingItems, "Version=2", eol) + le32(rows);
    for (int i = 0; i < rows; ++i) {
        Page p = PageA;
        p.retries = i;
        p.message = "Message " + QByteArray::number(i) + "\n";
        bytes += pendingRow(p);
    }
    bytes += eol + "[BLOB]" + eol;
    TMemTable t;
    t.loadFromBytes(bytes, "PendMsgs");
    QCOMPARE(t.rowCount(), rows);
    for (int i = 0; i < rows; ++i, t.next()) {
        QCOMPARE(t.fieldInt("Retries"), i);
        QCOMPARE(t.fieldText("MessageToSend"), QString("Message %1\n").arg(i));
    }
}

void tst_MemTable::truncatedFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("error");
    const QByteArray a = pendingRow(PageA), b = pendingRow(PageB);
    QTest::newRow("count 3, two rows and a half")
        << header(PendingItems) + le32(3) + a + b + a.left(600) << 2 << "2 of its 3 rows are complete";
    QTest::newRow("count 2, cut inside the first row")
        << header(PendingItems) + le32(2) + a.left(1094) << 0 << "0 of its 2 rows are complete";
    QTest::newRow("count 2, no rows")
        << header(PendingItems) + le32(2) << 0 << "0 of its 2 rows are complete";
    QTest::newRow("count word cut") << header(PendingItems) + QByteArray(2, '\0') << 0
                                    << "row count is missing";
    QTest::newRow("version 1, half a row after two") << header(PendingItems, "Version=1") + a + b
            + a.left(500) + Trailer << 2 << "an incomplete row follows its 2 rows";
    QTest::newRow("count 1, two rows")
        << header(PendingItems) + le32(1) + a + b + Trailer << 1 << "holds data after its 1 rows";
    QTest::newRow("field section only") << header(PendingItems).left(60) << 0 << "has no data section";
    QTest::newRow("empty file") << QByteArray() << 0 << "has no data section";
}

void tst_MemTable::truncatedFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    QFETCH(QString, error);
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    const QString message = errorOf([&] { t.loadFromBytes(bytes, "PendMsgs"); });
    QVERIFY2(message.contains(error), qPrintable(message));
    QVERIFY2(message.contains("PendMsgs"), qPrintable(message));
    QCOMPARE(t.rowCount(), rows);
    if (rows > 0) {
        // The complete rows before the cut are loaded, whole.
        QVERIFY(t.isOpen());
        checkPage(t, PageA);
        t.last();
        checkPage(t, rows == 1 ? PageA : PageB);
    }
}

void tst_MemTable::countBelowOne_data()
{
    QTest::addColumn<qint32>("count");
    QTest::newRow("0") << 0;
    QTest::newRow("-1") << -1;
    QTest::newRow("lowest") << std::numeric_limits<qint32>::min();
}

void tst_MemTable::countBelowOne()
{
    QFETCH(qint32, count);
    TMemTable t;
    t.loadFromBytes(header(PendingItems) + le32(count) + Trailer, "PendMsgs");
    QVERIFY(t.isOpen());
    QCOMPARE(t.rowCount(), 0);

    // Rows behind such a count are not read, and the file is reported rather than taken as empty.
    TMemTable u;
    const QString error = errorOf([&] {
        u.loadFromBytes(header(PendingItems) + le32(count) + pendingRow(PageA) + Trailer, "PendMsgs");
    });
    QVERIFY2(error.contains("holds data after its 0 rows"), qPrintable(error));
    QCOMPARE(u.rowCount(), 0);
}

void tst_MemTable::refusedTypes_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("error");
    QTest::newRow("0 unknown") << "Odd;0;0;0"
                               << "Field 'Odd' is of unknown type";
    QTest::newRow("13 variable bytes") << "Odd;13;10;0"
                                       << "Field 'Odd' is of an unsupported type";
    QTest::newRow("21 typed binary") << "Odd;21;0;0"
                                     << "Field 'Odd' is of an unsupported type";
    QTest::newRow("23") << "Odd;23;0;0"
                        << "Field 'Odd' is of an unsupported type";
    QTest::newRow("-1") << "Odd;-1;0;0"
                        << "Field 'Odd' is of an unsupported type";
    QTest::newRow("type not a number") << "Odd;x;0;0"
                                       << "Field definition 'Odd;x;0;0' is malformed";
    QTest::newRow("negative text size") << "Odd;1;-5;0"
                                        << "Field 'Odd' has an invalid size -5";
    QTest::newRow("no name") << ";1;5;0"
                             << "Field definition ';1;5;0' has no name";
    QTest::newRow("name twice") << "retries;3;0;0"
                                << "Duplicate field name 'retries'";
}

void tst_MemTable::refusedTypes()
{
    QFETCH(QString, item);
    QFETCH(QString, error);
    const QStringList items = QStringList { "Retries;3;0;0" } << item;

    TMemTable defined;
    QCOMPARE(errorOf([&] { defined.setFieldDefinitions(items); }), error);

    // The same text from the loader; nothing is loaded and the table keeps its own definitions.
    TMemTable loaded;
    loaded.setFieldDefinitions(PendingItems);
    QCOMPARE(errorOf([&] { loaded.loadFromBytes(header(items) + le32(0) + Trailer, "PendMsgs"); }), error);
    QVERIFY(!loaded.isOpen());
    QCOMPARE(loaded.fieldDefinitions(), PendingItems);
}

void tst_MemTable::slotSizes_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("slot");
    QTest::newRow("text 7") << "F;1;7;0" << 9;
    QTest::newRow("text, size missing") << "F;1" << 3;
    QTest::newRow("type missing: text of 1") << "F" << 3;
    QTest::newRow("small integer") << "F;2;0;0" << 3;
    QTest::newRow("integer") << "F;3;0;0" << 5;
    QTest::newRow("word") << "F;4;0;0" << 3;
    QTest::newRow("Boolean") << "F;5;0;0" << 3;
    QTest::newRow("float") << "F;6;0;0" << 9;
    QTest::newRow("currency") << "F;7;0;0" << 9;
    QTest::newRow("BCD") << "F;8;0;0" << 35;
    QTest::newRow("date") << "F;9;0;0" << 5;
    QTest::newRow("time") << "F;10;0;0" << 5;
    QTest::newRow("date-time") << "F;11;0;0" << 9;
    QTest::newRow("bytes 16") << "F;12;16;0" << 18;
    QTest::newRow("auto-increment") << "F;14;0;0" << 5;
    QTest::newRow("blob 0") << "F;15;0;0" << 1;
    QTest::newRow("memo 10") << "F;16;10;0" << 12;
    QTest::newRow("graphic 4") << "F;17;4;0" << 5;
    QTest::newRow("formatted memo") << "F;18;0;0" << 1;
    QTest::newRow("OLE") << "F;19;0;0" << 1;
    QTest::newRow("OLE 2") << "F;20;0;0" << 1;
}

void tst_MemTable::slotSizes()
{
    QFETCH(QString, item);
    QFETCH(int, slot);
    TMemTable t;
    t.setFieldDefinitions({ "A;3;0;0", item });
    QCOMPARE(t.rowSize(), 5 + slot + 12);
    QCOMPARE(t.fields()[1].offset, 5);
}

void tst_MemTable::textIsCut_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("length");
    QTest::newRow("message 600") << "MessageToSend" << 500 << 600;
    QTest::newRow("message 501") << "MessageToSend" << 500 << 501;
    QTest::newRow("message 500") << "MessageToSend" << 500 << 500;
    QTest::newRow("message 499") << "MessageToSend" << 500 << 499;
    QTest::newRow("name 31") << "UserOrGroupName" << 30 << 31;
    QTest::newRow("dial string 21") << "NetworkPhone" << 20 << 21;
    QTest::newRow("baud 0") << "BaudRate" << 10 << 0;
}

void tst_MemTable::textIsCut()
{
    QFETCH(QString, field);
    QFETCH(int, size);
    QFETCH(int, length);
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(u'a' + i % 26);
    if (length > 3)
        text[3] = QChar(0x20ac); // the euro sign is byte 0x80 in Windows-1252
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    t.append();
    t.setFieldText(field, text.left(length));
    t.post();
    const QString expected = text.left(qMin(length, size));
    QCOMPARE(t.fieldText(field), expected);
    QCOMPARE(t.fieldText(field).size(), qMin(length, size));

    const store::MemFieldDef& f = t.fields()[t.fieldIndex(field)];
    QByteArray bytes = expected.toLatin1();
    if (length > 3)
        bytes[3] = '\x80';
    QCOMPARE(t.rowImage(0).mid(f.offset, f.slotSize), textSlot(size, bytes));
}

void tst_MemTable::roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PendMsgs");
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    appendPage(t, PageA);
    Page tricky = PageB;
    tricky.message = "line one\r[BLOB]\rline two"; // CRs and a header inside row data
    tricky.retries = -7;
    appendPage(t, tricky);
    t.append(); // a row with every field unset
    t.setFieldText("BaudRate", "x");
    t.clearField("BaudRate");
    t.post();
    t.append(); // an unchanged new row is dropped by the save
    t.saveToFile(path);
    QCOMPARE(t.state(), TMemTable::State::Browse);

    TMemTable back;
    back.loadFromFile(path);
    QCOMPARE(back.rowCount(), 3);
    checkPage(back, PageA);
    back.next();
    QCOMPARE(back.fieldText("MessageToSend"), QString("line one\r[BLOB]\rline two"));
    QCOMPARE(back.fieldInt("Retries"), -7);
    back.next();
    for (const store::MemFieldDef& f : back.fields())
        QVERIFY2(back.isNull(f.name), qPrintable(f.name));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(back.rowImage(i), t.rowImage(i));
    QCOMPARE(back.saveToBytes(), t.saveToBytes());
}

void tst_MemTable::blobRoundTrip()
{
    const QStringList items = { "Id;3;0;0", "Note;16;0;0", "Pic;15;0;0" };
    TMemTable t;
    t.setFieldDefinitions(items);
    t.open();
    t.append();
    t.setFieldInt("Id", 1);
    t.setFieldText("Note", "first\nnote");
    t.post();
    t.append();
    t.setFieldInt("Id", 2);
    t.setFieldText("Pic", "xyz");
    t.post();
    const QByteArray bytes = t.saveToBytes();

    // Blob values follow the trailer, per row and blob field: length word and bytes.
    const QByteArray row1 = intSlot(1) + QByteArray(1, '\0') + '\1' + QByteArray(1, '\0') + Bookkeeping;
    const QByteArray row2 = intSlot(2) + QByteArray(1, '\0') + QByteArray(1, '\0') + '\1' + Bookkeeping;
    // The first length word is 10, a line feed byte: it follows a CR-only header line and is data.
    QCOMPARE(bytes,
        header(items) + le32(2) + row1 + row2 + Trailer + le32(10) + "first\nnote" + le32(0) + le32(0)
            + le32(3) + "xyz");

    TMemTable back;
    back.loadFromBytes(bytes, "blobs");
    QCOMPARE(back.fieldText("Note"), QString("first\nnote"));
    back.next();
    QCOMPARE(back.fieldText("Pic"), QString("xyz"));
    QVERIFY(back.isNull("Note"));

    TMemTable cut;
    const QString error = errorOf([&] { cut.loadFromBytes(bytes.left(bytes.size() - 2), "blobs"); });
    QVERIFY2(error.contains("blob values of row 2 are incomplete"), qPrintable(error));
    QCOMPARE(cut.rowCount(), 2);
    QCOMPARE(cut.fieldText("Note"), QString("first\nnote"));

    TMemTable missing;
    QVERIFY(errorOf([&] {
        missing.loadFromBytes(header(items) + le32(2) + row1 + row2, "blobs");
    }).contains("blob section is missing"));
}

void tst_MemTable::indexLines()
{
    TMemTable t;
    t.setFieldDefinitions({ "Name;1;10;1", "Age;3;0;0" });
    t.setIndexDefinitions({ { "ByName", "Name", 2 }, { "@RANGE_INDEX", "Age", 0 }, { "Both", "Name;Age", 0 },
        { "@FILTER_INDEX", "Name", 0 } });
    t.open();
    const QByteArray expected = "[INFO]\rVersion=2\r[FIELD]\rName;1;10;1\rAge;3;0;0\r[INDEX]\rByName;Name;2\r"
                                "Both;Name;Age;0\r[DATA]\r"
        + le32(0) + Trailer;
    QCOMPARE(t.saveToBytes(), expected);

    TMemTable back;
    back.loadFromBytes(expected, "idx");
    const auto indexes = back.indexDefinitions();
    QCOMPARE(indexes.size(), 2);
    QCOMPARE(indexes[1].fields, QString("Name;Age"));
    QCOMPARE(indexes[0].options, 2);
    QVERIFY(back.fields()[0].required);

    // A required field must be set before a post.
    back.append();
    back.setFieldInt("Age", 3);
    QCOMPARE(errorOf([&] { back.post(); }), QString("Field 'Name' must have a value"));
}

void tst_MemTable::loadWhileOpenIsRefused()
{
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    appendPage(t, PageA);
    QCOMPARE(errorOf([&] { t.loadFromBytes(pendingFile({ PageB }), "PendMsgs"); }),
        QString("Cannot perform this operation on an open dataset"));
    QCOMPARE(t.rowCount(), 1);
    checkPage(t, PageA);

    // Close, load, open: the table holds what the file held.
    t.close();
    QCOMPARE(t.rowCount(), 0);
    t.loadFromBytes(pendingFile({ PageB }), "PendMsgs");
    t.open();
    QCOMPARE(t.rowCount(), 1);
    checkPage(t, PageB);
}

void tst_MemTable::cursorAndEditing()
{
    TMemTable t;
    t.setFieldDefinitions(SendItems);
    QCOMPARE(errorOf([&] { t.first(); }), QString("Cannot perform this operation on a closed dataset"));
    t.open();
    QVERIFY(t.eof() && t.bof() && t.isEmpty());
    QCOMPARE(t.currentRow(), -1);
    QCOMPARE(t.fieldText("PagerPhone"), QString());
    QCOMPARE(errorOf([&] { t.edit(); }), QString("Cannot perform this operation on an empty dataset"));
    QCOMPARE(
        errorOf([&] { t.setFieldText("PagerPhone", "1"); }), QString("Dataset not in edit or insert mode"));
    QCOMPARE(errorOf([&] { (void)t.fieldText("NoSuch"); }), QString("Field 'NoSuch' not found"));

    appendPage(t, PageA);
    appendPage(t, PageB);
    QCOMPARE(t.currentRow(), 1); // the posted row is current

    // Edit, set, post changes the current row in place.
    t.first();
    t.edit();
    t.setFieldInt("retries", 1); // names match without regard to case
    QCOMPARE(t.fieldInt("Retries"), 1); // the edit buffer is read while editing
    t.post();
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.fieldInt("Retries"), 1);

    // Cancel drops the change; an unposted new row never counts.
    t.edit();
    t.setFieldText("UserOrGroupName", "changed");
    t.cancel();
    QCOMPARE(t.fieldText("UserOrGroupName"), QString::fromLatin1(PageA.name));
    t.append();
    QCOMPARE(t.rowCount(), 2);
    t.setFieldText("UserOrGroupName", "new");
    t.cancel();
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.currentRow(), 0);

    // Moving the cursor posts a changed edit.
    t.edit();
    t.setFieldText("BaudRate", "300");
    t.next();
    t.prior();
    QCOMPARE(t.fieldText("BaudRate"), QString("300"));

    // Conversions between the field kinds.
    t.edit();
    t.setFieldText("MessageSize", " 42 ");
    QCOMPARE(t.fieldInt("MessageSize"), 42);
    QCOMPARE(t.fieldText("MessageSize"), QString("42"));
    QCOMPARE(t.fieldText("IsGroup"), QString("False"));
    QVERIFY(!errorOf([&] { t.setFieldText("MessageSize", "forty"); }).isEmpty());
    QVERIFY(!errorOf([&] { (void)t.fieldInt("UserOrGroupName"); }).isEmpty());
    t.cancel();
}

void tst_MemTable::deleteMovesToFollowingRow()
{
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    for (int i = 0; i < 3; ++i) {
        Page p = PageA;
        p.retries = i;
        appendPage(t, p);
    }
    t.first();
    t.next(); // row 1
    t.deleteRow();
    QCOMPARE(t.rowCount(), 2);
    QCOMPARE(t.fieldInt("Retries"), 2); // the following row
    t.deleteRow(); // the last row went: the new last row is current
    QCOMPARE(t.rowCount(), 1);
    QCOMPARE(t.fieldInt("Retries"), 0);
    t.deleteRow();
    QVERIFY(t.isEmpty() && t.eof());
    QCOMPARE(t.currentRow(), -1);
    QCOMPARE(errorOf([&] { t.deleteRow(); }), QString("Cannot perform this operation on an empty dataset"));

    // Deleting a new row that was never posted just drops it.
    appendPage(t, PageA);
    t.append();
    t.setFieldText("BaudRate", "9");
    t.deleteRow();
    QCOMPARE(t.rowCount(), 1);
    checkPage(t, PageA);
}

void tst_MemTable::saveIsAtomic()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PendMsgs");
    TMemTable t;
    t.setFieldDefinitions(PendingItems);
    t.open();
    appendPage(t, PageA);
    t.saveToFile(path);
    appendPage(t, PageB);
    t.saveToFile(path);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList { "PendMsgs" }); // no temporary left
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), pendingFile({ PageA, PageB }));

    const QString error = errorOf([&] { t.saveToFile(dir.filePath("missing/PendMsgs")); });
    QVERIFY2(error.startsWith("Cannot write"), qPrintable(error));

    TMemTable closed;
    closed.setFieldDefinitions(PendingItems);
    QCOMPARE(errorOf([&] { closed.saveToFile(path); }),
        QString("Cannot perform this operation on a closed dataset"));
    QCOMPARE(QFileInfo(path).size(), pendingFile({ PageA, PageB }).size());
}

QTEST_GUILESS_MAIN(tst_MemTable)
#include "tst_memtable.moc"
