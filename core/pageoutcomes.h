#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace store {
class Table;
}

namespace core {

struct Page;

// Writes what becomes of each page into DLVSTAT: one row for each pager ID of a page when it is
// queued (WAITING), changed in place as it goes on, and a REFUSED row for a page refused before it
// could be queued. The queues stay the truth for sending: a row that cannot be written is said once
// (fault) and the page goes on without it.
class PageOutcomes {
public:
    explicit PageOutcomes(store::Table& table);

    // The moment written into CHANGED; the system clock unless replaced.
    std::function<QDateTime()> clock;
    // Says a fault of the table; each new text once.
    std::function<void(const QString&)> fault;

    // A page about to be queued: a WAITING row for each of its pager IDs, their record numbers into
    // page.statusRows.
    void queued(Page& page);
    // A page refused by its preparation (no such carrier, a bad pager ID or phone number). Returns
    // its row's record number (0: none could be written).
    quint32 refused(const QString& userName, const QString& pagerId, const QString& logRecord);
    // How many pages were refused since the desk started.
    int refusedCount() const { return refused_; }

    // Every row of the page to `status`, the rest of each row as it is.
    void setAll(const Page& page, const QString& status);
    // The rows of the page that are not `status` yet become it (the start-up's pending pages: no
    // write for a row already right).
    void settleAll(const Page& page, const QString& status);
    // The row of the page's `index`th pager ID to `status`, and, when `method` is given, the path that
    // took it and the carrier's tracking number. Returns the row's record number (0: none).
    quint32 set(const Page& page, qsizetype index, const QString& status, const QString& method = QString(),
        const QString& address = QString(), const QString& tracking = QString());

    // A table file removed while the desk had it open is made anew (said once through `fault`), so
    // that the rows written from here on go where other programs look; one replaced is opened again.
    // Run before each write, and by whoever else writes the table.
    void checkTableFile();

    // After another program kept the table locked past the store's wait, the rows rest this long: a
    // page is not held up by that wait at every row.
    static constexpr int kRestMs = 30 * 1000;

private:
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTime(); }
    // Runs a write of the table; a fault is said (a lock starts the rest) and gives false.
    template <typename Write> bool write(Write write);

    store::Table& table_;
    QDateTime restUntil_;
    int refused_ = 0;
    QString lastFault_;
    // A file's device and inode.
    using FileId = std::pair<quint64, quint64>;
    // The table file that its name leads to now (none: no file has its name).
    std::optional<FileId> tableFile() const;
    // The table file as last opened (none: not known yet).
    std::optional<FileId> openedFile_;
};

} // namespace core
