#include "compose/memberfile.h"

#include "compose/pageforms.h"
#include "store/cp1252.h"
#include "store/regularfile.h"
#include "store/systemfile.h"

#include <QDir>
#include <QFile>

namespace compose {

QString memberFileName(const QString& groupName)
{
    QString name;
    name.reserve(groupName.size());
    for (const QChar c : groupName) {
        const char16_t u = c.unicode();
        if (u == u' ' || u == u'/' || u == u'\\' || u < 0x20 || u == 0x7f)
            continue;
        if (u == u'.' && name.isEmpty())
            continue;
        name += c;
    }
    return name + QStringLiteral(".GRP");
}

QString memberFilePath(const QString& dataDirectory, const QString& groupName)
{
    return QDir(dataDirectory).filePath(memberFileName(groupName));
}

bool readMemberFile(const QString& path, QStringList* members, QString* fault)
{
    members->clear();
    const store::WholeFile file = store::readWholeFile(path, kMemberFileLimit);
    if (fault)
        *fault = file.fault;
    if (!file.read())
        return false;
    *members = messageFileLines(file.bytes);
    return true;
}

QString writeMemberFile(const QString& path, const QStringList& members)
{
    QByteArray bytes;
    for (const QString& member : members)
        bytes += store::toCp1252(member) + "\r\n";
    return store::writeWholeFile(path, bytes);
}

} // namespace compose
