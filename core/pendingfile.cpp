#include "core/pendingfile.h"

#include "core/deliverymarks.h"
#include "core/page.h"
#include "core/pagenotes.h"
#include "core/queues.h"
#include "store/memtable.h"
#include "store/storeerror.h"
#include "store/systemfile.h"

#include <QFile>

using store::TMemTable;

namespace core {

namespace {

// The rows of `from` at the end of `to`, with the fields named, without moving `from`'s current row.
// With `cache` (the rows of `to` made of rows of `from` before), a row met before is appended as it
// was made then, and the cache then keeps what this call made.
void appendRows(const TMemTable& from, TMemTable& to, const QStringList& fields,
    QHash<QByteArray, QByteArray>* cache = nullptr)
{
    QList<int> columns;
    for (const QString& name : fields)
        columns << from.fieldIndex(name);
    QHash<QByteArray, QByteArray> made;
    for (int row = 0; row < from.rowCount(); ++row) {
        const QByteArray image = cache ? from.rowImage(row) : QByteArray();
        if (cache) {
            if (const auto before = cache->constFind(image); before != cache->cend()) {
                to.appendImage(*before);
                made.insert(image, *before);
                continue;
            }
        }
        to.append();
        for (int c = 0; c < columns.size(); ++c) {
            const QVariant value = from.value(row, columns[c]);
            if (columns[c] < 0 || !value.isValid())
                continue;
            if (value.typeId() == QMetaType::Int)
                to.setFieldInt(fields[c], value.toInt());
            else if (value.typeId() == QMetaType::Bool)
                to.setFieldBool(fields[c], value.toBool());
            else
                to.setFieldText(fields[c], value.toString());
        }
        to.post();
        if (cache)
            made.insert(image, to.rowImage(to.rowCount() - 1));
    }
    if (cache)
        *cache = std::move(made);
}

// The fingerprints of the file's rows, those of rows met before taken from `cache`, which then
// keeps the rows of this file only.
QList<QByteArray> fingerprintsOf(const TMemTable& file, PendingRowCache* cache)
{
    if (!cache)
        return DeliveryMarks::fingerprints(file);
    QHash<QByteArray, QByteArray> prints;
    QList<QByteArray> out;
    out.reserve(file.rowCount());
    for (int row = 0; row < file.rowCount(); ++row) {
        const QByteArray image = file.rowImage(row);
        QByteArray print = cache->prints.value(image);
        if (print.isEmpty())
            print = DeliveryMarks::fingerprint(pageAt(file, row));
        prints.insert(image, print);
        out << print;
    }
    cache->prints = std::move(prints);
    return out;
}

} // namespace

void writePendingFile(const TMemTable& pendingMsgs, const TMemTable& sendMsgs, const QString& path,
    const DeliveryMarks* marks, PageNotes* notes, PendingRowCache* cache)
{
    TMemTable file;
    file.setFieldDefinitions(pendingQueueFields());
    file.open();
    // The pending rows stay what they are, IsGroup included; the waiting pages become pending pages
    // as a move between the queues makes them (seven fields, IsGroup not copied).
    QStringList allFields;
    for (const store::MemFieldDef& field : pendingMsgs.fields())
        allFields << field.name;
    appendRows(pendingMsgs, file, allFields, cache ? &cache->fromPending : nullptr);
    appendRows(sendMsgs, file, movedPageFields(), cache ? &cache->fromSend : nullptr);
    file.saveToFile(path);

    // Beside it, the marks of the pages that may have been delivered and the notes of its pages
    // (carrier, log record); neither, no side file.
    const QString side = DeliveryMarks::sideFilePath(path);
    const QList<QByteArray> prints = marks || notes ? fingerprintsOf(file, cache) : QList<QByteArray>();
    QByteArray text = marks ? marks->textFor(prints) : QByteArray();
    if (notes)
        text += notes->textFor(prints);
    if (text.isEmpty()) {
        QFile::remove(side);
    } else if (const QString failure = store::writeWholeFile(side, text); !failure.isEmpty()) {
        throw store::StoreError(QStringLiteral("Cannot write '%1': %2").arg(side, failure));
    }
    if (notes)
        notes->keepOnly(prints);
}

PendingFile::PendingFile(TMemTable& pendingMsgs, TMemTable& sendMsgs, const QString& path, QObject* parent)
    : QObject(parent)
    , pendingMsgs_(pendingMsgs)
    , sendMsgs_(sendMsgs)
    , path_(path)
{
    for (TMemTable* queue : { &pendingMsgs_, &sendMsgs_ }) {
        connect(queue, &TMemTable::rowsInserted, this, &PendingFile::changed);
        connect(queue, &TMemTable::rowsRemoved, this, &PendingFile::changed);
        connect(queue, &TMemTable::rowChanged, this, &PendingFile::changed);
        // A queue loaded anew may have another layout: its rows are converted afresh.
        connect(queue, &TMemTable::reset, this, [this] {
            cache_ = {};
            changed();
        });
    }
    retry_.setSingleShot(true);
    retry_.setInterval(60 * 1000);
    connect(&retry_, &QTimer::timeout, this, &PendingFile::writeIfAsked);
}

void PendingFile::follow()
{
    following_ = true;
}

void PendingFile::stop()
{
    following_ = false;
    asked_ = false;
}

void PendingFile::changed()
{
    if (!following_)
        return;
    asked_ = true;
    if (queued_)
        return;
    queued_ = true;
    QMetaObject::invokeMethod(this, &PendingFile::writeIfAsked, Qt::QueuedConnection);
}

void PendingFile::writeIfAsked()
{
    queued_ = false;
    if (!asked_ || !following_)
        return;
    const QString failure = writeNow();
    if (!failure.isEmpty() && failure != lastFailure_)
        emit writeFailed(failure);
    lastFailure_ = failure;
    // The queues are still whole in memory and the old file on disk: tried again at the next change,
    // and at the latest after the retry interval.
    if (!failure.isEmpty()) {
        asked_ = true;
        retry_.start();
    } else {
        retry_.stop();
    }
}

QString PendingFile::writeNow()
{
    asked_ = false;
    try {
        writePendingFile(pendingMsgs_, sendMsgs_, path_, marks_, notes_, &cache_);
    } catch (const store::StoreError& e) {
        return e.message();
    }
    return {};
}

} // namespace core

#include "moc_pendingfile.cpp"
