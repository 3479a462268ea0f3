#include "core/desk.h"

#include "core/clocktext.h"
#include "core/queues.h"
#include "core/recipientname.h"
#include "store/fieldnames.h"
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

// Restores the pending queue from `path`; a fault is thrown as the loader's text, naming where the
// original file was kept.
void restoreFrom(store::TMemTable& pending, const QString& path)
{
    QString keptAs;
    const QString error = loadPendingQueue(pending, path, &keptAs);
    if (error.isEmpty())
        return;
    throw store::StoreError(
        keptAs.isEmpty() ? error : error + QStringLiteral(" The file is kept as %1.").arg(keptAs));
}

void bind(store::Table& handle, const store::Connection& connection, const store::TableSchema& schema)
{
    handle.close();
    handle.setConnection(connection);
    handle.setTableName(schema.openedAs);
    handle.setIndexName(schema.defaultTag);
    handle.setExclusive(false);
}

} // namespace

Desk::Desk(const QString& dataDirectory)
    : dataDirectory_(withTrailingSlash(dataDirectory.isEmpty() ? defaultDataDirectory() : dataDirectory))
{
    createQueueTables(SendMsgs, PendingMsgs, TempUser);
    Settings.read();
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
    return QString::fromLatin1(PendingQueueFileName);
}

QString Desk::open()
{
    startupError_.clear();
    startupNotices_.clear();
    opened_ = false;
    try {
        Plimo32.setFolder(dataDirectory_);
        startupNotices_ = store::CreateDatabase(Plimo32);
        bind(BUsersT, Plimo32, store::busersSchema());
        bind(PagerCompT, Plimo32, store::pageCompSchema());
        bind(GroupsT, Plimo32, store::groupsSchema());
        bind(QuickMsgT, Plimo32, store::quickMsgSchema());
        bind(ModemsT, Plimo32, store::modemsSchema());
        bind(MsgLogT, Plimo32, store::msgLogSchema());
        bind(SchedMsgT, Plimo32, store::schedMsgSchema());
        for (store::Table* handle :
            { &ModemsT, &BUsersT, &MsgLogT, &SchedMsgT, &GroupsT, &QuickMsgT, &PagerCompT })
            handle->open();
        restorePendingQueue();
    } catch (const store::StoreError& e) {
        startupError_ = e.message();
        return startupError_;
    }
    ScheduledSendingEnabled = config::SystemSettings::scheduledSendingEnabled();
    ScheduleScanActive = false;
    PageInProgress = false;
    opened_ = true;
    return startupError_;
}

void Desk::restorePendingQueue()
{
    pendingRestored_ = true;
    if (QFileInfo::exists(pendingFileName()))
        restoreFrom(PendingMsgs, pendingFileName());
}

QStringList Desk::recipientNames()
{
    // Each walk ends on the last record, which stays current (a walk past the end would leave the
    // handle on no record at all).
    QStringList names;
    if (BUsersT.isOpen()) {
        for (BUsersT.first(); !BUsersT.eof(); BUsersT.next())
            names << BUsersT.fieldText(store::busers::UserName);
        BUsersT.last();
    }
    if (GroupsT.isOpen()) {
        for (GroupsT.first(); !GroupsT.eof(); GroupsT.next())
            names << groupRecipient(GroupsT.fieldText(store::groups::Group));
        GroupsT.last();
    }
    return names;
}

void Desk::refreshDirectory()
{
    if (BUsersT.isOpen())
        BUsersT.refresh();
    if (GroupsT.isOpen())
        GroupsT.refresh();
}

bool Desk::lookupUser(const QString& userName, ChosenUser* chosen)
{
    if (!BUsersT.isOpen() || !PagerCompT.isOpen())
        return false;
    BUsersT.refresh();
    if (!BUsersT.locate(store::busers::UserName, userName))
        return false;
    chosen->pagerId = BUsersT.fieldText(store::busers::PagerId);
    chosen->carrier.clear();
    if (PagerCompT.locate(store::pagecomp::PagerComp, BUsersT.fieldText(store::busers::PagerComp)))
        chosen->carrier = PagerCompT.fieldText(store::pagecomp::PagerComp);
    return true;
}

void Desk::clearTempUser()
{
    if (TempUser.isEmpty())
        TempUser.append();
    else
        TempUser.edit();
    TempUser.setFieldText(QString::fromLatin1(TempUserName), QString());
    TempUser.post();
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
            merged.setFieldDefinitions(pendingQueueFields());
            // A fault keeps the file as .bad; the complete pages read before it are merged.
            loadPendingQueue(merged, pendingFileName());
            PendingMsgs.first();
            while (PendingMsgs.rowCount() > 0)
                movePage(PendingMsgs, merged);
            merged.first();
            while (merged.rowCount() > 0)
                movePage(merged, PendingMsgs);
            pendingRestored_ = true;
        }
        savePendingQueue(PendingMsgs, pendingFileName());
    } catch (const store::StoreError& e) {
        return e.message();
    }
    queuesSaved_ = true;
    return {};
}

} // namespace core
