#include "store/connection.h"

#include "store/dbffile.h"
#include "store/fielddef.h"
#include "store/fptfile.h"
#include "store/storeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace store {

namespace {

QString baseName(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot < 0 ? fileName : fileName.left(dot);
}

} // namespace

Connection::Connection(const QString& folder)
{
    setFolder(folder);
}

void Connection::setFolder(const QString& folder)
{
    folder_ = folder;
    if (!folder_.isEmpty() && !folder_.endsWith(u'/'))
        folder_ += u'/';
}

QString Connection::resolve(const QString& fileName) const
{
    const QString existing = existingPath(fileName);
    return existing.isEmpty() ? folder_ + fileName : existing;
}

void Connection::checkFileName(const QString& fileName)
{
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName.contains(u'\\') || fileName == u"."
        || fileName == u"..")
        throw StoreError(
            QStringLiteral("Invalid table file name \"%1\": tables live in the data folder itself")
                .arg(fileName));
}

QString Connection::existingPath(const QString& fileName) const
{
    checkFileName(fileName);
    const QString direct = folder_ + fileName;
    if (QFileInfo::exists(direct))
        return direct;
    const QStringList entries = QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            return folder_ + entry;
    }
    return {};
}

bool Connection::exists(const QString& fileName) const
{
    return !existingPath(fileName).isEmpty();
}

void Connection::createTable(const QString& fileName, const QString& fieldDefinitions) const
{
    const std::vector<FieldDef> fields = parseFieldDefinitions(fieldDefinitions);
    bool memo = false;
    for (const FieldDef& f : fields)
        memo = memo || f.type == 'M';
    const QString base = baseName(fileName);
    // One table is one file whatever case it was spelled in: every old spelling goes.
    for (const QString& name : { fileName, base + QStringLiteral(".fpt"), base + QStringLiteral(".cdx") }) {
        for (;;) {
            const QString existing = existingPath(name);
            if (existing.isEmpty())
                break;
            if (!QFile::remove(existing))
                throw StoreError(QStringLiteral("Cannot replace %1").arg(existing));
        }
    }
    if (memo)
        FptFile::create(folder_ + base + QStringLiteral(".fpt"));
    DbfFile::create(folder_ + fileName, fields);
}

} // namespace store
