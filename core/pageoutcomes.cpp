#include "core/pageoutcomes.h"

#include "core/deliverystatus.h"
#include "core/page.h"
#include "store/connection.h"
#include "store/schema.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QFile>

#include <sys/stat.h>

namespace core {

PageOutcomes::PageOutcomes(store::Table& table)
    : table_(table)
{
}

std::optional<PageOutcomes::FileId> PageOutcomes::tableFile() const
{
    const QString path = table_.connection().existingPath(table_.tableName());
    struct stat st = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileId { quint64(st.st_dev), quint64(st.st_ino) };
}

void PageOutcomes::checkTableFile()
{
    if (!table_.isOpen())
        return;
    const std::optional<FileId> named = tableFile();
    if (named && (!openedFile_ || *named == *openedFile_)) {
        openedFile_ = named; // the first check learns the file the desk opened
        return;
    }
    const store::Connection connection = table_.connection();
    table_.close();
    if (!named) {
        store::Create_DlvStat(connection);
        store::Index_DlvStat(table_, connection);
        if (fault)
            fault(QStringLiteral("%1 was removed while the desk had it open: a new one is made, and the delivery "
                                 "status of the pages before it is lost")
                      .arg(table_.tableName()));
    }
    table_.open();
    openedFile_ = tableFile();
}

template <typename Write> bool PageOutcomes::write(Write write)
{
    QString text;
    try {
        if (restUntil_.isValid() && QDateTime::currentDateTime() < restUntil_)
            return false;
        checkTableFile();
        if (write())
            return true;
        text = QStringLiteral("a page's row is missing");
    } catch (const store::LockedError& e) {
        restUntil_ = QDateTime::currentDateTime().addMSecs(kRestMs);
        text = e.message();
    } catch (const store::StoreError& e) {
        text = e.message();
    }
    const QString line = QStringLiteral("The delivery status could not be saved: ") + text;
    if (line != lastFault_ && fault)
        fault(line);
    lastFault_ = line;
    return false;
}

void PageOutcomes::queued(Page& page)
{
    const QStringList ids = page.pagerIds();
    page.statusRows.clear();
    const QDateTime moment = now();
    for (qsizetype i = 0; i < ids.size(); ++i) {
        StatusRow row;
        row.logRecord = page.logRecord;
        row.pagerId = ids.at(i);
        row.userName = page.userNameAt(i);
        row.status = kWaiting;
        row.changed = moment;
        quint32 recNo = 0;
        write([&] { return (recNo = addStatusRow(table_, row)) != 0; });
        page.statusRows << recNo;
    }
}

quint32 PageOutcomes::refused(const QString& userName, const QString& pagerId, const QString& logRecord)
{
    ++refused_;
    StatusRow row;
    row.logRecord = logRecord;
    row.pagerId = pagerId;
    row.userName = userName;
    row.status = kRefused;
    row.changed = now();
    quint32 recNo = 0;
    write([&] { return (recNo = addStatusRow(table_, row)) != 0; });
    return recNo;
}

void PageOutcomes::setAll(const Page& page, const QString& status)
{
    for (qsizetype i = 0; i < page.statusRows.size(); ++i)
        set(page, i, status);
}

void PageOutcomes::settleAll(const Page& page, const QString& status)
{
    for (const quint32 recNo : page.statusRows) {
        if (recNo == 0)
            continue;
        write([&] {
            const StatusRow row = statusRowAt(table_, recNo);
            return row.recNo != 0 && (row.status == status || updateStatusRow(table_, recNo, status, now()));
        });
    }
}

quint32 PageOutcomes::set(const Page& page, qsizetype index, const QString& status, const QString& method,
    const QString& address, const QString& tracking)
{
    const quint32 recNo = page.statusRows.value(index);
    if (recNo == 0)
        return 0;
    return write([&] { return updateStatusRow(table_, recNo, status, now(), method, address, tracking); }) ? recNo : 0;
}

} // namespace core
