#include "core/desk.h"

#include "config/inifile.h"
#include "core/clocktext.h"
#include "core/deliverystatus.h"
#include "core/lostpages.h"
#include "core/page.h"
#include "core/queues.h"
#include "core/recipientname.h"
#include "store/fieldcheck.h"
#include "store/fieldnames.h"
#include "store/regularfile.h"
#include "store/schema.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

namespace core {

namespace {

QString withTrailingSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

} // namespace

Desk::Desk(const QString& dataDirectory)
    : dataDirectory_(withTrailingSlash(dataDirectory.isEmpty() ? defaultDataDirectory() : dataDirectory))
{
    createQueueTables(sendMsgs_, pendingMsgs_, tempUser_);
    settings_.read();
    pendingFile_ = std::make_unique<PendingFile>(pendingMsgs_, sendMsgs_, pendingFileName());
    pendingFile_->setMarks(&deliveryMarks_);
    pendingFile_->setNotes(&pageNotes_);
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

QString Desk::dataFolderNotice(const QString& programFolder)
{
    if (isInstalledProgram(programFolder) || QFileInfo(programFolder).isWritable())
        return {};
    return QStringLiteral("The program's folder %1 cannot be written, so the desk keeps its tables, its pending "
                          "messages and the message file plimomsgs.txt in %2.")
        .arg(QDir::toNativeSeparators(programFolder), QDir::toNativeSeparators(dataDirectoryFor(programFolder)));
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
        plimo32_.setFolder(dataDirectory_);
        const std::pair<store::Table*, const store::TableSchema*> tables[] = {
            { &modemsT_, &store::modemsSchema() },
            { &busersT_, &store::busersSchema() },
            { &msgLogT_, &store::msgLogSchema() },
            { &schedMsgT_, &store::schedMsgSchema() },
            { &groupsT_, &store::groupsSchema() },
            { &quickMsgT_, &store::quickMsgSchema() },
            { &pagerCompT_, &store::pageCompSchema() },
            { &carrPathT_, &store::carrPathSchema() },
            { &dlvStatT_, &store::dlvStatSchema() },
            { &sourcesT_, &store::sourcesSchema() },
            { &alertsT_, &store::alertsSchema() },
        };
        // Bound first: a handle that the steps below never open still names its table in a fault.
        for (const auto& [handle, schema] : tables)
            store::bindHandle(*handle, plimo32_, *schema);
        startupNotices_ = store::CreateDatabase(plimo32_);
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
    scheduledSendingEnabled_ = config::SystemSettings::scheduledSendingEnabled();
    opened_ = true;
    return startupError_;
}

void Desk::restorePendingQueue()
{
    pendingRestored_ = true;
    QString keptAs;
    QString fault;
    try {
        fault = loadPendingQueue(pendingMsgs_, pendingFileName(), &keptAs);
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
    // The side file is read once for its two kinds of line.
    const store::WholeFile side
        = store::readWholeFile(DeliveryMarks::sideFilePath(pendingFileName()), DeliveryMarks::kSideFileLimit, false);
    const QByteArray sideText = side.read() ? side.bytes : QByteArray();
    deliveryMarks_.read(sideText);
    pageNotes_.read(sideText);
    if (pendingWritable_)
        takeLostPages();
    restoredPending_ = pendingMsgs_.rowCount();
    // What the rows of the restored pages say now: pages that waited in the send queue when the
    // desk stopped are pending from here on.
    if (dlvStatT_.isOpen()) {
        for (int row = 0; row < pendingMsgs_.rowCount(); ++row) {
            Page page = pageAt(pendingMsgs_, row);
            pageNotes_.fill(page);
            outcomes_.settleAll(page, deliveryMarks_.contains(page) ? kUnsure : kPending);
        }
    }
    if (pendingWritable_)
        pendingFile_->follow();
}

void Desk::takeLostPages()
{
    lostPagesTaken_.clear();
    for (const QString& path : lostPagesFiles(QFileInfo(pendingFileName()).absolutePath())) {
        const QString name = QFileInfo(path).fileName();
        store::TMemTable lost;
        lost.setFieldDefinitions(pendingQueueFields());
        QString keptAs;
        QString fault;
        try {
            fault = loadPendingQueue(lost, path, &keptAs);
        } catch (const store::StoreError& e) {
            fault = sentence(e.message());
        }
        if (!fault.isEmpty()) {
            startupFaults_ << fault
                    + (keptAs.isEmpty() ? QString() : QStringLiteral(" The file is kept as %1.").arg(keptAs));
        }
        // A file that could not be read whole nor kept aside stays as it is, its pages in it: taken
        // now, they would be taken again at the next start.
        if (!fault.isEmpty() && keptAs.isEmpty())
            continue;
        const QString side = DeliveryMarks::sideFilePath(path);
        if (lost.rowCount() > 0) {
            // The runner that wrote the file kept the pending file current until it found the lock
            // gone, so its pages may be in the queue already: a page is taken only as often as it
            // is in the file more than in the queue (pages are known by what they say and to whom).
            QHash<QByteArray, int> inQueue;
            for (const QByteArray& print : DeliveryMarks::fingerprints(pendingMsgs_))
                ++inQueue[print];
            const QList<QByteArray> prints = DeliveryMarks::fingerprints(lost);
            // The pages go at the end of the queue, their marks and notes with them; into the file
            // before the lost one goes, so that no stop between the two loses them.
            const int before = pendingMsgs_.rowCount();
            const store::WholeFile sideFile = store::readWholeFile(side, DeliveryMarks::kSideFileLimit, false);
            const QByteArray sideText = sideFile.read() ? sideFile.bytes : QByteArray();
            deliveryMarks_.read(sideText);
            pageNotes_.read(sideText);
            QString failure;
            try {
                lost.first();
                for (const QByteArray& print : prints) {
                    if (inQueue.value(print) > 0) {
                        --inQueue[print];
                        lost.deleteRow();
                    } else {
                        movePage(lost, pendingMsgs_);
                    }
                }
                failure = pendingFile_->writeNow();
            } catch (const store::StoreError& e) {
                failure = e.message();
            }
            if (!failure.isEmpty()) {
                while (pendingMsgs_.rowCount() > before) {
                    pendingMsgs_.last();
                    pendingMsgs_.deleteRow();
                }
                startupFaults_ << sentence(
                    QStringLiteral("The pages in %1 were not taken into the pending messages: %2").arg(name, failure));
                continue;
            }
            const int taken = pendingMsgs_.rowCount() - before;
            const int already = int(prints.size()) - taken;
            QString line = taken == 1 ? QStringLiteral("1 page taken from %1 into the pending messages").arg(name)
                                      : QStringLiteral("%1 pages taken from %2 into the pending messages")
                                            .arg(taken)
                                            .arg(name);
            if (already > 0)
                line += QStringLiteral(" (%1 of its pages were in them already)").arg(already);
            lostPagesTaken_ << line;
        }
        QFile::remove(path);
        QFile::remove(side);
    }
}

QString Desk::keepQueuesAside(const QString& path)
{
    pendingFile_->setPath(path);
    keptAside_ = true;
    // The file of lost pages is this desk's own: written whatever became of the pending file.
    pendingWritable_ = true;
    pendingRestored_ = true;
    queuesSaved_ = false;
    pendingFile_->follow();
    if (pendingMsgs_.isEmpty() && sendMsgs_.isEmpty())
        return {};
    return pendingFile_->writeNow();
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
    if (busersT_.isOpen()) {
        for (busersT_.first(); !busersT_.eof(); busersT_.next())
            names << busersT_.fieldText(store::busers::UserName);
        busersT_.last();
    }
    if (groupsT_.isOpen()) {
        for (groupsT_.first(); !groupsT_.eof(); groupsT_.next())
            names << groupRecipient(groupsT_.fieldText(store::groups::Group));
        groupsT_.last();
    }
    return names;
}

void Desk::refreshDirectory()
{
    if (busersT_.isOpen())
        busersT_.refresh();
    if (groupsT_.isOpen())
        groupsT_.refresh();
}

bool Desk::lookupUser(const QString& userName, ChosenUser* chosen)
{
    if (!busersT_.isOpen() || !pagerCompT_.isOpen())
        return false;
    busersT_.refresh();
    if (!busersT_.locate(store::busers::UserName, userName))
        return false;
    chosen->pagerId = busersT_.fieldText(store::busers::PagerId);
    chosen->carrier.clear();
    if (pagerCompT_.locate(store::pagecomp::PagerComp, busersT_.fieldText(store::busers::PagerComp)))
        chosen->carrier = pagerCompT_.fieldText(store::pagecomp::PagerComp);
    return true;
}

Page Desk::queuePage(Page page)
{
    outcomes_.queued(page);
    // Noted first: the pending file written for the new row carries the notes beside it.
    pageNotes_.note(page);
    try {
        appendPage(sendMsgs_, page);
    } catch (const store::StoreError&) {
        pageNotes_.forget(page);
        throw;
    }
    return page;
}

void Desk::clearTempUser()
{
    if (tempUser_.isEmpty())
        tempUser_.append();
    else
        tempUser_.edit();
    tempUser_.setFieldText(QString::fromLatin1(TempUserName), QString());
    tempUser_.post();
}

TickDisplay Desk::tick(const QTime& now) const
{
    TickDisplay display;
    display.clock = longTimeText(now);
    if (pageInProgress_ || scheduleScanActive_)
        return display;
    const int pending = pendingMsgs_.rowCount();
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
        if (keptAside_ && pendingMsgs_.isEmpty() && sendMsgs_.isEmpty()) {
            // No page to keep: no file of lost pages left behind for the next runner.
            pendingFile_->stop();
            QFile::remove(pendingFile_->path());
            QFile::remove(DeliveryMarks::sideFilePath(pendingFile_->path()));
            queuesSaved_ = true;
            return {};
        }
        if (!pendingRestored_ && QFileInfo::exists(pendingFileName())) {
            // The start stopped before it read the pending file: its pages are still only there.
            // Keep them, followed by the pages of this run.
            store::TMemTable merged;
            merged.setFieldDefinitions(pendingQueueFields());
            // A fault keeps the file as .bad; the complete pages read before it are merged.
            loadPendingQueue(merged, pendingFileName());
            pageNotes_.load(DeliveryMarks::sideFilePath(pendingFileName()));
            pendingMsgs_.first();
            while (pendingMsgs_.rowCount() > 0)
                movePage(pendingMsgs_, merged);
            merged.first();
            while (merged.rowCount() > 0)
                movePage(merged, pendingMsgs_);
            pendingRestored_ = true;
        }
        const QString failure = pendingFile_->writeNow();
        if (!failure.isEmpty())
            return failure;
        // On disk the waiting pages are pending pages now; so they are here.
        sendMsgs_.first();
        while (sendMsgs_.rowCount() > 0)
            movePage(sendMsgs_, pendingMsgs_);
        pendingFile_->stop();
    } catch (const store::StoreError& e) {
        return e.message();
    }
    queuesSaved_ = true;
    return {};
}

} // namespace core
