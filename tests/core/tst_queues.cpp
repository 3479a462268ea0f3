// The queue tables, the seven-field move between them, and the pending-queue file at start and Exit,
// with files put together by hand in a temporary folder.

#include "../store/memtablebytes.h"
#include "core/queues.h"
#include "store/memtable.h"
#include "store/storeerror.h"
#include "support/filebytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace memtablebytes;
using store::StoreError;
using store::TMemTable;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void appendPage(TMemTable& t, const Page& p)
{
    t.append();
    t.setFieldText(core::page::NetworkPhone, QString::fromLatin1(p.network));
    t.setFieldText(core::page::PagerPhone, QString::fromLatin1(p.pager));
    t.setFieldText(core::page::BaudRate, QString::fromLatin1(p.baud));
    t.setFieldInt(core::page::MessageSize, p.size);
    t.setFieldText(core::page::MessageToSend, QString::fromLatin1(p.message));
    t.setFieldBool(core::page::IsGroup, p.isGroup);
    t.setFieldText(core::page::UserOrGroupName, QString::fromLatin1(p.name));
    t.setFieldInt(core::page::Retries, p.retries);
    t.post();
}

// The seven moved fields of the current row equal the page's.
void checkMoved(const TMemTable& t, const Page& p)
{
    QCOMPARE(t.fieldText("NetworkPhone"), QString::fromLatin1(p.network));
    QCOMPARE(t.fieldText("PagerPhone"), QString::fromLatin1(p.pager));
    QCOMPARE(t.fieldText("BaudRate"), QString::fromLatin1(p.baud));
    QCOMPARE(t.fieldInt("MessageSize"), p.size);
    QCOMPARE(t.fieldText("MessageToSend"), QString::fromLatin1(p.message));
    QCOMPARE(t.fieldText("UserOrGroupName"), QString::fromLatin1(p.name));
    QCOMPARE(t.fieldInt("Retries"), p.retries);
}

} // namespace

class tst_Queues : public QObject {
    Q_OBJECT

private slots:
    void init();
    void definitions();
    void moveCopiesSevenFields();
    void moveFromEmptyQueue();
    void exitAndStart();
    void missingFileIsAnEmptyQueue();
    void fileInSendQueueOrder();
    void malformedFileIsKept_data();
    void malformedFileIsKept();
    void nextSaveLeavesBadFile();

private:
    QTemporaryDir dir_;
    TMemTable send_, pending_, tempUser_;
    QString path() const { return dir_.filePath(core::PendingQueueFileName); }
    QString badPath() const { return dir_.filePath("PendMsgs.bad"); }
};

void tst_Queues::init()
{
    QVERIFY(dir_.isValid());
    QFile::remove(path());
    QFile::remove(badPath());
    core::createQueueTables(send_, pending_, tempUser_);
}

void tst_Queues::definitions()
{
    QCOMPARE(core::sendQueueFields(), SendItems);
    QCOMPARE(core::pendingQueueFields(), PendingItems);
    QCOMPARE(core::tempUserFields(), QStringList { "username;1;30;0" });
    QCOMPARE(QString(core::PendingQueueFileName), QString("PendMsgs"));
    QCOMPARE(core::badPendingQueuePath("PendMsgs"), QString("PendMsgs.bad"));
    QCOMPARE(core::badPendingQueuePath("/run/desk/PendMsgs."), QString("/run/desk/PendMsgs.bad"));
    // A bad file of lost pages never takes the place of the pending file's copy.
    QCOMPARE(core::badPendingQueuePath("/run/desk/PendMsgs.lost-42"), QString("/run/desk/PendMsgs.lost-42.bad"));

    for (TMemTable* t : { &send_, &pending_, &tempUser_ }) {
        QVERIFY(t->isOpen());
        QVERIFY(t->isEmpty());
    }
    QCOMPARE(send_.fieldDefinitions(), SendItems);
    QCOMPARE(pending_.fieldDefinitions(), PendingItems);
    QCOMPARE(send_.rowSize(), 1095);
    QCOMPARE(pending_.rowSize(), 1095);
    QCOMPARE(tempUser_.rowSize(), 32 + 12);
}

void tst_Queues::moveCopiesSevenFields()
{
    appendPage(send_, PageB); // a group page: IsGroup true
    appendPage(send_, PageA);
    send_.first();

    core::movePage(send_, pending_);
    QCOMPARE(send_.rowCount(), 1);
    checkMoved(send_, PageA); // the following page is now the head of the queue
    QCOMPARE(pending_.rowCount(), 1);
    checkMoved(pending_, PageB);
    QVERIFY(pending_.isNull("IsGroup")); // not copied, stays unset
    QCOMPARE(pending_.fieldBool("IsGroup"), false);
    // In the row image: the IsGroup slot is all zero, presence byte included.
    const store::MemFieldDef& isGroup = pending_.fields()[pending_.fieldIndex("IsGroup")];
    QCOMPARE(pending_.rowImage(0).mid(isGroup.offset, 3), boolSlot(0, false));
    QCOMPARE(pending_.rowImage(0),
        pendingRow({ PageB.network, PageB.pager, PageB.baud, PageB.size, PageB.message, false, PageB.name,
                       PageB.retries })
            .replace(isGroup.offset, 3, boolSlot(0, false)));

    // And back to the end of the send queue (a resend from the pending window).
    core::movePage(pending_, send_);
    QVERIFY(pending_.isEmpty());
    QCOMPARE(send_.rowCount(), 2);
    send_.last();
    checkMoved(send_, PageB);
    QVERIFY(send_.isNull("IsGroup"));
}

void tst_Queues::moveFromEmptyQueue()
{
    appendPage(pending_, PageA);
    QString error;
    try {
        core::movePage(send_, pending_);
    } catch (const StoreError& e) {
        error = e.message();
    }
    QCOMPARE(error, QString("Cannot perform this operation on an empty dataset"));
    QCOMPARE(pending_.rowCount(), 1);
    QCOMPARE(pending_.state(), TMemTable::State::Browse);
}

void tst_Queues::exitAndStart()
{
    // Exit with three pending pages writes a file holding three rows; the next start restores them.
    appendPage(pending_, PageA);
    appendPage(pending_, PageB);
    appendPage(pending_, PageA);
    core::savePendingQueue(pending_, path());
    QCOMPARE(testsupport::fileBytes(path()), pendingFile({ PageA, PageB, PageA }));
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "PendMsgs" });

    TMemTable restored;
    restored.setFieldDefinitions(core::pendingQueueFields());
    restored.open();
    appendPage(restored, PageB); // whatever the table held before is replaced
    QString keptAs = "unchanged";
    QCOMPARE(core::loadPendingQueue(restored, path(), &keptAs), QString());
    QCOMPARE(keptAs, QString());
    QVERIFY(restored.isOpen());
    QCOMPARE(restored.rowCount(), 3);
    QCOMPARE(restored.currentRow(), 0);
    checkMoved(restored, PageA);
    QCOMPARE(restored.fieldBool("IsGroup"), false);
    restored.next();
    QCOMPARE(restored.fieldBool("IsGroup"), true);
    QVERIFY(!QFile::exists(badPath()));

    // The empty queue is saved as the header, four zero bytes and the trailer.
    TMemTable empty;
    empty.setFieldDefinitions(core::pendingQueueFields());
    empty.open();
    core::savePendingQueue(empty, path());
    QCOMPARE(testsupport::fileBytes(path()), header(PendingItems) + QByteArray(4, '\0') + Trailer);
}

void tst_Queues::missingFileIsAnEmptyQueue()
{
    appendPage(pending_, PageA);
    QCOMPARE(core::loadPendingQueue(pending_, path()), QString());
    QVERIFY(pending_.isOpen());
    QVERIFY(pending_.isEmpty());
    QVERIFY(!QFile::exists(badPath()));
}

void tst_Queues::fileInSendQueueOrder()
{
    // The file lists the fields in send-queue order; the rows read right by name and the queue
    // keeps its own order for the next save.
    write(path(), header(SendItems) + le32(2) + sendRow(PageA) + sendRow(PageB) + Trailer);
    QCOMPARE(core::loadPendingQueue(pending_, path()), QString());
    QCOMPARE(pending_.fieldDefinitions(), PendingItems);
    QCOMPARE(pending_.rowCount(), 2);
    checkMoved(pending_, PageA);
    pending_.next();
    checkMoved(pending_, PageB);
    QCOMPARE(pending_.fieldBool("IsGroup"), true);
    core::savePendingQueue(pending_, path());
    QCOMPARE(testsupport::fileBytes(path()), pendingFile({ PageA, PageB }));
}

void tst_Queues::malformedFileIsKept_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("error");
    const QByteArray a = pendingRow(PageA), b = pendingRow(PageB);
    QTest::newRow("truncated rows") << header(PendingItems) + le32(3) + a + b + b.left(100) << 2
                                    << "is cut short: 2 of its 3 rows are complete";
    QTest::newRow("bad version") << header(PendingItems, "Version=2a") + le32(1) + a + Trailer << 0
                                 << "has an invalid version '2a'";
    QStringList unknown = PendingItems;
    unknown[3] = "BaudRate;0;10;0";
    QTest::newRow("unknown type") << header(unknown) + le32(1) + a + Trailer << 0
                                  << "Field 'BaudRate' is of unknown type";
    QStringList seven = PendingItems;
    seven.removeAt(6); // no IsGroup: the rows are shorter by its 3-byte slot
    QTest::newRow("a queue field missing") << header(seven) + le32(1) + a.left(1092) + Trailer << 0
                                           << "does not hold the pending-queue field 'IsGroup'";
    QStringList wrongKind = PendingItems;
    wrongKind[0] = "Retries;1;3;0"; // text where the queue has an integer: 5 bytes either way
    QTest::newRow("a field of another kind") << header(wrongKind) + le32(1) + a + Trailer << 0
                                             << "does not hold the pending-queue field 'Retries'";
    QTest::newRow("no data section") << QByteArray("[INFO]\rVersion=2\r") << 0 << "has no data section";
}

void tst_Queues::malformedFileIsKept()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    QFETCH(QString, error);
    write(path(), bytes);
    write(badPath(), "an older bad file");

    QString keptAs;
    const QString message = core::loadPendingQueue(pending_, path(), &keptAs);
    QVERIFY2(message.contains(error), qPrintable(message));
    // The queue is usable, holds the complete pages before the fault, and the file is kept whole.
    QVERIFY(pending_.isOpen());
    QCOMPARE(pending_.fieldDefinitions(), PendingItems);
    QCOMPARE(pending_.rowCount(), rows);
    if (rows > 0) {
        checkMoved(pending_, PageA);
        pending_.next();
        checkMoved(pending_, PageB);
    }
    QCOMPARE(keptAs, badPath());
    QCOMPARE(testsupport::fileBytes(badPath()), bytes);
    QVERIFY(!QFile::exists(path()));
}

void tst_Queues::nextSaveLeavesBadFile()
{
    const QByteArray bytes = header(PendingItems) + le32(2) + pendingRow(PageA) + pendingRow(PageB).left(700);
    write(path(), bytes);
    QVERIFY(!core::loadPendingQueue(pending_, path()).isEmpty());
    QCOMPARE(pending_.rowCount(), 1);
    appendPage(pending_, PageB);
    core::savePendingQueue(pending_, path()); // Exit
    QCOMPARE(testsupport::fileBytes(badPath()), bytes);
    QCOMPARE(testsupport::fileBytes(path()), pendingFile({ PageA, PageB }));

    // The next start reads the new file whole and leaves the kept one alone.
    QCOMPARE(core::loadPendingQueue(pending_, path()), QString());
    QCOMPARE(pending_.rowCount(), 2);
    QCOMPARE(testsupport::fileBytes(badPath()), bytes);
}

QTEST_GUILESS_MAIN(tst_Queues)
#include "tst_queues.moc"
