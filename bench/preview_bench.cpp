// preview_bench: the log report's print preview at size, offscreen. Writes its own MSGLOG2 of N
// records dated over the last 30 days (some long names and messages among them), then times the
// report laid out alone (no painting) and the "Print Log Report Parameters" window's "Print" up to
// the preview shown with its pages (every page laid out and painted into the preview, as Qt's
// preview asks for them all before it shows one).
// Run by hand:
//     build/bench/preview_bench [records=1000] [PICTURE.png]
// (with a picture path, the preview as shown is saved there, and the progress window, when it
// shows, beside it as ...-progress.png, for looking at them).
// Figures: STEP<TAB>milliseconds.

#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logreport.h"
#include "msglog/printlogfilter.h"
#include "report/reportlayout.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // QT_QPA_PLATFORM=xcb under xvfb-run for a real display
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    const QString picture = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    constexpr int days = 30;
    QTemporaryDir dir;
    core::Desk desk(dir.path());
    if (!desk.open().isEmpty())
        return 1;
    const QDate today = QDate::currentDate();
    QElapsedTimer timer;
    timer.start();
    store::Table& log = desk.MsgLogT();
    for (int i = 0; i < n; ++i) {
        log.append();
        const QDate day = today.addDays(-(days - 1 - qint64(i) * days / n));
        log.setFieldText(store::msglog::DDate, QLocale::c().toString(day, QStringLiteral("yyyy'/'MM'/'dd")));
        log.setFieldText(store::msglog::DTime, QStringLiteral("10:%1:00 AM").arg(i % 60, 2, 10, QLatin1Char('0')));
        // Runs of three records; every fifth run a group whose name wraps in its column, every tenth
        // message a long one.
        const int run = i / 3 % 50;
        log.setFieldText(store::msglog::UserName,
            run % 5 ? QStringLiteral("User %1").arg(run) : QStringLiteral("Group: Night Shift %1").arg(run));
        QString message = QStringLiteral("Message %1: please call the dispatch desk about the delivery at dock %2.").arg(i).arg(i % 9);
        if (i % 10 == 0)
            message += QStringLiteral(" The driver waits at the gate until the paperwork is signed and the load is checked.").repeated(3);
        log.setFieldText(store::msglog::Msg, message);
        log.post();
    }
    std::printf("write %d records\t%lld\n", n, timer.elapsed());

    // The layout alone: every page, nothing painted.
    {
        store::Table reader;
        models::openReaderOn(reader, desk.MsgLogT());
        msglog::LogRecordSource source(reader, QString(), days, today);
        const report::ReportDefinition definition = msglog::logReportDefinition();
        report::ReportLayout layout(definition, source);
        timer.restart();
        int pages = 0;
        while (layout.nextPage())
            ++pages;
        std::printf("layout of %d records, %d pages\t%lld\n", n, pages, timer.elapsed());
    }

    // "Print" up to the preview shown with its pages; a progress window on the way is counted, and
    // left to run.
    msglog::TPrintLogFilter filter(desk);
    filter.show();
    filter.DaysSpin->setValue(days);
    bool progressShown = false;
    qint64 shownMs = -1;
    int pages = 0;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            if (!progressShown && !picture.isEmpty())
                progress->grab().save(QString(picture).replace(QStringLiteral(".png"), QStringLiteral("-progress.png")));
            progressShown = true;
        }
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!preview || !preview->isVisible())
            return;
        auto* widget = preview->findChild<QPrintPreviewWidget*>();
        if (widget && widget->pageCount() > 0 && shownMs < 0) {
            shownMs = timer.elapsed();
            pages = widget->pageCount();
            if (!picture.isEmpty()) {
                preview->resize(900, 1000);
                preview->grab().save(picture);
            }
            preview->reject();
        }
    });
    poll.start();
    timer.restart();
    filter.BitBtn1Click();
    std::printf("preview of %d records, %d pages, shown (progress window %s)\t%lld\n", n, pages,
        progressShown ? "shown" : "not shown", shownMs);
    return 0;
}
