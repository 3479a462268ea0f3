// pagesend: one page from the command line through the paging component, for trying a carrier or a
// modem without the desk. Prints each status the library reports and exits with the final code.

#include "paging/pageengine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pagesend"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends one page (TAP 1.8 alphanumeric, numeric with a \"B\" line speed, SNPP with --snpp, WCTP with --wctp, or "
        "through the paths given with --path) and prints every status "
        "as \"CODE TEXT\", then \"final CODE TEXT\". Exits with the final code: 0 when delivered."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral(
            "Communications port: COM1..COM4, TAPI (/dev/modem), a device path such as /dev/pts/3, "
            "or tcp:HOST:PORT for a TAP-over-IP terminal. Default TAPI."),
        QStringLiteral("PORT"), QStringLiteral("TAPI"));
    const QCommandLineOption snpp(QStringLiteral("snpp"),
        QStringLiteral("Send through the SNPP server at HOST:PORT instead of a port (--network not needed)."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption login(QStringLiteral("login"),
        QStringLiteral("With --snpp: the login ID (LOGI; without it no login is sent); with --wctp: the senderID."),
        QStringLiteral("ID"));
    const QCommandLineOption password(QStringLiteral("password"),
        QStringLiteral("With --snpp: the password that goes with --login; with --wctp: the authorizationCode."),
        QStringLiteral("PW"));
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral(
            "Line speed, e.g. 300 or 1200; \"B\" + speed (B300) sends a numeric page. Default 300."),
        QStringLiteral("RATE"), QStringLiteral("300"));
    const QCommandLineOption init(QStringLiteral("init"),
        QStringLiteral("Modem init commands separated by \"~\", e.g. \"ATZ~ATE0V1\"."),
        QStringLiteral("STRING"));
    const QCommandLineOption pulse(
        QStringLiteral("pulse"), QStringLiteral("Dial with pulses (ATDP) instead of tones."));
    const QCommandLineOption size(QStringLiteral("size"),
        QStringLiteral(
            "Characters per page (longer messages go as several pages; 0 = no limit); for a numeric "
            "page the seconds to wait before the digits. Default 80."),
        QStringLiteral("N"), QStringLiteral("80"));
    const QCommandLineOption debug(QStringLiteral("debug"),
        QStringLiteral("Append every byte sent and received, with time stamps, to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption network(QStringLiteral("network"),
        QStringLiteral(
            "Carrier dial string: NUMBER^PASSWORD for an alphanumeric page, the end-of-entry suffix "
            "(e.g. \"#,\") for a numeric page. Required."),
        QStringLiteral("DIALSTRING"));
    const QCommandLineOption pager(QStringLiteral("pager"),
        QStringLiteral("Pager ID, or several as \"ID1^ID2^\" for a group page. Required."),
        QStringLiteral("IDS"));
    const QCommandLineOption wctp(QStringLiteral("wctp"),
        QStringLiteral("Send through a WCTP carrier at URL (http:// or https://, e.g. "
                       "http://127.0.0.1:8080/wctp) instead of a port; prints \"tracking NUMBER\" for every "
                       "page accepted. --network is then not needed."),
        QStringLiteral("URL"));
    const QCommandLineOption path(QStringLiteral("path"),
        QStringLiteral("A way to the carrier: METHOD,ADDRESS[,LOGIN[,PASSWORD]] with METHOD MODEM (the port and "
                       "--network; no ADDRESS), TAPIP (TAP over TCP to HOST:PORT; PASSWORD the TAP password), "
                       "SNPP (HOST:PORT) or WCTP (URL). Repeatable: the paths are tried in order, the next one "
                       "after a failure worth retrying; prints \"via PATH\" when delivered."),
        QStringLiteral("PATH"));
    parser.addOptions({ port, snpp, wctp, path, login, password, baud, init, pulse, size, debug, network, pager });
    parser.addPositionalArgument(QStringLiteral("MESSAGE"),
        QStringLiteral("The message; the words are joined by blanks."), QStringLiteral("MESSAGE..."));
    parser.process(app);

    QTextStream err(stderr);
    QList<paging::DeliveryPath> paths;
    for (const QString& value : parser.values(path)) {
        paging::DeliveryPath p;
        p.method = value.section(QLatin1Char(','), 0, 0);
        p.address = value.section(QLatin1Char(','), 1, 1);
        p.login = value.section(QLatin1Char(','), 2, 2);
        p.password = value.section(QLatin1Char(','), 3); // the rest: a password may hold commas
        paths.append(p); // checked by the library, which refuses the page for a bad one
    }
    const bool modemPath = std::any_of(paths.cbegin(), paths.cend(),
        [](const paging::DeliveryPath& p) { return paging::pathMethod(p.method) == paging::PathMethod::Modem; });
    if ((!parser.isSet(network) && !parser.isSet(snpp) && !parser.isSet(wctp) && (paths.isEmpty() || modemPath))
        || !parser.isSet(pager)) {
        err << "pagesend: --pager and --network (or --snpp, or --wctp, or --path other than MODEM) are required (see --help)\n";
        return 2;
    }
    if ((parser.isSet(login) || parser.isSet(password)) && !parser.isSet(snpp) && !parser.isSet(wctp)) {
        err << "pagesend: --login and --password go with --snpp or --wctp (a TAP password is part of --network)\n";
        return 2;
    }
    bool sizeOk = false;
    const int messageSize = parser.value(size).toInt(&sizeOk);
    if (!sizeOk || messageSize < 0) {
        err << "pagesend: --size wants a number of 0 or more (0: no limit)\n";
        return 2;
    }

    paging::TPageEngine engine;
    engine.ComPort = parser.value(port);
    engine.BaudRate = parser.value(baud);
    if (parser.isSet(init))
        engine.Modem_initstr = parser.value(init) + QLatin1Char('~');
    if (parser.isSet(pulse))
        engine.dial_initstr = QStringLiteral("ATDP");
    engine.MessageSize = messageSize;
    engine.Debugfile = parser.value(debug);
    engine.NetworkPhone = parser.value(network);
    if (parser.isSet(snpp)) { // the library's SNPP port name; its "dial string" is LOGIN^PASSWORD
        engine.ComPort = QStringLiteral("snpp:") + parser.value(snpp);
        engine.NetworkPhone = parser.value(login) + QLatin1Char('^') + parser.value(password);
    } else if (parser.isSet(wctp)) {
        engine.ComPort = QStringLiteral("WCTP"); // only names the page
        engine.BaudRate.clear();
        engine.WctpUrl = parser.value(wctp);
        engine.WctpLogin = parser.value(login);
        engine.WctpPassword = parser.value(password);
    }
    engine.Paths = paths;
    engine.PagerPhone = parser.value(pager);
    engine.MessageToSend = parser.positionalArguments().join(QLatin1Char(' '));
    if (engine.PagerPhone.contains(QLatin1Char('^')) && !engine.MessageToSend.endsWith(QLatin1String("^^")))
        engine.MessageToSend += QLatin1String("^^"); // how a group page's message ends

    QTextStream out(stdout);
    engine.OnStatus = [&out](paging::TPageEngine* e) {
        out << e->statusCode() << ' ' << e->statusText() << '\n';
        out.flush();
    };
    engine.OnFinished = [&out](paging::TPageEngine* e) {
        for (const QString& number : e->trackingNumbers())
            out << "tracking " << number << '\n';
        out << "final " << e->statusCode() << ' ' << e->statusText() << '\n';
        if (!e->deliveredVia().isEmpty())
            out << "via " << e->deliveredVia() << '\n';
        out.flush();
        QCoreApplication::exit(e->statusCode());
    };
    engine.OnInitError = [&out](paging::TPageEngine* e) {
        out << "final " << e->statusCode() << ' ' << e->statusText() << '\n';
        out.flush();
    };
    engine.Send();
    if (engine.statusCode() != 0)
        return engine.statusCode();
    return app.exec();
}
