#pragma once

#include "report/pagedreport.h"

#include <QDialog>

class QLabel;
class QSpinBox;
class QTimer;
class QAction;
class QPagedPaintDevice;

namespace report {

class PageView;
class StreamProgress;

// The desk's report preview: the report's pages as they are laid out, the first at once, the rest
// laid out a few at a time on the event loop while the operator reads (the page count reads
// "of 12…" until it is final). Only the pages in sight are painted, laid out again from where they
// begin, so neither opening nor memory grows with the report. It opens filling the screen's
// available area with the page fitted to its width.
//
// Toolbar: fit to width, zoom in and out, first / previous / next / last page, the page number,
// Print (the printer dialog, then the report streamed to the printer page by page from its start),
// Print to file (a PDF file, streamed the same way) and Close. Keys: PageUp / PageDown, Home / End,
// Ctrl+P prints, Esc closes. Closing it stops the layout.
class ReportPreview : public QDialog {
    Q_OBJECT

public:
    ReportPreview(ReportDefinition definition, PagedReport::SourceFactory openSource, const QString& title,
        QWidget* parent = nullptr);
    ~ReportPreview() override;

    // Where "Print to file" proposes to write (a folder and a file name).
    void setProposedPdfPath(const QString& path) { proposedPdfPath_ = path; }
    QString proposedPdfPath() const { return proposedPdfPath_; }

    // The pages laid out so far, and whether that count is final.
    int pageCount() const;
    bool layoutFinished() const;
    // The page at the top of the view, from 0.
    int currentPage() const;
    void setCurrentPage(int index);
    // Screen pixels per device pixel of a page at 100%; the fit to width sets it as the window sizes.
    double zoom() const;
    bool fitsWidth() const;

    // "Print": the printer dialog, then the report to the printer.
    void print();
    // "Print to file": the file dialog at proposedPdfPath(), then the report to that file.
    void printToFile();
    // The whole report to `path` as PDF, page by page under a progress window that can stop it.
    // The number of pages, 0 when stopped (no file), -1 when the file cannot be written.
    int writePdf(const QString& path);

signals:
    // The page count grew or became final.
    void pageCountChanged(int pages, bool final);
    // Page `index` was painted on screen.
    void pagePainted(int index);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void layOutStep();
    void updatePageControls();
    // Lays the rest of the report out, so its page count is final; false when stopped or failed.
    bool finishLayout(StreamProgress& progress);
    // Streams the report to `device` from its first record; the pages painted, -1 on failure.
    int stream(QPagedPaintDevice& device, const QString& doing, bool* stopped);
    // Shows a failure of the records' source and stops the layout.
    void fail(const QString& message);

    PagedReport report_;
    QString title_;
    QString proposedPdfPath_;
    PageView* view_;
    QSpinBox* pageSpin_;
    QLabel* pageCountLabel_;
    QAction* fitWidth_;
    QTimer* layoutTimer_;
    bool failed_ = false;
};

} // namespace report
