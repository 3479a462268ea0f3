#include "store/memfielddef.h"

#include "store/storeerror.h"

#include <QSet>

namespace store {

namespace {

// Largest size accepted for a sized field, and largest row image: a file cannot make the table
// reserve absurd amounts of memory for one row.
constexpr int MaxFieldSize = 1 << 20;
constexpr qint64 MaxSlotsSize = 64 << 20;

int number(const QString& text, int defaultValue, bool* ok)
{
    const QString t = text.trimmed();
    if (t.isEmpty()) {
        *ok = true;
        return defaultValue;
    }
    return t.toInt(ok);
}

bool hasSize(MemFieldType type)
{
    switch (type) {
    case MemFieldType::Text:
    case MemFieldType::Bytes:
    case MemFieldType::Memo:
    case MemFieldType::Blob:
    case MemFieldType::Graphic:
    case MemFieldType::FormattedMemo:
    case MemFieldType::OleObject:
    case MemFieldType::DbOleObject:
        return true;
    default:
        return false;
    }
}

// Slot size: the field's data plus its presence byte; 0 for a refused type.
int slotSize(MemFieldType type, int size)
{
    switch (type) {
    case MemFieldType::Text:
    case MemFieldType::Bytes:
    case MemFieldType::Memo:
        return size + 2;
    case MemFieldType::SmallInt:
    case MemFieldType::Word:
    case MemFieldType::Boolean:
        return 3;
    case MemFieldType::Integer:
    case MemFieldType::Date:
    case MemFieldType::Time:
    case MemFieldType::AutoInc:
    case MemFieldType::Cursor: // a 32-bit handle
        return 5;
    case MemFieldType::Float:
    case MemFieldType::Currency:
    case MemFieldType::DateTime:
        return 9;
    case MemFieldType::Bcd:
        return 35;
    case MemFieldType::Blob:
    case MemFieldType::Graphic:
    case MemFieldType::FormattedMemo:
    case MemFieldType::OleObject:
    case MemFieldType::DbOleObject:
        return size + 1;
    default:
        return 0;
    }
}

} // namespace

QString MemFieldDef::item() const
{
    return QString::asprintf(
        "%s;%d;%d;%d", name.toUtf8().constData(), static_cast<int>(type), size, required ? 1 : 0);
}

bool MemFieldDef::isBlob() const
{
    switch (type) {
    case MemFieldType::Blob:
    case MemFieldType::Memo:
    case MemFieldType::Graphic:
    case MemFieldType::FormattedMemo:
    case MemFieldType::OleObject:
    case MemFieldType::DbOleObject:
        return true;
    default:
        return false;
    }
}

QString MemIndexDef::line() const
{
    return QStringLiteral("%1;%2;%3").arg(name, fields).arg(options);
}

bool MemIndexDef::isInternal() const
{
    return name.compare(u"@RANGE_INDEX", Qt::CaseInsensitive) == 0
        || name.compare(u"@FILTER_INDEX", Qt::CaseInsensitive) == 0;
}

MemFieldDef parseMemFieldItem(const QString& item)
{
    const QStringList parts = item.split(u';');
    MemFieldDef f;
    f.name = parts.value(0).trimmed();
    if (f.name.isEmpty())
        throw StoreError(QStringLiteral("Field definition '%1' has no name").arg(item));
    bool ok = true;
    f.type = static_cast<MemFieldType>(number(parts.value(1), 1, &ok));
    if (ok)
        f.size = number(parts.value(2), 1, &ok);
    if (!ok)
        throw StoreError(QStringLiteral("Field definition '%1' is malformed").arg(item));
    f.required = parts.value(3).trimmed() == u"1";
    return f;
}

MemIndexDef parseMemIndexLine(const QString& line)
{
    QStringList parts = line.split(u';');
    MemIndexDef index;
    index.name = parts.takeFirst();
    if (parts.size() >= 2) {
        bool ok = false;
        const int options = parts.last().trimmed().toInt(&ok);
        if (ok) {
            index.options = options;
            parts.removeLast();
        }
    }
    index.fields = parts.join(u';');
    return index;
}

int layoutMemFields(std::vector<MemFieldDef>& fields)
{
    if (fields.empty())
        throw StoreError(QStringLiteral("The table has no fields"));
    QSet<QString> names;
    qint64 offset = 0;
    for (MemFieldDef& f : fields) {
        const QByteArray name = f.name.toUtf8();
        const int code = static_cast<int>(f.type);
        if (f.type == MemFieldType::Unknown)
            throw StoreError(QString::asprintf("Field '%s' is of unknown type", name.constData()));
        if (code < 0 || code > 22 || f.type == MemFieldType::VarBytes || f.type == MemFieldType::TypedBinary)
            throw StoreError(QString::asprintf("Field '%s' is of an unsupported type", name.constData()));
        if (hasSize(f.type) && (f.size < 0 || f.size > MaxFieldSize))
            throw StoreError(QStringLiteral("Field '%1' has an invalid size %2").arg(f.name).arg(f.size));
        if (f.name.contains(u'\r') || f.name.contains(u'\n') || f.name.contains(u';'))
            throw StoreError(
                QStringLiteral("Field name '%1' holds a character that is not allowed").arg(f.name));
        const QString key = f.name.toUpper();
        if (names.contains(key))
            throw StoreError(QStringLiteral("Duplicate field name '%1'").arg(f.name));
        names.insert(key);
        f.offset = static_cast<int>(offset);
        f.slotSize = slotSize(f.type, f.size);
        offset += f.slotSize;
        if (offset > MaxSlotsSize)
            throw StoreError(
                QStringLiteral("The rows of this table would be larger than %1 bytes").arg(MaxSlotsSize));
    }
    return static_cast<int>(offset);
}

} // namespace store
