#include "core/deliveryloop.h"

#include "core/desk.h"
#include "core/engineparams.h"
#include "core/pendingqueue.h"
#include "core/queues.h"
#include "paging/pageengine.h"

#include <QFileInfo>

namespace core {

namespace {

const QString kName = QString::fromLatin1(page::UserOrGroupName);
const QString kMessage = QString::fromLatin1(page::MessageToSend);

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
    if (desk_.PageInProgress || desk_.ScheduleScanActive)
        return;
    if (!desk_.SendMsgs.isEmpty()) {
        startHeadPage();
        return;
    }
    // Only a file counts: a folder of that name is no message, and must not keep the scheduled
    // scan from ever running; nor must a file that cannot be deleted, once it has been reported.
    if (QFileInfo(messageFileName()).isFile() && (!ReadPageMsgFromFile || ReadPageMsgFromFile()))
        return;
    if (now.second() % 15 == 0 && desk_.ScheduledSendingEnabled && ScheduledScan)
        ScheduledScan();
}

void DeliveryLoop::startHeadPage()
{
    store::TMemTable& queue = desk_.SendMsgs;
    if (queue.isEmpty())
        return;
    if (SetEngineParams)
        SetEngineParams();
    desk_.PageInProgress = true;
    try {
        queue.first();
        startedName_ = queue.fieldText(kName);
        startedMessage_ = queue.fieldText(kMessage);
        engine_.MessageToSend = startedMessage_;
        engine_.NetworkPhone = queue.fieldText(QString::fromLatin1(page::NetworkPhone));
        engine_.PagerPhone = queue.fieldText(QString::fromLatin1(page::PagerPhone));
        engine_.MessageSize = queue.fieldInt(QString::fromLatin1(page::MessageSize));
        engine_.BaudRate = queue.fieldText(QString::fromLatin1(page::BaudRate));
        startedRowQueued_ = true;
        engine_.Send();
    } catch (...) {
        // The page never reached the engine: it stays queued and the next tick may try again.
        desk_.PageInProgress = false;
        throw;
    }
    if (engine_.statusCode() != 0) {
        // Refused: the library posts nothing for this page. It waits in the pending queue.
        desk_.PageInProgress = false;
        ShowErrorStatus();
        if (startedRowQueued_ && !queue.isEmpty()) {
            queue.first();
            startedRowQueued_ = false;
            movePage(queue, desk_.PendingMsgs);
        }
        return;
    }
    emit sendingShown();
    emit status(QStringLiteral("Sending message to ") + startedName_);
}

void DeliveryLoop::dropStartedRow()
{
    if (!startedRowQueued_)
        return;
    startedRowQueued_ = false;
    if (!desk_.SendMsgs.isEmpty()) {
        desk_.SendMsgs.first();
        desk_.SendMsgs.deleteRow();
    }
}

void DeliveryLoop::ShowErrorStatus()
{
    emit sendingShown();
    const int code = engine_.statusCode();
    if (code >= 30) {
        emit sendingProgress(engine_.statusText());
        return;
    }
    if (code == 0) {
        emit status(
            QStringLiteral("Sent to ") + startedName_ + QStringLiteral(": ") + startedMessage_.left(40));
        dropStartedRow();
        return; // the end-of-page decision leaves the queues alone for a delivered page
    }
    if (code == 24) {
        emit status(QStringLiteral("Group message included one or more bad pager IDs"));
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
    desk_.PageInProgress = false;
    emit pageEnded();
    // Only the page that was started is retried or moved; once it has left, the row behind it is
    // another page, which waits for its own turn.
    const bool queued = startedRowQueued_;
    startedRowQueued_ = false;
    if (queued)
        PendingMessages(desk_.SendMsgs, desk_.PendingMsgs, engine_.statusCode());
}

void DeliveryLoop::BitBtn7Click()
{
    if (!desk_.PageInProgress)
        return;
    dropStartedRow();
    try {
        engine_.Abort();
    } catch (...) {
        desk_.PageInProgress = false;
        throw;
    }
    desk_.PageInProgress = false;
    emit sendingHidden();
    emit pageEnded();
    // A page that ended under the abort still posts its end; that one is not the next page's.
    abortedPageFinishing_ = engine_.statusCode() < 30;
}

} // namespace core
