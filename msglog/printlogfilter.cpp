#include "msglog/printlogfilter.h"

#include "core/desk.h"
#include "models/tablemodel.h"
#include "msglog/logreport.h"
#include "report/reportpainter.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

namespace msglog {

namespace {
// The progress bar's whole; laying the report out takes about two fifths of the work, painting it
// into the preview the rest.
constexpr int kSteps = 1000;
constexpr int kLayoutSteps = 400;
// Below this a task is too young to guess its length from.
constexpr qint64 kGuessAfterMs = 50;
constexpr qint64 kUpdateEveryMs = 40;
} // namespace

// Hidden while the task looks short; shown once it has run `showAfterMs` or looks like lasting that
// long. While it shows, the desk's own events (the delivery loop, the Cancel button) run between
// steps, so a long report never leaves the desk hung.
class ReportProgress {
public:
    ReportProgress(QWidget* parent, int showAfterMs)
        : dialog_(parent)
        , showAfterMs_(showAfterMs)
    {
        dialog_.setObjectName(QStringLiteral("ReportProgress"));
        dialog_.setWindowTitle(parent->windowTitle());
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setCancelButtonText(QObject::tr("Cancel"));
        dialog_.setRange(0, kSteps);
        // Shown here, not by the dialog's own timer, which would need the event loop to run.
        dialog_.setMinimumDuration(std::numeric_limits<int>::max());
        dialog_.reset();
    }
    ~ReportProgress() { finish(); }

    // A new task: the clock and the bar start again.
    void start(const QString& label)
    {
        clock_.start();
        nextUpdateMs_ = 0;
        dialog_.setLabelText(label);
        dialog_.setValue(0);
    }
    // The next stage of the same task: its first step is shown at once.
    void nextStage() { nextUpdateMs_ = 0; }
    // Moves to `value` of kSteps; false when the operator cancelled. The window is brought up to
    // date a few dozen times a second, not at every step: repainting it costs more than a page.
    bool advance(int value, const QString& label)
    {
        const qint64 elapsed = clock_.elapsed();
        if (elapsed < nextUpdateMs_)
            return !dialog_.wasCanceled();
        nextUpdateMs_ = elapsed + kUpdateEveryMs;
        dialog_.setValue(value);
        if (!dialog_.isVisible()) {
            const bool looksLong = elapsed >= showAfterMs_
                || (elapsed >= kGuessAfterMs && value > 0 && elapsed * (kSteps - value) / value >= showAfterMs_);
            if (looksLong)
                dialog_.show();
        }
        if (dialog_.isVisible()) {
            dialog_.setLabelText(label);
            QCoreApplication::processEvents();
        }
        return !dialog_.wasCanceled();
    }
    void finish()
    {
        dialog_.reset();
        dialog_.hide();
    }

private:
    QProgressDialog dialog_;
    QElapsedTimer clock_;
    qint64 nextUpdateMs_ = 0;
    int showAfterMs_;
};

TPrintLogFilter::TPrintLogFilter(core::Desk& desk, QWidget* parent)
    : QDialog(parent)
    , desk_(desk)
{
    setObjectName(QStringLiteral("PrintLogFilter"));
    setWindowTitle(QStringLiteral("Print Log Report Parameters"));
    setModal(true);

    DaysSpin = new QSpinBox(this);
    DaysSpin->setObjectName(QStringLiteral("DaysSpin"));
    DaysSpin->setRange(1, 730);
    UserLookup = new QComboBox(this);
    UserLookup->setObjectName(QStringLiteral("UserLookup"));
    UserLookup->setMinimumContentsLength(30);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* print = buttons->addButton(QStringLiteral("Print"), QDialogButtonBox::AcceptRole);
    print->setObjectName(QStringLiteral("BitBtn1"));
    print->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPrintLogFilter::BitBtn1Click);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Days included in Log Report:"), DaysSpin);
    form->addRow(QStringLiteral("Select User Name:"), UserLookup);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TPrintLogFilter::showEvent(QShowEvent* event)
{
    // Each showing starts afresh: one day, no user, the users as the table holds them now.
    DaysSpin->setValue(1);
    UserLookup->clear();
    try {
        store::Table& users = desk_.BUsersT();
        if (users.isOpen()) {
            store::Table reader;
            models::openReaderOn(reader, users);
            for (reader.first(); !reader.eof(); reader.next())
                UserLookup->addItem(reader.fieldText(store::busers::UserName));
        }
    } catch (const store::StoreError& e) {
        QMessageBox::critical(this, windowTitle(), e.message());
    }
    UserLookup->setCurrentIndex(-1);
    QDialog::showEvent(event);
}

std::optional<QVector<report::LaidOutPage>> TPrintLogFilter::layOutReport(ReportProgress& progress)
{
    // A handle of its own on the log: the report never moves the window's current record.
    store::Table log;
    models::openReaderOn(log, desk_.MsgLogT());
    LogRecordSource source(log, UserLookup->currentText(), DaysSpin->value(), today());
    const report::ReportDefinition definition = logReportDefinition();
    report::ReportLayout layout(definition, source);
    progress.start(tr("Laying out the report..."));
    return report::layOutAll(layout, [&](int pages) {
        return progress.advance(qRound(source.progress() * kLayoutSteps), tr("Laying out page %1...").arg(pages + 1));
    });
}

bool TPrintLogFilter::preview(const QVector<report::LaidOutPage>& pages, ReportProgress& progress)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::Letter));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true); // the report places everything from the paper's corner
    printer.setDocName(QStringLiteral("Message Log"));
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("LogPreview"));
    // The first painting fills the preview, before it shows; later ones print (or save) from it,
    // the pages as the preview showed them.
    bool previewPainted = false;
    bool cancelled = false;
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [&](QPrinter* target) {
        const int from = previewPainted ? 0 : kLayoutSteps;
        if (previewPainted)
            progress.start(tr("Printing the report..."));
        else
            progress.nextStage();
        const int total = int(pages.size());
        bool stopped = false;
        report::paintPages(pages, *target, [&](int page) {
            const int value = from + int(qint64(kSteps - from) * page / qMax(total, 1));
            stopped = !progress.advance(value, tr("Page %1 of %2").arg(qMin(page + 1, total)).arg(total));
            return !stopped;
        });
        progress.finish();
        if (stopped && !previewPainted) {
            // The preview is about to show: closed as soon as its own loop runs.
            cancelled = true;
            QMetaObject::invokeMethod(&dialog, &QDialog::reject, Qt::QueuedConnection);
        } else if (stopped) {
            target->abort();
        }
        previewPainted = true;
    });
    dialog.exec();
    return !cancelled;
}

void TPrintLogFilter::BitBtn1Click()
{
    if (desk_.MsgLogT().isOpen()) {
        ReportProgress progress(this, progressAfterMs);
        std::optional<QVector<report::LaidOutPage>> pages;
        try {
            pages = layOutReport(progress);
        } catch (const store::StoreError& e) {
            progress.finish();
            QMessageBox::critical(this, windowTitle(), e.message());
            accept();
            return;
        }
        // Cancelled: no preview, and this window stays with its choice, to be narrowed.
        if (!pages || !preview(*pages, progress))
            return;
    }
    accept();
}

} // namespace msglog
