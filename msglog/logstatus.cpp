#include "msglog/logstatus.h"

#include "core/deliverystatus.h"
#include "core/desk.h"
#include "store/schema.h"
#include "store/table.h"

#include <QFileInfo>

namespace msglog {

namespace {

// A file changed this recently may change again within the same tick of its modification time,
// unseen: it is taken as changed at each check until it is older.
constexpr qint64 kSettledMs = 2000;

} // namespace

LogStatus::LogStatus(core::Desk& desk, QObject* parent)
    : QObject(parent)
    , desk_(desk)
{
    // The desk's own writes: a row appended or changed (a refresh, or an edit or append posted).
    store::Table& shared = desk.DlvStatT();
    connect(&shared, &store::Table::tableChanged, this, &LogStatus::scheduleChanged);
    connect(&shared, &store::Table::stateChanged, this, [this](store::Table::State state) {
        if (state == store::Table::State::Browse)
            scheduleChanged();
    });
    checkTimer_.setInterval(kCheckMs);
    connect(&checkTimer_, &QTimer::timeout, this, &LogStatus::check);
}

LogStatus::~LogStatus() = default;

QString LogStatus::statusOf(uint32_t logRecNo)
{
    if (!reader_) {
        auto reader = std::make_unique<store::Table>();
        reader->setConnection(desk_.Plimo32());
        reader->setTableName(store::dlvStatSchema().openedAs);
        reader->setIndexName(QStringLiteral("BY_LOG"));
        reader->open();
        reader_ = std::move(reader);
    }
    return shownAs(core::statusOfLog(*reader_, core::logRecordKey(logRecNo)));
}

QString LogStatus::shownAs(const QString& status)
{
    return status.left(1) + status.mid(1).toLower();
}

void LogStatus::check()
{
    const QFileInfo file(desk_.Plimo32().existingPath(store::dlvStatSchema().openedAs));
    const QDateTime modified = file.lastModified();
    const qint64 size = file.exists() ? file.size() : -1;
    const bool recent = modified.isValid() && modified.msecsTo(QDateTime::currentDateTime()) < kSettledMs;
    if (modified == seenModified_ && size == seenSize_ && !recent)
        return;
    seenModified_ = modified;
    seenSize_ = size;
    scheduleChanged();
}

void LogStatus::setFollowing(bool on)
{
    if (on) {
        check();
        checkTimer_.start();
    } else {
        checkTimer_.stop();
    }
}

// A burst of changes (a poll that walks the table) is one report, once the event loop is free.
void LogStatus::scheduleChanged()
{
    if (changePending_)
        return;
    changePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            changePending_ = false;
            emit changed();
        },
        Qt::QueuedConnection);
}

} // namespace msglog

#include "moc_logstatus.cpp"
