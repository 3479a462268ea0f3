#include "config/inifile.h"
#include "core/desk.h"
#include "core/pendingqueue.h"
#include "store/memtable.h"
#include "store/storeerror.h"
#include "support/filebytes.h"
#include "support/pages.h"
#include "support/pendingfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>
#include <sys/stat.h>

#include <cstring>

using core::Desk;

namespace {

struct GroupPage {
    QString name;
    QString pager;
    int retries;
};

// A group page of `page.name` to `page.pager`.
void appendGroupPage(store::TMemTable& table, const GroupPage& page)
{
    testsupport::appendPage(table,
        { page.name, page.pager, QStringLiteral("Call the desk: ") + page.name, QStringLiteral("9,5551234^PASS"),
            QStringLiteral("1200"), 80, page.retries, true });
}

// The pending file as another reader sees it: the user names of its rows, in order.

} // namespace

class tst_Desk : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString dataDir_;
    QString previousCurrent_;

#define REQUIRE_OPEN(desk)                                                                                   \
    do {                                                                                                     \
        const QString e_ = (desk).open();                                                                    \
        QVERIFY2(e_.isEmpty(), qPrintable(e_));                                                              \
    } while (false)

    void writeIni(const QByteArray& content)
    {
        const QString path = config::pagerIniPath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        previousCurrent_ = QDir::currentPath();
    }
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        // The data folder and the current directory are apart, as when the program is started from
        // elsewhere: the pending file belongs to the current directory.
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("data")));
        QVERIFY(QDir(dir_->path()).mkpath(QStringLiteral("cwd")));
        dataDir_ = dir_->filePath(QStringLiteral("data"));
        QVERIFY(QDir::setCurrent(dir_->filePath(QStringLiteral("cwd"))));
        QFile::remove(config::pagerIniPath());
    }
    void cleanup()
    {
        QDir::setCurrent(previousCurrent_);
        QFile::remove(config::pagerIniPath());
        dir_.reset();
    }

    void dataDirectory();
    void pendingRowsKeepTheirGroupMarkThroughASave();
    void firstStartCreatesAndOpensEveryTable();
    void scheduledSendingSwitch_data();
    void scheduledSendingSwitch();
    void startReadsTheSwitch();
    void exitWithThreePendingPagesAndRestart();
    void waitingPagesBecomePendingOnClose();
    void queuesAreSavedOnce();
    void failedSaveIsReportedAndCanBeRetried();
    void malformedPendingFileIsReportedAndKept_data();
    void malformedPendingFileIsReportedAndKept();
    void truncatedPendingFileKeepsCompleteRows();
    void failedTableOpenStillRestoresThePendingQueue();
    void closingWithoutOpeningKeepsThePendingFile();
    void tickShowsPendingCount();
    void recipientNamesFromUsersAndGroups();
    void usersIndexLaggingItsTableRebuiltAtStart();
    void everyQueueChangeIsOnDisk();
    void pipesAndDevicesAreNotRead();
    void tableLackingFieldsStillStarts();
};

void tst_Desk::dataDirectory()
{
    QCOMPARE(Desk(dataDir_).dataDirectory(), dataDir_ + u'/');
    QCOMPARE(Desk(dataDir_ + u'/').dataDirectory(), dataDir_ + u'/');
    // The program's own folder, when it can be written.
    QCOMPARE(Desk::defaultDataDirectory(), QCoreApplication::applicationDirPath() + u'/');
    QVERIFY(!Desk(QString()).usesFallbackDataDirectory());
    QVERIFY(Desk(dataDir_).usesFallbackDataDirectory());
    QVERIFY(!Desk::isInstalledProgram(QCoreApplication::applicationDirPath()));

    // An installed program (PREFIX/bin beside the menu entry the package ships) keeps its tables in
    // the per-user data folder even when its own folder can be written, as /usr/bin can by root.
    const QString bin = dataDir_ + QStringLiteral("/prefix/bin");
    const QString entries = dataDir_ + QStringLiteral("/prefix/share/applications/");
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(entries));
    QCOMPARE(Desk::dataDirectoryFor(bin), bin + u'/');
    const QStringList menuEntry
        = QDir(QStringLiteral(PLIMO_SOURCE_DIR "/packaging")).entryList({ QStringLiteral("*.desktop") });
    QCOMPARE(menuEntry.size(), 1);
    QVERIFY(QFile::copy(QStringLiteral(PLIMO_SOURCE_DIR "/packaging/") + menuEntry.first(),
        entries + menuEntry.first()));
    QVERIFY(Desk::isInstalledProgram(bin));
    const QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCOMPARE(Desk::dataDirectoryFor(bin), perUser + u'/');
    QVERIFY(QFileInfo(perUser).isDir());
    QCOMPARE(Desk::dataFolderNotice(bin), QString()); // the per-user folder by design: nothing said
    QCOMPARE(Desk::dataFolderNotice(dataDir_), QString());

    // A build folder that cannot be written: the desk moves to the per-user folder and says so,
    // naming both.
    if (::geteuid() == 0)
        QSKIP("the super-user can write any folder");
    const QString locked = dataDir_ + QStringLiteral("/locked");
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    const QString notice = Desk::dataFolderNotice(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(notice.contains(locked) && notice.contains(perUser), qPrintable(notice));
}

void tst_Desk::firstStartCreatesAndOpensEveryTable()
{
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QVERIFY(desk.isOpen());
    QStringList files = QDir(dataDir_).entryList(QDir::Files);
    for (QString& f : files)
        f = f.toUpper();
    files.sort();
    QCOMPARE(files,
        QStringList({ "ALERTS.CDX", "ALERTS.DBF", "BUSERS.CDX", "BUSERS.DBF", "CARRPATH.CDX", "CARRPATH.DBF",
            "DLVSTAT.CDX", "DLVSTAT.DBF", "GROUPS.CDX", "GROUPS.DBF", "MODEMS.CDX", "MODEMS.DBF", "MSGLOG2.CDX",
            "MSGLOG2.DBF", "MSGLOG2.FPT", "PAGECOMP.CDX", "PAGECOMP.DBF", "QUICKMSG.DBF", "QUICKMSG.FPT",
            "SCHEDMS2.CDX", "SCHEDMS2.DBF", "SCHEDMS2.FPT", "SOURCES.CDX", "SOURCES.DBF" }));
    const std::pair<store::Table*, const char*> handles[] = {
        { &desk.BUsersT(), "USERNAME" },
        { &desk.PagerCompT(), "PAGERCOMP" },
        { &desk.GroupsT(), "GROUP_UNIQ" },
        { &desk.QuickMsgT(), "" },
        { &desk.ModemsT(), "MODEMS" },
        { &desk.MsgLogT(), "BY_DATE" },
        { &desk.SchedMsgT(), "BY_SENTSTA" },
        { &desk.CarrPathT(), "BY_CARRIER" },
        { &desk.DlvStatT(), "BY_TRACK" },
        { &desk.SourcesT(), "BY_SOURCE" },
        { &desk.AlertsT(), "BY_KEY" },
    };
    for (const auto& [handle, tag] : handles) {
        QVERIFY2(handle->isOpen(), qPrintable(handle->tableName()));
        QCOMPARE(handle->indexName().toUpper(), QString::fromLatin1(tag));
        QVERIFY(!handle->exclusive());
        QVERIFY(handle->isEmpty());
        QCOMPARE(handle->connection().folder(), dataDir_ + u'/');
    }
    QCOMPARE(desk.PendingMsgs().rowCount(), 0);
    QVERIFY(!QFile::exists(Desk::pendingFileName())); // a missing pending file is normal
}

void tst_Desk::scheduledSendingSwitch_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("0 turns it off") << QByteArray("[System]\nSendMessages=0\n") << false;
    QTest::newRow("section and key in other case") << QByteArray("[SYSTEM]\nsendmessages=0\n") << false;
    QTest::newRow("1") << QByteArray("[System]\nSendMessages=1\n") << true;
    QTest::newRow("other value") << QByteArray("[System]\nSendMessages=no\n") << true;
    QTest::newRow("00 is not exactly 0") << QByteArray("[System]\nSendMessages=00\n") << true;
    QTest::newRow("empty value") << QByteArray("[System]\nSendMessages=\n") << true;
    QTest::newRow("key missing") << QByteArray("[System]\nComPort=COM1\n") << true;
    QTest::newRow("key in another section") << QByteArray("[Other]\nSendMessages=0\n") << true;
    QTest::newRow("missing file") << QByteArray() << true;
}

void tst_Desk::scheduledSendingSwitch()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, enabled);
    if (!ini.isEmpty())
        writeIni(ini);
    QCOMPARE(config::SystemSettings::scheduledSendingEnabled(), enabled);
}

void tst_Desk::startReadsTheSwitch()
{
    writeIni("[System]\nSendMessages=0\n");
    {
        Desk desk(dataDir_);
        REQUIRE_OPEN(desk);
        QVERIFY(!desk.ScheduledSendingEnabled());
    }
    QFile::remove(config::pagerIniPath());
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QVERIFY(desk.ScheduledSendingEnabled());
}

void tst_Desk::exitWithThreePendingPagesAndRestart()
{
    {
        Desk desk(dataDir_);
        REQUIRE_OPEN(desk);
        for (const GroupPage& page : { GroupPage { "Ann", "111", 0 }, GroupPage { "Bob", "222", 1 },
                 GroupPage { "Group: Night", "3^4^", 2 } })
            appendGroupPage(desk.PendingMsgs(), page);
        QCOMPARE(desk.saveQueues(), QString());
    }
    QVERIFY(QFile::exists(QDir::current().filePath(QStringLiteral("PendMsgs"))));
    QVERIFY(!QFile::exists(dataDir_ + QStringLiteral("/PendMsgs")));
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Ann", "Bob", "Group: Night" }));

    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QCOMPARE(desk.PendingMsgs().rowCount(), 3);
    desk.PendingMsgs().first();
    desk.PendingMsgs().next();
    QCOMPARE(desk.PendingMsgs().fieldText(QStringLiteral("PagerPhone")), QStringLiteral("222"));
    QCOMPARE(desk.PendingMsgs().fieldInt(QStringLiteral("Retries")), 1);
    QCOMPARE(desk.PendingMsgs().fieldInt(QStringLiteral("MessageSize")), 80);
    const core::TickDisplay shown = desk.tick(QTime(10, 0));
    QCOMPARE(shown.pendingCaption, QStringLiteral("Pending Msgs: 3"));
    QVERIFY(shown.pendingAlert);
}

void tst_Desk::pendingRowsKeepTheirGroupMarkThroughASave()
{
    // Written by another program in the send queue's field order, a group page among them.
    {
        store::TMemTable other;
        other.setFieldDefinitions(core::sendQueueFields());
        other.open();
        appendGroupPage(other, { "Group: Night", "1^2^", 2 }); // IsGroup set
        appendGroupPage(other, { "Ann", "100", 1 });
        other.last();
        other.edit();
        other.setFieldBool(QStringLiteral("IsGroup"), false);
        other.post();
        other.saveToFile(QStringLiteral("PendMsgs"));
    }
    {
        Desk desk(dataDir_);
        QCOMPARE(desk.open(), QString());
        QCOMPARE(desk.saveQueues(), QString());
    }
    store::TMemTable saved;
    saved.loadFromFile(QStringLiteral("PendMsgs"));
    QCOMPARE(saved.rowCount(), 2);
    saved.first();
    QCOMPARE(saved.fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("Group: Night"));
    QCOMPARE(saved.fieldBool(QStringLiteral("IsGroup")), true);
    saved.next();
    QCOMPARE(saved.fieldBool(QStringLiteral("IsGroup")), false);
}

void tst_Desk::waitingPagesBecomePendingOnClose()
{
    Desk desk(dataDir_);
    appendGroupPage(desk.PendingMsgs(), { "Pending", "100", 0 });
    appendGroupPage(desk.SendMsgs(), { "First", "101", 3 });
    appendGroupPage(desk.SendMsgs(), { "Second", "102", 2 });
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(desk.SendMsgs().rowCount(), 0);
    QCOMPARE(desk.PendingMsgs().rowCount(), 3);

    store::TMemTable saved;
    saved.loadFromFile(QStringLiteral("PendMsgs"));
    QCOMPARE(saved.rowCount(), 3);
    QCOMPARE(saved.fieldDefinitions().first(), QStringLiteral("Retries;3;0;0"));
    saved.last();
    // The seven fields come along; IsGroup is not copied and stays unset.
    QCOMPARE(saved.fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("Second"));
    QCOMPARE(saved.fieldText(QStringLiteral("PagerPhone")), QStringLiteral("102"));
    QCOMPARE(saved.fieldText(QStringLiteral("NetworkPhone")), QStringLiteral("9,5551234^PASS"));
    QCOMPARE(saved.fieldText(QStringLiteral("BaudRate")), QStringLiteral("1200"));
    QCOMPARE(saved.fieldText(QStringLiteral("MessageToSend")), QStringLiteral("Call the desk: Second"));
    QCOMPARE(saved.fieldInt(QStringLiteral("MessageSize")), 80);
    QCOMPARE(saved.fieldInt(QStringLiteral("Retries")), 2);
    QVERIFY(saved.isNull(QStringLiteral("IsGroup")));
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Pending", "First", "Second" }));
}

void tst_Desk::queuesAreSavedOnce()
{
    Desk desk(dataDir_);
    appendGroupPage(desk.SendMsgs(), { "Once", "1", 0 });
    QCOMPARE(desk.saveQueues(), QString());
    QVERIFY(desk.queuesSaved());
    const QByteArray first = testsupport::fileBytes(QStringLiteral("PendMsgs"));
    appendGroupPage(desk.SendMsgs(), { "Late", "2", 0 });
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(testsupport::fileBytes(QStringLiteral("PendMsgs")), first);
    QCOMPARE(desk.SendMsgs().rowCount(), 1);
}

void tst_Desk::failedSaveIsReportedAndCanBeRetried()
{
    Desk desk(dataDir_);
    appendGroupPage(desk.PendingMsgs(), { "Failed", "0", 0 });
    appendGroupPage(desk.SendMsgs(), { "Waiting", "1", 0 });
    // The current directory disappears under the program: the file cannot be written there.
    const QString gone = dir_->filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkpath(gone));
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir(gone).removeRecursively());
    const QString error = desk.saveQueues();
    QVERIFY(!error.isEmpty());
    QVERIFY(!desk.queuesSaved());
    // Nothing moved: the operator may stay, and the page is still sent.
    QCOMPARE(desk.PendingMsgs().rowCount(), 1);
    QCOMPARE(desk.SendMsgs().rowCount(), 1);
    // Pages queued after the failed save are saved with the others at the next try.
    appendGroupPage(desk.SendMsgs(), { "Later", "2", 0 });
    QVERIFY(QDir::setCurrent(dir_->filePath(QStringLiteral("cwd"))));
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Failed", "Waiting", "Later" }));
    QCOMPARE(desk.PendingMsgs().rowCount(), 3);
}

void tst_Desk::malformedPendingFileIsReportedAndKept_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("bad version") << QByteArray(
        "[INFO]\rVersion=x\r[FIELD]\rRetries;3;0;0\r[INDEX]\r[DATA]\r");
    QTest::newRow("unknown field type")
        << QByteArray("[INFO]\rVersion=2\r[FIELD]\rRetries;0;0;0\r[INDEX]\r[DATA]\r");
    QTest::newRow("not the queue's fields")
        << QByteArray("[INFO]\rVersion=2\r[FIELD]\rusername;1;30;0\r[INDEX]\r[DATA]\r") + QByteArray(4, '\0')
            + "\r[BLOB]\r";
}

void tst_Desk::malformedPendingFileIsReportedAndKept()
{
    QFETCH(QByteArray, content);
    {
        QFile file(QStringLiteral("PendMsgs"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    writeIni("[System]\nSendMessages=1\n");
    Desk desk(dataDir_);
    // The start goes on: the fault is one paragraph of its report.
    REQUIRE_OPEN(desk);
    QVERIFY(desk.ScheduledSendingEnabled());
    QCOMPARE(desk.startupFaults().size(), 1);
    const QString fault = desk.startupFaults().first();
    QVERIFY2(fault.contains(QStringLiteral("PendMsgs")), qPrintable(fault));
    QVERIFY2(fault.endsWith(QStringLiteral(". The file is kept as PendMsgs.bad.")), qPrintable(fault));
    QCOMPARE(desk.startupReport(), fault);
    QCOMPARE(testsupport::fileBytes(QStringLiteral("PendMsgs.bad")), content);
    // The queue still works and is saved; the bad file stays for the operator.
    QVERIFY(desk.PendingMsgs().isOpen());
    QVERIFY(desk.PendingMsgs().hasField(QStringLiteral("Retries")));
    appendGroupPage(desk.SendMsgs(), { "After", "9", 0 });
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList { QStringLiteral("After") });
    QCOMPARE(testsupport::fileBytes(QStringLiteral("PendMsgs.bad")), content);
}

void tst_Desk::truncatedPendingFileKeepsCompleteRows()
{
    {
        Desk desk(dataDir_);
        for (const GroupPage& page : { GroupPage { "One", "1", 0 }, GroupPage { "Two", "2", 0 } })
            appendGroupPage(desk.PendingMsgs(), page);
        QCOMPARE(desk.saveQueues(), QString());
    }
    QByteArray bytes = testsupport::fileBytes(QStringLiteral("PendMsgs"));
    bytes.chop(100);
    {
        QFile file(QStringLiteral("PendMsgs"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    writeIni("[System]\nSendMessages=0\n");
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QVERIFY(!desk.ScheduledSendingEnabled()); // the switch was read
    QCOMPARE(desk.recipientNames(), QStringList());
    QCOMPARE(desk.startupReport(),
        QStringLiteral(
            "'PendMsgs' is cut short: 1 of its 2 rows are complete. The file is kept as PendMsgs.bad."));
    QCOMPARE(testsupport::fileBytes(QStringLiteral("PendMsgs.bad")), bytes);
    QCOMPARE(desk.PendingMsgs().rowCount(), 1);
    desk.PendingMsgs().first();
    QCOMPARE(desk.PendingMsgs().fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("One"));
}

void tst_Desk::failedTableOpenStillRestoresThePendingQueue()
{
    {
        Desk desk(dataDir_);
        for (const GroupPage& page : { GroupPage { "Kept1", "1", 0 }, GroupPage { "Kept2", "2", 0 } })
            appendGroupPage(desk.PendingMsgs(), page);
        QCOMPARE(desk.saveQueues(), QString());
    }
    {
        QFile junk(dataDir_ + QStringLiteral("/Busers.dbf"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("this is not a table");
    }
    writeIni("[System]\nSendMessages=1\n");
    Desk desk(dataDir_);
    const QString error = desk.open();
    QVERIFY(!error.isEmpty());
    QVERIFY(!desk.isOpen());
    QVERIFY(!desk.ScheduledSendingEnabled());
    QCOMPARE(desk.PendingMsgs().rowCount(), 2); // its pages are only in the pending file
    QVERIFY(desk.recipientNames().isEmpty());
    appendGroupPage(desk.SendMsgs(), { "New", "3", 0 });
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Kept1", "Kept2", "New" }));
}

void tst_Desk::closingWithoutOpeningKeepsThePendingFile()
{
    {
        Desk desk(dataDir_);
        appendGroupPage(desk.PendingMsgs(), { "Kept", "1", 0 });
        QCOMPARE(desk.saveQueues(), QString());
    }
    // A desk that never ran its creation steps merges the file's pages with its own.
    Desk desk(dataDir_);
    appendGroupPage(desk.SendMsgs(), { "New", "3", 0 });
    QCOMPARE(desk.saveQueues(), QString());
    QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Kept", "New" }));
}

void tst_Desk::tickShowsPendingCount()
{
    Desk desk(dataDir_);
    core::TickDisplay shown = desk.tick(QTime(9, 5, 7));
    QVERIFY(shown.idle);
    QCOMPARE(shown.pendingCaption, QStringLiteral("Pending Msgs: 0"));
    QVERIFY(!shown.pendingAlert);
    QVERIFY(shown.clock.contains(QStringLiteral("05:07")));
    appendGroupPage(desk.PendingMsgs(), { "A", "1", 0 });
    shown = desk.tick(QTime(9, 5, 8));
    QCOMPARE(shown.pendingCaption, QStringLiteral("Pending Msgs: 1"));
    QVERIFY(shown.pendingAlert);
    const core::BusyMark scan = desk.markScheduleScan();
    shown = desk.tick(QTime(9, 5, 9));
    QVERIFY(!shown.idle);
    QVERIFY(shown.pendingCaption.isEmpty());
    QVERIFY(!shown.clock.isEmpty());
}

void tst_Desk::recipientNamesFromUsersAndGroups()
{
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    for (const char* name : { "Zoe", "adam", "Mary" }) {
        desk.BUsersT().append();
        desk.BUsersT().setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(name));
        desk.BUsersT().post();
    }
    desk.GroupsT().append();
    desk.GroupsT().setFieldText(QStringLiteral("GROUP"), QStringLiteral("Night Shift"));
    desk.GroupsT().post();
    QCOMPARE(desk.recipientNames(), QStringList({ "Mary", "Zoe", "adam", "Group: Night Shift" }));
}

// Another program appended users without updating the index: the start rebuilds it, says so
// once, and lists every user.
void tst_Desk::usersIndexLaggingItsTableRebuiltAtStart()
{
    const QString cdx = dataDir_ + QStringLiteral("/Busers.cdx");
    QByteArray lagging;
    {
        Desk desk(dataDir_);
        REQUIRE_OPEN(desk);
        for (const char* name : { "Zoe", "adam", "Mary" }) {
            if (lagging.isEmpty() && std::strcmp(name, "Mary") == 0)
                lagging = testsupport::fileBytes(cdx);
            desk.BUsersT().append();
            desk.BUsersT().setFieldText(QStringLiteral("USERNAME"), QString::fromLatin1(name));
            desk.BUsersT().post();
        }
    }
    QFile file(cdx);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(lagging);
    file.close();
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QCOMPARE(desk.startupNotices().size(), 1);
    QCOMPARE(desk.recipientNames(), QStringList({ "Mary", "Zoe", "adam" }));
}

void tst_Desk::everyQueueChangeIsOnDisk()
{
    {
        Desk desk(dataDir_);
        REQUIRE_OPEN(desk);
        appendGroupPage(desk.SendMsgs(), { "Failing", "1", 1 });
        QCoreApplication::processEvents();
        QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList { "Failing" });
        // Its retries used up, the page moves to the pending queue, which comes first in the file.
        appendGroupPage(desk.SendMsgs(), { "Queued", "2", 3 });
        core::PendingMessages(desk.SendMsgs(), desk.PendingMsgs(), 19);
        QCoreApplication::processEvents();
        QCOMPARE(desk.PendingMsgs().rowCount(), 1);
        QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList({ "Failing", "Queued" }));
        core::deletePendingPage(desk.PendingMsgs());
        QCoreApplication::processEvents();
        QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList { "Queued" });
        appendGroupPage(desk.PendingMsgs(), { "Failed", "3", 1 });
        QCoreApplication::processEvents();
        // No Exit: the desk goes as in a kill.
    }
    // Every undelivered page is pending at the next start; none is sent by itself.
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QCOMPARE(desk.SendMsgs().rowCount(), 0);
    QCOMPARE(desk.PendingMsgs().rowCount(), 2);
    desk.PendingMsgs().first();
    QCOMPARE(desk.PendingMsgs().fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("Failed"));
    desk.PendingMsgs().next();
    QCOMPARE(desk.PendingMsgs().fieldText(QStringLiteral("UserOrGroupName")), QStringLiteral("Queued"));
    QCOMPARE(desk.PendingMsgs().fieldInt(QStringLiteral("Retries")), 3);
}

void tst_Desk::pipesAndDevicesAreNotRead()
{
    // Opening or reading a pipe would wait for a writer for ever; /dev/zero never ends.
    QCOMPARE(::mkfifo("PendMsgs", 0600), 0);
    const QString ini = config::pagerIniPath();
    QDir().mkpath(QFileInfo(ini).absolutePath());
    QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
    {
        Desk desk(dataDir_);
        REQUIRE_OPEN(desk);
        QVERIFY(desk.ScheduledSendingEnabled()); // the default
        QCOMPARE(desk.startupFaults().size(), 2);
        QVERIFY2(desk.startupFaults()[0].startsWith(
                     QStringLiteral("PendMsgs is a pipe, not a regular file and is not read.")),
            qPrintable(desk.startupFaults()[0]));
        QVERIFY2(desk.startupFaults()[1].startsWith(ini + QStringLiteral(" is a pipe")),
            qPrintable(desk.startupFaults()[1]));
        QVERIFY(QFileInfo(QStringLiteral("PendMsgs.bad")).exists());
        // The first change writes a regular pending file; the first save of a setting a regular
        // settings file.
        appendGroupPage(desk.SendMsgs(), { "Queued", "1", 1 });
        QCoreApplication::processEvents();
        QVERIFY(QFileInfo(QStringLiteral("PendMsgs")).isFile());
        QCOMPARE(testsupport::pendingNames(QStringLiteral("PendMsgs")), QStringList { "Queued" });
        QVERIFY(config::IniFile(ini).writeString(
            QStringLiteral("System"), QStringLiteral("SendMessages"), QStringLiteral("0")));
        QVERIFY(QFileInfo(ini).isFile());
    }
    QFile::remove(QStringLiteral("PendMsgs"));
    QFile::remove(QStringLiteral("PendMsgs.bad"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), QStringLiteral("PendMsgs")));
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QVERIFY(!desk.ScheduledSendingEnabled()); // the setting saved above
    QCOMPARE(desk.startupFaults(),
        QStringList { "PendMsgs is a device, not a regular file and is not read. "
                      "The file is kept as PendMsgs.bad." });
    QCOMPARE(QFileInfo(QStringLiteral("PendMsgs.bad")).symLinkTarget(), QStringLiteral("/dev/zero"));
}

void tst_Desk::tableLackingFieldsStillStarts()
{
    {
        Desk desk(dataDir_);
        appendGroupPage(desk.PendingMsgs(), { "Kept", "1", 0 });
        QCOMPARE(desk.saveQueues(), QString());
    }
    // Another tool renamed PAGER_ID and narrowed and retyped carrier fields.
    store::Connection folder(dataDir_);
    folder.createTable(QStringLiteral("Busers.dbf"),
        QStringLiteral("USERNAME,C,30;PAGERCOMP,C,30;GROUP,C,12;PAGERID,C,12;"));
    folder.createTable(QStringLiteral("PAGECOMP.dbf"),
        QStringLiteral("PAGERCOMP,C,30;HOST_TEL,C,10;HOST_SPEED,N,5,0;HOST_CHARS,N,3,0;HOST_PASSW,C,10;"));
    {
        store::Table users;
        users.setConnection(folder);
        users.setTableName(QStringLiteral("BUSERS.DBF"));
        users.open();
        users.append();
        users.setFieldText(QStringLiteral("USERNAME"), QStringLiteral("Ann"));
        users.post();
    }
    Desk desk(dataDir_);
    REQUIRE_OPEN(desk);
    QCOMPARE(desk.startupFaults(),
        QStringList({ "Table BUSERS.DBF has no field PAGER_ID.",
            "Table PAGECOMP.DBF holds the field HOST_TEL with width 10, less than 14.",
            "Table PAGECOMP.DBF holds the field HOST_SPEED as numeric, not as character." }));
    // Everything that does not need those fields works.
    QCOMPARE(desk.recipientNames(), QStringList { "Ann" });
    QCOMPARE(desk.PendingMsgs().rowCount(), 1);
    Desk::ChosenUser chosen;
    QVERIFY_THROWS_EXCEPTION(store::StoreError, desk.lookupUser(QStringLiteral("Ann"), &chosen));
}

QTEST_GUILESS_MAIN(tst_Desk)
#include "tst_desk.moc"
