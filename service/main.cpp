// plimopagerd: the desk's sending without a window, on one data folder.
#include "service/pagingservice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The names that place the per-user data and settings folders, as the desk's.
    QCoreApplication::setApplicationName(QStringLiteral("PlimoPager32"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLIMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends the desk's pages without a window: restores the pending queue, takes plimomsgs.txt files\n"
        "dropped into the data folder, sends scheduled messages when they fall due, retries and keeps\n"
        "failures pending. Each status line goes to standard output with its time. SIGTERM or SIGINT\n"
        "cancels the page under way (it stays pending), saves the queues and ends the program.\n"
        "Exit status: 0 done, 1 pages of a --once pass stayed pending or were refused, 2 could not run."));
    const QCommandLineOption data(QStringLiteral("data"),
        QStringLiteral("The data folder (default: %1).").arg(service::PagingService::defaultDataFolder()),
        QStringLiteral("DIR"));
    const QCommandLineOption config(QStringLiteral("config"),
        QStringLiteral("The settings file (default: the desk's pager.ini)."), QStringLiteral("FILE"));
    const QCommandLineOption once(QStringLiteral("once"),
        QStringLiteral("One pass: take the message file, send what is due and what is queued, retries "
                       "included, then exit."));
    const QCommandLineOption pending(QStringLiteral("pending"), QStringLiteral("List the pending queue and exit."));
    const QCommandLineOption resend(QStringLiteral("resend-pending"),
        QStringLiteral("Move every pending page back to the send queue first."));
    const QCommandLineOption addSource(QStringLiteral("add-source"),
        QStringLiteral("Add a source that may page through the desk (followed by its KIND, one of SNPP HTTP "
                       "SPOOL MAIL, and its RECIPIENT, a user or a group of the directory) and print its new "
                       "token as the last line of standard output."),
        QStringLiteral("NAME"));
    parser.addOptions({ data, config, once, pending, resend, addSource });
    parser.addPositionalArgument(QStringLiteral("KIND RECIPIENT"), QStringLiteral("With --add-source."),
        QStringLiteral("[KIND RECIPIENT]"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    QTextStream err(stderr);
    if (!parser.parse(QCoreApplication::arguments())) {
        err << "plimopagerd: " << parser.errorText() << "\nTry plimopagerd --help.\n";
        return service::ExitCannotRun;
    }
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return service::ExitDone;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << "plimopagerd " << PLIMO_VERSION << '\n';
        return service::ExitDone;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(addSource) && positional.size() != 2) {
        err << "plimopagerd: --add-source NAME takes a KIND and a RECIPIENT\nTry plimopagerd --help.\n";
        return service::ExitCannotRun;
    }
    if (!parser.isSet(addSource) && !positional.isEmpty()) {
        err << "plimopagerd: unexpected argument " << positional.first() << "\nTry plimopagerd --help.\n";
        return service::ExitCannotRun;
    }

    service::PagingService::Options options;
    options.dataFolder = parser.isSet(data) ? parser.value(data) : service::PagingService::defaultDataFolder();
    options.dataFolderGiven = parser.isSet(data);
    options.configFile = parser.value(config);
    options.once = parser.isSet(once);
    options.listPending = parser.isSet(pending);
    options.resendPending = parser.isSet(resend);
    if (parser.isSet(addSource))
        options.addSource = { parser.value(addSource), positional.at(0), positional.at(1) };
    service::PagingService paging(options);
    return paging.run();
}
