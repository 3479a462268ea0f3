#include "store/keyexpression.h"

#include "store/storeerror.h"

#include <QList>

#include <cstring>

namespace store {

KeyExpression::KeyExpression(
    const QByteArray& expression, const std::vector<FieldDef>& fields, const QString& context)
{
    const QList<QByteArray> parts = expression.split('+');
    for (const QByteArray& raw : parts) {
        const QByteArray name = raw.trimmed().toUpper();
        int found = -1;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].name == name)
                found = int(i);
        }
        // Other engines index a logical field only through an expression that turns it into text,
        // so a bare logical field is no key here either, like a memo.
        const char type = found < 0 ? 0 : fields[size_t(found)].type;
        if (found < 0 || type == 'M' || type == 'L')
            throw StoreError(
                QStringLiteral("%1: the key expression \"%2\" needs character or numeric fields of the table "
                               "(\"%3\" is none)")
                    .arg(context, QString::fromLatin1(expression), QString::fromLatin1(raw.trimmed())));
        indexes_.push_back(found);
        slices_.emplace_back(fields[size_t(found)].offset, fields[size_t(found)].width);
        keyLength_ += fields[size_t(found)].width;
    }
}

QByteArray KeyExpression::keyOf(const char* record) const
{
    QByteArray key;
    key.reserve(keyLength_);
    for (const auto& [offset, width] : slices_)
        key.append(record + offset, width);
    return key;
}

void KeyExpression::keyInto(const char* record, uint8_t* key) const
{
    for (const auto& [offset, width] : slices_) {
        std::memcpy(key, record + offset, size_t(width));
        key += width;
    }
}

} // namespace store
