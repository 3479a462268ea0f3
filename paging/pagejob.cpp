#include "pagejob.h"

#include "debuglog.h"
#include "dialstring.h"
#include "line.h"
#include "modemdialogue.h"
#include "pagestatus.h"
#include "serialline.h"
#include "snppdelivery.h"
#include "tapsession.h"
#include "tcpline.h"

#include <QCoreApplication>
#include <QSet>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace paging {

namespace {
// A status event; when Qt has delivered (and deletes) it, its status counts as read.
class StatusEvent : public QEvent {
public:
    StatusEvent(int type, std::weak_ptr<JobState> job, quint64 seq)
        : QEvent(QEvent::Type(type))
        , m_job(std::move(job))
        , m_seq(seq)
    {
    }
    ~StatusEvent() override
    {
        if (auto job = m_job.lock())
            job->markDelivered(m_seq);
    }

private:
    std::weak_ptr<JobState> m_job;
    quint64 m_seq;
};
// A dial command that would not fit the modem's command line (what follows "AT").
bool dialCommandTooLong(const QByteArray& command)
{
    return command.size() - 2 > modem::kMaxCommandChars;
}

} // namespace

JobState::JobState(QObject* receiver, int statusType, int finishedType)
    : m_receiver(receiver)
    , m_statusType(statusType)
    , m_finishedType(finishedType)
{
    m_latest.text = statusText(m_latest.code);
}

void JobState::post(int type, quint64 seq)
{
    // Called with m_mutex held, so detach() cannot slip in between the check and the post.
    if (m_receiver)
        QCoreApplication::postEvent(m_receiver, new StatusEvent(type, m_self, seq));
}

void JobState::report(int code, const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_latest = { m_nextSeq++, code, text.left(300), false };
    if (!m_receiver)
        return;
    m_unread.push_back(m_latest);
    post(m_statusType, m_latest.seq);
}

void JobState::finish(int code, const QString& text)
{
    QMutexLocker lock(&m_mutex);
    m_latest = { m_nextSeq++, code, text.left(300), false };
    m_finished = true; // the final status is ready before either event goes out
    if (!m_receiver)
        return;
    m_unread.push_back(m_latest);
    post(m_statusType, m_latest.seq);
    post(m_finishedType, 0);
}

int JobState::read(int* code, QString* text)
{
    QMutexLocker lock(&m_mutex);
    while (!m_unread.empty() && m_unread.front().delivered)
        m_unread.pop_front();
    StatusSnapshot s = m_latest;
    if (!m_unread.empty()) {
        s = m_unread.front();
        m_unread.pop_front();
    }
    *code = s.code;
    *text = s.text;
    return m_finished && m_unread.empty() && s.seq == m_latest.seq ? 1 : 0;
}

QList<WctpTicket> JobState::tickets() const
{
    QMutexLocker lock(&m_mutex);
    return m_tickets;
}

void JobState::setTickets(const QList<WctpTicket>& tickets)
{
    QMutexLocker lock(&m_mutex);
    m_tickets = tickets;
}

QString JobState::deliveredVia() const
{
    QMutexLocker lock(&m_mutex);
    return m_deliveredVia;
}

void JobState::setDeliveredVia(const QString& via)
{
    QMutexLocker lock(&m_mutex);
    m_deliveredVia = via;
}

bool JobState::unsure() const
{
    QMutexLocker lock(&m_mutex);
    return m_unsure;
}

void JobState::setUnsure(bool unsure)
{
    QMutexLocker lock(&m_mutex);
    m_unsure = unsure;
}

bool JobState::finished() const
{
    QMutexLocker lock(&m_mutex);
    return m_finished;
}

void JobState::detach(QObject* receiver)
{
    QMutexLocker lock(&m_mutex);
    if (m_receiver == receiver) {
        m_receiver = nullptr;
        m_unread.clear();
    }
}

void JobState::markDelivered(quint64 seq)
{
    QMutexLocker lock(&m_mutex);
    for (StatusSnapshot& s : m_unread)
        if (s.seq == seq)
            s.delivered = true;
}

PageJob::PageJob(
    const PageRequest& request, const PagePlan& plan, QObject* receiver, int statusType, int finishedType)
    : m_request(request)
    , m_plan(plan)
    , m_timings(protocolTimings())
    , m_state(std::make_shared<JobState>(receiver, statusType, finishedType))
{
    m_state->m_self = m_state;
    m_cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PageJob::~PageJob()
{
    cancel();
    join();
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
}

void PageJob::start()
{
    m_thread = std::thread([this] { run(); });
}

void PageJob::cancel()
{
    if (m_cancelFd >= 0 && !m_state->finished()) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t w = ::write(m_cancelFd, &one, sizeof one);
    }
}

void PageJob::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

void PageJob::run()
{
    DebugLog log(m_request.debugFile);
    // The terminal's, the servers' and the paths' passwords never reach the file.
    log.hide(dialstring::passwordPart(m_request.networkPhone));
    if (m_wctp)
        log.hide(m_wctp->password);
    for (const PathPlan& p : std::as_const(m_paths))
        log.hide(p.path.password);
    if (!m_paths.isEmpty()) {
        QStringList via;
        for (const PathPlan& p : m_paths)
            via << describe(p.path);
        log.note(QStringLiteral("page to %1 via %2").arg(m_request.pagerPhone, via.join(QLatin1String(", then "))));
    } else if (m_wctp)
        log.note(QStringLiteral("page to %1 via WCTP at %2").arg(m_request.pagerPhone, m_wctp->url.toString()));
    else
        log.note(QStringLiteral("page to %1 via %2 at %3")
                     .arg(m_request.pagerPhone, m_request.comPort, m_request.baudRate));
    const int code = m_paths.isEmpty() ? deliver(log) : deliverPaths(log);
    const QString text = m_finalDetail.isEmpty() || code == Successful
        ? statusText(code)
        : statusText(code) + QStringLiteral(": ") + m_finalDetail;
    log.note(QStringLiteral("final %1 %2").arg(code).arg(text));
    m_state->finish(code, text);
}

int PageJob::deliver(DebugLog& log)
{
    SnppTarget snpp;
    if (parseSnppPort(m_request.comPort, &snpp.host, &snpp.port)) {
        // Through an SNPP server: NetworkPhone is "LOGIN^PASSWORD" (no LOGI when LOGIN is empty).
        snpp.login = dialstring::numberPart(m_request.networkPhone).trimmed();
        snpp.password = dialstring::passwordPart(m_request.networkPhone);
        return deliverSnpp(m_plan, snpp, m_timings, m_cancelFd, log,
            [this](int code, const QString& text) { m_state->report(code, text); },
            [this](bool unsure) { m_state->setUnsure(unsure); }, &m_finalDetail);
    }
    if (m_wctp)
        return deliverWctp(log);
    return m_plan.numeric ? deliverNumeric(log) : deliverAlphanumeric(log);
}

// Each path in turn, within this one attempt: a retryable failure goes on to the next path; success,
// a failure for good (a refused login, a refused page, a cancel) or the last path's failure ends it.
int PageJob::deliverPaths(DebugLog& log)
{
    const PageRequest request = m_request;
    int code = BadParameters;
    for (qsizetype i = 0; i < m_paths.size(); ++i) {
        const PathPlan& path = m_paths.at(i);
        log.note(QStringLiteral("path %1 of %2: %3").arg(i + 1).arg(m_paths.size()).arg(describe(path.path)));
        m_request = request;
        m_plan = path.plan;
        m_wctp.reset();
        m_finalDetail.clear();
        // The path that takes the page, or the one the attempt ends on (a group's members taken
        // before a failure went that way).
        m_state->setDeliveredVia(describe(path.path));
        code = deliverPath(path, log);
        if (code == Successful || code == GroupBadIds)
            break;
        // Only a failure before the page could have been taken goes on to the next path: a page
        // that may have been delivered is not sent again through another carrier's door.
        if (!isRetryable(code) || m_state->unsure())
            break;
        log.note(QStringLiteral("%1 failed (%2 %3)%4")
                     .arg(describe(path.path))
                     .arg(code)
                     .arg(statusText(code))
                     .arg(i + 1 < m_paths.size() ? QStringLiteral(": trying the next path") : QString()));
        if (i + 1 < m_paths.size()) {
            // Said, so that a broken first path is seen although the next one delivers.
            auto number = [this](qsizetype place) {
                const QString own = m_paths.at(place).path.number.trimmed();
                return own.isEmpty() ? QStringLiteral("%1").arg(place + 1, 2, 10, QLatin1Char('0')) : own;
            };
            const QString failure
                = m_finalDetail.isEmpty() ? statusText(code) : statusText(code) + QStringLiteral(": ") + m_finalDetail;
            m_state->report(PathFailed, pathFailedText(number(i), describe(path.path), failure, number(i + 1)));
        }
    }
    m_request = request;
    return code;
}

int PageJob::deliverPath(const PathPlan& path, DebugLog& log)
{
    switch (pathMethod(path.path.method)) {
    case PathMethod::Modem: // the page's own port, modem and carrier number
        return deliver(log);
    case PathMethod::TapIp:
        m_request.comPort = QStringLiteral("tcp:") + path.path.address.trimmed();
        m_request.networkPhone = dialstring::networkPhone(QString(), path.path.password);
        return deliver(log);
    case PathMethod::Snpp: {
        SnppTarget snpp { QString(), 0, path.path.login.trimmed(), path.path.password };
        if (!parseHostPort(path.path.address, &snpp.host, &snpp.port))
            return BadParameters;
        return deliverSnpp(m_plan, snpp, m_timings, m_cancelFd, log,
            [this](int code, const QString& text) { m_state->report(code, text); },
            [this](bool unsure) { m_state->setUnsure(unsure); }, &m_finalDetail);
    }
    case PathMethod::Wctp:
        m_wctp = WctpTarget { QUrl(path.path.address.trimmed()), path.path.login, path.path.password };
        return deliverWctp(log);
    case PathMethod::Invalid:
        break;
    }
    return BadParameters;
}

int PageJob::deliverWctp(DebugLog& log)
{
    m_state->report(Connected, statusText(Connected));
    const WctpOutcome outcome = paging::deliverWctp(*m_wctp, m_plan, m_cancelFd, log,
        [this](int code, const QString& text) { m_state->report(code, text); });
    m_state->setTickets(outcome.tickets);
    if (outcome.code != Successful && outcome.code != GroupBadIds)
        m_state->setUnsure(outcome.unsure);
    // Login refusals and bad IDs keep their fixed texts (the desk's status lines know them).
    if (outcome.code != LoginRefused && outcome.code != InvalidPagerId && outcome.code != GroupBadIds)
        m_finalDetail = outcome.detail;
    return outcome.code;
}

int PageJob::openLine(DebugLog& log, std::unique_ptr<Line>* line)
{
    QString host;
    quint16 port = 0;
    QString error;
    const bool tcp = tcpline::parse(m_request.comPort, &host, &port);
    int fd = -1;
    int charMs = 0;
    if (tcp) {
        fd = tcpline::connect(host, port, m_timings.tcpConnectMs, m_cancelFd, &error);
    } else {
        const QString device = serialline::devicePath(m_request.comPort);
        if (device.isEmpty())
            error = QStringLiteral("no such port");
        else
            fd = serialline::open(device, m_plan.baud, &error);
        charMs = 10000 / std::max(m_plan.baud, 1); // 10 bits a character
    }
    if (fd < 0) {
        pollfd cancelled { m_cancelFd, POLLIN, 0 };
        if (::poll(&cancelled, 1, 0) > 0)
            return Cancelled; // CancelPage while connecting
        log.note(QStringLiteral("cannot open %1: %2").arg(m_request.comPort, error));
        return PortNotAvailable;
    }
    *line = std::make_unique<Line>(fd, m_cancelFd, &log, true, charMs);
    return Successful;
}

void PageJob::hangUp(Line& line, bool tcp, bool carrierLost)
{
    if (tcp || line.closed())
        return;
    m_state->report(HangingUp, statusText(HangingUp));
    ModemDialogue(line, m_timings).hangUp(true, carrierLost);
}

// Cancelled: the waits no longer listen for the cancel, and the modem is put on hook within a short,
// fixed time (DTR where the port has it, else "+++" and "ATH0"), so CancelPage ends the call at once
// and leaves no call up for the next page.
void PageJob::hangUpAfterCancel(Line& line, bool online)
{
    quint64 count = 0;
    [[maybe_unused]] const ssize_t r = ::read(m_cancelFd, &count, sizeof count);
    if (line.closed() || line.dropDtr())
        return;
    ModemDialogue(line, m_timings).hangUpQuickly(online);
}

// Opens the port (a TCP terminal is called by connecting), readies the modem and dials the carrier.
int PageJob::callTerminal(DebugLog& log, std::unique_ptr<Line>* line, bool tcp)
{
    if (!*line || tcp) {
        line->reset();
        if (const int code = openLine(log, line))
            return code;
    }
    if (tcp) {
        m_state->report(Connected, statusText(Connected));
        return Successful;
    }
    ModemDialogue modem(**line, m_timings);
    m_state->report(InitializingModem, statusText(InitializingModem));
    if (const int code = modem.initialize(m_request.modemInit))
        return code;
    m_state->report(Dialing, statusText(Dialing));
    // Checked before the port was opened (deliverAlphanumeric): the number is whole and dialable here.
    const QByteArray number
        = dialstring::dialableCharacters(dialstring::numberPart(m_request.networkPhone)).value_or(QByteArray());
    const QByteArray command = QByteArray(m_plan.pulse ? "ATDP" : "ATDT") + number;
    if (const int code = modem.dial(command, m_timings.connectMs, false))
        return code;
    m_state->report(Connected, statusText(Connected));
    return Successful;
}

int PageJob::deliverAlphanumeric(DebugLog& log)
{
    QString host;
    quint16 port = 0;
    const bool tcp = tcpline::parse(m_request.comPort, &host, &port);
    const QList<PageItem>& items = m_plan.items;
    std::unique_ptr<Line> line;
    QSet<int> refusedPlaces;
    QSet<int> deliveredPlaces;
    int refusal = 0; // for a single pager: the worst refusal
    int failure = 0;
    qsizetype index = 0;
    int recalls = 0;
    // Checked before the port is opened: a number that is not dialable whole, or a dial command
    // longer than the modem's command line, would dial nothing or the wrong number.
    const std::optional<QByteArray> dialled = dialstring::dialableCharacters(dialstring::numberPart(m_request.networkPhone));
    if (!tcp && (!dialled || dialCommandTooLong(QByteArray("ATDT") + *dialled)))
        failure = BadDialString;
    else
        m_state->report(OpeningPort, statusText(OpeningPort));

    bool online = false; // a call is up: it must be hung up whatever happens
    while (index < items.size() && !failure) {
        if ((failure = callTerminal(log, &line, tcp)))
            break; // the dial failed: the modem is back on hook already
        online = true;
        TapSession session(*line, m_timings);
        m_state->report(LoggingIn, statusText(LoggingIn));
        failure = session.login(dialstring::passwordPart(m_request.networkPhone));

        int acceptedThisCall = 0;
        bool recall = false;
        while (!failure && index < items.size()) {
            const PageItem& item = items.at(index);
            if (refusedPlaces.contains(item.place)) { // the rest of a refused ID's pages
                ++index;
                continue;
            }
            m_state->report(SendingPage, sendingPageText(int(index) + 1, int(items.size())));
            const TapSession::PageOutcome outcome = session.sendPage(item.pagerId, item.text);
            // A block that left without a clear answer may have been taken.
            if (outcome.unclear)
                m_state->setUnsure(true);
            if (outcome.kind == TapSession::PageOutcome::Accepted) {
                deliveredPlaces.insert(item.place);
                ++acceptedThisCall;
                ++index;
            } else if (outcome.kind == TapSession::PageOutcome::Refused) {
                const bool invalidId = outcome.response == 511 || outcome.response == 510
                    || session.lastText().toLower().contains("invalid");
                if (m_plan.group) { // every refusal of a group member is reported as its bad ID
                    refusedPlaces.insert(item.place);
                    m_state->report(InvalidPagerId,
                        groupResultText(item.place, outcome.response, statusText(InvalidPagerId)));
                } else {
                    refusal = invalidId ? int(InvalidPagerId) : std::max(refusal, int(PageRejected));
                    if (invalidId)
                        refusedPlaces.insert(item.place);
                }
                ++index;
            } else if (outcome.kind == TapSession::PageOutcome::MaxPages) {
                log.note(QStringLiteral("terminal's page limit reached: calling again"));
                recall = true;
                break;
            } else {
                failure = outcome.failure;
            }
        }
        if (failure == Cancelled)
            break;
        if (!failure && !recall)
            session.logout();
        hangUp(*line, tcp, session.carrierLost() || line->closed());
        online = false;
        if (recall && (acceptedThisCall == 0 || ++recalls > tap::kMaxRecalls))
            failure = PageRejected; // a terminal that takes no page would be called for ever
    }

    if (failure == Cancelled) {
        if (line && !tcp)
            hangUpAfterCancel(*line, online);
        return Cancelled;
    }
    if (failure) {
        // Part of one pager's message taken: sending it again would repeat that part.
        if (!m_plan.group && !deliveredPlaces.isEmpty())
            m_state->setUnsure(true);
        if (m_plan.group) { // each ID not reached gets the reason
            for (int place = 1; place <= m_plan.pagerIds.size(); ++place)
                if (!deliveredPlaces.contains(place) && !refusedPlaces.contains(place))
                    m_state->report(failure, groupResultText(place, 0, statusText(failure)));
        }
        return failure;
    }
    if (m_plan.group)
        return refusedPlaces.isEmpty() ? int(Successful) : int(GroupBadIds);
    return refusal;
}

int PageJob::deliverNumeric(DebugLog& log)
{
    QString host;
    quint16 port = 0;
    if (tcpline::parse(m_request.comPort, &host, &port))
        return BadParameters; // a numeric page needs a modem to tone-dial the digits
    const QByteArray digits = dialstring::toneDigits(m_plan.items.first().text);
    const std::optional<QByteArray> number = dialstring::dialableCharacters(m_plan.items.first().pagerId);
    const std::optional<QByteArray> suffix = dialstring::dialCharacters(m_request.networkPhone);
    if (!number || !suffix)
        return BadDialString;
    if (digits.isEmpty())
        return BadParameters;

    // The wait before the digits is MessageSize seconds whatever S8 was: S8 seconds a comma, and no
    // more than kMaxCommas commas so that the command fits a modem's command buffer.
    const int wait = m_plan.messageSize;
    const int commaSeconds = std::max(1, (wait + modem::kMaxCommas - 1) / modem::kMaxCommas);
    // At least one pause: digits dialled straight after the number would be taken as part of it.
    const int commas = std::max(1, (wait + commaSeconds - 1) / commaSeconds);
    const QByteArray command = QByteArray(m_plan.pulse ? "ATDP" : "ATDT") + *number + QByteArray(commas, ',')
        + digits + *suffix + ';'; // ";" keeps the modem in command mode: no carrier is expected
    if (dialCommandTooLong(command))
        return BadDialString; // before the port is opened

    m_state->report(OpeningPort, statusText(OpeningPort));
    std::unique_ptr<Line> line;
    if (const int code = openLine(log, &line))
        return code;
    ModemDialogue modem(*line, m_timings);
    m_state->report(InitializingModem, statusText(InitializingModem));
    if (const int code = modem.initialize(m_request.modemInit))
        return code;
    switch (modem.command("ATS8=" + QByteArray::number(commaSeconds), m_timings.commandReplyMs)) {
    case ModemDialogue::Result::Cancelled:
        return Cancelled;
    case ModemDialogue::Result::Timeout:
    case ModemDialogue::Result::Closed:
        return ModemNotResponding;
    default:
        break;
    }
    m_state->report(Dialing, statusText(Dialing));
    const int code = modem.dial(command, m_timings.connectMs + commas * commaSeconds * 1000, true);
    if (code == Cancelled) {
        hangUpAfterCancel(*line, false);
        return Cancelled;
    }
    m_state->report(HangingUp, statusText(HangingUp));
    modem.hangUp(false, false);
    return code;
}

} // namespace paging
