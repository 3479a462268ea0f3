#include "core/deliverytracker.h"

#include "core/desk.h"
#include "core/page.h"
#include "core/pageoutcomes.h"
#include "core/recipientname.h"
#include "paging/wctpclient.h"
#include "paging/wctpdelivery.h"
#include "store/fieldnames.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QLocale>

#include <sys/eventfd.h>
#include <unistd.h>

namespace core {

namespace {

using paging::wctp::Delivery;

constexpr qint64 kGiveUpMs = qint64(paging::wctp::kQueryGiveUpMinutes) * 60 * 1000;

QString clockText(const QDateTime& moment)
{
    return QLocale::c().toString(moment.time(), QStringLiteral("hh:mm"));
}

// Whom a status line names when nobody said: the row's person, else its pager ID.
QString whom(const StatusRow& row)
{
    return row.userName.isEmpty() || isGroupRecipient(row.userName) ? row.pagerId : row.userName;
}

// The credentials of the WCTP path at `address`, from any carrier's paths (a handle of its own, so
// that the carriers window's current path stays where it is).
paging::DeliveryPath wctpPathAt(Desk& desk, const QString& address)
{
    using namespace store::carrpath;
    paging::DeliveryPath path;
    path.method = QStringLiteral("WCTP");
    path.address = address;
    store::Table paths;
    paths.setConnection(desk.Plimo32());
    paths.setTableName(store::carrPathSchema().openedAs);
    paths.open();
    for (paths.first(); !paths.eof(); paths.next()) {
        if (paging::pathMethod(paths.fieldText(Method)) == paging::PathMethod::Wctp
            && paging::shownAddress({ paths.fieldText(Method), paths.fieldText(Address), {}, {}, 0, {} })
                == address.trimmed()) {
            path.address = paths.fieldText(Address).trimmed(); // with a password the row leaves out
            path.login = paths.fieldText(Login);
            path.password = paths.fieldText(Password);
            break;
        }
    }
    return path;
}

// The recipient of message log record `logRecord` ("" when it cannot be read), through a handle of
// its own: a group's rows name its members, the log names the group.
QString loggedRecipient(Desk& desk, const QString& logRecord)
{
    bool ok = false;
    const quint32 recNo = logRecord.toUInt(&ok);
    if (!ok || recNo == 0)
        return {};
    try {
        store::Table log;
        log.setConnection(desk.Plimo32());
        log.setTableName(store::msgLogSchema().openedAs);
        log.open();
        log.selectTag(QString());
        return log.goToEntry(recNo - 1) ? log.fieldText(store::msglog::UserName) : QString();
    } catch (const store::StoreError&) {
        return {};
    }
}

} // namespace

DeliveryTracker::DeliveryTracker(Desk& desk, QObject* parent)
    : QObject(parent)
    , desk_(desk)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DeliveryTracker::queryNext);
    cancelFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_.setObjectName(QStringLiteral("DeliveryTracker"));
    worker_ = new QObject;
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

DeliveryTracker::~DeliveryTracker()
{
    if (cancelFd_ >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t w = ::write(cancelFd_, &one, sizeof one);
    }
    thread_.quit();
    thread_.wait();
    if (cancelFd_ >= 0)
        ::close(cancelFd_);
}

void DeliveryTracker::setIntervals(int firstMs, int defaultMs)
{
    firstMs_ = firstMs;
    defaultMs_ = defaultMs;
}

void DeliveryTracker::accepted(const StatusRow& row, const paging::DeliveryPath& path, const QString& whom)
{
    follow(row, path, now(), whom);
    plan();
}

void DeliveryTracker::restore()
{
    const QDateTime moment = now();
    QList<StatusRow> open;
    try {
        open = openRows(desk_.DlvStatT(), moment.addMSecs(-kGiveUpMs), kMaxRestored);
    } catch (const store::StoreError& e) {
        recordFault(e.message());
        return;
    }
    QHash<QString, paging::DeliveryPath> paths;
    QHash<QString, QString> recipients; // by log record
    for (const StatusRow& row : open) {
        if (paging::pathMethod(row.method) != paging::PathMethod::Wctp)
            continue;
        if (!paths.contains(row.address)) {
            try {
                paths.insert(row.address, wctpPathAt(desk_, row.address));
            } catch (const store::StoreError& e) {
                recordFault(e.message());
                return;
            }
        }
        // Known only as the time of its last change: followed for 30 minutes from then.
        if (!recipients.contains(row.logRecord))
            recipients.insert(row.logRecord, loggedRecipient(desk_, row.logRecord));
        const QString recipient = recipients.value(row.logRecord);
        follow(row, paths.value(row.address), row.changed,
            isGroupRecipient(recipient) && !isGroupRecipient(row.userName)
                ? whom(row) + QStringLiteral(" (") + recipient + u')'
                : whom(row));
    }
    plan();
}

void DeliveryTracker::follow(
    const StatusRow& row, const paging::DeliveryPath& path, const QDateTime& acceptedAt, const QString& whom)
{
    if (row.tracking.trimmed().isEmpty())
        return;
    const quint64 id = nextId_++;
    const Followed& item = followed_[id] = { row, path, acceptedAt.addMSecs(kGiveUpMs), now().addMSecs(firstMs_), whom, id };
    due_.insert({ item.due(), id });
}

void DeliveryTracker::plan()
{
    if (querying_)
        return;
    if (due_.empty()) {
        timer_.stop();
        return;
    }
    timer_.start(int(std::clamp<qint64>(now().msecsTo(due_.begin()->first), 0, 24 * 3600 * 1000)));
}

void DeliveryTracker::queryNext()
{
    const QDateTime moment = now();
    // Those past their 30 minutes are given up as they come due; the first due to be asked is asked.
    const Followed* asked = nullptr;
    while (!asked && !due_.empty() && due_.begin()->first <= moment) {
        const quint64 id = due_.begin()->second;
        due_.erase(due_.begin());
        const auto found = followed_.find(id);
        if (found == followed_.end())
            continue;
        if (moment >= found->second.giveUpAt) {
            emit status(QStringLiteral("No delivery report for %1 within %2 minutes")
                            .arg(found->second.whom)
                            .arg(paging::wctp::kQueryGiveUpMinutes));
            followed_.erase(found);
            continue;
        }
        asked = &found->second;
    }
    if (!asked) {
        plan();
        return;
    }
    const Followed& item = *asked;
    const paging::WctpTarget target { QUrl(item.path.address.trimmed()), item.path.login, item.path.password };
    const QString tracking = item.row.tracking;
    const quint64 id = item.id;
    const QString pagerId = item.row.pagerId;
    const int cancelFd = cancelFd_;
    querying_ = true;
    // The answer comes back to this object's thread; a tracker destroyed meanwhile cancels the query
    // and waits for the thread first, so the posted answer never outlives it.
    QMetaObject::invokeMethod(worker_, [this, target, tracking, pagerId, cancelFd, id] {
        paging::WctpClient client(target, cancelFd);
        const paging::WctpClient::QueryResult r = client.query(pagerId, tracking);
        QMetaObject::invokeMethod(this, [=, this] {
            answered(id, r.status, int(r.answer.state), r.answer.when,
                r.status != 0 ? r.detail : r.answer.errorText, r.answer.nextPollSeconds);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void DeliveryTracker::answered(
    quint64 id, int code, int state, const QDateTime& when, const QString& errorText, int nextPollSeconds)
{
    querying_ = false;
    const auto found = followed_.find(id);
    if (found == followed_.end()) {
        plan();
        return;
    }
    Followed& item = found->second;
    const QDateTime moment = now();
    // A query the carrier did not answer is asked again later; the page's status is not known to
    // have changed.
    item.nextQuery = moment.addMSecs(code == 0 && nextPollSeconds > 0 ? qint64(nextPollSeconds) * 1000 : defaultMs_);
    const QString at = clockText(when.isValid() ? when.toLocalTime() : moment);
    bool done = false;
    if (code == 0) {
        switch (Delivery(state)) {
        case Delivery::Queued:
            if (item.row.status != kQueued)
                record(item, kQueued, QStringLiteral("Queued at the carrier for ") + item.whom);
            break;
        case Delivery::Delivered:
            record(item, kDelivered, QStringLiteral("Delivered to %1 at %2").arg(item.whom, at));
            done = true;
            break;
        case Delivery::Read:
            record(item, kRead, QStringLiteral("Delivered to %1, read at %2").arg(item.whom, at));
            done = true;
            break;
        case Delivery::Failed:
            record(item, kFailed,
                QStringLiteral("Not delivered to %1: %2").arg(item.whom, errorText.simplified().left(80)));
            done = true;
            break;
        case Delivery::Unknown:
            break;
        }
    }
    if (done)
        followed_.erase(found);
    else
        due_.insert({ item.due(), id });
    plan();
}

void DeliveryTracker::record(Followed& item, const QString& value, const QString& line)
{
    item.row.status = value;
    try {
        desk_.outcomes().checkTableFile();
        if (!updateStatusRow(desk_.DlvStatT(), item.row.recNo, value, now()))
            recordFault(QStringLiteral("no row for tracking number ") + item.row.tracking);
    } catch (const store::StoreError& e) {
        recordFault(e.message());
    }
    emit status(line);
}

void DeliveryTracker::recordFault(const QString& text)
{
    // Said once for each new fault: a table another program keeps locked would say it at every query.
    if (text == lastFault_)
        return;
    lastFault_ = text;
    emit status(QStringLiteral("The delivery status could not be saved: ") + text);
}

} // namespace core

#include "moc_deliverytracker.cpp"
