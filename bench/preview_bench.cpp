// preview_bench: the log report's preview at size, offscreen. Writes its own MSGLOG2 of N records
// dated over the last 30 days (some long names and messages among them), then times the report laid
// out alone (no painting), and the "Print Log Report Parameters" window's "Print" up to the first
// page painted in the preview, up to the preview's page count final (the layout goes on while the
// preview shows), and then from End to the last page painted. The peak resident memory so far is printed at the end; for the whole run:
//     /usr/bin/time -v build/bench/preview_bench 1000000
// Run by hand:
//     build/bench/preview_bench [records=1000] [PICTURE.png]
// (with a picture path, the preview as it first shows is saved there, for looking at it).
// Figures: STEP<TAB>milliseconds.

#include "peakmemory.h"
#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logreport.h"
#include "msglog/printlogfilter.h"
#include "report/reportlayout.h"
#include "report/reportpreview.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QFile>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// Hands each report preview to `caught` as it is about to show.
class ShowWatch : public QObject {
public:
    explicit ShowWatch(std::function<void(report::ReportPreview*)> caught)
        : caught_(std::move(caught))
    {
    }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* preview = qobject_cast<report::ReportPreview*>(object); preview && !seen_.contains(preview)) {
                seen_ << preview;
                caught_(preview);
            }
        return false;
    }

private:
    std::function<void(report::ReportPreview*)> caught_;
    QList<QObject*> seen_;
};


} // namespace

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

    // "Print" up to the first page painted, and on until the page count is final; then closed.
    // The preview is caught as it shows, before its first painting.
    msglog::TPrintLogFilter filter(desk);
    filter.show();
    filter.DaysSpin->setValue(days);
    qint64 firstPageMs = -1;
    qint64 finalMs = -1;
    qint64 lastAskedMs = -1;
    qint64 lastPageMs = -1;
    int pages = 0;
    ShowWatch watch([&](report::ReportPreview* preview) {
        QObject::connect(preview, &report::ReportPreview::pagePainted, preview, [&, preview](int index) {
            if (index == 0 && firstPageMs < 0) {
                firstPageMs = timer.elapsed();
                if (!picture.isEmpty())
                    QTimer::singleShot(0, preview, [preview, picture] { preview->grab().save(picture); });
            } else if (lastAskedMs >= 0 && index == pages - 1 && lastPageMs < 0) {
                lastPageMs = timer.elapsed() - lastAskedMs;
                QTimer::singleShot(0, preview, [preview] { preview->reject(); });
            }
        });
        QObject::connect(preview, &report::ReportPreview::pageCountChanged, preview, [&, preview](int count, bool final) {
            if (!final || finalMs >= 0)
                return;
            finalMs = timer.elapsed();
            pages = count;
            // Then the last page (End), laid out again from where it begins.
            QTimer::singleShot(0, preview, [&, preview] {
                lastAskedMs = timer.elapsed();
                preview->setCurrentPage(pages - 1);
                if (pages == 0)
                    preview->reject();
            });
        });
    });
    app.installEventFilter(&watch);
    timer.restart();
    filter.BitBtn1Click();
    std::printf("preview of %d records: first page shown\t%lld\n", n, firstPageMs);
    std::printf("preview of %d records: %d pages, count final\t%lld\n", n, pages, finalMs);
    std::printf("preview of %d records: last page shown after End\t%lld\n", n, lastPageMs);
    std::printf("peak resident memory (VmHWM)\t%s\n", bench::peakResident().constData());
    return 0;
}
