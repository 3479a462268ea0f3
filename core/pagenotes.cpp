#include "core/pagenotes.h"

#include "core/deliverymarks.h"
#include "core/page.h"
#include "store/regularfile.h"

namespace core {

namespace {

constexpr int kFingerprintSize = 40;
constexpr int kCarrierWidth = 30; // PAGERCOMP
constexpr int kLogRecordWidth = 10; // LOGREC
constexpr int kNameWidth = 30; // USERNAME
constexpr int kReasonWidth = 200;
constexpr char kMemberSeparator = '\x1f';
const QString kTimeFormat = QStringLiteral("yyyy-MM-ddThh:mm:ss");

// One line a page: a line break, a tab or a separator in a value would break the file's lines.
QString cleanValue(const QString& value, int width)
{
    QString clean = value.left(width);
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return clean.trimmed();
}

} // namespace

const PageNotes::Note* PageNotes::first(const Page& page) const
{
    const auto found = notes_.constFind(DeliveryMarks::fingerprint(page));
    return found == notes_.cend() || found->isEmpty() ? nullptr : &found->constFirst();
}

PageNotes::Note* PageNotes::first(const Page& page)
{
    const auto found = notes_.find(DeliveryMarks::fingerprint(page));
    return found == notes_.end() || found->isEmpty() ? nullptr : &found->first();
}

void PageNotes::note(const Page& page)
{
    Note note { cleanValue(page.carrier, kCarrierWidth), cleanValue(page.logRecord, kLogRecordWidth),
        page.statusRows, {}, {} };
    for (const QString& member : page.members)
        note.members << cleanValue(member, kNameWidth);
    notes_[DeliveryMarks::fingerprint(page)].append(note);
}

void PageNotes::fill(Page& page) const
{
    const Note* note = first(page);
    page.carrier = note ? note->carrier : QString();
    page.logRecord = note ? note->logRecord : QString();
    page.statusRows = note ? note->rows : QList<quint32>();
    page.members = note ? note->members : QStringList();
}

PageNotes::Attempts PageNotes::attempts(const Page& page) const
{
    const Note* note = first(page);
    return note ? note->attempts : Attempts();
}

void PageNotes::attempted(const Page& page, const QDateTime& when)
{
    if (first(page) == nullptr)
        notes_[DeliveryMarks::fingerprint(page)].append(Note());
    Note* note = first(page);
    ++note->attempts.count;
    note->attempts.last = when;
}

void PageNotes::setReason(const Page& page, const QString& reason)
{
    if (Note* note = first(page))
        note->attempts.reason = cleanValue(reason, kReasonWidth);
}

void PageNotes::forget(const Page& page)
{
    const auto found = notes_.find(DeliveryMarks::fingerprint(page));
    if (found == notes_.end())
        return;
    if (!found->isEmpty())
        found->removeFirst();
    if (found->isEmpty())
        notes_.erase(found);
}

void PageNotes::replace(const Page& before, const Page& after)
{
    Note moved = first(before) ? *first(before) : Note { before.carrier, before.logRecord, {}, {}, {} };
    forget(before);
    moved.rows = after.statusRows;
    moved.members.clear();
    for (const QString& member : after.members)
        moved.members << cleanValue(member, kNameWidth);
    notes_[DeliveryMarks::fingerprint(after)].append(moved);
}

void PageNotes::read(const QByteArray& sideFileText)
{
    for (const QByteArray& line : sideFileText.split('\n')) {
        if (line.size() <= kFingerprintSize || line.at(kFingerprintSize) != '\t')
            continue;
        const QList<QByteArray> parts = line.mid(kFingerprintSize + 1).split('\t');
        auto text = [&parts](int i) { return QString::fromUtf8(parts.value(i)); };
        Note note { cleanValue(text(0), kCarrierWidth), cleanValue(text(1), kLogRecordWidth), {}, {}, {} };
        for (const QByteArray& row : parts.value(2).split(',')) {
            bool ok = false;
            const quint32 recNo = row.toUInt(&ok);
            if (ok)
                note.rows << recNo;
        }
        note.attempts.count = std::max(0, parts.value(3).toInt());
        note.attempts.last = QDateTime::fromString(text(4), kTimeFormat);
        note.attempts.reason = cleanValue(text(5), kReasonWidth);
        if (!parts.value(6).isEmpty()) {
            for (const QByteArray& member : parts.value(6).split(kMemberSeparator))
                note.members << cleanValue(QString::fromUtf8(member), kNameWidth);
        }
        notes_[line.left(kFingerprintSize)].append(note);
    }
}

void PageNotes::load(const QString& sideFilePath)
{
    const store::WholeFile file = store::readWholeFile(sideFilePath, DeliveryMarks::kSideFileLimit, false);
    if (file.read())
        read(file.bytes);
}

QByteArray PageNotes::textFor(const QList<QByteArray>& fingerprints) const
{
    QByteArray text;
    // A line is some 80 bytes and more: room made once rather than the text moved as it grows.
    text.reserve(fingerprints.size() * 96);
    QHash<QByteArray, int> written;
    for (const QByteArray& print : fingerprints) {
        const auto found = notes_.constFind(print);
        int& place = written[print];
        if (found == notes_.cend() || place >= found->size())
            continue;
        const Note& note = found->at(place++);
        QByteArrayList rows;
        for (const quint32 recNo : note.rows)
            rows << QByteArray::number(recNo);
        QByteArrayList members;
        for (const QString& member : note.members)
            members << member.toUtf8();
        text += print + '\t' + note.carrier.toUtf8() + '\t' + note.logRecord.toUtf8() + '\t' + rows.join(',') + '\t'
            + QByteArray::number(note.attempts.count) + '\t' + note.attempts.last.toString(kTimeFormat).toUtf8()
            + '\t' + note.attempts.reason.toUtf8() + '\t' + members.join(kMemberSeparator) + '\n';
    }
    return text;
}

void PageNotes::keepOnly(const QList<QByteArray>& fingerprints)
{
    if (notes_.isEmpty())
        return;
    QHash<QByteArray, int> queued;
    for (const QByteArray& print : fingerprints)
        ++queued[print];
    for (auto it = notes_.begin(); it != notes_.end();) {
        const int keep = queued.value(it.key());
        if (it->size() > keep)
            it->remove(0, it->size() - keep);
        it = it->isEmpty() ? notes_.erase(it) : std::next(it);
    }
}

} // namespace core
