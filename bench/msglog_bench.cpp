// The message log at size: writes its own MSGLOG2 of N records dated over the last 365 days (so a
// report by days has records to choose), then runs logreport on it as the operator would, and opens
// the Message Log window on it (offscreen).
// Usage: msglog_bench LOGREPORT_PROGRAM [N] [--keep] (default 10000; --keep leaves the data folder and
// its log.pdf and pictures of the window, msglog.png and, with its find bar, msglog-find.png, in
// place for viewing and names it; "-" for
// the program leaves the report out, for the window alone at a million records; --delete-every=K
// deletes every K-th record as it is written, so that the grid finds deleted records as it reads;
// --statuses=S writes S delivery status rows in DLVSTAT for records spread over the log, every fifth
// of them with a second row as a group page has, default N/10, for the window's Status column).
// Then the find bar at that size: a text that no record holds (a walk of the whole log in steps), a
// text held only by the oldest records, and a user's previous and next record; for each the time
// to its outcome and the longest gap a 5 ms heartbeat timer saw meanwhile (the longest the window
// stood still). Between the two, a status changed by another handle while the window is open: the
// time from the change to the column shown again.
// Figures: STEP<TAB>VALUE: milliseconds, and logreport's peak resident memory in KiB.
#include "app/mainform.h"
#include "app/msglogsetup.h"
#include "core/deliverystatus.h"
#include "core/desk.h"
#include "msglog/logfindbar.h"
#include "msglog/logstatus.h"
#include "msglog/msglogform.h"
#include "store/fieldnames.h"
#include "store/schema.h"
#include "store/table.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QComboBox>
#include <QCheckBox>
#include <QTimer>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTableView>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    if (argc < 2) {
        std::fprintf(stderr, "usage: msglog_bench LOGREPORT_PROGRAM|- [N] [--keep] [--delete-every=K] [--statuses=S]\n");
        return 1;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const int n = argc > 2 ? std::atoi(argv[2]) : 10000;
    QTemporaryDir dir;
    int deleteEvery = 0;
    int statuses = n / 10;
    for (int i = 3; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--keep") {
            dir.setAutoRemove(false);
            std::printf("data folder\t%s\n", qPrintable(dir.path()));
        } else if (arg.startsWith("--delete-every=")) {
            deleteEvery = arg.mid(15).toInt();
        } else if (arg.startsWith("--statuses=")) {
            statuses = arg.mid(11).toInt();
        }
    }
    const QDate today = QDate::currentDate();
    QElapsedTimer timer;
    {
        core::Desk desk(dir.path());
        if (!desk.open().isEmpty())
            return 1;
        timer.start();
        store::Table& log = desk.MsgLogT();
        for (int i = 0; i < n; ++i) {
            log.append();
            const QDate day = today.addDays(-(365 - qint64(i) * 365 / n));
            log.setFieldText(store::msglog::DDate, QLocale::c().toString(day, QStringLiteral("yyyy'/'MM'/'dd")));
            log.setFieldText(store::msglog::DTime, QStringLiteral("10:%1:00 AM").arg(i % 60, 2, 10, QLatin1Char('0')));
            log.setFieldText(store::msglog::UserName, QStringLiteral("User %1").arg(i / 3 % 50));
            log.setFieldText(store::msglog::Msg,
                QStringLiteral("Message %1: please call the dispatch desk about the delivery at dock %2.").arg(i).arg(i % 9));
            log.post();
            if (deleteEvery > 0 && i % deleteEvery == 1)
                log.deleteRecord();
        }
        std::printf("write %d records\t%lld\n", n, timer.elapsed());

        timer.restart();
        const QStringList words = { core::kAccepted, core::kQueued, core::kDelivered, core::kRead, core::kFailed };
        int rows = 0;
        for (int i = 0; i < statuses; ++i) {
            core::StatusRow row;
            row.logRecord = core::logRecordKey(quint32(1 + qint64(i) * n / statuses));
            row.pagerId = QStringLiteral("%1").arg(i % 50);
            row.method = QStringLiteral("WCTP");
            row.address = QStringLiteral("https://wctp.example.net/wctp");
            row.changed = QDateTime::currentDateTime();
            for (int page = 0; page < (i % 5 == 0 ? 2 : 1); ++page, ++rows) {
                row.tracking = QStringLiteral("T%1").arg(rows, 9, 10, QLatin1Char('0'));
                row.status = words.at((i + page) % words.size());
                core::addStatusRow(desk.DlvStatT(), row);
            }
        }
        std::printf("write %d delivery status rows for %d records\t%lld\n", rows, statuses, timer.elapsed());
    }

    // logreport in its own process: its wall time and its peak memory.
    if (program != QLatin1String("-")) {
    timer.restart();
    const QString pdf = dir.filePath(QStringLiteral("log.pdf"));
    QProcess report;
    report.start(program, { dir.path(), pdf });
    report.waitForFinished(-1);
    const qint64 reportMs = timer.elapsed();
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("logreport %d records to PDF (ms)\t%lld\n", n, reportMs);
    std::printf("logreport peak resident memory (KiB)\t%ld\n", usage.ru_maxrss);
    std::printf("PDF size (bytes)\t%lld\n", QFileInfo(pdf).size());
    }

    // The Message Log window: from the menu to the newest record shown.
    TMainForm main(dir.path());
    msglog::TMsgLogF* form = CreateMsgLogForm(main);
    main.show();
    timer.restart();
    main.MsgLogMenu->trigger();
    int newestLive = n - 1; // the newest record the writing above did not delete again
    while (newestLive > 0 && deleteEvery > 0 && newestLive % deleteEvery == 1)
        --newestLive;
    const QString newest = QStringLiteral("Message %1:").arg(newestLive);
    while ((QApplication::activeWindow() != form || !form->DBMemo1->toPlainText().startsWith(newest))
        && timer.elapsed() < 600000)
        QApplication::processEvents();
    std::printf("Message Log window open on its newest record (ms)\t%lld\n", timer.elapsed());
    if (!dir.autoRemove())
        form->grab().save(dir.filePath(QStringLiteral("msglog.png")));

    // Scrolling: the scroll bar dragged to the middle and to the top, each painted.
    QScrollBar* bar = form->DBGrid2->verticalScrollBar();
    for (const auto& [name, value] : { std::pair { "middle", bar->maximum() / 2 }, std::pair { "top", 0 } }) {
        timer.restart();
        bar->setValue(value);
        form->DBGrid2->viewport()->repaint();
        QApplication::processEvents(); // rows of deleted records found by the paint go
        std::printf("grid scrolled to the %s, painted and settled (ms)\t%lld\n", name, timer.elapsed());
    }
    // Page by page from the top, as the operator reads: each page's rows and statuses read anew.
    timer.restart();
    const int pages = std::min(100, bar->maximum() / std::max(1, bar->pageStep()));
    for (int page = 1; page <= pages; ++page) {
        bar->setValue(page * bar->pageStep());
        form->DBGrid2->viewport()->repaint();
        QApplication::processEvents();
    }
    std::printf("grid scrolled %d pages, each painted and settled (ms per page)\t%.2f\n", pages,
        pages ? double(timer.nsecsElapsed()) / 1e6 / pages : 0.0);
    // A send's log record appended while the window is open: the rows are read again.
    timer.restart();
    store::Table& log = main.desk().MsgLogT();
    log.append();
    log.setFieldText(store::msglog::DDate, QLocale::c().toString(today, QStringLiteral("yyyy'/'MM'/'dd")));
    log.setFieldText(store::msglog::UserName, QStringLiteral("User 1"));
    log.setFieldText(store::msglog::Msg, QStringLiteral("One more"));
    log.post();
    QApplication::processEvents();
    form->DBGrid2->viewport()->repaint();
    std::printf("log record appended with the window open, shown (ms)\t%lld\n", timer.elapsed());

    // A status changed by another handle (a carrier's news): seen at the window's next check of
    // DLVSTAT (run here at once rather than waiting for its timer), the column read again for the
    // rows in sight.
    {
        store::Table other;
        other.setConnection(main.desk().Plimo32());
        other.setTableName(store::dlvStatSchema().openedAs);
        other.open();
        bar->setValue(bar->maximum());
        form->DBGrid2->viewport()->repaint();
        QApplication::processEvents();
        timer.restart();
        core::setStatus(other, QStringLiteral("https://wctp.example.net/wctp"), QStringLiteral("T%1").arg(0, 9, 10, QLatin1Char('0')), core::kRead,
            QDateTime::currentDateTime());
        const qint64 written = timer.elapsed();
        form->Statuses->check();
        QApplication::processEvents();
        form->DBGrid2->viewport()->repaint();
        std::printf("status changed by another handle (ms)\t%lld\n", written);
        std::printf("status change seen, the column shown again (ms)\t%lld\n", timer.elapsed() - written);
    }

    // The find bar: each find from the newest record, run to its outcome on the event loop.
    QElapsedTimer beat;
    double longestGap = 0;
    QTimer heart;
    heart.setInterval(5);
    QObject::connect(&heart, &QTimer::timeout, [&] {
        if (beat.isValid())
            longestGap = qMax(longestGap, beat.nsecsElapsed() / 1e6);
        beat.restart();
    });
    msglog::LogFindBar* findBar = form->FindBar;
    form->openFindBar();
    auto findRun = [&](const char* name, const QString& user, const QString& text, bool next, bool fromFirst) {
        if (fromFirst)
            log.first();
        else
            log.last();
        QApplication::processEvents();
        findBar->UserBox->setEditText(user);
        findBar->TextEdit->setText(text);
        QEventLoop loop;
        QString outcome;
        const auto quit = [&](const QString& what) {
            outcome = what;
            loop.quit();
        };
        QMetaObject::Connection a = QObject::connect(findBar->Finder, &msglog::LogFind::found, &loop,
            [&](uint32_t) { quit(QStringLiteral("found")); });
        QMetaObject::Connection b = QObject::connect(findBar->Finder, &msglog::LogFind::notFound, &loop,
            [&] { quit(QStringLiteral("not found")); });
        QMetaObject::Connection c = QObject::connect(findBar->Finder, &msglog::LogFind::failed, &loop,
            [&](const QString& text) { quit(text); });
        // The gap is counted from the command on: the find's own start (its handle opened, its
        // place found) runs before its first step.
        longestGap = 0;
        heart.start();
        beat.restart();
        timer.restart();
        if (next)
            findBar->findNext();
        else
            findBar->findPrevious();
        loop.exec();
        const qint64 ms = timer.elapsed();
        // The grid shown on the record found.
        QApplication::processEvents();
        heart.stop();
        QObject::disconnect(a);
        QObject::disconnect(b);
        QObject::disconnect(c);
        std::printf("find %s: %s (ms)\t%lld\n", name, qPrintable(outcome), ms);
        std::printf("find %s: longest heartbeat gap (ms)\t%.1f\n", name, longestGap);
        std::printf("find %s: steps\t%d\n", name, findBar->Finder->stepsTaken());
        std::fflush(stdout);
    };
    findRun("a text no record holds, back from the newest", QString(), QStringLiteral("no such words"), false, false);
    findRun("a text of the oldest records, back from the newest", QString(), QStringLiteral("Message 3: please"), false, false);
    findRun("a user's previous record", QStringLiteral("User 7"), QString(), false, false);
    findRun("a user's next record, from the first", QStringLiteral("User 7"), QString(), true, true);
    findRun("a user's records for a text none holds", QStringLiteral("User 7"), QStringLiteral("no such words"), false, false);
    if (!dir.autoRemove()) {
        // The window with its find bar, on a user's record found.
        findRun("a user's previous record, for the picture", QStringLiteral("User 7"), QString(), false, false);
        findBar->TextEdit->setText(QStringLiteral("dock 4"));
        form->grab().save(dir.filePath(QStringLiteral("msglog-find.png")));
    }

    struct rusage self {};
    getrusage(RUSAGE_SELF, &self);
    std::printf("bench peak resident memory (KiB)\t%ld\n", self.ru_maxrss);
    return 0;
}
