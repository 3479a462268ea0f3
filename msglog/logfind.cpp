#include "msglog/logfind.h"

#include "store/cp1252.h"
#include "store/fieldnames.h"
#include "store/storeerror.h"
#include "store/table.h"

#include <QLocale>

#include <algorithm>

namespace msglog {

namespace {

const QString kByDate = QStringLiteral("BY_DATE");
const QString kByName = QStringLiteral("BY_NAME");

// A field's text as the tag holds it: Windows-1252 bytes, cut or blank-padded to the width.
QByteArray keyPart(const QString& text, int width)
{
    QByteArray bytes = store::toCp1252(text).left(width);
    bytes.append(QByteArray(width - bytes.size(), ' '));
    return bytes;
}

// The first key of the fixed width after every key that starts with `prefix`: its last byte that
// can still grow, grown (so "2026/03/02" gives "2026/03/03", and a name padded with blanks ends
// in "!" instead of its last blank). Empty when there is none: the range runs to the end.
QByteArray after(QByteArray prefix)
{
    for (qsizetype i = prefix.size() - 1; i >= 0; --i) {
        if (uchar(prefix[i]) != 0xFF) {
            prefix[i] = char(uchar(prefix[i]) + 1);
            return prefix.left(i + 1);
        }
    }
    return {};
}

QString dayText(const QDate& day)
{
    return QLocale::c().toString(day, QStringLiteral("yyyy'/'MM'/'dd"));
}

} // namespace

LogFind::LogFind(const store::Table& log, QObject* parent)
    : QObject(parent)
    , log_(log)
{
    stepTimer_.setSingleShot(true);
    stepTimer_.setInterval(0);
    connect(&stepTimer_, &QTimer::timeout, this, &LogFind::step);
}

LogFind::~LogFind() = default;

void LogFind::cancel()
{
    stepTimer_.stop();
    running_ = false;
}

void LogFind::finish()
{
    stepTimer_.stop();
    running_ = false;
}

void LogFind::openReader()
{
    if (reader_ && reader_->isOpen()) {
        // Sends append to the log between finds: read it as it is now.
        reader_->refresh();
        return;
    }
    reader_ = std::make_unique<store::Table>();
    reader_->setConnection(log_.connection());
    reader_->setTableName(log_.tableName());
    reader_->open();
    for (const store::FieldDef& field : reader_->fields()) {
        if (field.name == store::msglog::UserName.toLatin1())
            usernameWidth_ = field.width;
        else if (field.name == store::msglog::DDate.toLatin1())
            ddateWidth_ = field.width;
    }
}

void LogFind::start(const LogFindCriteria& criteria, Direction direction, uint32_t fromRecNo)
{
    cancel();
    steps_ = 0;
    if (criteria.isEmpty()) {
        emit failed(QStringLiteral("Type a user, a text or a day to find."));
        return;
    }
    criteria_ = criteria;
    direction_ = direction;
    byName_ = !criteria.user.isEmpty();
    try {
        openReader();
        reader_->selectTag(byName_ ? kByName : kByDate);
        QByteArray prefix;
        if (byName_)
            prefix = keyPart(criteria.user, usernameWidth_);
        if (criteria.day.isValid())
            prefix += keyPart(dayText(criteria.day), ddateWidth_);
        low_ = prefix;
        high_ = prefix.isEmpty() ? QByteArray() : after(prefix);

        // The entries the range ends at, for the progress shown.
        const bool forward = direction_ == Direction::Forward;
        const QByteArray& end = forward ? high_ : low_;
        if (end.isEmpty()) {
            endEntry_ = forward ? reader_->entryCount() : 0;
        } else {
            reader_->seek(end);
            endEntry_ = reader_->eof() ? reader_->entryCount() : reader_->entryNumber();
        }
        place(fromRecNo);
        startEntry_ = reader_->entryNumber();
    } catch (const store::StoreError& error) {
        finish();
        emit failed(error.message());
        return;
    }
    running_ = true;
    stepTimer_.start();
}

// Puts the reader where the walk starts: on the record after (before) the start record in the
// range's order, or near it. The start record need not be in the range: in BY_NAME another
// user's record stands for its place among the user's records, its day and record number, and
// the walk then passes over the user's records of that day on the wrong side of it (outside()).
void LogFind::place(uint32_t fromRecNo)
{
    store::Table& reader = *reader_;
    const bool forward = direction_ == Direction::Forward;
    startRecNo_ = 0;
    startDay_.clear();
    wrapped_ = false;
    QByteArray startKey;
    bool onStart = false; // the reader stands on the start record, which is in the walk's order
    if (fromRecNo != 0) {
        const uint32_t entry = reader.entryNumberOf(fromRecNo);
        if (entry < reader.entryCount() && reader.goToEntry(entry) && reader.recNo() == fromRecNo) {
            startRecNo_ = fromRecNo;
            startDay_ = reader.fieldText(store::msglog::DDate);
            startKey = keyPart(startDay_, ddateWidth_);
            if (byName_) {
                const QByteArray own = keyPart(reader.fieldText(store::msglog::UserName), usernameWidth_);
                const QByteArray user = keyPart(criteria_.user, usernameWidth_);
                onStart = own == user;
                startKey.prepend(user);
            } else {
                onStart = true;
            }
        }
    }
    startKey_ = startKey;
    if (forward) {
        if (startRecNo_ == 0 || (!low_.isEmpty() && startKey < low_)) {
            startRecNo_ = 0;
            if (low_.isEmpty())
                reader.first();
            else
                reader.seek(low_);
        } else if (onStart) {
            reader.next();
        } else {
            reader.seek(startKey);
        }
        return;
    }
    if (startRecNo_ != 0 && (high_.isEmpty() || startKey < high_)) {
        if (onStart) {
            reader.prior();
            return;
        }
        // The last of the user's records of the start's day, or the last one before that day.
        const QByteArray beyond = after(startKey);
        if (!beyond.isEmpty())
            reader.seek(beyond);
    } else {
        startRecNo_ = 0;
        if (!high_.isEmpty())
            reader.seek(high_);
    }
    if (reader.eof() || (high_.isEmpty() && startRecNo_ == 0))
        reader.last();
    else
        reader.prior();
}

// A record of the start's day on the wrong side of the start record (by record number, the
// order within a day): passed over.
bool LogFind::outside() const
{
    if (startRecNo_ == 0)
        return false;
    const uint32_t recNo = reader_->recNo();
    if (direction_ == Direction::Forward ? recNo > startRecNo_ : recNo < startRecNo_)
        return false;
    return reader_->fieldText(store::msglog::DDate) == startDay_;
}

bool LogFind::wrapRound()
{
    // A walk that began at an end of the range has seen it all; a day's records end with the day.
    if (wrapped_ || startRecNo_ == 0 || criteria_.day.isValid())
        return false;
    wrapped_ = true;
    store::Table& reader = *reader_;
    const bool forward = direction_ == Direction::Forward;
    if (forward) {
        if (low_.isEmpty())
            reader.first();
        else
            reader.seek(low_);
    } else if (high_.isEmpty()) {
        reader.last();
    } else {
        reader.seek(high_);
        if (reader.eof())
            reader.last();
        else
            reader.prior();
    }
    // The progress now runs from the range's end to the start record's place.
    startEntry_ = reader.entryNumber();
    const uint32_t entry = reader.entryNumberOf(startRecNo_);
    endEntry_ = entry < reader.entryCount() ? entry : (forward ? reader.entryCount() : 0);
    emit wrappedRound();
    return true;
}

// After a wrap, a record beyond the start record's place in the walk's direction: the walk has
// come round to where it began (the start record itself is examined).
bool LogFind::pastStart() const
{
    if (!wrapped_)
        return false;
    const QByteArray key = currentKey();
    const uint32_t recNo = reader_->recNo();
    if (direction_ == Direction::Forward)
        return key > startKey_ || (key == startKey_ && recNo > startRecNo_);
    return key < startKey_ || (key == startKey_ && recNo < startRecNo_);
}

// The current record's key in the selected tag, as far as the range's keys reach.
QByteArray LogFind::currentKey() const
{
    QByteArray key;
    if (byName_)
        key = keyPart(reader_->fieldText(store::msglog::UserName), usernameWidth_);
    return key + keyPart(reader_->fieldText(store::msglog::DDate), ddateWidth_);
}

bool LogFind::pastRange(const QByteArray& key) const
{
    if (direction_ == Direction::Forward)
        return !high_.isEmpty() && key.left(high_.size()) >= high_;
    return !low_.isEmpty() && key.left(low_.size()) < low_;
}

int LogFind::percentDone()
{
    const uint32_t at = reader_->entryNumber();
    const int64_t total = int64_t(endEntry_) - int64_t(startEntry_);
    if (total == 0)
        return 100;
    const int64_t done = int64_t(at) - int64_t(startEntry_);
    return int(std::clamp<int64_t>(done * 100 / total, 0, 100));
}

void LogFind::step()
{
    if (!running_)
        return;
    ++steps_;
    QElapsedTimer clock;
    clock.start();
    const bool forward = direction_ == Direction::Forward;
    const bool bounded = !(forward ? high_ : low_).isEmpty();
    try {
        store::Table& reader = *reader_;
        for (int examined = 0;; ++examined) {
            if (examined >= stepRecords_ || clock.elapsed() >= stepBudgetMs_) {
                emit progress(percentDone());
                if (running_)
                    stepTimer_.start();
                return;
            }
            if ((forward && reader.eof()) || (!forward && reader.bof()) || reader.recNo() == 0
                || (bounded && pastRange(currentKey()))) {
                if (wrapRound())
                    continue;
                finish();
                emit notFound();
                return;
            }
            if (pastStart()) {
                finish();
                emit notFound();
                return;
            }
            if ((wrapped_ || !outside())
                && (criteria_.text.isEmpty()
                    || reader.fieldText(store::msglog::Msg).contains(criteria_.text, Qt::CaseInsensitive))) {
                const uint32_t recNo = reader.recNo();
                finish();
                emit found(recNo);
                return;
            }
            if (forward)
                reader.next();
            else
                reader.prior();
        }
    } catch (const store::StoreError& error) {
        finish();
        emit failed(error.message());
    }
}

} // namespace msglog

#include "moc_logfind.cpp"
