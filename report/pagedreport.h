#pragma once

#include "report/reportlayout.h"

#include <functional>
#include <memory>
#include <vector>

namespace report {

// A report laid out a few pages at a time while it is shown, so that its first page is there at
// once and its page count grows as the layout goes on. Any page laid out so far is given on request,
// laid out again from where it begins. It keeps where each page begins (a record's place and a group
// key) and the few pages asked for last, never the pages themselves, so its memory hardly grows with
// the report. A source that cannot come back to a record is walked again from its start instead.
//
// The sources it opens may throw; the exception reaches the caller of layOutMore() or page().
class PagedReport {
public:
    // Opens a new source over the report's records, from the first: one walks the report, one
    // lays out the pages asked for, and one more for each print.
    using SourceFactory = std::function<std::unique_ptr<RecordSource>()>;

    PagedReport(ReportDefinition definition, SourceFactory openSource);
    ~PagedReport();
    PagedReport(const PagedReport&) = delete;
    PagedReport& operator=(const PagedReport&) = delete;

    // Lays out up to `maxPages` further pages, stopping sooner once `budgetMs` have passed (0: no
    // time limit). Returns true while pages remain.
    bool layOutMore(int maxPages, int budgetMs = 0);
    // The pages laid out so far; final once finished().
    int pageCount() const { return pageCount_; }
    bool finished() const { return finished_; }
    // Page `index` of those laid out so far (0 <= index < pageCount()).
    const LaidOutPage& page(int index);

    const ReportDefinition& definition() const { return definition_; }
    // A new source from the first record, to print the report from its start.
    std::unique_ptr<RecordSource> openSource() const { return openSource_(); }

private:
    // Keeps `page` as page `index` among the recent ones; returns the kept copy.
    const LaidOutPage& remember(int index, LaidOutPage page);

    ReportDefinition definition_;
    SourceFactory openSource_;
    // The walk that counts the pages.
    std::unique_ptr<RecordSource> walkSource_;
    std::unique_ptr<ReportLayout> walk_;
    // The layout of pages asked for, and the page it gives next (consecutive pages read on).
    std::unique_ptr<RecordSource> readSource_;
    std::unique_ptr<ReportLayout> read_;
    int readNext_ = -1;
    // starts_[i - 1]: where page i begins (page 0 begins with the report); unset when the source
    // cannot come back there.
    std::vector<std::optional<ReportLayout::Resume>> starts_;
    int pageCount_ = 0;
    bool finished_ = false;
    // The pages asked for last, the newest at the back.
    std::vector<std::pair<int, LaidOutPage>> recent_;
};

} // namespace report
