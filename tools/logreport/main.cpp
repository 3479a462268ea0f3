// logreport DATA_FOLDER OUT.pdf [--user NAME] [--days N]: writes the message log report of the
// tables in DATA_FOLDER as a PDF file, with no display.

#include "msglog/logreport.h"
#include "report/reportpainter.h"
#include "store/connection.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    // Fonts and PDF output need a GUI application, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("logreport"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the message log report (the log table MSGLOG2 of DATA_FOLDER, day by day, a blank gap\n"
        "before each run of one recipient) as a PDF file of US Letter pages. Without --days every record\n"
        "is reported. The tables are opened shared and only read, so a desk may run meanwhile.\n"
        "Exit codes: 0 written (or no record to report: no file), 1 bad arguments,\n"
        "2 the log table could not be read, 3 the PDF file could not be written."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DATA_FOLDER"), QStringLiteral("the folder holding MSGLOG2.DBF"));
    parser.addPositionalArgument(QStringLiteral("OUT.pdf"), QStringLiteral("the PDF file to write"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("only the records of recipient NAME"), QStringLiteral("NAME"));
    const QCommandLineOption days(QStringLiteral("days"),
        QStringLiteral("only the last N days, today included (1 to 730)"), QStringLiteral("N"));
    parser.addOption(user);
    parser.addOption(days);
    parser.process(app);

    QTextStream err(stderr);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        err << "logreport: give DATA_FOLDER and OUT.pdf (see --help)\n";
        return 1;
    }
    int dayCount = 0;
    if (parser.isSet(days)) {
        bool ok = false;
        dayCount = parser.value(days).toInt(&ok);
        if (!ok || dayCount < 1 || dayCount > 730) {
            err << "logreport: --days takes a whole number from 1 to 730\n";
            return 1;
        }
    }

    try {
        store::Table log;
        log.setConnection(store::Connection(QDir(args.at(0)).absolutePath() + u'/'));
        log.setTableName(QStringLiteral("MSGLOG2.DBF"));
        log.setIndexName(QStringLiteral("BY_DATE"));
        log.setExclusive(false);
        log.open();
        msglog::LogRecordSource source(log, parser.value(user), dayCount, QDate::currentDate());
        const QDate today = QDate::currentDate();
        const report::ReportDefinition definition = msglog::logReportDefinition(
            msglog::logReportHeading(dayCount, today, parser.value(user), QDateTime::currentDateTime()));
        const int pages = report::writePdf(definition, source, args.at(1), QStringLiteral("Message Log"));
        if (pages < 0) {
            err << "logreport: cannot write " << args.at(1) << "\n";
            return 3;
        }
        if (pages == 0)
            err << "logreport: no log record to report; nothing written\n";
    } catch (const store::StoreError& e) {
        err << "logreport: " << e.message() << "\n";
        return 2;
    }
    return 0;
}
