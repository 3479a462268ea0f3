#include "core/pagenotes.h"

#include "core/deliverymarks.h"
#include "core/page.h"
#include "store/regularfile.h"

#include <QSet>

namespace core {

namespace {

constexpr int kFingerprintSize = 40;
constexpr int kCarrierWidth = 30; // PAGERCOMP
constexpr int kLogRecordWidth = 10; // LOGREC

// One line a page: a line break or a tab in a value would break the file's lines.
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

void PageNotes::note(const Page& page)
{
    const Note note { cleanValue(page.carrier, kCarrierWidth), cleanValue(page.logRecord, kLogRecordWidth) };
    if (note.carrier.isEmpty() && note.logRecord.isEmpty())
        notes_.remove(DeliveryMarks::fingerprint(page));
    else
        notes_.insert(DeliveryMarks::fingerprint(page), note);
}

void PageNotes::fill(Page& page) const
{
    const Note note = notes_.value(DeliveryMarks::fingerprint(page));
    page.carrier = note.carrier;
    page.logRecord = note.logRecord;
}

void PageNotes::read(const QByteArray& sideFileText)
{
    for (const QByteArray& line : sideFileText.split('\n')) {
        if (line.size() <= kFingerprintSize || line.at(kFingerprintSize) != '\t')
            continue;
        const QList<QByteArray> parts = line.mid(kFingerprintSize + 1).split('\t');
        const QByteArray fingerprint = line.left(kFingerprintSize);
        const Note note { cleanValue(QString::fromUtf8(parts.value(0)), kCarrierWidth),
            cleanValue(QString::fromUtf8(parts.value(1)), kLogRecordWidth) };
        if ((!note.carrier.isEmpty() || !note.logRecord.isEmpty()) && !notes_.contains(fingerprint))
            notes_.insert(fingerprint, note);
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
    QSet<QByteArray> written;
    for (const QByteArray& print : fingerprints) {
        const auto found = notes_.constFind(print);
        if (found != notes_.cend() && !written.contains(print)) {
            written.insert(print);
            text += print + '\t' + found->carrier.toUtf8() + '\t' + found->logRecord.toUtf8() + '\n';
        }
    }
    return text;
}

void PageNotes::keepOnly(const QList<QByteArray>& fingerprints)
{
    if (notes_.isEmpty())
        return;
    const QSet<QByteArray> queued(fingerprints.cbegin(), fingerprints.cend());
    notes_.removeIf([&queued](const auto& entry) { return !queued.contains(entry.key()); });
}

} // namespace core
