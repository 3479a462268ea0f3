#include "service/pagingservice.h"

#include "compose/composition.h"
#include "config/inifile.h"
#include "config/systemsettings.h"
#include "core/deliverymarks.h"
#include "core/desk.h"
#include "core/page.h"
#include "core/pagenotes.h"
#include "core/pendinglist.h"
#include "core/pendingqueue.h"
#include "core/queues.h"
#include "core/statuslist.h"
#include "intake/recipients.h"
#include "intake/sourceregistry.h"
#include "session/desksession.h"
#include "store/connection.h"
#include "store/memtable.h"
#include "store/storeerror.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace service {

namespace {

int stopPipe[2] = { -1, -1 };

void onStopSignal(int)
{
    const char byte = 1;
    // Nothing else is safe in a signal handler; the event loop reads the byte.
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

QString stamped(const QString& text)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral("  ")
        + text;
}

// The tick of a run; tests shorten it (the desk's is one second).
int tickMilliseconds()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("PLIMOPAGERD_TICK_MS", &ok);
    return ok && ms > 0 ? ms : 1000;
}

} // namespace

PagingService::PagingService(Options options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
}

PagingService::~PagingService()
{
    if (signalNotifier_) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }
}

QString PagingService::defaultDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u'/';
}

void PagingService::print(const QString& line)
{
    QTextStream out(stdout);
    out << stamped(line) << Qt::endl;
}

void PagingService::printError(const QString& text)
{
    QTextStream err(stderr);
    err << "plimopagerd: " << text << Qt::endl;
}

int PagingService::run()
{
    QString folder = options_.dataFolder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    // A folder named on the command line is the operator's: a mistyped one is said, not made empty.
    if (options_.dataFolderGiven && !QFileInfo(folder).isDir()) {
        printError(QStringLiteral("the data folder %1 does not exist").arg(folder));
        return ExitCannotRun;
    }
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
        printError(QStringLiteral("the data folder %1 cannot be made").arg(folder));
        return ExitCannotRun;
    }
    folder = QDir(folder).canonicalPath() + u'/';
    if (!options_.configFile.isEmpty())
        config::setPagerIniPath(QFileInfo(options_.configFile).absoluteFilePath());

    // Nothing is touched before the folder is ours.
    switch (lock_.acquire(folder, QStringLiteral("plimopagerd"))) {
    case session::RunnerLock::Result::Held:
        break;
    case session::RunnerLock::Result::HeldByOther:
        printError(lock_.heldMessage(folder));
        return ExitCannotRun;
    case session::RunnerLock::Result::Failed:
        printError(lock_.error());
        return ExitCannotRun;
    }
    // The pending file and the message file live in the current directory, as for the desk.
    QDir::setCurrent(folder);

    if (options_.listPending)
        return listPending();
    if (options_.addSource)
        return addSource();

    session_ = std::make_unique<session::DeskSession>(folder);
    session::DeskSession& s = *session_;
    s.setTickInterval(tickMilliseconds());
    connect(&s, &session::DeskSession::statusLine, this, &PagingService::print);
    // Nobody answers a box here: its text is a status line.
    connect(&s, &session::DeskSession::infoRequested, this, &PagingService::print);
    connect(&s, &session::DeskSession::errorRaised, this, [this](const QString& text) {
        print(QStringLiteral("Error: ") + text);
    });
    s.composition().setMessageLog(config::SystemSettings::serviceMessageLogEnabled());
    // The folder's lock checked at every tick: once its file is removed or replaced, another runner
    // may own the folder, so the run ends (the page under way stays queued) and its pages go to a
    // file of lost pages, which the next runner to start takes up.
    s.watchLock(&lock_);
    connect(&s, &session::DeskSession::lockLost, this, [this] {
        session_->cancelPageKeepingIt();
        QCoreApplication::exit(ExitCannotRun);
    });

    // A pass of its own (cron) takes nothing from the network: only a running service listens.
    s.startsListeners = !options_.once;
    const QString failure = s.open();
    core::Desk& desk = s.desk();
    for (const QString& fault : desk.startupFaults())
        print(fault);
    for (const QString& notice : desk.startupNotices())
        print(notice);
    if (!failure.isEmpty()) {
        printError(failure);
        // The restored pending pages stay in the file as they were.
        return ExitCannotRun;
    }
    print(QStringLiteral("Paging service on %1: %2 pending").arg(folder).arg(desk.PendingMsgs().rowCount()));

    if (options_.resendPending) {
        const int moved = core::resendAllPending(desk);
        print(QStringLiteral("%1 pending pages moved back to the send queue").arg(moved));
    }
    watchStopSignals();
    return options_.once ? runOnce() : runService();
}

int PagingService::listPending()
{
    store::TMemTable queue;
    queue.setFieldDefinitions(core::pendingQueueFields());
    QString keptAs;
    const QString fault = core::loadPendingQueue(queue, QString::fromLatin1(core::PendingQueueFileName), &keptAs);
    if (!fault.isEmpty())
        printError(fault + (keptAs.isEmpty() ? QString() : QStringLiteral(" The file is kept as %1.").arg(keptAs)));
    QTextStream out(stdout);
    const QString side = core::DeliveryMarks::sideFilePath(QString::fromLatin1(core::PendingQueueFileName));
    core::DeliveryMarks marks;
    marks.load(side);
    core::PageNotes notes;
    notes.load(side);
    // One page a line, the columns of the Pending Messages window, and "may have been delivered" for
    // a page the terminal may have taken before a stop. The dial string is not shown: it holds the
    // terminal's password. A line break in a name or a message would forge another line.
    const auto entries = core::pendingEntries(queue, notes, marks, core::carrierNames(store::Connection(QDir::currentPath())));
    for (const core::PendingEntry& entry : entries) {
        QStringList texts = core::pendingColumnTexts(entry);
        for (QString& text : texts)
            text = core::shownText(text);
        out << texts.join(u'\t');
        if (entry.maybeDelivered)
            out << "\tmay have been delivered";
        out << '\n';
    }
    out.flush();
    return fault.isEmpty() ? ExitDone : ExitCannotRun;
}

int PagingService::addSource()
{
    core::Desk desk(QDir::currentPath());
    const QString failure = desk.open();
    for (const QString& line : desk.startupFaults() + desk.startupNotices() + desk.lostPagesTaken())
        printError(line);
    if (!failure.isEmpty()) {
        printError(failure);
        return ExitCannotRun;
    }
    const Options::NewSource& wanted = *options_.addSource;
    try {
        const QString recipient = intake::RecipientFinder(desk.Plimo32()).find(wanted.recipient);
        if (recipient.isEmpty()) {
            printError(QStringLiteral("no user, pager ID or group of the directory is named %1").arg(wanted.recipient));
            return ExitCannotRun;
        }
        QString refusal;
        const QByteArray token = intake::SourceRegistry(desk.SourcesT()).add(wanted.name, wanted.kind, recipient, &refusal);
        if (token.isEmpty()) {
            printError(refusal);
            return ExitCannotRun;
        }
        printError(QStringLiteral("source %1 (%2) added, paging %3; its token follows and is not shown again")
                       .arg(wanted.name, wanted.kind.toUpper(), recipient));
        QTextStream(stdout) << token << Qt::endl;
    } catch (const store::StoreError& e) {
        printError(e.message());
        return ExitCannotRun;
    }
    return ExitDone;
}

int PagingService::runOnce()
{
    session::DeskSession& s = *session_;
    core::Desk& desk = s.desk();
    const int pendingBefore = desk.PendingMsgs().rowCount();
    const int refusedBefore = desk.outcomes().refusedCount();
    s.takeMessageFile();
    if (desk.ScheduledSendingEnabled()) {
        while (s.runScheduledScan()) {
        }
    }
    // Ticks until nothing is queued or under way: retries are attempts on later ticks.
    QTimer ticks;
    ticks.setInterval(s.tickInterval());
    connect(&ticks, &QTimer::timeout, this, [&] {
        if (stopped_)
            return;
        s.tick();
        if (!desk.pageInProgress() && desk.SendMsgs().isEmpty())
            QCoreApplication::exit(0);
    });
    ticks.start();
    if (!desk.SendMsgs().isEmpty() || desk.pageInProgress())
        QCoreApplication::exec();
    ticks.stop();
    if (s.hasLostLock())
        return keepLostPages();
    if (!saveQueues())
        return ExitPagesPending;
    if (stopped_)
        return ExitDone;
    const int stayed = desk.PendingMsgs().rowCount() - pendingBefore;
    if (stayed > 0)
        print(QStringLiteral("%1 pages of this pass stayed pending").arg(stayed));
    const int refused = desk.outcomes().refusedCount() - refusedBefore;
    if (refused > 0)
        print(QStringLiteral("%1 pages of this pass were refused").arg(refused));
    return stayed > 0 || refused > 0 ? ExitPagesPending : ExitDone;
}

int PagingService::runService()
{
    session_->start();
    QCoreApplication::exec();
    session_->stop();
    if (session_->hasLostLock())
        return keepLostPages();
    return saveQueues() ? ExitDone : ExitPagesPending;
}

int PagingService::keepLostPages()
{
    // The queues go to the file of lost pages the session named when it lost the lock.
    const QString failure = session_->saveQueues();
    if (!failure.isEmpty())
        printError(QStringLiteral("The pages could not be kept in %1: %2").arg(session_->lostPagesPath(), failure));
    return ExitCannotRun;
}

bool PagingService::saveQueues()
{
    const QString failure = session_->saveQueues();
    if (failure.isEmpty())
        return true;
    printError(QStringLiteral("The pending messages could not be saved: ") + failure);
    return false;
}

void PagingService::watchStopSignals()
{
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    signalNotifier_ = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, &PagingService::stopOnSignal);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void PagingService::stopOnSignal()
{
    char byte;
    while (::read(stopPipe[0], &byte, 1) > 0) {
    }
    if (stopped_)
        return;
    stopped_ = true;
    print(QStringLiteral("Stopping: the page under way, if any, stays pending"));
    session_->stop();
    session_->cancelPageKeepingIt();
    QCoreApplication::exit(0);
}

} // namespace service

#include "moc_pagingservice.cpp"
