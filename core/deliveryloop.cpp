#include "core/deliveryloop.h"

#include "core/carrierpaths.h"
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
    loadPage(started_, engine_);
    loadPaths();
    startedRowQueued_ = true;
    engine_.Send();
    if (engine_.statusCode() != 0) {
        // Refused: the library posts nothing for this page. It waits in the pending queue.
        mark.release();
        ShowErrorStatus();
        if (startedRowQueued_ && !queue.isEmpty()) {
            queue.first();
            startedRowQueued_ = false;
            movePage(queue, desk_.PendingMsgs());
        }
        return;
    }
    pageMark_ = std::move(mark);
    emit sendingShown();
    emit status(QStringLiteral("Sending message to ") + started_.userOrGroupName);
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

QString DeliveryLoop::sentLine() const
{
    const QString via = engine_.Paths.isEmpty() ? QString() : engine_.deliveredVia();
    return QStringLiteral("Sent to ") + started_.userOrGroupName
        + (via.isEmpty() ? QString() : QStringLiteral(" via ") + via) + QStringLiteral(": ")
        + started_.shownText().left(40);
}

void DeliveryLoop::followAccepted()
{
    if (!tracker || engine_.Paths.isEmpty())
        return;
    const QString via = engine_.deliveredVia();
    for (const paging::DeliveryPath& path : std::as_const(engine_.Paths)) {
        if (paging::pathMethod(path.method) == paging::PathMethod::Wctp && paging::describe(path) == via) {
            tracker->accepted(started_, path, engine_.wctpTickets());
            return;
        }
    }
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
    if (code >= 30) {
        // From the first block on the terminal may take the page: a desk stopped from here on keeps
        // it marked as one that may have been delivered.
        if (code == paging::SendingPage && startedRowQueued_ && !desk_.deliveryMarks().contains(started_)) {
            desk_.deliveryMarks().mark(started_);
            desk_.pendingFile().touch();
        }
        emit sendingProgress(engine_.statusText());
        return;
    }
    if (code == 0) {
        emit status(sentLine());
        followAccepted();
        dropStartedRow();
        return; // the end-of-page decision leaves the queues alone for a delivered page
    }
    if (code == 24) {
        emit status(QStringLiteral("Group message included one or more bad pager IDs"));
        followAccepted();
        dropStartedRow();
        return;
    }
    emit status(engine_.statusText());
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
    forgetMark();
    emit pageEnded();
    // Only the page that was started is retried or moved; once it has left, the row behind it is
    // another page, which waits for its own turn.
    const bool queued = startedRowQueued_;
    startedRowQueued_ = false;
    if (queued)
        PendingMessages(desk_.SendMsgs(), desk_.PendingMsgs(), engine_.statusCode());
}

void DeliveryLoop::BitBtn7Click()
{
    if (!desk_.pageInProgress())
        return;
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
