// pagersim: a Hayes modem and a carrier's TAP 1.8 paging terminal on a pseudo-terminal (and on a
// loopback TCP port), an SNPP server and a WCTP server on loopback ports, recording every call to a
// transcript. See README.md for the command line.

#include "exchange.h"
#include "faults.h"
#include "hayesmodem.h"
#include "ptyline.h"
#include "tcpline.h"
#include "transcript.h"
#include "wctpserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(g_signalPipe[1], &byte, 1);
}

void printLine(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

int fail(const QString& message)
{
    std::fprintf(stderr, "pagersim: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pagersim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Carrier simulator: a Hayes modem, a TAP 1.8 paging terminal, an SNPP server and a WCTP server."));
    parser.addHelpOption();
    const QCommandLineOption tcpOption(QStringLiteral("tcp"),
        QStringLiteral("Also serve TAP on 127.0.0.1:PORT (0: any free port)."), QStringLiteral("PORT"));
    const QCommandLineOption snppOption(QStringLiteral("snpp"),
        QStringLiteral("Also serve SNPP (level 2) on 127.0.0.1:PORT (0: any free port)."), QStringLiteral("PORT"));
    const QCommandLineOption wctpOption(QStringLiteral("wctp"),
        QStringLiteral("Also serve WCTP on http://127.0.0.1:PORT/wctp (0: any free port)."), QStringLiteral("PORT"));
    const QCommandLineOption deliveredOption(QStringLiteral("wctp-delivered-ms"),
        QStringLiteral("WCTP: a message is DELIVERED this long after its submit (-1: never; default 1000)."),
        QStringLiteral("MS"));
    const QCommandLineOption readOption(QStringLiteral("wctp-read-ms"),
        QStringLiteral("WCTP: a delivered message is READ this long after its submit (-1: never; default 3000)."),
        QStringLiteral("MS"));
    const QCommandLineOption pollOption(QStringLiteral("wctp-poll-minutes"),
        QStringLiteral("WCTP: the minNextPollInterval of a query answer, in minutes (0: none given; default 1)."),
        QStringLiteral("MINUTES"));
    const QCommandLineOption trackingOption(QStringLiteral("wctp-tracking-prefix"),
        QStringLiteral("WCTP: TEXT is written before every tracking number issued."), QStringLiteral("TEXT"));
    const QCommandLineOption transcriptOption(QStringLiteral("transcript"),
        QStringLiteral("Append the calls' events to FILE, one JSON object a line."), QStringLiteral("FILE"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Line speed: N/10 characters a second each way."), QStringLiteral("N"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
        QStringLiteral("The only login password accepted (default: any)."), QStringLiteral("PW"));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
        QStringLiteral("Add a fault for the first COUNT calls (every call without COUNT); repeatable."),
        QStringLiteral("NAME[=ARG][:COUNT]"));
    const QCommandLineOption callsOption(
        QStringLiteral("calls"), QStringLiteral("Exit after N calls have ended."), QStringLiteral("N"));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"), QStringLiteral("Do not log the events to stderr."));
    parser.addOptions(
        { tcpOption, snppOption, wctpOption, deliveredOption, readOption, pollOption, trackingOption, transcriptOption, baudOption, passwordOption,
            faultOption, callsOption, quietOption });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    const auto number = [&](const QCommandLineOption& option, int low, int high, int* value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        return ok && *value >= low && *value <= high;
    };
    int baud = 0;
    int calls = 0;
    int tcpPort = -1;
    int snppPort = -1;
    if (!number(baudOption, 10, 1000000, &baud))
        return fail(QStringLiteral("--baud needs a speed from 10 up"));
    if (!number(callsOption, 1, 1 << 30, &calls))
        return fail(QStringLiteral("--calls needs a count from 1 up"));
    if (!number(tcpOption, 0, 65535, &tcpPort))
        return fail(QStringLiteral("--tcp needs a port from 0 to 65535"));
    if (!number(snppOption, 0, 65535, &snppPort))
        return fail(QStringLiteral("--snpp needs a port from 0 to 65535"));
    int wctpPort = -1;
    int deliveredMs = 1000;
    int readMs = 3000;
    int pollMinutes = 1;
    if (!number(pollOption, 0, 1440, &pollMinutes))
        return fail(QStringLiteral("--wctp-poll-minutes needs minutes from 0 to 1440"));
    if (!number(wctpOption, 0, 65535, &wctpPort))
        return fail(QStringLiteral("--wctp needs a port from 0 to 65535"));
    if (!number(deliveredOption, -1, 1 << 30, &deliveredMs) || !number(readOption, -1, 1 << 30, &readMs))
        return fail(QStringLiteral("--wctp-delivered-ms and --wctp-read-ms need milliseconds (-1: never)"));

    pagersim::FaultPlan faults;
    for (const QString& fault : parser.values(faultOption)) {
        QString error;
        if (!faults.add(fault, &error))
            return fail(error);
    }

    pagersim::Transcript transcript;
    transcript.setEcho(!parser.isSet(quietOption));
    if (parser.isSet(transcriptOption)) {
        QString error;
        if (!transcript.open(parser.value(transcriptOption), &error))
            return fail(error);
    }

    pagersim::Exchange exchange(&transcript, faults);
    if (parser.isSet(passwordOption))
        exchange.password = parser.value(passwordOption);
    if (baud > 0)
        exchange.connectBaud = baud;

    pagersim::PtyLine pty;
    pty.setCharsPerSecond(baud / 10);
    QString error;
    if (!pty.open(&error))
        return fail(error);
    pagersim::HayesModem modem(&exchange);
    QObject::connect(&pty, &pagersim::PtyLine::received, &modem, &pagersim::HayesModem::feed);
    QObject::connect(&modem, &pagersim::HayesModem::output, &pty, &pagersim::PtyLine::send);
    QObject::connect(&pty, &pagersim::PtyLine::clientGone, &modem, &pagersim::HayesModem::dropLine);

    pagersim::TcpLine tcp(&exchange);
    tcp.setCharsPerSecond(baud / 10);
    if (tcpPort >= 0 && !tcp.listen(static_cast<quint16>(tcpPort), &error))
        return fail(error);
    pagersim::TcpLine snpp(&exchange, pagersim::TcpLine::Protocol::Snpp);
    snpp.setCharsPerSecond(baud / 10);
    if (snppPort >= 0 && !snpp.listen(static_cast<quint16>(snppPort), &error))
        return fail(error);

    pagersim::WctpServer wctp(&exchange);
    wctp.setDelays(deliveredMs, readMs);
    wctp.setPollMinutes(pollMinutes);
    wctp.setTrackingPrefix(parser.value(trackingOption));
    if (wctpPort >= 0 && !wctp.listen(static_cast<quint16>(wctpPort), &error))
        return fail(error);

    // SIGTERM and SIGINT end the event loop from inside it.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return fail(QStringLiteral("socketpair failed"));
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    // A reader of the log that went away must not take the simulator with it.
    std::signal(SIGPIPE, SIG_IGN);

    // After the last call of --calls, let the lines send what they still hold, then stop.
    QTimer drain;
    QElapsedTimer draining;
    drain.setInterval(20);
    QObject::connect(&drain, &QTimer::timeout, &app, [&] {
        if ((pty.isDrained() && tcp.isDrained() && snpp.isDrained() && wctp.isDrained()) || draining.elapsed() > 10000)
            QCoreApplication::quit();
    });
    QObject::connect(&exchange, &pagersim::Exchange::callEnded, &app, [&](int ended) {
        if (calls > 0 && ended >= calls && !drain.isActive()) {
            draining.start();
            drain.start();
        }
    });

    printLine(QStringLiteral("DEVICE ") + pty.devicePath());
    if (tcpPort >= 0)
        printLine(QStringLiteral("TCP 127.0.0.1:%1").arg(tcp.port()));
    if (snppPort >= 0)
        printLine(QStringLiteral("SNPP 127.0.0.1:%1").arg(snpp.port()));
    if (wctpPort >= 0)
        printLine(QStringLiteral("WCTP http://127.0.0.1:%1/wctp").arg(wctp.port()));
    printLine(QStringLiteral("READY"));
    return app.exec();
}
