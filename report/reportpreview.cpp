#include "report/reportpreview.h"

#include "report/reportpainter.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>
#include <exception>
#include <limits>

namespace report {

namespace {
// A layout step on the event loop: a few pages, and never much longer than a frame, so the window
// stays lively while a long report is counted.
constexpr int kPagesPerStep = 16;
constexpr int kStepMs = 15;
constexpr int kGapPx = 12;
constexpr double kZoomStep = 1.25;
constexpr double kMinZoom = 0.1;
constexpr double kMaxZoom = 4.0;

QString failureText(const std::exception& e)
{
    return QString::fromLocal8Bit(e.what());
}
} // namespace

// The pages one under another, the page at the top counted as the current one. Only the pages in
// sight are painted, each laid out again (or taken from the few kept) as it comes into sight.
class PageView : public QAbstractScrollArea {
public:
    PageView(PagedReport& report, QWidget* parent)
        : QAbstractScrollArea(parent)
        , report_(report)
    {
        setObjectName(QStringLiteral("PageView"));
        // Always there, so fitting the page to the width never makes it come and go.
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        setFocusPolicy(Qt::StrongFocus);
        viewport()->setBackgroundRole(QPalette::Dark);
        viewport()->setAutoFillBackground(true);
    }

    std::function<void()> currentChanged;
    std::function<void(int index)> painted;
    std::function<void(const QString& message)> failed;

    void setPageCount(int pages)
    {
        if (pages == pages_)
            return;
        pages_ = pages;
        updateScrollBars();
        viewport()->update();
    }
    int pageCount() const { return pages_; }

    int currentPage() const
    {
        if (pages_ == 0)
            return 0;
        const double pitch = pitchPx();
        const double y = verticalScrollBar()->value() + qMin(double(viewport()->height()), pitch) / 2;
        return qBound(0, int(y / pitch), pages_ - 1);
    }
    void goToPage(int index)
    {
        if (pages_ == 0)
            return;
        index = qBound(0, index, pages_ - 1);
        verticalScrollBar()->setValue(int(std::lround(index * pitchPx())));
    }

    double zoom() const { return zoom_; }
    bool fitsWidth() const { return fitWidth_; }
    void setFitWidth(bool fit)
    {
        fitWidth_ = fit;
        if (fit)
            applyZoom(fittingZoom());
    }
    void setZoom(double zoom)
    {
        fitWidth_ = false;
        applyZoom(qBound(kMinZoom, zoom, kMaxZoom));
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QAbstractScrollArea::resizeEvent(event);
        if (fitWidth_)
            applyZoom(fittingZoom());
        else
            updateScrollBars();
    }

    void scrollContentsBy(int, int) override
    {
        viewport()->update();
        if (currentChanged)
            currentChanged();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const int current = currentPage();
        switch (event->key()) {
        case Qt::Key_PageDown:
            goToPage(current + 1);
            break;
        case Qt::Key_PageUp:
            // Scrolled into a page: first back to its top.
            goToPage(verticalScrollBar()->value() > std::lround(current * pitchPx()) ? current : current - 1);
            break;
        case Qt::Key_Home:
            goToPage(0);
            break;
        case Qt::Key_End:
            goToPage(pages_ - 1);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
        }
        event->accept();
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(viewport());
        if (pages_ == 0 || broken_)
            return;
        const QSizeF page = pageSizePx();
        const double pitch = pitchPx();
        const int top = verticalScrollBar()->value();
        const double left = page.width() + 2 * kGapPx < viewport()->width()
            ? (viewport()->width() - page.width()) / 2
            : kGapPx - horizontalScrollBar()->value();
        const int first = qMax(0, int((top - kGapPx) / pitch));
        const int last = qMin(pages_ - 1, int((top + viewport()->height()) / pitch));
        for (int index = first; index <= last; ++index) {
            const QRectF box(left, kGapPx + index * pitch - top, page.width(), page.height());
            painter.fillRect(box.translated(3, 3), QColor(0, 0, 0, 80));
            painter.fillRect(box, Qt::white);
            try {
                const LaidOutPage& laidOut = report_.page(index);
                painter.save();
                painter.setClipRect(box);
                painter.translate(box.topLeft());
                painter.scale(zoom_, zoom_);
                // The count is said once it is final; until then the page says "of ...".
                paintPage(painter, laidOut, logicalDpiX(), logicalDpiY(), index + 1,
                    report_.finished() ? report_.pageCount() : 0);
                painter.restore();
            } catch (const std::exception& e) {
                // Said once, outside the painting.
                broken_ = true;
                if (failed)
                    QTimer::singleShot(0, this, [this, message = failureText(e)] { failed(message); });
                return;
            }
            if (painted)
                painted(index);
        }
    }

private:
    // Pixels a millimetre at the current zoom (100%: the page's real size on this screen).
    double pxPerMm(double zoom) const { return zoom * logicalDpiX() / 25.4; }
    QSizeF pageSizePx() const { return report_.definition().pageMm * pxPerMm(zoom_); }
    double pitchPx() const { return pageSizePx().height() + kGapPx; }
    double fittingZoom() const
    {
        const double width = report_.definition().pageMm.width() * pxPerMm(1.0);
        return qBound(kMinZoom, (viewport()->width() - 2 * kGapPx) / width, kMaxZoom);
    }
    void applyZoom(double zoom)
    {
        // The page at the top stays there, as far down it as it was.
        const double pitch = pitchPx();
        const double at = verticalScrollBar()->value() / pitch;
        zoom_ = zoom;
        updateScrollBars();
        verticalScrollBar()->setValue(int(std::lround(at * pitchPx())));
        viewport()->update();
    }
    void updateScrollBars()
    {
        const QSizeF page = pageSizePx();
        const double pitch = pitchPx();
        // Every page can come to the top, the last one too.
        const double all = kGapPx + pages_ * pitch;
        const double maxY = pages_ == 0 ? 0 : qMax((pages_ - 1) * pitch, all - viewport()->height());
        verticalScrollBar()->setRange(0, int(qMin(maxY, double(std::numeric_limits<int>::max()))));
        verticalScrollBar()->setPageStep(viewport()->height());
        verticalScrollBar()->setSingleStep(qMax(1, int(page.height() / 20)));
        const double maxX = page.width() + 2 * kGapPx - viewport()->width();
        horizontalScrollBar()->setRange(0, qMax(0, int(maxX)));
        horizontalScrollBar()->setPageStep(viewport()->width());
    }

    PagedReport& report_;
    int pages_ = 0;
    double zoom_ = 1.0;
    bool fitWidth_ = true;
    bool broken_ = false;
};

// The progress of a report streamed to a printer or a file: shown when it lasts, its Cancel stops
// the stream. While it shows, the desk's events go on between pages.
class StreamProgress {
public:
    StreamProgress(QWidget* parent, const QString& doing, const PagedReport& report)
        : dialog_(doing, QObject::tr("Cancel"), 0, qMax(1, report.pageCount()), parent)
        , report_(report)
    {
        dialog_.setObjectName(QStringLiteral("PrintProgress"));
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(500);
        dialog_.setAutoClose(false);
        dialog_.setAutoReset(false);
    }
    // Before page `page`: false once the operator cancelled.
    bool next(int page)
    {
        // The preview may still be counting; the bar follows what it knows.
        if (report_.pageCount() > dialog_.maximum())
            dialog_.setMaximum(report_.pageCount());
        dialog_.setValue(qMin(page, dialog_.maximum()));
        return !dialog_.wasCanceled();
    }

private:
    QProgressDialog dialog_;
    const PagedReport& report_;
};

ReportPreview::ReportPreview(ReportDefinition definition, PagedReport::SourceFactory openSource, const QString& title,
    QWidget* parent)
    : QDialog(parent)
    , report_(std::move(definition), std::move(openSource))
    , title_(title)
{
    setWindowTitle(tr("%1 - Preview").arg(title));
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setWindowFlag(Qt::WindowMinimizeButtonHint);

    view_ = new PageView(report_, this);
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("PreviewToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto addAction = [&](const QString& name, const QString& text, const QKeySequence& key, auto slot) {
        QAction* action = bar->addAction(text);
        action->setObjectName(name);
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    fitWidth_ = addAction(QStringLiteral("FitWidth"), tr("Fit Width"), {}, [this] { view_->setFitWidth(true); });
    fitWidth_->setCheckable(true);
    fitWidth_->setChecked(true);
    addAction(QStringLiteral("ZoomIn"), tr("Zoom In"), QKeySequence::ZoomIn, [this] {
        view_->setZoom(view_->zoom() * kZoomStep);
        fitWidth_->setChecked(false);
    });
    addAction(QStringLiteral("ZoomOut"), tr("Zoom Out"), QKeySequence::ZoomOut, [this] {
        view_->setZoom(view_->zoom() / kZoomStep);
        fitWidth_->setChecked(false);
    });
    bar->addSeparator();
    addAction(QStringLiteral("FirstPage"), tr("First"), {}, [this] { setCurrentPage(0); });
    addAction(QStringLiteral("PreviousPage"), tr("Previous"), {}, [this] { setCurrentPage(currentPage() - 1); });
    bar->addWidget(new QLabel(tr(" Page "), bar));
    pageSpin_ = new QSpinBox(bar);
    pageSpin_->setObjectName(QStringLiteral("PageSpin"));
    pageSpin_->setKeyboardTracking(false);
    pageSpin_->setMinimumWidth(pageSpin_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 24);
    bar->addWidget(pageSpin_);
    pageCountLabel_ = new QLabel(bar);
    pageCountLabel_->setObjectName(QStringLiteral("PageCount"));
    pageCountLabel_->setMinimumWidth(pageCountLabel_->fontMetrics().horizontalAdvance(QStringLiteral(" of 000000\u2026 ")));
    bar->addWidget(pageCountLabel_);
    addAction(QStringLiteral("NextPage"), tr("Next"), {}, [this] { setCurrentPage(currentPage() + 1); });
    addAction(QStringLiteral("LastPage"), tr("Last"), {}, [this] { setCurrentPage(pageCount() - 1); });
    bar->addSeparator();
    addAction(QStringLiteral("Print"), tr("Print..."), QKeySequence::Print, [this] { print(); });
    addAction(QStringLiteral("PrintToFile"), tr("Print to File..."), {}, [this] { printToFile(); });
    addAction(QStringLiteral("ClosePreview"), tr("Close"), {}, [this] { reject(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(view_, 1);
    setFocusProxy(view_);

    connect(pageSpin_, &QSpinBox::valueChanged, this, [this](int page) {
        if (page - 1 != view_->currentPage())
            view_->goToPage(page - 1);
    });
    view_->currentChanged = [this] {
        if (pageSpin_->value() != view_->currentPage() + 1)
            pageSpin_->setValue(view_->currentPage() + 1);
    };
    view_->painted = [this](int index) { emit pagePainted(index); };
    view_->failed = [this](const QString& message) { fail(message); };

    layoutTimer_ = new QTimer(this);
    layoutTimer_->setInterval(0);
    connect(layoutTimer_, &QTimer::timeout, this, &ReportPreview::layOutStep);

    // The first page now, so that it shows with the window.
    try {
        report_.layOutMore(1);
    } catch (const std::exception& e) {
        fail(failureText(e));
    }
    updatePageControls();

    // As large as the screen allows.
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
        resize(screen->availableGeometry().size());
        move(screen->availableGeometry().topLeft());
    }
    setWindowState(windowState() | Qt::WindowMaximized);
}

ReportPreview::~ReportPreview() = default;

int ReportPreview::pageCount() const { return report_.pageCount(); }
bool ReportPreview::layoutFinished() const { return report_.finished(); }
int ReportPreview::currentPage() const { return view_->currentPage(); }
void ReportPreview::setCurrentPage(int index) { view_->goToPage(index); }
double ReportPreview::zoom() const { return view_->zoom(); }
bool ReportPreview::fitsWidth() const { return view_->fitsWidth(); }

void ReportPreview::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!report_.finished() && !failed_)
        layoutTimer_->start();
    view_->setFocus();
}

void ReportPreview::done(int result)
{
    // Closed: the layout stops with it.
    layoutTimer_->stop();
    QDialog::done(result);
}

void ReportPreview::layOutStep()
{
    try {
        report_.layOutMore(kPagesPerStep, kStepMs);
    } catch (const std::exception& e) {
        fail(failureText(e));
    }
    if (report_.finished() || failed_)
        layoutTimer_->stop();
    updatePageControls();
}

void ReportPreview::updatePageControls()
{
    const int pages = report_.pageCount();
    const bool final = report_.finished() || failed_;
    view_->setPageCount(pages);
    pageSpin_->setRange(pages > 0 ? 1 : 0, qMax(pages, 0));
    pageSpin_->setEnabled(pages > 0);
    pageCountLabel_->setText(final ? tr(" of %1 ").arg(pages) : tr(" of %1\u2026 ").arg(pages));
    // The pages in sight say their count once it is final.
    if (final)
        view_->viewport()->update();
    emit pageCountChanged(pages, final);
}

void ReportPreview::fail(const QString& message)
{
    if (failed_)
        return;
    failed_ = true;
    layoutTimer_->stop();
    // Outside whatever step found it.
    QMetaObject::invokeMethod(
        this, [this, message] { QMessageBox::critical(this, title_, message); }, Qt::QueuedConnection);
}

bool ReportPreview::finishLayout(StreamProgress& progress)
{
    // The pages say "Page N of M": the count is made final first, under the same progress window.
    while (!report_.finished() && !failed_) {
        report_.layOutMore(kPagesPerStep, kStepMs);
        updatePageControls();
        if (!progress.next(0))
            return false;
    }
    return !failed_;
}

int ReportPreview::stream(QPagedPaintDevice& device, const QString& doing, bool* stopped)
{
    StreamProgress progress(this, doing, report_);
    *stopped = false;
    try {
        if (!finishLayout(progress)) {
            *stopped = !failed_;
            return failed_ ? -1 : 0;
        }
        std::unique_ptr<RecordSource> source = report_.openSource();
        ReportLayout layout(report_.definition(), *source);
        return paintReport(
            layout, device,
            [&](int page) {
                *stopped = !progress.next(page);
                return !*stopped;
            },
            report_.pageCount());
    } catch (const std::exception& e) {
        QMessageBox::critical(this, title_, failureText(e));
        return -1;
    }
}

void ReportPreview::print()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(report_.definition().pageMm, QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true); // the report places everything from the paper's corner
    printer.setDocName(title_);
    QPrintDialog dialog(&printer, this);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    bool stopped = false;
    const int pages = stream(printer, tr("Printing %1...").arg(title_), &stopped);
    if (stopped)
        printer.abort();
    else if (pages < 0)
        QMessageBox::warning(this, title_, tr("The report could not be printed."));
}

void ReportPreview::printToFile()
{
    const QFileInfo proposed(proposedPdfPath_);
    QFileDialog dialog(this, tr("Print to File"));
    dialog.setObjectName(QStringLiteral("PrintToFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(tr("PDF files (*.pdf)"));
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (!proposedPdfPath_.isEmpty()) {
        dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    const int pages = writePdf(path);
    if (pages < 0) {
        QMessageBox::warning(this, title_, tr("Cannot write %1.").arg(QDir::toNativeSeparators(path)));
    } else if (pages > 0) {
        // Where it went, in full: the dialog may have been left at the proposed name.
        QMessageBox box(QMessageBox::Information, title_,
            tr("%1 written to %2 (%n page(s)).", nullptr, pages)
                .arg(title_, QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
            QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("PdfWrittenBox"));
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.exec();
    }
}

int ReportPreview::writePdf(const QString& path)
{
    StreamProgress progress(this, tr("Writing %1...").arg(QFileInfo(path).fileName()), report_);
    try {
        if (!finishLayout(progress))
            return failed_ ? -1 : 0;
        std::unique_ptr<RecordSource> source = report_.openSource();
        return report::writePdf(
            report_.definition(), *source, path, title_, [&](int page) { return progress.next(page); },
            report_.pageCount());
    } catch (const std::exception& e) {
        QMessageBox::critical(this, title_, failureText(e));
        return -1;
    }
}

} // namespace report

#include "moc_reportpreview.cpp"
