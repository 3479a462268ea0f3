#include "core/desk.h"

#include "config/inifile.h"
#include "core/clocktext.h"
#include "core/queues.h"
#include "core/recipientname.h"
#include "store/fieldcheck.h"
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
    pendingFile_ = std::make_unique<PendingFile>(PendingMsgs, SendMsgs, pendingFileName());
}

Desk::~Desk() = default;

QString Desk::defaultDataDirectory()
{
    return dataDirectoryFor(QCoreApplication::applicationDirPath());
}

QString Desk::dataDirectoryFor(const QString& programFolder)
{
    if (!isInstalledProgram(programFolder) && QFileInfo(programFolder).isWritable())
        return withTrailingSlash(programFolder);
    const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(appData);
    return withTrailingSlash(appData);
}

bool Desk::isInstalledProgram(const QString& programFolder)
{
    const QDir bin(programFolder);
    return bin.dirName() == u"bin"
        && QFileInfo::exists(bin.filePath(QStringLiteral("../share/applications/" PLIMO_APP_ID ".desktop")));
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
    startupFaults_.clear();
    opened_ = false;
    try {
        Plimo32.setFolder(dataDirectory_);
        startupNotices_ = store::CreateDatabase(Plimo32);
        const std::pair<store::Table*, const store::TableSchema*> tables[] = {
            { &ModemsT, &store::modemsSchema() },
            { &BUsersT, &store::busersSchema() },
            { &MsgLogT, &store::msgLogSchema() },
            { &SchedMsgT, &store::schedMsgSchema() },
            { &GroupsT, &store::groupsSchema() },
            { &QuickMsgT, &store::quickMsgSchema() },
            { &PagerCompT, &store::pageCompSchema() },
        };
        for (const auto& [handle, schema] : tables)
            bind(*handle, Plimo32, *schema);
        for (const auto& [handle, schema] : tables) {
            handle->open();
            // A field another tool renamed or narrowed fails only where it is used.
            startupFaults_ << store::fieldFaults(*handle, *schema);
        }
    } catch (const store::StoreError& e) {
        startupError_ = e.message();
    }
    restorePendingQueue();
    if (!startupError_.isEmpty())
        return startupError_;
    const QString iniFault = config::IniFile(config::pagerIniPath()).fault();
    if (!iniFault.isEmpty())
        startupFaults_ << iniFault
                + QStringLiteral(" and is not read: the settings are the defaults until they are saved.");
    ScheduledSendingEnabled = config::SystemSettings::scheduledSendingEnabled();
    opened_ = true;
    return startupError_;
}

void Desk::restorePendingQueue()
{
    pendingRestored_ = true;
    QString keptAs;
    QString fault;
    try {
        fault = loadPendingQueue(PendingMsgs, pendingFileName(), &keptAs);
    } catch (const store::StoreError& e) {
        fault = sentence(e.message());
    }
    if (!fault.isEmpty()) {
        if (!keptAs.isEmpty())
            fault += QStringLiteral(" The file is kept as %1.").arg(keptAs);
        startupFaults_ << fault;
    }
    // A file that could not be read whole was moved aside first; one that stayed is never
    // overwritten.
    pendingWritable_ = fault.isEmpty() || !keptAs.isEmpty();
    if (pendingWritable_)
        pendingFile_->follow();
}

QString Desk::startupReport() const
{
    QStringList paragraphs = startupFaults_;
    if (!startupError_.isEmpty())
        paragraphs.prepend(startupError_);
    return paragraphs.join(QStringLiteral("\n\n"));
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
    if (pageInProgress_ || scheduleScanActive_)
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
    if (!pendingWritable_)
        return QStringLiteral("%1 could not be read at start nor kept aside, so it is not overwritten.")
            .arg(pendingFileName());
    try {
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
        const QString failure = pendingFile_->writeNow();
        if (!failure.isEmpty())
            return failure;
        // On disk the waiting pages are pending pages now; so they are here.
        SendMsgs.first();
        while (SendMsgs.rowCount() > 0)
            movePage(SendMsgs, PendingMsgs);
        pendingFile_->stop();
    } catch (const store::StoreError& e) {
        return e.message();
    }
    queuesSaved_ = true;
    return {};
}

} // namespace core
