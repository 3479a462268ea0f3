#pragma once

#include "store/table.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <memory>
#include <QStringList>
#include <QTimer>

// Helpers the directory suites share: a fresh handle on the tables on disk, and an answer for the
// next message box.
namespace dirtest {

// Every visible record of `table` in `tag` order, as "FIELD1|FIELD2|..." lines, read by a handle
// of its own.
inline QStringList onDisk(const QString& folder, const QString& table, const QString& tag, const QStringList& fields)
{
    store::Table t;
    t.setConnection(store::Connection(folder));
    t.setTableName(table);
    t.setIndexName(tag);
    t.open();
    QStringList rows;
    for (t.first(); !t.eof(); t.next()) {
        QStringList row;
        for (const QString& f : fields)
            row << t.fieldText(f);
        rows << row.join(u'|');
    }
    return rows;
}

} // namespace dirtest
