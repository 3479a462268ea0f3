#pragma once

#include "report/reportlayout.h"

class QPagedPaintDevice;
class QPainter;

namespace report {

// Paints one laid-out page with `painter`, on a device of `dpiX` by `dpiY` whose origin is the
// page's top left corner; its page texts say page `number` of `count` (numberedText()).
void paintPage(
    QPainter& painter, const LaidOutPage& page, double dpiX, double dpiY, int number = 0, int count = 0);

// Lays the report out page by page and paints each page as it comes onto `device` (its page size
// and margins already set, its origin at the paper's corner); returns the number of pages. Nothing
// is painted, and the device never begun, for a report without pages. `keepGoing`, when set, is
// asked before each page; false stops. `pageCount` is what the pages say of the report's length
// (0: not known).
int paintReport(ReportLayout& layout, QPagedPaintDevice& device,
    const std::function<bool(int page)>& keepGoing = {}, int pageCount = 0);

// The pages the report of `definition` over `source` takes: the whole report laid out, nothing kept.
int countPages(const ReportDefinition& definition, RecordSource& source);

// Writes the report as a PDF file at `path` (the definition's page size), page by page; the file
// appears whole or not at all. Returns the number of pages; 0 writes no file (no pages, or
// `keepGoing`, asked before each page, stopped it). A file that cannot be written gives -1. A report
// with page texts (its page count) is laid out twice, once to count its pages, when `pageCount` is
// not given and the source can start again.
int writePdf(const ReportDefinition& definition, RecordSource& source, const QString& path,
    const QString& title, const std::function<bool(int page)>& keepGoing = {}, int pageCount = 0);

} // namespace report
