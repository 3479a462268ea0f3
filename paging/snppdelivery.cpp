#include "snppdelivery.h"

#include "debuglog.h"
#include "line.h"
#include "pagestatus.h"
#include "snppsession.h"
#include "tcpline.h"

#include <QSet>

#include <poll.h>

namespace paging {

bool parseSnppPort(const QString& portName, QString* host, quint16* port)
{
    if (!portName.startsWith(QLatin1String("snpp:"), Qt::CaseInsensitive))
        return false;
    return tcpline::parse(QStringLiteral("tcp:") + portName.mid(5), host, port);
}

int deliverSnpp(const PagePlan& plan, const SnppTarget& target, const ProtocolTimings& timings,
    int cancelFd, DebugLog& log, const StatusSink& report, const std::function<void(bool)>& unsure, QString* detail)
{
    auto setUnsure = [&unsure](bool value) {
        if (unsure)
            unsure(value);
    };
    if (plan.numeric || plan.items.isEmpty())
        return BadParameters; // a numeric page needs a modem to tone-dial the digits
    report(OpeningPort, statusText(OpeningPort));
    QString error;
    const int fd = tcpline::connect(target.host, target.port, timings.tcpConnectMs, cancelFd, &error);
    if (fd < 0) {
        pollfd cancelled { cancelFd, POLLIN, 0 };
        if (::poll(&cancelled, 1, 0) > 0)
            return Cancelled;
        log.note(QStringLiteral("cannot reach %1:%2: %3").arg(target.host).arg(target.port).arg(error));
        if (detail)
            *detail = error; // "Host not found", "Connection refused", ...
        return ConnectionRefused;
    }
    Line line(fd, cancelFd, &log, false, 0);
    report(Connected, statusText(Connected));
    SnppSession session(line, timings.snppReplyMs);

    // The pages of the message: planPage gives every pager the same ones, pager after pager.
    QStringList texts;
    for (const PageItem& item : plan.items)
        if (item.place == plan.items.first().place)
            texts.append(item.text);

    QSet<int> refused;
    QSet<int> delivered;
    int refusal = 0; // a single pager's ID refused
    int failure = session.greet();
    // A server that does not take pages now says why in its greeting, with its own code.
    if (failure == SnppUnavailable && detail)
        *detail = QStringLiteral("greeting \"%1\"").arg(QString::fromLatin1(session.greeting()).simplified());
    if (!failure && !target.login.isEmpty()) {
        report(LoggingIn, statusText(LoggingIn));
        failure = session.login(target.login, target.password);
    }
    for (qsizetype k = 0; k < texts.size() && !failure; ++k) {
        report(SendingPage, sendingPageText(int(k) + 1, int(texts.size())));
        if (k > 0 && (failure = session.reset()))
            break;
        QList<int> accepted;
        for (int place = 1; place <= plan.pagerIds.size() && !failure; ++place) {
            if (refused.contains(place))
                continue;
            const SnppSession::PageOutcome outcome = session.page(plan.pagerIds.at(place - 1));
            if (outcome.failure) {
                failure = outcome.failure;
            } else if (outcome.accepted) {
                accepted.append(place);
            } else {
                refused.insert(place);
                if (plan.group)
                    report(InvalidPagerId,
                        groupResultText(place, outcome.response, statusText(InvalidPagerId)));
                else
                    refusal = SnppPageRefused;
            }
        }
        if (failure || accepted.isEmpty())
            break; // no pager left to send to
        if ((failure = session.message(texts.at(k))))
            break;
        // SEND delivers: without a reply to it, the page may have gone.
        if ((failure = session.send())) {
            if (failure == TerminalNotResponding || failure == ConnectionLost || failure == Cancelled)
                setUnsure(true);
            break;
        }
        for (int place : accepted)
            delivered.insert(place);
    }

    if (failure == Cancelled)
        return Cancelled; // the connection closes with the line, at once
    // A server that went silent or away gets no QUIT; one that answered is told goodbye.
    if (failure != TerminalNotResponding && failure != ConnectionLost)
        session.quit();
    if (failure) {
        // Part of one pager's message taken: sending it again would repeat that part.
        if (!plan.group && !delivered.isEmpty())
            setUnsure(true);
        if (plan.group) // each ID not reached gets the reason
            for (int place = 1; place <= plan.pagerIds.size(); ++place)
                if (!delivered.contains(place) && !refused.contains(place))
                    report(failure, groupResultText(place, 0, statusText(failure)));
        return failure;
    }
    if (plan.group)
        return refused.isEmpty() ? int(Successful) : int(GroupBadIds);
    return refusal;
}

} // namespace paging
