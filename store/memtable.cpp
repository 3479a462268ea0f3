#include "store/memtable.h"

#include "store/cp1252.h"
#include "store/memtable_p.h"
#include "store/storeerror.h"

#include <QtEndian>
#include <cstring>
#include <limits>

namespace store {

namespace {

const QString ClosedText = QStringLiteral("Cannot perform this operation on a closed dataset");
const QString EmptyText = QStringLiteral("Cannot perform this operation on an empty dataset");

template <typename T> T readLE(const char* p)
{
    return qFromLittleEndian<T>(p);
}

template <typename T> void writeLE(char* p, T value)
{
    qToLittleEndian<T>(value, p);
}

} // namespace

TMemTable::TMemTable(QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>())
{
}

TMemTable::~TMemTable() = default;

// ---- definitions ----

void TMemTable::setFieldDefinitions(const QStringList& items)
{
    if (isOpen())
        throw StoreError(QStringLiteral("Cannot perform this operation on an open dataset"));
    std::vector<MemFieldDef> defs;
    for (const QString& item : items)
        defs.push_back(parseMemFieldItem(item));
    const int slotBytes = layoutMemFields(defs);
    d->define(std::move(defs), slotBytes);
}

QStringList TMemTable::fieldDefinitions() const
{
    QStringList items;
    for (const MemFieldDef& f : d->fields)
        items.append(f.item());
    return items;
}

const std::vector<MemFieldDef>& TMemTable::fields() const
{
    return d->fields;
}

int TMemTable::fieldIndex(const QString& name) const
{
    for (size_t i = 0; i < d->fields.size(); ++i)
        if (d->fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return -1;
}

bool TMemTable::hasField(const QString& name) const
{
    return fieldIndex(name) >= 0;
}

void TMemTable::setIndexDefinitions(const QList<MemIndexDef>& indexes)
{
    d->indexes = indexes;
}

QList<MemIndexDef> TMemTable::indexDefinitions() const
{
    return d->indexes;
}

int TMemTable::rowSize() const
{
    return d->rowSize();
}

// ---- open, close, state ----

void TMemTable::open()
{
    if (isOpen())
        return;
    if (d->fields.empty())
        throw StoreError(QStringLiteral("The table has no fields"));
    emit aboutToReset();
    d->rows.clear();
    d->state = State::Browse;
    d->current = -1;
    d->eof = d->bof = true;
    emit reset();
    emit stateChanged(d->state);
    emit currentRowChanged(d->current);
}

void TMemTable::close()
{
    if (!isOpen())
        return;
    emit aboutToReset();
    d->rows.clear();
    d->buffer = {};
    d->modified = false;
    d->state = State::Inactive;
    d->current = -1;
    d->eof = d->bof = true;
    emit reset();
    emit stateChanged(d->state);
    emit currentRowChanged(d->current);
}

bool TMemTable::isOpen() const
{
    return d->state != State::Inactive;
}

TMemTable::State TMemTable::state() const
{
    return d->state;
}

int TMemTable::rowCount() const
{
    return static_cast<int>(d->rows.size());
}

bool TMemTable::isEmpty() const
{
    return d->rows.empty();
}

// ---- navigation ----

namespace {

// Ends a pending edit before the cursor moves: a changed buffer is posted, an unchanged one dropped.
void endEdit(TMemTable& table)
{
    if (table.state() == TMemTable::State::Edit || table.state() == TMemTable::State::Insert) {
        if (table.isModified())
            table.post();
        else
            table.cancel();
    }
}

} // namespace

void TMemTable::first()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    endEdit(*this);
    d->current = d->rows.empty() ? -1 : 0;
    d->eof = d->rows.empty();
    d->bof = true;
    emit currentRowChanged(d->current);
}

void TMemTable::last()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    endEdit(*this);
    d->current = rowCount() - 1;
    d->eof = true;
    d->bof = d->rows.empty();
    emit currentRowChanged(d->current);
}

void TMemTable::next()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    endEdit(*this);
    d->bof = false;
    if (d->current + 1 < rowCount()) {
        ++d->current;
        d->eof = false;
        emit currentRowChanged(d->current);
    } else {
        d->eof = true;
    }
}

void TMemTable::prior()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    endEdit(*this);
    d->eof = false;
    if (d->current > 0) {
        --d->current;
        d->bof = false;
        emit currentRowChanged(d->current);
    } else {
        d->bof = true;
        d->eof = d->rows.empty();
    }
}

bool TMemTable::eof() const
{
    return d->eof || d->rows.empty();
}

bool TMemTable::bof() const
{
    return d->bof || d->rows.empty();
}

int TMemTable::currentRow() const
{
    return d->current;
}

void TMemTable::setCurrentRow(int row)
{
    if (!isOpen())
        throw StoreError(ClosedText);
    if (row < 0 || row >= rowCount())
        throw StoreError(
            QStringLiteral("Row %1 is out of range (the table has %2 rows)").arg(row).arg(rowCount()));
    endEdit(*this);
    d->eof = d->bof = false;
    if (row != d->current) {
        d->current = row;
        emit currentRowChanged(d->current);
    }
}

// ---- editing ----

void TMemTable::append()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    endEdit(*this);
    d->buffer = d->blankRow();
    d->modified = false;
    d->state = State::Insert;
    emit stateChanged(d->state);
}

void TMemTable::edit()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    if (d->state == State::Edit || d->state == State::Insert)
        return;
    if (d->rows.empty())
        throw StoreError(EmptyText);
    d->buffer = d->rows[d->current];
    d->modified = false;
    d->state = State::Edit;
    emit stateChanged(d->state);
}

void TMemTable::post()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    if (d->state == State::Browse)
        return;
    for (const MemFieldDef& f : d->fields)
        if (f.required && d->buffer.image.at(f.offset + f.slotSize - 1) == 0)
            throw StoreError(QStringLiteral("Field '%1' must have a value").arg(f.name));
    if (d->state == State::Insert) {
        const int row = rowCount();
        emit rowsAboutToBeInserted(row, row);
        d->rows.push_back(std::move(d->buffer));
        d->buffer = {};
        d->modified = false;
        d->state = State::Browse;
        d->current = row;
        d->eof = d->bof = false;
        emit rowsInserted(row, row);
        emit stateChanged(d->state);
        emit currentRowChanged(d->current);
    } else {
        d->rows[d->current] = std::move(d->buffer);
        d->buffer = {};
        d->modified = false;
        d->state = State::Browse;
        emit rowChanged(d->current);
        emit stateChanged(d->state);
    }
}

void TMemTable::cancel()
{
    if (d->state != State::Edit && d->state != State::Insert)
        return;
    d->buffer = {};
    d->modified = false;
    d->state = State::Browse;
    emit stateChanged(d->state);
}

void TMemTable::deleteRow()
{
    if (!isOpen())
        throw StoreError(ClosedText);
    if (d->state == State::Insert) { // deleting a row not yet posted drops it
        cancel();
        return;
    }
    cancel();
    if (d->rows.empty())
        throw StoreError(EmptyText);
    const int row = d->current;
    emit rowsAboutToBeRemoved(row, row);
    d->rows.erase(d->rows.begin() + row);
    d->current = std::min(row, rowCount() - 1); // the following row, or the new last one
    d->eof = d->bof = d->rows.empty();
    emit rowsRemoved(row, row);
    emit currentRowChanged(d->current);
}

void TMemTable::appendImage(const QByteArray& image)
{
    if (!isOpen())
        throw StoreError(ClosedText);
    if (image.size() != rowSize() || !d->blobFields.empty())
        throw StoreError(QStringLiteral("A row image must be of the table's layout, which must have no blobs"));
    endEdit(*this);
    const int row = rowCount();
    emit rowsAboutToBeInserted(row, row);
    d->rows.push_back(Impl::Row { image, {} });
    d->current = row;
    d->eof = d->bof = false;
    emit rowsInserted(row, row);
    emit currentRowChanged(d->current);
}

bool TMemTable::isModified() const
{
    return d->modified;
}

// ---- field values ----

namespace {

QVariant readSlot(const TMemTable::Impl& d, const TMemTable::Impl::Row& row, int field)
{
    const MemFieldDef& f = d.fields[field];
    const char* slot = row.image.constData() + f.offset;
    if (slot[f.slotSize - 1] == 0)
        return {};
    switch (f.type) {
    case MemFieldType::Text: {
        const int limit = f.size + 1;
        const void* zero = std::memchr(slot, 0, limit);
        const int length = zero ? static_cast<int>(static_cast<const char*>(zero) - slot) : f.size;
        return fromCp1252(QByteArray(slot, std::min(length, f.size)));
    }
    case MemFieldType::SmallInt:
        return int(readLE<qint16>(slot));
    case MemFieldType::Word:
        return int(readLE<quint16>(slot));
    case MemFieldType::Integer:
    case MemFieldType::AutoInc:
        return int(readLE<qint32>(slot));
    case MemFieldType::Boolean:
        return readLE<quint16>(slot) != 0;
    case MemFieldType::Float:
    case MemFieldType::Currency: {
        const quint64 bits = readLE<quint64>(slot);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    default:
        if (f.isBlob()) {
            const int ordinal = d.blobOrdinal(field);
            return fromCp1252(row.blobs.value(ordinal));
        }
        return QByteArray(slot, f.slotSize - 1);
    }
}

} // namespace

QVariant TMemTable::value(int row, int field) const
{
    if (row < 0 || row >= rowCount() || field < 0 || field >= static_cast<int>(d->fields.size()))
        return {};
    return readSlot(*d, d->rows[row], field);
}

QByteArray TMemTable::rowImage(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    return d->rows[row].image;
}

namespace {

int requireField(const TMemTable& table, const QString& name)
{
    const int index = table.fieldIndex(name);
    if (index < 0)
        throw StoreError(QStringLiteral("Field '%1' not found").arg(name));
    return index;
}

// The value a read by name sees: the edit buffer while editing, else the current row.
QVariant currentValue(const TMemTable& table, const TMemTable::Impl& d, const QString& name)
{
    if (!table.isOpen())
        throw StoreError(ClosedText);
    const int field = requireField(table, name);
    if (table.state() == TMemTable::State::Edit || table.state() == TMemTable::State::Insert)
        return readSlot(d, d.buffer, field);
    return table.value(table.currentRow(), field);
}

} // namespace

QString TMemTable::fieldText(const QString& field) const
{
    const QVariant v = currentValue(*this, *d, field);
    if (!v.isValid())
        return {};
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (v.typeId() == QMetaType::QByteArray)
        throw StoreError(QStringLiteral("Field '%1' cannot be read as text").arg(field));
    return v.toString();
}

int TMemTable::fieldInt(const QString& field) const
{
    const QVariant v = currentValue(*this, *d, field);
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return 0;
    case QMetaType::Int:
    case QMetaType::Bool:
        return v.toInt();
    case QMetaType::QString: {
        const QString text = v.toString().trimmed();
        bool ok = text.isEmpty();
        const int value = ok ? 0 : text.toInt(&ok);
        if (!ok)
            throw StoreError(QStringLiteral("'%1' is not a valid integer value").arg(text));
        return value;
    }
    default:
        throw StoreError(QStringLiteral("Field '%1' cannot be read as an integer").arg(field));
    }
}

bool TMemTable::fieldBool(const QString& field) const
{
    const QVariant v = currentValue(*this, *d, field);
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return false;
    case QMetaType::Int:
    case QMetaType::Bool:
        return v.toBool();
    default:
        throw StoreError(QStringLiteral("Field '%1' cannot be read as a Boolean").arg(field));
    }
}

bool TMemTable::isNull(const QString& field) const
{
    return !currentValue(*this, *d, field).isValid();
}

namespace {

// Writes `v` into the buffer's slot of `field`, converting to the field's type; an invalid QVariant
// clears the field.
void writeSlot(TMemTable::Impl& d, int field, const QVariant& v)
{
    const MemFieldDef& f = d.fields[field];
    char* slot = d.buffer.image.data() + f.offset;
    const auto fail = [&] {
        return StoreError(
            QStringLiteral("'%1' is not a valid value for field '%2'").arg(v.toString(), f.name));
    };
    std::memset(slot, 0, f.slotSize);
    if (f.isBlob())
        d.buffer.blobs[d.blobOrdinal(field)].clear();
    if (!v.isValid())
        return;
    bool ok = true;
    switch (f.type) {
    case MemFieldType::Text: {
        const QString text = v.typeId() == QMetaType::Bool
            ? (v.toBool() ? QStringLiteral("True") : QStringLiteral("False"))
            : v.toString();
        const QByteArray bytes = toCp1252(text).left(f.size);
        std::memcpy(slot, bytes.constData(), bytes.size());
        break;
    }
    case MemFieldType::SmallInt:
    case MemFieldType::Word:
    case MemFieldType::Integer:
    case MemFieldType::AutoInc: {
        qint64 value = 0;
        if (v.typeId() == QMetaType::QString) {
            const QString text = v.toString().trimmed();
            if (text.isEmpty())
                return; // an empty text leaves the field unset
            value = text.toLongLong(&ok);
        } else {
            value = v.toLongLong(&ok);
        }
        qint64 low = std::numeric_limits<qint32>::min(), high = std::numeric_limits<qint32>::max();
        if (f.type == MemFieldType::SmallInt)
            low = -32768, high = 32767;
        else if (f.type == MemFieldType::Word)
            low = 0, high = 65535;
        if (!ok || value < low || value > high)
            throw fail();
        if (f.type == MemFieldType::SmallInt || f.type == MemFieldType::Word)
            writeLE<quint16>(slot, static_cast<quint16>(value));
        else
            writeLE<qint32>(slot, static_cast<qint32>(value));
        break;
    }
    case MemFieldType::Boolean: {
        bool value = false;
        if (v.typeId() == QMetaType::QString) {
            const QString text = v.toString().trimmed();
            if (text.compare(u"true", Qt::CaseInsensitive) == 0 || text == u"1")
                value = true;
            else if (text.compare(u"false", Qt::CaseInsensitive) == 0 || text == u"0")
                value = false;
            else if (text.isEmpty())
                return;
            else
                throw fail();
        } else {
            value = v.toBool();
        }
        writeLE<quint16>(slot, value ? 1 : 0);
        break;
    }
    case MemFieldType::Float:
    case MemFieldType::Currency: {
        const double value = v.toDouble(&ok);
        if (!ok)
            throw fail();
        quint64 bits;
        std::memcpy(&bits, &value, sizeof bits);
        writeLE<quint64>(slot, bits);
        break;
    }
    default:
        if (!f.isBlob() || v.typeId() != QMetaType::QString)
            throw StoreError(
                QStringLiteral("Field '%1' cannot be written with this kind of value").arg(f.name));
        d.buffer.blobs[d.blobOrdinal(field)] = toCp1252(v.toString());
        break;
    }
    slot[f.slotSize - 1] = 1;
}

void setValue(TMemTable& table, TMemTable::Impl& d, const QString& name, const QVariant& v)
{
    if (!table.isOpen())
        throw StoreError(ClosedText);
    const int field = requireField(table, name);
    if (table.state() != TMemTable::State::Edit && table.state() != TMemTable::State::Insert)
        throw StoreError(QStringLiteral("Dataset not in edit or insert mode"));
    writeSlot(d, field, v);
    d.modified = true;
}

} // namespace

void TMemTable::setFieldText(const QString& field, const QString& text)
{
    setValue(*this, *d, field, text);
}

void TMemTable::setFieldInt(const QString& field, int value)
{
    setValue(*this, *d, field, value);
}

void TMemTable::setFieldBool(const QString& field, bool value)
{
    setValue(*this, *d, field, value);
}

void TMemTable::clearField(const QString& field)
{
    setValue(*this, *d, field, QVariant());
}

} // namespace store

#include "moc_memtable.cpp"
