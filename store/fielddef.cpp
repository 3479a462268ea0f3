#include "store/fielddef.h"

#include "store/storeerror.h"

#include <QStringList>

namespace store {

namespace {

bool isValidName(const QByteArray& name)
{
    if (name.isEmpty() || name.size() > 10)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return false;
    }
    return !(name[0] >= '0' && name[0] <= '9');
}

} // namespace

std::vector<FieldDef> parseFieldDefinitions(const QString& definitions)
{
    std::vector<FieldDef> fields;
    int offset = 1;
    const QStringList entries = definitions.split(u';', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const QStringList parts = entry.trimmed().split(u',');
        const auto fail = [&](const char* why) {
            return StoreError(QStringLiteral("Invalid field definition \"%1\": %2").arg(entry, QLatin1String(why)));
        };
        if (parts.size() < 2)
            throw fail("name and type expected");
        FieldDef f;
        f.name = parts[0].trimmed().toUpper().toLatin1();
        if (!isValidName(f.name))
            throw fail("bad field name");
        const QString type = parts[1].trimmed().toUpper();
        if (type.size() != 1)
            throw fail("bad field type");
        f.type = type[0].toLatin1();
        bool ok = true;
        switch (f.type) {
        case 'C':
            if (parts.size() < 3)
                throw fail("width expected");
            f.width = parts[2].trimmed().toInt(&ok);
            if (!ok || f.width < 1 || f.width > 254)
                throw fail("width must be 1 to 254");
            break;
        case 'N':
            if (parts.size() < 3)
                throw fail("width expected");
            f.width = parts[2].trimmed().toInt(&ok);
            if (!ok || f.width < 1 || f.width > 20)
                throw fail("width must be 1 to 20");
            if (parts.size() >= 4) {
                f.decimals = parts[3].trimmed().toInt(&ok);
                if (!ok || f.decimals < 0 || (f.decimals > 0 && f.decimals > f.width - 2))
                    throw fail("bad number of decimals");
            }
            break;
        case 'M':
            f.width = 10;
            break;
        case 'L':
            f.width = 1;
            break;
        default:
            throw fail("type must be C, N, L or M");
        }
        for (const FieldDef& other : fields)
            if (other.name == f.name)
                throw fail("field name given twice");
        f.offset = offset;
        offset += f.width;
        fields.push_back(f);
    }
    if (fields.empty())
        throw StoreError(QStringLiteral("Invalid field definition \"%1\": no fields").arg(definitions));
    return fields;
}

int recordLength(const std::vector<FieldDef>& fields)
{
    int length = 1;
    for (const FieldDef& f : fields)
        length += f.width;
    return length;
}

} // namespace store
