#include "core/desk.h"

#include "config/inifile.h"
#include "core/clocktext.h"
#include "store/schema.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace core {

namespace {

QString withTrailingSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

// The queue record's fields, in the order of SendMsgs; PendingMsgs lists Retries first.
const QStringList kSendFields = {
    QStringLiteral("NetworkPhone;1;20;0"),  QStringLiteral("PagerPhone;1;500;0"),
    QStringLiteral("BaudRate;1;10;0"),      QStringLiteral("MessageSize;3;0;0"),
    QStringLiteral("MessageToSend;1;500;0"), QStringLiteral("IsGroup;5;0;0"),
    QStringLiteral("UserOrGroupName;1;30;0"), QStringLiteral("Retries;3;0;0"),
};
const QStringList kPendingFields = QStringList{kSendFields.last()} + kSendFields.mid(0, 7);
const QStringList kTempUserFields = {QStringLiteral("username;1;30;0")};

// Moving a page copies seven fields by name (IsGroup stays unset), posts, then deletes the source.
void movePage(store::TMemTable& from, store::TMemTable& to)
{
    to.append();
    for (const char* text : {"NetworkPhone", "PagerPhone", "MessageToSend", "BaudRate", "UserOrGroupName"})
        to.setFieldText(QString::fromLatin1(text), from.fieldText(QString::fromLatin1(text)));
    for (const char* number : {"MessageSize", "Retries"})
        to.setFieldInt(QString::fromLatin1(number), from.fieldInt(QString::fromLatin1(number)));
    to.post();
    from.deleteRow();
}

void openWith(store::TMemTable& table, const QStringList& fields)
{
    table.close();
    table.setFieldDefinitions(fields);
    table.open();
}

// Loads the pending file into `table`. A file that does not read whole is kept beside it as
// "<name>.bad" before anything can overwrite it, and the table is left open with the complete rows
// that came before the fault. Throws StoreError with the loader's text.
void loadPendingFile(store::TMemTable& table, const QString& path)
{
    table.close();
    try {
        table.loadFromFile(path);
        if (!table.hasField(QStringLiteral("Retries")) || !table.hasField(QStringLiteral("MessageToSend")))
            throw store::StoreError(QStringLiteral("%1 does not hold the pending-queue fields").arg(path));
    } catch (const store::StoreError& e) {
        const QString bad = path + QStringLiteral(".bad");
        QFile::remove(bad);
        QFile::copy(path, bad);
        if (!table.isOpen() || !table.hasField(QStringLiteral("Retries")))
            openWith(table, kPendingFields);
        throw store::StoreError(e.message() + QStringLiteral(" (the file is kept as %1)").arg(bad));
    }
}

void bindAndOpen(store::Table& handle, const store::Connection& connection, const store::TableSchema& schema)
{
    handle.close();
    handle.setConnection(connection);
    handle.setTableName(schema.openedAs);
    handle.setIndexName(schema.defaultTag);
    handle.setExclusive(false);
    handle.open();
}

} // namespace

Desk::Desk(const QString& dataDirectory)
    : dataDirectory_(withTrailingSlash(dataDirectory.isEmpty() ? defaultDataDirectory() : dataDirectory))
{
    openWith(SendMsgs, kSendFields);
    openWith(PendingMsgs, kPendingFields);
    openWith(TempUser, kTempUserFields);
}

Desk::~Desk() = default;

QString Desk::defaultDataDirectory()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (QFileInfo(programFolder).isWritable())
        return withTrailingSlash(programFolder);
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(appData);
    return withTrailingSlash(appData);
}

bool Desk::usesFallbackDataDirectory() const
{
    return QDir(dataDirectory_) != QDir(QCoreApplication::applicationDirPath());
}

QString Desk::pendingFileName()
{
    return QStringLiteral("PendMsgs");
}

QString Desk::open()
{
    startupError_.clear();
    startupNotices_.clear();
    opened_ = false;
    try {
        Plimo32.setFolder(dataDirectory_);
        startupNotices_ = store::CreateDatabase(Plimo32);
        bindAndOpen(ModemsT, Plimo32, store::modemsSchema());
        bindAndOpen(BUsersT, Plimo32, store::busersSchema());
        bindAndOpen(MsgLogT, Plimo32, store::msgLogSchema());
        bindAndOpen(SchedMsgT, Plimo32, store::schedMsgSchema());
        bindAndOpen(GroupsT, Plimo32, store::groupsSchema());
        bindAndOpen(QuickMsgT, Plimo32, store::quickMsgSchema());
        bindAndOpen(PagerCompT, Plimo32, store::pageCompSchema());
        restorePendingQueue();
    } catch (const store::StoreError& e) {
        startupError_ = e.message();
        return startupError_;
    }
    ScheduledSendingEnabled = readScheduledSendingEnabled();
    ScheduleScanActive = false;
    PageInProgress = false;
    opened_ = true;
    return startupError_;
}

void Desk::restorePendingQueue()
{
    pendingRestored_ = true;
    if (QFileInfo::exists(pendingFileName()))
        loadPendingFile(PendingMsgs, pendingFileName());
}

QStringList Desk::recipientNames()
{
    QStringList names;
    if (BUsersT.isOpen()) {
        for (BUsersT.first(); !BUsersT.eof(); BUsersT.next())
            names << BUsersT.fieldText(QStringLiteral("USERNAME"));
    }
    if (GroupsT.isOpen()) {
        for (GroupsT.first(); !GroupsT.eof(); GroupsT.next())
            names << QStringLiteral("Group: ") + GroupsT.fieldText(QStringLiteral("GROUP"));
    }
    return names;
}

TickDisplay Desk::tick(const QTime& now) const
{
    TickDisplay display;
    display.clock = longTimeText(now);
    if (PageInProgress || ScheduleScanActive)
        return display;
    const int pending = PendingMsgs.rowCount();
    display.idle = true;
    display.pendingCaption = QStringLiteral("Pending Msgs: ") + QString::number(pending);
    display.pendingAlert = pending >= 1;
    return display;
}

QString Desk::saveQueues()
{
    if (queuesSaved_)
        return {};
    try {
        if (!queuesMoved_) {
            SendMsgs.first();
            while (SendMsgs.rowCount() > 0)
                movePage(SendMsgs, PendingMsgs);
            queuesMoved_ = true;
        }
        if (!pendingRestored_ && QFileInfo::exists(pendingFileName())) {
            // The start stopped before it read the pending file: its pages are still only there.
            // Keep them, followed by the pages of this run.
            store::TMemTable merged;
            try {
                loadPendingFile(merged, pendingFileName());
            } catch (const store::StoreError&) {
                // Kept as .bad; the complete rows read before the fault are merged.
            }
            PendingMsgs.first();
            while (PendingMsgs.rowCount() > 0)
                movePage(PendingMsgs, merged);
            merged.first();
            while (merged.rowCount() > 0)
                movePage(merged, PendingMsgs);
            pendingRestored_ = true;
        }
        PendingMsgs.saveToFile(pendingFileName());
    } catch (const store::StoreError& e) {
        return e.message();
    }
    queuesSaved_ = true;
    return {};
}

bool readScheduledSendingEnabled()
{
    const config::IniFile ini(config::pagerIniPath());
    return ini.readString(QStringLiteral("System"), QStringLiteral("SendMessages"), QStringLiteral("1"))
        != QStringLiteral("0");
}

} // namespace core
