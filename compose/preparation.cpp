#include "compose/preparation.h"

#include "compose/composition.h"
#include "compose/memberfile.h"
#include "compose/pagelib.h"
#include "core/carrierpaths.h"
#include "core/deliverystatus.h"
#include "core/desk.h"
#include "core/engineparams.h"
#include "core/recipientname.h"
#include "paging/deliverypath.h"
#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/regularfile.h"
#include "store/storeerror.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSet>
#include <QTime>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace compose {

namespace {

using namespace store;
const QString& kUserName = busers::UserName;
const QString& kUserCarrier = busers::PagerComp;
const QString& kPagerId = busers::PagerId;
const QString& kCarrierName = pagecomp::PagerComp;
const QString& kHostTel = pagecomp::HostTel;
const QString& kHostSpeed = pagecomp::HostSpeed;
const QString& kHostChars = pagecomp::HostChars;
const QString& kHostPassword = pagecomp::HostPassword;

// Pages from a message file try this often, whatever the retries setting says.
constexpr int kFileRetries = 2;

// What an incoming file is renamed to, after a ".", while it is taken.
const QString kClaimSuffix = QStringLiteral(".taken");

// A text from a message file as a status line may show it: control characters become blanks and a
// text far longer than any carrier name is cut, so that garbage cannot flood the status list.
QString shownFromFile(const QString& text)
{
    constexpr qsizetype kShown = 40;
    QString shown = text.left(kShown);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    if (text.size() > kShown)
        shown += QStringLiteral("...");
    return shown;
}

// Device, inode, size and modification time of the name itself (lstat: a link is not followed): a
// file that is replaced or changed reads differently.
QString fileIdentity(const struct stat& st)
{
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_size)
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec);
}

// Whether pages to `carrier` dial its HOST_TEL: it has no enabled delivery path, or an enabled MODEM
// path among them. Paths that cannot be read send the page through the modem, so they need it too.
bool dialsCarrierNumber(core::Desk& desk, const QString& carrier)
{
    QList<paging::DeliveryPath> paths;
    try {
        paths = core::enabledPaths(desk, carrier);
    } catch (const store::LockedError&) {
        throw;
    } catch (const store::StoreError&) {
        return true;
    }
    return paths.isEmpty() || std::any_of(paths.cbegin(), paths.cend(), [](const paging::DeliveryPath& path) {
        return paging::pathMethod(path.method) == paging::PathMethod::Modem;
    });
}

// A group member to page: the carrier, pager ID and name of a user of the directory.
struct Member {
    QString carrier;
    QString pagerId;
    QString name;
};

QString errorText(const std::exception& e)
{
    if (const auto* storeError = dynamic_cast<const store::StoreError*>(&e))
        return storeError->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

MessagePreparation::MessagePreparation(core::Desk& desk, Composition& composition, DeskServices services)
    : desk_(desk)
    , composition_(composition)
    , c_(std::move(services))
{
}

QString MessagePreparation::messageFileName()
{
    return QStringLiteral("plimomsgs.txt");
}

void MessagePreparation::status(const QString& text) const
{
    if (reported_)
        reported_->said << text;
    if (c_.showStatus)
        c_.showStatus(text);
}

void MessagePreparation::info(const QString& text) const
{
    // Nobody waits at the desk for a box about a page another program asked for: the text goes to
    // the status list and to the caller.
    if (reported_) {
        status(text);
        return;
    }
    if (c_.showInfo)
        c_.showInfo(text);
}

void MessagePreparation::error(const QString& text) const
{
    if (reported_) {
        status(text);
        return;
    }
    if (c_.showError)
        c_.showError(text);
    else
        status(text);
}

void MessagePreparation::queue(core::Page& page)
{
    page = desk_.queuePage(page);
    if (reported_)
        reported_->pages << page;
}

void MessagePreparation::refuse(const QString& userName, const QString& pagerId, const QString& logRecord)
{
    const quint32 row = desk_.outcomes().refused(userName, pagerId, logRecord);
    if (reported_)
        reported_->refusedRows << row;
}

bool MessagePreparation::mayPrepare() const
{
    if (desk_.pageInProgress()) {
        status(QStringLiteral("Already sending message..."));
        return false;
    }
    if (desk_.scheduleScanActive()) {
        status(QStringLiteral("Already sending scheduled message..."));
        return false;
    }
    return true;
}

void MessagePreparation::SendBtnClick()
{
    if (!mayPrepare())
        return;
    try {
        core::SetEngineParams(desk_);
        if (!composition_.selectByGroup() && !composition_.sendByPager())
            PrepareAllMessages(composition_.selectedText());
        else if (composition_.selectByGroup() && !composition_.sendByPager())
            status(QStringLiteral("Nothing sent from the list: Select By Group is ticked"));
        if (composition_.sendByPager())
            PrepareByPagerMessage(
                composition_.selectedText(), composition_.byPagerId(), composition_.byPagerCarrier());
    } catch (const std::exception& e) {
        error(errorText(e));
    }
    if (c_.restoreWindow)
        c_.restoreWindow();
    // Unticked after every use; the window's switch handler follows the change.
    composition_.setSelectByGroup(false);
}

bool MessagePreparation::sendByPagerId(const QString& pagerId, const QString& carrier)
{
    if (!mayPrepare())
        return false;
    composition_.setByPagerTarget(pagerId, carrier);
    bool queued = false;
    try {
        core::SetEngineParams(desk_);
        queued = PrepareByPagerMessage(composition_.selectedText(), pagerId, carrier);
    } catch (const std::exception& e) {
        error(errorText(e));
    }
    // Ticked only for a page that waits: a press of the send button while it is under way pages
    // the typed ID again, and the end of its attempt unticks it. An attempt that queued nothing
    // leaves the ticked recipients to the next send.
    composition_.setSendByPager(queued);
    if (c_.restoreWindow)
        c_.restoreWindow();
    composition_.setSelectByGroup(false);
    return queued;
}

void MessagePreparation::prepareRecipient(const QString& item, const QString& editorText)
{
    // The retries and the numeric delay of the settings as they stand, as the send command takes
    // them (a scheduled record or a resend may come before any page has started).
    core::SetEngineParams(desk_);
    if (core::isGroupRecipient(item))
        PrepareGroupMessage(item, editorText);
    else
        PrepareOneMessage(item, editorText);
}

PreparedPages MessagePreparation::prepareReported(const QString& item, const QString& text)
{
    PreparedPages prepared;
    const QScopedValueRollback<PreparedPages*> reporting(reported_, &prepared);
    prepareRecipient(item, text);
    for (const core::Page& page : std::as_const(prepared.pages)) {
        if (!page.logRecord.isEmpty())
            prepared.logRecord = page.logRecord;
    }
    return prepared;
}

void MessagePreparation::PrepareAllMessages(const QString& editorText)
{
    if (pageMessage(editorText).isEmpty()) {
        info(QStringLiteral("Enter a message  and press 'Send Message' button."));
        if (c_.focusMessage)
            c_.focusMessage();
        return;
    }
    // The ticked items are taken first: a box shown while preparing lets the list be refreshed or
    // rebuilt, which would move the items under a walk by position.
    const QStringList ticked = composition_.tickedNames();
    int users = 0;
    int groups = 0;
    for (const QString& name : ticked) {
        // A table fault for one recipient is shown and the walk goes on with the next.
        try {
            composition_.untick(name);
            if (core::isGroupRecipient(name)) {
                ++groups;
                PrepareGroupMessage(name, editorText);
            } else {
                ++users;
                PrepareOneMessage(name, editorText);
            }
        } catch (const store::LockedError&) {
            throw; // one wait for a table another program keeps locked, not one a recipient
        } catch (const std::exception& e) {
            error(errorText(e));
        }
    }
    if (users + groups == 0)
        info(QStringLiteral("Select a user and/or group and press 'Send Message' button."));
}

void MessagePreparation::PrepareOneMessage(const QString& name, const QString& editorText)
{
    store::Table& users = desk_.BUsersT();
    store::Table& carriers = desk_.PagerCompT();
    if (!users.locate(kUserName, name)) {
        status(name + QStringLiteral(" not found in Users database"));
        return;
    }
    UserPageInput input;
    input.userName = users.fieldText(kUserName);
    input.userCarrier = users.fieldText(kUserCarrier);
    input.pagerId = users.fieldText(kPagerId);
    if (!carriers.locate(kCarrierName, input.userCarrier)) {
        status(QStringLiteral("Bad Carrier Phone number for ") + input.userName);
        refuse(input.userName, input.pagerId, QString());
        return;
    }
    // A "^" would make one user's page a group page to several pagers.
    if (input.pagerId.size() < 2 || input.pagerId.contains(u'^')) {
        status(QStringLiteral("Bad Pager ID for ") + input.userName);
        refuse(input.userName, input.pagerId, QString());
        return;
    }
    input.editorText = editorText;
    if (pageMessage(input.editorText).isEmpty()) {
        info(QStringLiteral("Enter a message..."));
        return;
    }
    // Logged before the carrier's number is checked: a user whose number is refused below still
    // has the message in the log.
    QString logRecord;
    if (composition_.messageLog())
        logRecord = appendLogRecord(input.userName, input.editorText);
    input.hostTel = carriers.fieldText(kHostTel);
    // A carrier reached by its delivery paths alone needs no number to dial.
    if (input.hostTel.size() < 3 && dialsCarrierNumber(desk_, carriers.fieldText(kCarrierName))) {
        status(QStringLiteral("Bad Carrier Phone number for ") + input.userName);
        refuse(input.userName, input.pagerId, logRecord);
        return;
    }
    input.hostSpeed = carriers.fieldText(kHostSpeed);
    input.hostChars = carriers.fieldInt(kHostChars);
    input.hostPassword = carriers.fieldText(kHostPassword);
    input.outsideLine = desk_.Settings().outsideLine();
    input.deliveryRetries = desk_.DeliveryRetriesValue();
    input.directMesgDelay = desk_.DirectMesgDelayValue();
    Page page = userPage(input);
    page.carrier = carriers.fieldText(kCarrierName);
    page.logRecord = logRecord;
    queue(page);
    if (page.messageToSend.size() < pageMessage(input.editorText).size())
        status(messageCutText(input.userName, page.messageToSend.size()));
}

bool MessagePreparation::PrepareByPagerMessage(
    const QString& editorText, const QString& pagerId, const QString& carrier)
{
    if (pageMessage(editorText).isEmpty()) {
        info(QStringLiteral("Enter message to send"));
        return false;
    }
    store::Table& carriers = desk_.PagerCompT();
    // The chosen carrier, found again: other preparations move the carriers table meanwhile. With
    // none chosen, the current record. Without any carrier there is nothing to dial.
    const bool found = carrier.isEmpty() ? !carriers.isEmpty() : carriers.locate(kCarrierName, carrier);
    if (!found
        || (carriers.fieldText(kHostTel).size() < 3 && dialsCarrierNumber(desk_, carriers.fieldText(kCarrierName)))) {
        status(QStringLiteral("Bad Carrier Phone number for ") + pagerId);
        refuse(pagerId, QString(pagerId).remove(u'-'), QString());
        return false;
    }
    Page page;
    page.messageToSend = fittedMessage(pageMessage(editorText), false);
    page.messageSize = carriers.fieldInt(kHostChars);
    page.networkPhone = carrierDialString(
        desk_.Settings().outsideLine(), carriers.fieldText(kHostTel), carriers.fieldText(kHostPassword));
    page.baudRate = carrierBaudRate(carriers.fieldText(kHostSpeed));
    page.pagerPhone = QString(pagerId).remove(u'-');
    page.userOrGroupName = pagerId;
    page.retries = desk_.DeliveryRetriesValue();
    page.carrier = carriers.fieldText(kCarrierName);
    queue(page);
    if (page.messageToSend.size() < pageMessage(editorText).size())
        status(messageCutText(pagerId, page.messageToSend.size()));
    return true;
}

QString MessagePreparation::appendLogRecord(const QString& userName, const QString& editorText)
{
    store::Table& log = desk_.MsgLogT();
    const QDateTime now = QDateTime::currentDateTime();
    // A log that cannot be written is reported; the page is still queued.
    try {
        log.append();
        log.setFieldText(msglog::DDate, logDate(now.date()));
        log.setFieldText(msglog::DTime, logTime(now.time()));
        log.setFieldText(msglog::UserName, userName);
        log.setFieldText(msglog::Msg, loggedMessage(editorText));
        log.post();
        return core::logRecordKey(log.recNo());
    } catch (const store::StoreError& e) {
        try {
            log.cancel();
        } catch (const store::StoreError&) {
        }
        error(e.message());
    }
    return {};
}

void MessagePreparation::PrepareGroupMessage(const QString& item, const QString& editorText)
{
    const QString groupName = core::groupNameOf(item);
    const QString path = memberFilePath(desk_.dataDirectory(), groupName);
    QStringList members;
    if (!QFileInfo(path).isFile() || !readMemberFile(path, &members)) {
        info(QStringLiteral("Group ") + groupName + QStringLiteral(" doesn't exist."));
        return;
    }

    // Every member that is in the directory and not paged directly. The users are found through
    // their unique USERNAME tag, so a large group costs one index look-up a member rather than a
    // walk over the users.
    store::Table& users = desk_.BUsersT();
    if (users.indexName() != kUserName)
        users.selectTag(kUserName);
    QList<Member> entries;
    entries.reserve(members.size());
    for (const QString& member : members) {
        if (member.isEmpty() || !users.seek(store::toCp1252(member)))
            continue;
        // The key comparison is blind to trailing blanks; the field must equal the line itself.
        if (users.fieldText(kUserName) != member)
            continue;
        const QString carrier = users.fieldText(kUserCarrier);
        if (carrier.toUpper() == QStringLiteral("DIRECT"))
            continue;
        if (users.fieldText(kPagerId).contains(u'^')) {
            status(QStringLiteral("Bad Pager ID for %1 (%2)").arg(member, item));
            refuse(member, users.fieldText(kPagerId), QString());
            continue;
        }
        entries.append({ carrier, users.fieldText(kPagerId), member });
    }

    QString logRecord;
    if (composition_.messageLog())
        logRecord = appendLogRecord(core::groupRecipient(groupName), editorText);

    std::stable_sort(entries.begin(), entries.end(), [](const Member& a, const Member& b) {
        return QString::compare(a.carrier + u';' + a.pagerId, b.carrier + u';' + b.pagerId, Qt::CaseInsensitive) < 0;
    });
    if (entries.isEmpty()) {
        users.refresh();
        return;
    }
    const QString message = pageMessage(editorText);
    if (message.isEmpty()) {
        info(QStringLiteral("Enter message to send"));
        users.refresh();
        return;
    }

    store::Table& carriers = desk_.PagerCompT();
    const QString outsideLine = desk_.Settings().outsideLine();
    const QString text = fittedMessage(message, true);
    bool cutReported = false;
    for (qsizetype first = 0; first < entries.size();) {
        const QString carrier = entries.at(first).carrier;
        QStringList pagerIds;
        QStringList names;
        qsizetype next = first;
        for (; next < entries.size() && entries.at(next).carrier == carrier; ++next) {
            pagerIds << entries.at(next).pagerId;
            names << entries.at(next).name;
        }
        first = next;
        auto refuseRun = [&] {
            for (qsizetype i = 0; i < pagerIds.size(); ++i)
                refuse(names.at(i), pagerIds.at(i), logRecord);
        };

        // A run without its carrier would reach the delivery loop with no number to dial: it is
        // refused whole rather than queued half-built.
        if (!carriers.locate(kCarrierName, carrier)) {
            status(QStringLiteral("Carrier ") + carrier + QStringLiteral(" of group ") + groupName
                + QStringLiteral(" not found in Carriers database; not sent to its members"));
            refuseRun();
            continue;
        }
        if (carriers.fieldText(kHostTel).size() < 3 && dialsCarrierNumber(desk_, carriers.fieldText(kCarrierName))) {
            for (const QString& name : std::as_const(names))
                status(QStringLiteral("Bad Carrier Phone number for %1 (%2)").arg(name, item));
            refuseRun();
            continue;
        }
        Page page;
        page.messageToSend = text + QStringLiteral("^^");
        page.networkPhone
            = carrierDialString(outsideLine, carriers.fieldText(kHostTel), carriers.fieldText(kHostPassword));
        page.baudRate = carrierBaudRate(carriers.fieldText(kHostSpeed));
        page.messageSize = carriers.fieldInt(kHostChars);
        page.userOrGroupName = item;
        page.isGroup = true;
        page.retries = desk_.DeliveryRetriesValue();
        page.carrier = carriers.fieldText(kCarrierName);
        page.logRecord = logRecord;
        // A run whose IDs overflow PagerPhone goes as several pages of whole IDs, each an ordinary
        // page of the queue, with its members.
        qsizetype member = 0;
        for (const QString& pagerPhone : groupPagerPhones(pagerIds)) {
            page.pagerPhone = pagerPhone;
            const qsizetype count = pagerPhone.count(u'^');
            page.members = names.mid(member, count);
            member += count;
            if (InDebugMode(desk_.Settings()))
                info(desk_.Engine1().PagerPhone);
            queue(page);
        }
        if (text.size() < message.size() && !cutReported) {
            cutReported = true;
            status(messageCutText(item, text.size()));
        }
    }
    users.refresh();
}

bool MessagePreparation::ReadPageMsgFromFile()
{
    const QString name = messageFileName();
    // Only a regular file within the bound is read, never through a link: a pipe would stall the
    // tick, a link would page a file from elsewhere. Anything else is removed unread (a link itself,
    // never what it points to) and said.
    struct stat st {};
    if (::lstat(QFile::encodeName(name).constData(), &st) != 0) {
        reportedFile_.clear();
        return false;
    }
    const MessageFile file { name, name, fileIdentity(st), false };
    if (S_ISDIR(st.st_mode)) {
        // A folder of that name is no message file and cannot be consumed: said once, then left
        // alone, so that it never holds the scheduled scan up.
        sayOnce(file, QStringLiteral("plimomsgs.txt is a folder, not a message file; it is left alone."));
        return false;
    }
    return takeMessageFile(file) == Intake::Done;
}

bool MessagePreparation::takeIncomingFile()
{
    const QString folder = desk_.dataDirectory() + incomingFolderName();
    const QString shownFolder = incomingFolderName() + u'/';
    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) {
        incomingSaid_.clear();
        return false;
    }
    const MessageFile folderFile { folder, shownFolder, QString(), true };
    // A link in its place would take files from elsewhere.
    if (!S_ISDIR(st.st_mode)) {
        sayOnce(folderFile, shownFolder + QStringLiteral(" in the data folder is not a folder; nothing is taken from it."));
        return false;
    }
    // Without a pending file to write, a page cannot be kept durably before its file goes.
    if (!desk_.pendingFile().following()) {
        sayOnce(folderFile, QStringLiteral("The messages of %1 wait: the pending messages are not written now")
                                .arg(shownFolder));
        return false;
    }
    if (incomingPendingFault_) {
        if (!desk_.pendingFile().writeNow().isEmpty())
            return false;
        incomingPendingFault_ = false;
    }
    const QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QSet<QString> present;
    for (const QString& name : names) {
        const QString path = folder + u'/' + name;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        MessageFile file { path, shownFolder + name, fileIdentity(st), true };
        present.insert(file.identity);
        // Files still being written (the writer renames them when whole), and files this desk has
        // claimed: a claimed file left behind by a desk that stopped may have been paged, and is
        // said rather than paged again.
        if (name.startsWith(u'.')) {
            if (name.endsWith(kClaimSuffix) && S_ISREG(st.st_mode) && !incomingSaid_.contains(file.identity))
                sayOnce(file, QStringLiteral("%1 was being taken when the desk stopped and may have been paged: "
                                             "see Pending Msgs, and rename it to page it again")
                                  .arg(file.shown));
            continue;
        }
        if (name.endsWith(QStringLiteral(".tmp")))
            continue;
        if (S_ISDIR(st.st_mode)) {
            sayOnce(file, QStringLiteral("%1 is a folder, not a message file; it is left alone.").arg(file.shown));
            continue;
        }
        // Claimed under a hidden name before it is read: what is read is what is removed, and a
        // file that cannot be renamed cannot be removed either.
        file.path = folder + QStringLiteral("/.") + name + kClaimSuffix;
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(file.path).constData()) != 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            sayOnce(file, QStringLiteral("File %1 cannot be deleted and is not paged: %2").arg(file.shown, reason));
            continue;
        }
        const Intake intake = takeMessageFile(file);
        if (intake != Intake::Left)
            return intake == Intake::Done;
    }
    // Every file looked at: what was said of files no longer there is forgotten.
    for (auto it = incomingSaid_.begin(); it != incomingSaid_.end();) {
        if (!it.key().isEmpty() && !present.contains(it.key()))
            it = incomingSaid_.erase(it);
        else
            ++it;
    }
    return false;
}

void MessagePreparation::releaseIncoming(const MessageFile& file)
{
    const QString name = QFileInfo(file.path).fileName();
    if (!name.startsWith(u'.') || !name.endsWith(kClaimSuffix))
        return;
    const QString back = QFileInfo(file.path).absolutePath() + u'/' + name.mid(1).chopped(kClaimSuffix.size());
    ::rename(QFile::encodeName(file.path).constData(), QFile::encodeName(back).constData());
}

MessagePreparation::Intake MessagePreparation::takeMessageFile(const MessageFile& file)
{
    const store::WholeFile read = store::readWholeFile(file.path, kMessageFileReadLimit, false);
    if (!read.exists)
        return Intake::Left;
    if (!read.read()) {
        // The fault names the file as it was read; the status line names it as the operator knows it.
        const QString fault
            = read.fault.startsWith(file.path) ? file.shown + read.fault.mid(file.path.size()) : read.fault;
        return consume(file, QStringLiteral("File ") + fault + QStringLiteral("; it was deleted unread."));
    }
    const QStringList lines = read.bytes.contains('\0') ? QStringList() : messageFileLines(read.bytes);
    if (lines.size() < 3)
        return consume(file, QStringLiteral("File %1 does not contain required information.").arg(file.shown));
    try {
        // plimomsgs.txt names a user by the exact name; an incoming file also by pager ID, or a group.
        QString item;
        if (file.incoming && findRecipient)
            item = findRecipient(lines.at(0));
        else if (desk_.BUsersT().locate(kUserName, lines.at(0)))
            item = lines.at(0);
        const QString message = messageFromFileLines(lines);
        if (file.incoming && core::isGroupRecipient(item))
            return takeGroupFile(file, item, message);
        QString pagerId = lines.at(0);
        QString userCarrier;
        if (!item.isEmpty() && desk_.BUsersT().locate(kUserName, item)) {
            pagerId = desk_.BUsersT().fieldText(kPagerId);
            userCarrier = desk_.BUsersT().fieldText(kUserCarrier);
        }
        store::Table& carriers = desk_.PagerCompT();
        const QString fromFile = QStringLiteral("From File ") + pagerId;
        // A refused page is recorded once, as its file is consumed (one that cannot be deleted is
        // said once and read again at later ticks).
        auto refuse = [&](const QString& text) {
            const Intake intake = consume(file, text);
            if (intake == Intake::Done)
                desk_.outcomes().refused(fromFile, StripDashes(pagerId), QString());
            return intake;
        };
        if (pagerId.contains(u'^'))
            return refuse(QStringLiteral("Bad Pager ID for ") + shownFromFile(fromFile));
        // An incoming file's blank carrier line stands for the user's own carrier.
        QString carrierName = lines.at(1);
        if (file.incoming && carrierName.trimmed().isEmpty()) {
            if (userCarrier.isEmpty())
                return refuse(QStringLiteral("No carrier for %1 in %2: its carrier line is blank and no user has that "
                                             "name or pager ID.")
                                  .arg(shownFromFile(lines.at(0)), file.shown));
            carrierName = userCarrier;
        }
        if (!carriers.locate(kCarrierName, carrierName))
            return refuse(QStringLiteral("Paging carrier ") + shownFromFile(carrierName) + QStringLiteral(" not found."));
        if (carriers.fieldText(kHostTel).size() < 3 && dialsCarrierNumber(desk_, carriers.fieldText(kCarrierName)))
            return refuse(QStringLiteral("Bad Carrier Phone number for ") + shownFromFile(fromFile));
        if (message.isEmpty())
            return consume(file, QStringLiteral("Message from file is too short"));
        Page page;
        page.messageToSend = fittedMessage(message, false);
        page.messageSize = carriers.fieldInt(kHostChars);
        page.networkPhone = carrierDialString(desk_.Settings().outsideLine(),
            carriers.fieldText(kHostTel), carriers.fieldText(kHostPassword));
        page.baudRate = carrierBaudRate(carriers.fieldText(kHostSpeed));
        page.pagerPhone = StripDashes(pagerId);
        page.userOrGroupName = fromFile;
        page.retries = kFileRetries;
        page.carrier = carriers.fieldText(kCarrierName);
        queue(page);
        if (file.incoming) {
            const Intake intake = keepIncomingPages(file, { page }, item.isEmpty() ? lines.at(0) : item, message);
            if (intake == Intake::Done && page.messageToSend.size() < message.size())
                status(messageCutText(shownFromFile(lines.at(0)), page.messageToSend.size()));
            return intake;
        }
        // Queued, then consumed: a file that stayed would be paged again at every idle tick, so one
        // that cannot be deleted takes its page back.
        QFile taken(file.path);
        if (!taken.remove()) {
            desk_.SendMsgs().last();
            desk_.SendMsgs().deleteRow();
            return sayOnce(file,
                       QStringLiteral("File %1 cannot be deleted and is not paged: %2").arg(file.shown, taken.errorString()))
                ? Intake::Done
                : Intake::Left;
        }
        reportedFile_.clear();
        if (page.messageToSend.size() < message.size())
            status(messageCutText(shownFromFile(lines.at(0)), page.messageToSend.size()));
    } catch (const store::LockedError&) {
        if (file.incoming)
            releaseIncoming(file);
        throw; // the tick rests the tables another program keeps locked
    } catch (const std::exception& e) {
        // Its page could not be queued (a table that is not open or cannot be read): the file stays,
        // to be taken once it can be; the fault is said once.
        if (file.incoming)
            releaseIncoming(file);
        const QString text = QStringLiteral("The message of %1 waits: %2").arg(file.shown, errorText(e));
        if (file.incoming ? incomingSaid_.value(QString()) != text : reportedFile_ != file.identity + text) {
            if (file.incoming)
                incomingSaid_.insert(QString(), text);
            else
                reportedFile_ = file.identity + text;
            error(text);
        }
        return Intake::Waits;
    }
    return Intake::Done;
}

MessagePreparation::Intake MessagePreparation::takeGroupFile(
    const MessageFile& file, const QString& item, const QString& message)
{
    // The group preparation as another program's page: what it says goes to the status list, and
    // nothing queued consumes the file with what was said.
    const PreparedPages prepared = prepareReported(item, message);
    if (prepared.pages.isEmpty())
        return consume(file, QStringLiteral("Nothing paged from %1 to %2").arg(file.shown, item));
    return keepIncomingPages(file, prepared.pages, item, message);
}

MessagePreparation::Intake MessagePreparation::keepIncomingPages(
    const MessageFile& file, const QList<core::Page>& pages, const QString& recipient, const QString& text)
{
    // Durable before the file goes: a desk stopped now finds the pages in the pending file, and the
    // file, under its hidden name, is never taken again.
    const QString failure = desk_.pendingFile().writeNow();
    if (!failure.isEmpty()) {
        for (qsizetype i = 0; i < pages.size() && !desk_.SendMsgs().isEmpty(); ++i) {
            desk_.SendMsgs().last();
            desk_.SendMsgs().deleteRow();
        }
        for (const core::Page& page : pages)
            desk_.outcomes().setAll(page, core::kRefused);
        releaseIncoming(file);
        incomingPendingFault_ = true;
        const QString said = QStringLiteral("The message of %1 waits: %2").arg(file.shown, failure);
        if (incomingSaid_.value(QString()) != said) {
            incomingSaid_.insert(QString(), said);
            status(said);
        }
        return Intake::Waits;
    }
    incomingSaid_.remove(QString());
    status(fromLine(file.shown, text, recipient));
    QFile taken(file.path);
    if (!taken.remove())
        sayOnce(file, QStringLiteral("%1 is queued, but its file %2 cannot be deleted (%3); it is not taken again")
                          .arg(file.shown, QFileInfo(file.path).fileName(), taken.errorString()));
    return Intake::Done;
}

MessagePreparation::Intake MessagePreparation::consume(const MessageFile& file, const QString& text)
{
    QFile taken(file.path);
    if (!taken.remove()) {
        return sayOnce(file,
                   QStringLiteral("File %1 cannot be deleted and is not paged: %2").arg(file.shown, taken.errorString()))
            ? Intake::Done
            : Intake::Left;
    }
    if (file.incoming)
        incomingSaid_.remove(file.identity);
    else
        reportedFile_.clear();
    status(text);
    return Intake::Done;
}

bool MessagePreparation::sayOnce(const MessageFile& file, const QString& text)
{
    // The same file (its device, inode, size and time) with the same fault is said once; while it
    // stays it does not hold the tick up.
    if (file.incoming) {
        if (incomingSaid_.value(file.identity) == text)
            return false;
        incomingSaid_.insert(file.identity, text);
    } else {
        if (reportedFile_ == file.identity + text)
            return false;
        reportedFile_ = file.identity + text;
    }
    status(text);
    return true;
}

} // namespace compose
