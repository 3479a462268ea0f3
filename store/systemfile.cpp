#include "store/systemfile.h"

#include "store/regularfile.h"
#include "store/storeerror.h"

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace store {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int openReadWrite(const QString& path, const QString& what, bool missingIsNone)
{
    return openRegularFile(path, O_RDWR, what, missingIsNone);
}

void writeWholeFile(const QString& path, const QByteArray& bytes, const QString& what)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw StoreError(QStringLiteral("Cannot create %1 %2: %3").arg(what, path, file.errorString()));
}

} // namespace store
