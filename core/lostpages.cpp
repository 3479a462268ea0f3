#include "core/lostpages.h"

#include "core/queues.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace core {

namespace {

QString prefix()
{
    return QString::fromLatin1(PendingQueueFileName) + QStringLiteral(".lost-");
}

} // namespace

QString lostPagesPath(const QString& folder, qint64 pid)
{
    const QDir dir(folder);
    const QString first = prefix() + QString::number(pid);
    QString name = first;
    // A process number comes round again: an older file of the same number is not overwritten.
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = first + u'-' + QString::number(n);
    return dir.filePath(name);
}

QStringList lostPagesFiles(const QString& folder)
{
    static const QRegularExpression name(
        QStringLiteral("^%1\\d+(-\\d+)?$").arg(QRegularExpression::escape(prefix())));
    const QDir dir(folder);
    QStringList files;
    for (const QString& entry : dir.entryList({ prefix() + u'*' }, QDir::Files | QDir::NoSymLinks, QDir::Name)) {
        if (name.match(entry).hasMatch())
            files << dir.filePath(entry);
    }
    return files;
}

} // namespace core
