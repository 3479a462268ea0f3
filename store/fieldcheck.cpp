#include "store/fieldcheck.h"

#include "store/fielddef.h"
#include "store/schema.h"
#include "store/table.h"

#include <algorithm>

namespace store {

namespace {

QString typeName(char type)
{
    switch (type) {
    case 'C':
        return QStringLiteral("character");
    case 'N':
        return QStringLiteral("numeric");
    case 'M':
        return QStringLiteral("memo");
    case 'L':
        return QStringLiteral("logical");
    default:
        return QStringLiteral("type %1").arg(QLatin1Char(type));
    }
}

} // namespace

QStringList fieldFaults(const Table& handle, const TableSchema& schema)
{
    QStringList faults;
    const std::vector<FieldDef>& held = handle.fields();
    for (const FieldDef& wanted : parseFieldDefinitions(schema.fieldDefinitions)) {
        const auto found = std::find_if(
            held.begin(), held.end(), [&](const FieldDef& f) { return f.name == wanted.name; });
        const QString name = QString::fromLatin1(wanted.name);
        if (found == held.end())
            faults << QStringLiteral("Table %1 has no field %2.").arg(schema.openedAs, name);
        else if (found->type != wanted.type)
            faults << QStringLiteral("Table %1 holds the field %2 as %3, not as %4.")
                          .arg(schema.openedAs, name, typeName(found->type), typeName(wanted.type));
        else if (wanted.type != 'M' && found->width < wanted.width)
            faults << QStringLiteral("Table %1 holds the field %2 with width %3, less than %4.")
                          .arg(schema.openedAs, name)
                          .arg(found->width)
                          .arg(wanted.width);
    }
    return faults;
}

} // namespace store
