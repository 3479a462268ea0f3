#pragma once

#include "report/reportlayout.h"

class QPagedPaintDevice;
class QPainter;

namespace report {

// Paints one laid-out page with `painter`, on a device of `dpiX` by `dpiY` whose origin is the
// page's top left corner.
void paintPage(QPainter& painter, const LaidOutPage& page, double dpiX, double dpiY);

// Lays the report out page by page and paints each page as it comes onto `device` (its page size
// and margins already set, its origin at the paper's corner); returns the number of pages. Nothing
// is painted, and the device never begun, for a report without pages. `keepGoing`, when set, is
// asked before each page; false stops.
int paintReport(ReportLayout& layout, QPagedPaintDevice& device, const std::function<bool(int page)>& keepGoing = {});

// Writes the report as a PDF file at `path` (the definition's page size), page by page; the file
// appears whole or not at all. Returns the number of pages; 0 writes no file (no pages, or
// `keepGoing`, asked before each page, stopped it). A file that cannot be written gives -1.
int writePdf(const ReportDefinition& definition, RecordSource& source, const QString& path, const QString& title,
    const std::function<bool(int page)>& keepGoing = {});

} // namespace report
