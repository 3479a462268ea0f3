#include "core/deliveryloop.h"

#include "core/carrierpaths.h"
#include "core/deliverystatus.h"
#include "core/deliverytracker.h"
#include "core/desk.h"
#include "core/engineparams.h"
#include "core/page.h"
#include "core/pendingqueue.h"
#include "core/queues.h"
#include "paging/pageengine.h"
#include "paging/pagestatus.h"
#include "store/storeerror.h"

#include <QFile>

#include <algorithm>

#include <sys/stat.h>

namespace core {

namespace {

// Anything under the name, a dangling link included; one system call when nothing is there.
bool somethingNamed(const QString& name)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(name).constData(), &st) == 0;
}

} // namespace

DeliveryLoop::DeliveryLoop(Desk& desk, paging::TPageEngine& engine, QObject* parent)
    : QObject(parent)
    , desk_(desk)
    , engine_(engine)
{
    SetEngineParams = [&desk] { core::SetEngineParams(desk); };
    engine_.OnStatus = [this](paging::TPageEngine*) { ShowErrorStatus(); };
    engine_.OnFinished = [this](paging::TPageEngine*) { Engine1Finished(); };
}

DeliveryLoop::~DeliveryLoop()
{
    engine_.OnStatus = nullptr;
    engine_.OnFinished = nullptr;
}

QString DeliveryLoop::messageFileName()
{
    return QStringLiteral("plimomsgs.txt");
}

void DeliveryLoop::idleTick(const QTime& now)
{
    if (desk_.pageInProgress() || desk_.scheduleScanActive())
        return;
    if (!desk_.SendMsgs().isEmpty()) {
        startHeadPage();
        return;
    }
    if (tableWorkPaused)
        return;
    // Whatever stands under the name is the intake's to take or to say (a pipe, a link, a device);
    // a folder of that name, or a file already said to wait, does not keep the scheduled scan from
    // running.
    if (somethingNamed(messageFileName()) && (!ReadPageMsgFromFile || ReadPageMsgFromFile()))
        return;
    if (ReadIncomingFile && ReadIncomingFile())
        return;
    if (now.second() % 15 == 0 && desk_.ScheduledSendingEnabled() && ScheduledScan)
        ScheduledScan();
}

void DeliveryLoop::startHeadPage()
{
    store::TMemTable& queue = desk_.SendMsgs();
    if (queue.isEmpty())
        return;
    queue.first();
    Page head = currentPage(queue);
    desk_.pageNotes().fill(head);
    // A page that goes by its carrier's paths waits while the tables rest (another program keeps
    // one locked): it must not go the wrong way.
    if (!head.carrier.isEmpty() && tableWorkPaused)
        return;
    if (SetEngineParams)
        SetEngineParams();
    // Until the page has reached the engine a fault releases the mark: the page stays queued and the
    // next tick may try again.
    BusyMark mark = desk_.markPageInProgress();
    started_ = head;
    groupResults_.clear();
    failure_.clear();
    unsure_ = false;
    markedAtStart_ = desk_.deliveryMarks().contains(head);
    loadPage(started_, engine_);
    loadPaths();
    startedRowQueued_ = true;
    desk_.pageNotes().attempted(started_, now());
    engine_.Send();
    if (engine_.statusCode() != 0) {
        // Refused: the library posts nothing for this page. It waits in the pending queue.
        mark.release();
        ShowErrorStatus();
        if (startedRowQueued_ && !queue.isEmpty()) {
            queue.first();
            startedRowQueued_ = false;
            movePage(queue, desk_.PendingMsgs());
            failed(EndOfPage::MovedToPending);
        }
        return;
    }
    pageMark_ = std::move(mark);
    emit sendingShown();
    emit status(QStringLiteral("Sending message to ") + everyone());
}

void DeliveryLoop::loadPaths()
{
    engine_.Paths.clear();
    if (started_.carrier.isEmpty())
        return;
    try {
        engine_.Paths = enabledPaths(desk_, started_.carrier);
    } catch (const store::LockedError&) {
        throw; // the session lets the tables rest; the page stays queued
    } catch (const store::StoreError& e) {
        // The paths cannot be read at all (a damaged table): the page goes through the modem, as a
        // carrier without paths does.
        emit status(QStringLiteral("The delivery paths of %1 could not be read (%2); sending through the modem")
                        .arg(started_.carrier, e.message()));
    }
}

QString DeliveryLoop::everyone() const
{
    if (started_.members.isEmpty())
        return started_.userOrGroupName;
    constexpr qsizetype kNamed = 3;
    QStringList names = started_.members.mid(0, kNamed);
    if (started_.members.size() > kNamed)
        names << QStringLiteral("%1 more").arg(started_.members.size() - kNamed);
    return names.join(QStringLiteral(", ")) + QStringLiteral(" (") + started_.userOrGroupName + u')';
}

namespace {

// "511Invalid pager ID": a member the terminal refused (its ID), not one it never reached.
bool refusedId(const QString& result)
{
    return result.mid(3).startsWith(paging::statusText(paging::InvalidPagerId));
}

} // namespace

int DeliveryLoop::sayDelivered(bool onlyTaken)
{
    // The path that took the page: its method and address for the rows, its words for the lines.
    const QString via = engine_.Paths.isEmpty() ? QString() : engine_.deliveredVia();
    const paging::DeliveryPath* path = nullptr;
    for (const paging::DeliveryPath& p : std::as_const(engine_.Paths)) {
        if (paging::describe(p) == via) {
            path = &p;
            break;
        }
    }
    const bool wctp = path && paging::pathMethod(path->method) == paging::PathMethod::Wctp;
    const QString method = path ? path->method.trimmed().toUpper() : QStringLiteral("MODEM");
    const QString address = path ? paging::shownAddress(*path) : engine_.ComPort;
    const QList<paging::WctpTicket> tickets = wctp ? engine_.wctpTickets() : QList<paging::WctpTicket>();
    QList<bool> ticketUsed(tickets.size(), false);

    const QStringList ids = started_.pagerIds();
    const QString sentTail
        = (via.isEmpty() ? QString() : QStringLiteral(" via ") + via) + QStringLiteral(": ") + started_.shownText().left(40);
    int said = 0;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString who = started_.recipientAt(i);
        const QString result = groupResults_.value(int(i) + 1);
        if (!result.isEmpty()) {
            if (onlyTaken && !refusedId(result))
                continue; // not reached: it stays in the page
            // A member the terminal refused: "511Invalid pager ID".
            const QString response = result.left(3);
            const bool coded = response.size() == 3 && std::all_of(response.cbegin(), response.cend(), [](QChar c) {
                return c.isDigit();
            });
            const QString reason = coded ? result.mid(3) : result;
            emit status(QStringLiteral("Not sent to %1: %2%3")
                            .arg(who, reason,
                                coded && response != u"000" ? QStringLiteral(" (%1)").arg(response) : QString()));
            desk_.outcomes().set(started_, i, kFailed);
            ++said;
            continue;
        }
        ++said;
        emit status(QStringLiteral("Sent to ") + who + sentTail);
        // The carrier's tracking number for this pager ID, followed until the carrier reports; a
        // WCTP success without one cannot be followed: it was sent.
        QString tracking;
        for (qsizetype t = 0; t < tickets.size(); ++t) {
            if (!ticketUsed.at(t) && tickets.at(t).pagerId == ids.at(i)) {
                ticketUsed[t] = true;
                tracking = tickets.at(t).trackingNumber;
                break;
            }
        }
        if (tracking.isEmpty()) {
            desk_.outcomes().set(started_, i, kSent, method, address);
            continue;
        }
        StatusRow row;
        row.recNo = desk_.outcomes().set(started_, i, kAccepted, method, address, tracking);
        row.logRecord = started_.logRecord;
        row.pagerId = ids.at(i);
        row.userName = started_.userNameAt(i);
        row.method = method;
        row.address = address;
        row.tracking = tracking;
        row.status = kAccepted;
        row.changed = now();
        if (tracker)
            tracker->accepted(row, *path, who);
    }
    return said;
}

void DeliveryLoop::delivered()
{
    sayDelivered(false);
    desk_.pageNotes().forget(started_);
}

bool DeliveryLoop::keepUndelivered()
{
    const QStringList ids = started_.pagerIds();
    if (sayDelivered(true) == 0)
        return true;
    Page after = started_;
    after.pagerPhone.clear();
    after.members.clear();
    after.statusRows.clear();
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString result = groupResults_.value(int(i) + 1);
        if (result.isEmpty() || refusedId(result))
            continue;
        after.pagerPhone += ids.at(i) + u'^';
        if (i < started_.members.size())
            after.members << started_.members.at(i);
        after.statusRows << started_.statusRows.value(i);
    }
    store::TMemTable& queue = desk_.SendMsgs();
    queue.first();
    if (after.pagerPhone.isEmpty()) {
        // Every member was taken or refused: nothing is left to send.
        desk_.pageNotes().forget(started_);
        desk_.deliveryMarks().unmark(started_);
        queue.deleteRow();
        return false;
    }
    // The members that were taken leave the page; the others stay queued under its new IDs.
    queue.edit();
    queue.setFieldText(QString::fromLatin1(page::PagerPhone), after.pagerPhone);
    queue.post();
    desk_.pageNotes().replace(started_, after);
    if (desk_.deliveryMarks().contains(started_)) {
        desk_.deliveryMarks().unmark(started_);
        desk_.deliveryMarks().mark(after);
    }
    started_ = after;
    return true;
}

void DeliveryLoop::failed(EndOfPage decision)
{
    if (decision == EndOfPage::Left)
        return;
    const QString reason = failure_.isEmpty() ? engine_.statusText() : failure_;
    desk_.pageNotes().setReason(started_, reason);
    if (decision == EndOfPage::Retried) {
        emit status(QStringLiteral("%1: %2; trying again").arg(everyone(), reason));
    } else if (decision == EndOfPage::MovedToPending) {
        const int attempts = std::max(1, desk_.pageNotes().attempts(started_).count);
        emit status(QStringLiteral("%1: %2 after %3 %4; kept in Pending Messages%5")
                        .arg(everyone(), reason)
                        .arg(attempts)
                        .arg(attempts == 1 ? QStringLiteral("attempt") : QStringLiteral("attempts"),
                            unsure_ ? QStringLiteral(": it may have been delivered") : QString()));
        desk_.outcomes().setAll(started_, desk_.deliveryMarks().contains(started_) ? kUnsure : kPending);
    }
    desk_.pendingFile().touch();
}

void DeliveryLoop::dropStartedRow()
{
    if (!startedRowQueued_)
        return;
    startedRowQueued_ = false;
    if (!desk_.SendMsgs().isEmpty()) {
        desk_.SendMsgs().first();
        desk_.SendMsgs().deleteRow();
    }
}

void DeliveryLoop::ShowErrorStatus()
{
    emit sendingShown();
    const int code = engine_.statusCode();
    const QString text = engine_.statusText();
    if (text.startsWith(QStringLiteral("GroupRes"))) {
        // "GroupRes", a separator, then "place:result": kept until the attempt ends, when each
        // member's line is said.
        const QString rest = text.mid(9);
        const qsizetype colon = rest.indexOf(u':');
        if (colon > 0)
            groupResults_.insert(rest.left(colon).toInt(), rest.mid(colon + 1));
        return;
    }
    if (code == paging::PathFailed) {
        // What the failed path met is for the next path no longer.
        groupResults_.clear();
        emit status(QString(text).replace(
            QStringLiteral(" failed: "), QStringLiteral(" failed for ") + everyone() + QStringLiteral(": ")));
        return;
    }
    if (code >= 30) {
        // From the first block on the terminal may take the page: a desk stopped from here on keeps
        // it marked as one that may have been delivered.
        if (code == paging::SendingPage && startedRowQueued_ && !desk_.deliveryMarks().contains(started_)) {
            desk_.deliveryMarks().mark(started_);
            desk_.pendingFile().touch();
        }
        emit sendingProgress(text);
        return;
    }
    if (code == 0 || code == 24) {
        if (!startedRowQueued_)
            return;
        delivered();
        if (code == 24)
            emit status(QStringLiteral("Group message included one or more bad pager IDs"));
        dropStartedRow();
        return; // the end-of-page decision leaves the queues alone for a delivered page
    }
    // Said at the end of the attempt, with what became of the page.
    failure_ = text;
}

void DeliveryLoop::Engine1Finished()
{
    if (abortedPageFinishing_) {
        // The end of the page that "Abort Mesg" already dropped and cleared up after.
        abortedPageFinishing_ = false;
        return;
    }
    emit sendingHidden();
    pageMark_.release();
    const int code = engine_.statusCode();
    const bool failedCode = code > 0 && code < 30 && code != paging::GroupBadIds;
    // A failure after the page's bytes had left without a clear answer: it may have been delivered.
    // The mark stays (and a page marked before this attempt keeps its mark until it is sent).
    unsure_ = failedCode && engine_.mayHaveBeenDelivered();
    if (unsure_ && startedRowQueued_) {
        desk_.deliveryMarks().mark(started_);
        desk_.pendingFile().touch();
    } else if (!failedCode || !markedAtStart_) {
        forgetMark();
    }
    emit pageEnded();
    // Only the page that was started is retried or moved; once it has left, the row behind it is
    // another page, which waits for its own turn.
    bool queued = startedRowQueued_;
    startedRowQueued_ = false;
    // A group page's members that were taken before the failure leave it.
    if (queued && failedCode && code != paging::Cancelled && !groupResults_.isEmpty())
        queued = keepUndelivered();
    if (queued)
        failed(PendingMessages(desk_.SendMsgs(), desk_.PendingMsgs(), code, unsure_));
    else if (!failure_.isEmpty())
        emit status(everyone() + QStringLiteral(": ") + failure_);
}

void DeliveryLoop::BitBtn7Click()
{
    if (!desk_.pageInProgress())
        return;
    // Dropped by the operator: the page ends here.
    if (startedRowQueued_) {
        desk_.outcomes().setAll(started_, kFailed);
        desk_.pageNotes().forget(started_);
    }
    dropStartedRow();
    // The mark comes down whatever the abort meets.
    BusyMark mark = std::move(pageMark_);
    engine_.Abort();
    mark.release();
    forgetMark();
    emit sendingHidden();
    emit pageEnded();
    // A page that ended under the abort still posts its end; that one is not the next page's.
    abortedPageFinishing_ = engine_.statusCode() < 30;
}

void DeliveryLoop::forgetMark()
{
    // The attempt ended while the desk ran: what became of the page is known.
    if (desk_.deliveryMarks().contains(started_)) {
        desk_.deliveryMarks().unmark(started_);
        desk_.pendingFile().touch();
    }
}

void DeliveryLoop::cancelKeepingPage()
{
    if (!desk_.pageInProgress())
        return;
    // Neither retried nor moved by the end-of-page steps: the row stays as it was queued.
    startedRowQueued_ = false;
    BusyMark mark = std::move(pageMark_);
    engine_.Abort();
    mark.release();
    emit sendingHidden();
    abortedPageFinishing_ = engine_.statusCode() < 30;
}

} // namespace core

#include "moc_deliveryloop.cpp"
