#include "compose/preparation.h"

#include "compose/memberfile.h"
#include "compose/pagelib.h"
#include "core/desk.h"
#include "store/cp1252.h"
#include "store/storeerror.h"

#include <QCheckBox>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTime>

#include <algorithm>

#include <sys/stat.h>

namespace compose {

namespace {

const QString kUserName = QStringLiteral("USERNAME");
const QString kUserCarrier = QStringLiteral("PAGERCOMP");
const QString kPagerId = QStringLiteral("PAGER_ID");
const QString kCarrierName = QStringLiteral("PAGERCOMP");
const QString kHostTel = QStringLiteral("HOST_TEL");
const QString kHostSpeed = QStringLiteral("HOST_SPEED");
const QString kHostChars = QStringLiteral("HOST_CHARS");
const QString kHostPassword = QStringLiteral("HOST_PASSW");

// Pages from a message file try this often, whatever the retries setting says.
constexpr int kFileRetries = 2;

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

// Device, inode, size and modification time: a file that is replaced or changed reads differently.
QString fileIdentity(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(st.st_dev)
        .arg(st.st_ino)
        .arg(st.st_size)
        .arg(st.st_mtim.tv_sec)
        .arg(st.st_mtim.tv_nsec);
}

QString errorText(const std::exception& e)
{
    if (const auto* storeError = dynamic_cast<const store::StoreError*>(&e))
        return storeError->message();
    return QString::fromLocal8Bit(e.what());
}

} // namespace

MessagePreparation::MessagePreparation(core::Desk& desk, DeskControls controls)
    : desk_(desk)
    , c_(std::move(controls))
{
}

QString MessagePreparation::messageFileName()
{
    return QStringLiteral("plimomsgs.txt");
}

void MessagePreparation::status(const QString& text) const
{
    if (c_.showStatus)
        c_.showStatus(text);
}

void MessagePreparation::info(const QString& text) const
{
    if (c_.showInfo)
        c_.showInfo(text);
}

void MessagePreparation::error(const QString& text) const
{
    if (c_.showError)
        c_.showError(text);
    else
        status(text);
}

QString MessagePreparation::selectedEditorText() const
{
    c_.message1->selectAll();
    return c_.message1->toPlainText();
}

void MessagePreparation::untick(const QString& name)
{
    // The first ticked item of that name: a name listed twice and ticked twice is unticked once for
    // each of its two preparations.
    for (int i = 0; i < c_.UsersList->count(); ++i) {
        QListWidgetItem* item = c_.UsersList->item(i);
        if (item->text() == name && item->checkState() != Qt::Unchecked) {
            item->setCheckState(Qt::Unchecked);
            return;
        }
    }
}

void MessagePreparation::SendBtnClick()
{
    if (desk_.PageInProgress) {
        status(QStringLiteral("Already sending message..."));
        return;
    }
    if (desk_.ScheduleScanActive) {
        status(QStringLiteral("Already sending scheduled message..."));
        return;
    }
    try {
        if (c_.setEngineParams)
            c_.setEngineParams();
        if (!c_.SendGroup->isChecked() && !c_.SendByPager->isChecked())
            PrepareAllMessages();
        else if (c_.SendGroup->isChecked() && !c_.SendByPager->isChecked())
            status(QStringLiteral("Nothing sent from the list: Select By Group is ticked"));
        if (c_.SendByPager->isChecked() && c_.prepareByPagerMessage)
            c_.prepareByPagerMessage();
    } catch (const std::exception& e) {
        error(errorText(e));
    }
    if (c_.window)
        c_.window->setWindowState(c_.window->windowState() & ~Qt::WindowMinimized);
    // Unticking runs the switch's own handler, as the operator's click would.
    if (c_.SendGroup->isChecked())
        c_.SendGroup->click();
}

void MessagePreparation::PrepareAllMessages()
{
    if (pageMessage(selectedEditorText()).isEmpty()) {
        info(QStringLiteral("Enter a message  and press 'Send Message' button."));
        c_.message1->setFocus();
        return;
    }
    // The ticked items are taken first: a box shown while preparing lets the list be refreshed or
    // rebuilt, which would move the items under a walk by position.
    QStringList ticked;
    for (int i = 0; i < c_.UsersList->count(); ++i) {
        const QListWidgetItem* item = c_.UsersList->item(i);
        if (item->checkState() != Qt::Unchecked)
            ticked << item->text();
    }
    int users = 0;
    int groups = 0;
    for (const QString& name : ticked) {
        // A table fault for one recipient is shown and the walk goes on with the next.
        try {
            if (isGroupItem(name)) {
                ++groups;
                PrepareGroupMessage(name);
            } else {
                ++users;
                PrepareOneMessage(name);
            }
        } catch (const std::exception& e) {
            error(errorText(e));
        }
    }
    if (users + groups == 0)
        info(QStringLiteral("Select a user and/or group and press 'Send Message' button."));
}

void MessagePreparation::PrepareOneMessage(const QString& name)
{
    untick(name);
    store::Table& users = desk_.BUsersT;
    store::Table& carriers = desk_.PagerCompT;
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
        return;
    }
    if (input.pagerId.size() < 2) {
        status(QStringLiteral("Bad Pager ID for ") + input.userName);
        return;
    }
    input.editorText = selectedEditorText();
    if (pageMessage(input.editorText).isEmpty()) {
        info(QStringLiteral("Enter a message..."));
        return;
    }
    // Logged before the carrier's number is checked: a user whose number is refused below still
    // has the message in the log.
    if (c_.messagelog->isChecked())
        appendLogRecord(input.userName, input.editorText);
    input.hostTel = carriers.fieldText(kHostTel);
    if (input.hostTel.size() < 3) {
        status(QStringLiteral("Bad Carrier Phone number for ") + input.userName);
        return;
    }
    input.hostSpeed = carriers.fieldText(kHostSpeed);
    input.hostChars = carriers.fieldInt(kHostChars);
    input.hostPassword = carriers.fieldText(kHostPassword);
    input.outsideLine = c_.outsideLine ? c_.outsideLine() : QString();
    input.deliveryRetries = desk_.DeliveryRetriesValue;
    input.directMesgDelay = desk_.DirectMesgDelayValue;
    const Page page = userPage(input);
    appendPage(desk_.SendMsgs, page);
    if (page.messageToSend.size() < pageMessage(input.editorText).size())
        status(messageCutText(input.userName, page.messageToSend.size()));
}

void MessagePreparation::appendLogRecord(const QString& userName, const QString& editorText)
{
    store::Table& log = desk_.MsgLogT;
    const QDateTime now = QDateTime::currentDateTime();
    // A log that cannot be written is reported; the page is still queued.
    try {
        log.append();
        log.setFieldText(QStringLiteral("DDATE"), logDate(now.date()));
        log.setFieldText(QStringLiteral("DTIME"), logTime(now.time()));
        log.setFieldText(QStringLiteral("USERNAME"), userName);
        log.setFieldText(QStringLiteral("MSG"), loggedMessage(editorText));
        log.post();
    } catch (const store::StoreError& e) {
        try {
            log.cancel();
        } catch (const store::StoreError&) {
        }
        error(e.message());
    }
}

void MessagePreparation::PrepareGroupMessage(const QString& item)
{
    const QString groupName = item.mid(7, 16);
    untick(item);
    const QString path = memberFilePath(desk_.dataDirectory(), groupName);
    QStringList members;
    if (!QFileInfo(path).isFile() || !readMemberFile(path, &members)) {
        info(QStringLiteral("Group ") + groupName + QStringLiteral(" doesn't exist."));
        return;
    }

    // Carrier + ";" + pager ID for every member that is in the directory and not paged directly.
    // The users are found through their unique USERNAME tag, so a large group costs one index
    // look-up a member rather than a walk over the users.
    store::Table& users = desk_.BUsersT;
    if (users.indexName() != kUserName)
        users.selectTag(kUserName);
    QStringList entries;
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
        entries << carrier + u';' + users.fieldText(kPagerId);
    }

    const QString editorText = selectedEditorText();
    if (c_.messagelog->isChecked())
        appendLogRecord(QStringLiteral("Group: ") + groupName, editorText);

    std::stable_sort(entries.begin(), entries.end(),
        [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
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

    store::Table& carriers = desk_.PagerCompT;
    const QString outsideLine = c_.outsideLine ? c_.outsideLine() : QString();
    const QString text = fittedMessage(message, true);
    bool cutReported = false;
    for (qsizetype first = 0; first < entries.size();) {
        const QString carrier = entries.at(first).section(u';', 0, 0);
        QStringList pagerIds;
        qsizetype next = first;
        for (; next < entries.size() && entries.at(next).section(u';', 0, 0) == carrier; ++next)
            pagerIds << entries.at(next).section(u';', 1);
        first = next;

        // A run without its carrier would reach the delivery loop with no number to dial: it is
        // refused whole rather than queued half-built.
        if (!carriers.locate(kCarrierName, carrier)) {
            status(QStringLiteral("Carrier ") + carrier + QStringLiteral(" of group ") + groupName
                + QStringLiteral(" not found in Carriers database; not sent to its members"));
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
        page.retries = desk_.DeliveryRetriesValue;
        // A run whose IDs overflow PagerPhone goes as several pages of whole IDs, each an ordinary
        // page of the queue.
        for (const QString& pagerPhone : groupPagerPhones(pagerIds)) {
            page.pagerPhone = pagerPhone;
            if (InDebugMode())
                info(desk_.Engine1.PagerPhone);
            appendPage(desk_.SendMsgs, page);
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
    const QFileInfo found(name);
    // Only a file counts: a folder of that name, or nothing, leaves the tick alone.
    if (!found.isFile()) {
        undeletableFile_.clear();
        return false;
    }
    // The file already reported as undeletable, unchanged: it is not read again, and the tick goes on.
    const QString identity = fileIdentity(name);
    if (!undeletableFile_.isEmpty() && identity == undeletableFile_)
        return false;

    QByteArray bytes;
    QString readError;
    {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly)) {
            bytes = file.read(kMessageFileReadLimit);
            if (file.error() != QFileDevice::NoError)
                readError = file.errorString();
        } else {
            readError = file.errorString();
        }
    }
    // Consumed whatever it holds. A file that stays would be paged again at every idle tick, so
    // one that cannot be deleted is not paged at all, and reported once.
    QFile file(name);
    if (!file.remove()) {
        undeletableFile_ = identity;
        status(QStringLiteral("File plimomsgs.txt cannot be deleted and is not paged: ") + file.errorString());
        return true;
    }
    undeletableFile_.clear();
    if (!readError.isEmpty()) {
        status(QStringLiteral("File plimomsgs.txt could not be read: ") + readError);
        return true;
    }

    const QStringList lines = messageFileLines(bytes);
    if (lines.size() < 3) {
        status(QStringLiteral("File plimomsgs.txt does not contain required information."));
        return true;
    }
    try {
        QString pagerId = lines.at(0);
        if (desk_.BUsersT.locate(kUserName, lines.at(0)))
            pagerId = desk_.BUsersT.fieldText(kPagerId);
        store::Table& carriers = desk_.PagerCompT;
        if (!carriers.locate(kCarrierName, lines.at(1))) {
            status(QStringLiteral("Paging carrier ") + shownFromFile(lines.at(1))
                + QStringLiteral(" not found."));
            return true;
        }
        const QString message = messageFromFileLines(lines);
        if (message.isEmpty()) {
            status(QStringLiteral("Message from file is too short"));
            return true;
        }
        Page page;
        page.messageToSend = fittedMessage(message, false);
        page.messageSize = carriers.fieldInt(kHostChars);
        page.networkPhone = carrierDialString(c_.outsideLine ? c_.outsideLine() : QString(),
            carriers.fieldText(kHostTel), carriers.fieldText(kHostPassword));
        page.baudRate = carrierBaudRate(carriers.fieldText(kHostSpeed));
        page.pagerPhone = StripDashes(pagerId);
        page.userOrGroupName = QStringLiteral("From File ") + pagerId;
        page.retries = kFileRetries;
        appendPage(desk_.SendMsgs, page);
        if (page.messageToSend.size() < message.size())
            status(messageCutText(shownFromFile(lines.at(0)), page.messageToSend.size()));
    } catch (const std::exception& e) {
        error(QStringLiteral("The message of plimomsgs.txt could not be queued: ") + errorText(e));
    }
    return true;
}

} // namespace compose
