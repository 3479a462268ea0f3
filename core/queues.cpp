#include "core/queues.h"

#include "store/memtable.h"
#include "store/regularfile.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>

using store::MemFieldType;
using store::StoreError;
using store::TMemTable;

namespace core {

QStringList sendQueueFields()
{
    return {
        QStringLiteral("NetworkPhone;1;20;0"),
        QStringLiteral("PagerPhone;1;500;0"),
        QStringLiteral("BaudRate;1;10;0"),
        QStringLiteral("MessageSize;3;0;0"),
        QStringLiteral("MessageToSend;1;500;0"),
        QStringLiteral("IsGroup;5;0;0"),
        QStringLiteral("UserOrGroupName;1;30;0"),
        QStringLiteral("Retries;3;0;0"),
    };
}

QStringList pendingQueueFields()
{
    QStringList fields = sendQueueFields();
    fields.move(fields.size() - 1, 0); // Retries first, the others in send-queue order
    return fields;
}

QStringList tempUserFields()
{
    return { QStringLiteral("username;1;30;0") };
}

namespace {

void define(TMemTable& table, const QStringList& fields)
{
    table.close();
    table.setFieldDefinitions(fields);
    table.open();
}

// Copies one field of the current rows by name, in the kind of the target field; an unset field
// stays unset.
void copyField(const TMemTable& from, TMemTable& to, const QString& name)
{
    const int target = to.fieldIndex(name);
    if (target < 0)
        throw StoreError(QStringLiteral("Field '%1' not found").arg(name));
    if (from.isNull(name))
        return;
    switch (to.fields()[target].type) {
    case MemFieldType::SmallInt:
    case MemFieldType::Integer:
    case MemFieldType::Word:
    case MemFieldType::AutoInc:
        to.setFieldInt(name, from.fieldInt(name));
        break;
    case MemFieldType::Boolean:
        to.setFieldBool(name, from.fieldBool(name));
        break;
    default:
        to.setFieldText(name, from.fieldText(name));
        break;
    }
}

// Appends a copy of `from`'s current row to `to`, field by field.
void copyRow(const TMemTable& from, TMemTable& to, const QStringList& names)
{
    to.append();
    try {
        for (const QString& name : names)
            copyField(from, to, name);
        to.post();
    } catch (...) {
        to.cancel();
        throw;
    }
}

} // namespace

void createQueueTables(TMemTable& sendMsgs, TMemTable& pendingMsgs, TMemTable& tempUser)
{
    define(sendMsgs, sendQueueFields());
    define(pendingMsgs, pendingQueueFields());
    define(tempUser, tempUserFields());
}

const QStringList& movedPageFields()
{
    static const QStringList moved = { page::NetworkPhone, page::PagerPhone, page::MessageToSend,
        page::BaudRate, page::MessageSize, page::UserOrGroupName, page::Retries };
    return moved;
}

void movePage(TMemTable& from, TMemTable& to)
{
    const QStringList& moved = movedPageFields();
    if (from.state() != TMemTable::State::Browse)
        from.post();
    if (from.isEmpty())
        throw StoreError(QStringLiteral("Cannot perform this operation on an empty dataset"));
    copyRow(from, to, moved);
    from.deleteRow();
}

QString sentence(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.endsWith(u'.') || trimmed.endsWith(u'!') || trimmed.endsWith(u'?'))
        return trimmed;
    return trimmed + u'.';
}

QString badPendingQueuePath(const QString& path)
{
    // "PendMsgs." (the name with its trailing dot) and "PendMsgs" alike give "PendMsgs.bad"; a file
    // of lost pages keeps its whole name ("PendMsgs.lost-4711.bad").
    QString name = QFileInfo(path).fileName();
    while (name.endsWith(u'.'))
        name.chop(1);
    return path.left(path.lastIndexOf(u'/') + 1) + name + QStringLiteral(".bad");
}

QString loadPendingQueue(TMemTable& pendingMsgs, const QString& path, QString* keptAs)
{
    if (keptAs)
        keptAs->clear();
    pendingMsgs.close();
    // Only a regular file within the bound is read: a pipe would hang the start, a link to a
    // device would never end.
    const store::WholeFile file = store::readWholeFile(path, PendingQueueFileLimit);
    if (!file.exists) {
        pendingMsgs.open();
        return {};
    }

    // The file is read into a table of its own: its field order decides its row layout, and the
    // queue keeps its own definitions (and sizes), taking the rows over by field name.
    TMemTable loaded;
    QString error = file.fault.isEmpty() ? QString() : file.fault + QStringLiteral(" and is not read.");
    try {
        if (file.read())
            loaded.loadFromBytes(file.bytes, path);
    } catch (const StoreError& e) {
        error = sentence(e.message());
    }
    bool usable = loaded.isOpen();
    for (const store::MemFieldDef& field : pendingMsgs.fields()) {
        if (!usable)
            break;
        const int index = loaded.fieldIndex(field.name);
        if (index < 0 || loaded.fields()[index].type != field.type) {
            usable = false;
            if (error.isEmpty())
                error = QStringLiteral("'%1' does not hold the pending-queue field '%2'.")
                            .arg(path, field.name);
        }
    }

    pendingMsgs.open();
    if (usable) {
        QStringList names;
        for (const store::MemFieldDef& field : pendingMsgs.fields())
            names.append(field.name);
        for (int row = 0; row < loaded.rowCount(); ++row) {
            loaded.setCurrentRow(row);
            copyRow(loaded, pendingMsgs, names);
        }
        if (!pendingMsgs.isEmpty())
            pendingMsgs.first();
    }

    if (!error.isEmpty()) {
        // What the file held beyond the fault is not in the queue: keep the file aside before the
        // save at Exit writes the queue over it.
        const QString bad = badPendingQueuePath(path);
        QFile::remove(bad);
        // A copy reads the file again: only a regular one, never a pipe or a device.
        if (QFile::rename(path, bad) || (file.read() && QFile::copy(path, bad))) {
            if (keptAs)
                *keptAs = bad;
        } else {
            error += QStringLiteral(" The file could not be kept as %1 and is never overwritten.").arg(bad);
        }
    }
    return error;
}

void savePendingQueue(TMemTable& pendingMsgs, const QString& path)
{
    pendingMsgs.saveToFile(path);
}

} // namespace core
