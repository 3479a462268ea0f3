#include "report/pagedreport.h"

#include <QElapsedTimer>

#include <algorithm>

namespace report {

namespace {
// Enough for every page a zoomed-out window shows at once; a page is a few dozen kilobytes.
constexpr size_t kRecentPages = 24;
} // namespace

PagedReport::PagedReport(ReportDefinition definition, SourceFactory openSource)
    : definition_(std::move(definition))
    , openSource_(std::move(openSource))
{
}

PagedReport::~PagedReport() = default;

bool PagedReport::layOutMore(int maxPages, int budgetMs)
{
    if (finished_)
        return false;
    if (!walk_) {
        walkSource_ = openSource_();
        walk_ = std::make_unique<ReportLayout>(definition_, *walkSource_);
    }
    QElapsedTimer clock;
    clock.start();
    for (int done = 0; done < maxPages; ++done) {
        if (budgetMs > 0 && done > 0 && clock.elapsed() >= budgetMs)
            break;
        const std::optional<ReportLayout::Resume> start = pageCount_ > 0 ? walk_->resumePoint() : std::nullopt;
        std::optional<LaidOutPage> page = walk_->nextPage();
        if (!page) {
            finished_ = true;
            walk_.reset();
            walkSource_.reset();
            return false;
        }
        if (pageCount_ > 0)
            starts_.push_back(start);
        // The first page is the one shown first: kept, not laid out twice.
        if (pageCount_ == 0)
            remember(0, std::move(*page));
        ++pageCount_;
        // The count is final with the last page, not one step later.
        if (walk_->atEnd()) {
            finished_ = true;
            walk_.reset();
            walkSource_.reset();
            return false;
        }
    }
    return true;
}

const LaidOutPage& PagedReport::page(int index)
{
    Q_ASSERT(index >= 0 && index < pageCount_);
    for (auto it = recent_.begin(); it != recent_.end(); ++it)
        if (it->first == index) {
            if (it + 1 != recent_.end())
                std::rotate(it, it + 1, recent_.end());
            return recent_.back().second;
        }

    if (!read_ || readNext_ != index) {
        read_.reset();
        const std::optional<ReportLayout::Resume> start = index > 0 ? starts_.at(index - 1) : std::nullopt;
        if (start) {
            // One source serves every jump: it goes back to the page's first record.
            if (!readSource_)
                readSource_ = openSource_();
            read_ = std::make_unique<ReportLayout>(definition_, *readSource_, *start);
            readNext_ = index;
        } else {
            readSource_ = openSource_();
            read_ = std::make_unique<ReportLayout>(definition_, *readSource_);
            for (readNext_ = 0; readNext_ < index && read_->nextPage(); ++readNext_) { }
        }
    }
    std::optional<LaidOutPage> page = read_->nextPage();
    ++readNext_;
    // A record gone since the page was counted leaves its page blank rather than failing.
    return remember(index, page ? std::move(*page) : LaidOutPage());
}

const LaidOutPage& PagedReport::remember(int index, LaidOutPage page)
{
    if (recent_.size() >= kRecentPages)
        recent_.erase(recent_.begin());
    recent_.emplace_back(index, std::move(page));
    return recent_.back().second;
}

} // namespace report
