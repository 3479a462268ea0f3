#include "session/desksession.h"

#include "compose/preparation.h"
#include "core/clocktext.h"
#include "core/deliveryloop.h"
#include "core/deliverytracker.h"
#include "core/lostpages.h"
#include "core/page.h"
#include "core/statuslist.h"
#include "config/intakesettings.h"
#include "intake/listeners.h"
#include "intake/sessiongate.h"
#include "paging/pageengine.h"
#include "schedule/scheduledscan.h"
#include "session/runnerlock.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

namespace session {

namespace {

QString faultText(const std::exception_ptr& fault)
{
    try {
        std::rethrow_exception(fault);
    } catch (const store::StoreError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace

DeskSession::DeskSession(const QString& dataDirectory, QObject* parent)
    : QObject(parent)
    , clock([] { return QDateTime::currentDateTime(); })
    , desk_(std::make_unique<core::Desk>(dataDirectory))
    , composition_(new compose::Composition(this))
{
    composition_->setObjectName(QStringLiteral("Composition"));

    compose::DeskServices services;
    services.showStatus = [this](const QString& text) { report(text); };
    services.showInfo = [this](const QString& text) { emit infoRequested(text); };
    services.showError = [this](const QString& text) { emit errorRaised(text); };
    services.restoreWindow = [this] { emit restoreRequested(); };
    services.focusMessage = [this] { emit focusMessageRequested(); };
    preparation_ = std::make_unique<compose::MessagePreparation>(*desk_, *composition_, std::move(services));

    delivery_ = new core::DeliveryLoop(*desk_, desk_->Engine1(), this);
    connect(delivery_, &core::DeliveryLoop::status, this, &DeskSession::report);
    connect(delivery_, &core::DeliveryLoop::sendingShown, this, &DeskSession::sendingShown);
    connect(delivery_, &core::DeliveryLoop::sendingHidden, this, &DeskSession::sendingHidden);
    connect(delivery_, &core::DeliveryLoop::sendingProgress, this, &DeskSession::sendingProgress);
    connect(delivery_, &core::DeliveryLoop::pageEnded, this, [this] {
        composition_->setSendByPager(false);
        emit pageEnded();
    });
    delivery_->ReadPageMsgFromFile = [this] { return preparation_->ReadPageMsgFromFile(); };
    delivery_->ReadIncomingFile = [this] { return preparation_->takeIncomingFile(); };
    // An incoming file names its recipient as other programs do.
    preparation_->findRecipient = [this](const QString& typed) {
        return gate_ ? gate_->resolveRecipient(typed) : QString();
    };
    delivery_->clock = [this] { return clock(); };
    desk_->outcomes().clock = [this] { return clock(); };
    desk_->outcomes().fault = [this](const QString& text) { report(text); };

    tracker_ = std::make_unique<core::DeliveryTracker>(*desk_);
    tracker_->clock = [this] { return clock(); };
    connect(tracker_.get(), &core::DeliveryTracker::status, this, &DeskSession::report);
    delivery_->tracker = tracker_.get();

    scan_ = std::make_unique<schedule::ScheduledScan>(
        *desk_, [this](const QString& recipient, const QString& text) { sendToRecipient(recipient, text); });
    scan_->clock = [this] { return clock(); };
    scan_->showStatus = [this](const QString& text) { report(text); };
    delivery_->ScheduledScan = [this] { scan_->run(); };

    // The queues are kept on disk as they change; a write that fails is said once.
    connect(&desk_->pendingFile(), &core::PendingFile::writeFailed, this,
        [this](const QString& text) { report(QStringLiteral("The pending messages could not be saved: ") + text); });

    // Faults inside the paging component's events (the loop's handlers among them) are said like
    // any other.
    paging::TPageEngine::setErrorReporter([this](const QString& text) { emit errorRaised(text); });

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &DeskSession::tick);
}

DeskSession::~DeskSession()
{
    // Nothing more comes in from the network while the session goes.
    listeners_.reset();
    timer_->stop();
    paging::TPageEngine::setErrorReporter(nullptr);
    // The loop lets go of the engine's handlers before the desk that holds the engine goes.
    delete delivery_;
    delivery_ = nullptr;
}

QString DeskSession::open()
{
    const QString failure = desk_->open();
    intake::SessionGate::Services gateServices;
    gateServices.prepare = [this](const QString& item, const QString& text) {
        return preparation_->prepareReported(item, text);
    };
    gateServices.say = [this](const QString& text) { report(text); };
    gateServices.clock = [this] { return clock(); };
    gateServices.closedReason = [this] {
        return lockLost_ ? QStringLiteral("The desk no longer owns its data folder") : QString();
    };
    gate_ = std::make_unique<intake::SessionGate>(*desk_, std::move(gateServices));
    for (const QString& line : desk_->lostPagesTaken()) {
        startupLines_ << line;
        report(line);
    }
    // Pages the terminal may have taken before the desk stopped: the operator checks before a
    // resend.
    for (const core::Page& page : desk_->deliveryMarks().markedPages(desk_->PendingMsgs())) {
        startupLines_ << QStringLiteral("Pending message to %1 may have been delivered: the desk stopped "
                                        "while the terminal was taking it")
                             .arg(page.userOrGroupName);
        report(startupLines_.constLast());
    }
    if (const int pending = desk_->restoredPendingCount(); pending > 0) {
        startupLines_ << (pending == 1 ? QStringLiteral("1 page is pending from before: Pending Msgs to see it")
                                       : QStringLiteral("%1 pages are pending from before: Pending Msgs to see them")
                                             .arg(pending));
        report(startupLines_.constLast());
    }
    if (failure.isEmpty()) {
        tracker_->restore();
        try {
            composition_->recipients()->rebuild(desk_->recipientNames());
        } catch (const store::StoreError& e) {
            emit errorRaised(e.message());
        }
    }
    listeners_ = std::make_unique<intake::Listeners>(*gate_);
    if (failure.isEmpty() && startsListeners) {
        QString faults;
        const config::IntakeSettings settings = config::IntakeSettings::read(&faults);
        QStringList lines = listeners_->start(settings);
        if (!faults.isEmpty())
            lines.prepend(QStringLiteral("pager.ini [Intake]: ") + faults);
        for (const QString& line : std::as_const(lines)) {
            startupLines_ << line;
            report(line);
        }
    }
    return failure;
}

intake::Listeners& DeskSession::listeners()
{
    Q_ASSERT(listeners_);
    return *listeners_;
}

intake::Gate& DeskSession::gate()
{
    Q_ASSERT(gate_);
    return *gate_;
}

void DeskSession::setTickInterval(int milliseconds)
{
    timer_->setInterval(milliseconds);
}

int DeskSession::tickInterval() const
{
    return timer_->interval();
}

void DeskSession::start()
{
    if (lockLost_)
        return;
    timer_->start();
}

void DeskSession::stop()
{
    timer_->stop();
}

bool DeskSession::isRunning() const
{
    return timer_->isActive();
}

bool DeskSession::lockStillHeld()
{
    if (lockLost_)
        return false;
    if (!lock_ || lock_->stillHeld())
        return true;
    lockLost_ = true;
    timer_->stop();
    // The folder may be another runner's now: programs on the network are no longer taken.
    if (listeners_)
        listeners_->stop();
    // Beside the pending file, as the pages' next runner looks for them.
    lostPagesPath_ = core::lostPagesPath(
        QFileInfo(core::Desk::pendingFileName()).absolutePath(), QCoreApplication::applicationPid());
    const QString failure = desk_->keepQueuesAside(lostPagesPath_);
    const int pages = desk_->PendingMsgs().rowCount() + desk_->SendMsgs().rowCount();
    QString text = lock_->lostMessage();
    if (pages > 0) {
        const QString what = pages == 1 ? QStringLiteral("The page queued or pending is")
                                        : QStringLiteral("The %1 pages queued or pending are").arg(pages);
        text += failure.isEmpty() ? QStringLiteral(" %1 kept in %2.").arg(what, lostPagesPath_)
                                  : QStringLiteral(" %1 not kept: %2 could not be written: %3")
                                        .arg(what, lostPagesPath_, failure);
    }
    report(text);
    emit lockLost(text);
    return false;
}

void DeskSession::tick()
{
    if (!lockStillHeld())
        return;
    try {
        const QTime now = clock().time();
        const core::TickDisplay shown = desk_->tick(now);
        emit clockShown(shown.clock);
        if (!shown.idle)
            return;
        emit pendingShown(shown.pendingCaption, shown.pendingAlert);
        const QDateTime moment = QDateTime::currentDateTime();
        delivery_->tableWorkPaused = tablesRestUntil_.isValid() && moment < tablesRestUntil_;
        delivery_->idleTick(now);
    } catch (const store::LockedError& e) {
        // One wait, then the tables rest: the tick does not stall the window at every second while
        // another program keeps a table locked. Each table's lock is said once.
        tablesRestUntil_ = QDateTime::currentDateTime().addMSecs(kTableRestMs);
        if (e.message() != lastLockFault_)
            emit errorRaised(e.message());
        lastLockFault_ = e.message();
        return;
    } catch (...) {
        reportFault(std::current_exception());
    }
}

void DeskSession::reportFault(const std::exception_ptr& fault)
{
    emit errorRaised(faultText(fault));
}

void DeskSession::sendComposed()
{
    preparation_->SendBtnClick();
}

bool DeskSession::sendByPagerId(const QString& pagerId, const QString& carrier)
{
    return preparation_->sendByPagerId(pagerId, carrier);
}

void DeskSession::sendToRecipient(const QString& recipient, const QString& text)
{
    preparation_->prepareRecipient(recipient, text);
}

bool DeskSession::takeMessageFile()
{
    try {
        return preparation_->ReadPageMsgFromFile();
    } catch (...) {
        reportFault(std::current_exception());
        return true;
    }
}

bool DeskSession::runScheduledScan()
{
    if (desk_->pageInProgress() || desk_->scheduleScanActive())
        return false;
    try {
        return scan_->run();
    } catch (...) {
        reportFault(std::current_exception());
        return false;
    }
}

void DeskSession::abortPage()
{
    try {
        delivery_->BitBtn7Click();
    } catch (...) {
        reportFault(std::current_exception());
    }
}

void DeskSession::cancelPageKeepingIt()
{
    if (!desk_->pageInProgress())
        return;
    try {
        delivery_->cancelKeepingPage();
    } catch (...) {
        reportFault(std::current_exception());
    }
}

QString DeskSession::saveQueues()
{
    return desk_->saveQueues();
}

QString DeskSession::pageName() const
{
    return delivery_->deliveredName();
}

void DeskSession::report(const QString& text)
{
    const core::Page& page = delivery_->startedPage();
    core::StatusContext context;
    context.pageName = page.userOrGroupName;
    const QString pageText = page.shownText();
    context.firstLine = shownFirstLine ? shownFirstLine(pageText) : QString();
    if (context.firstLine.isNull())
        context.firstLine = pageText;
    emit statusLine(core::shownText(core::rewriteStatus(text, context)));
}

} // namespace session

#include "moc_desksession.cpp"
