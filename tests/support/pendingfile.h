#pragma once

#include "store/memtable.h"

#include <QStringList>

// The pending file as another run of the desk would read it: a fresh table loaded from disk.
namespace testsupport {

// The UserOrGroupName of every page in the pending file at `path`, in file order.
inline QStringList pendingNames(const QString& path = QStringLiteral("PendMsgs"))
{
    store::TMemTable table;
    table.loadFromFile(path);
    QStringList names;
    for (table.first(); !table.eof(); table.next())
        names << table.fieldText(QStringLiteral("UserOrGroupName"));
    return names;
}

} // namespace testsupport
