#include "report/reportpainter.h"

#include <QFile>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace report {

void paintPage(QPainter& painter, const LaidOutPage& page, double dpiX, double dpiY, int number, int count)
{
    const double sx = dpiX / 25.4;
    const double sy = dpiY / 25.4;
    painter.setPen(Qt::black);
    for (const PlacedText& text : page.texts) {
        painter.setFont(resolveFont(text.font));
        const QRectF box(text.boxMm.left() * sx, text.boxMm.top() * sy, text.boxMm.width() * sx, text.boxMm.height() * sy);
        const int align = (text.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;
        painter.drawText(box, align, text.numbered ? numberedText(text.text, number, count) : text.text);
    }
}

namespace {

// Paints the pages `nextPage` gives, one at a time, asking `keepGoing` before each.
int paintEach(const std::function<std::optional<LaidOutPage>()>& nextPage, QPagedPaintDevice& device,
    const std::function<bool(int page)>& keepGoing, int pageCount)
{
    QPainter painter;
    int pages = 0;
    while (!keepGoing || keepGoing(pages)) {
        std::optional<LaidOutPage> page = nextPage();
        if (!page)
            break;
        if (pages == 0) {
            if (!painter.begin(&device))
                return -1;
        } else {
            device.newPage();
        }
        paintPage(painter, *page, device.logicalDpiX(), device.logicalDpiY(), pages + 1, pageCount);
        ++pages;
    }
    return pages;
}

} // namespace

int paintReport(ReportLayout& layout, QPagedPaintDevice& device,
    const std::function<bool(int page)>& keepGoing, int pageCount)
{
    return paintEach([&layout] { return layout.nextPage(); }, device, keepGoing, pageCount);
}

int countPages(const ReportDefinition& definition, RecordSource& source)
{
    ReportLayout layout(definition, source);
    int pages = 0;
    while (layout.nextPage())
        ++pages;
    return pages;
}

int writePdf(const ReportDefinition& definition, RecordSource& source, const QString& path,
    const QString& title, const std::function<bool(int page)>& keepGoing, int pageCount)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    if (pageCount <= 0 && !definition.pageTexts.isEmpty() && source.restart()) {
        pageCount = countPages(definition, source);
        if (!source.restart())
            return -1;
    }
    ReportLayout layout(definition, source);
    int pages = 0;
    bool stopped = false;
    {
        QPdfWriter writer(&file);
        writer.setTitle(title);
        writer.setCreator(title);
        writer.setResolution(300);
        writer.setPageSize(QPageSize(definition.pageMm, QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        pages = paintReport(
            layout, writer,
            [&](int page) {
                stopped = keepGoing && !keepGoing(page);
                return !stopped;
            },
            pageCount);
        // The painter has ended here: the writer has written the file's end.
    }
    if (pages <= 0 || stopped) {
        file.cancelWriting();
        return pages < 0 ? -1 : 0;
    }
    return file.commit() ? pages : -1;
}

} // namespace report
