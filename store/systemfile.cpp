#include "store/systemfile.h"

#include "store/regularfile.h"
#include "store/storeerror.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace store {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int openReadWrite(const QString& path, const QString& what, bool missingIsNone)
{
    return openRegularFile(path, O_RDWR, what, missingIsNone);
}

QString writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    // Written straight to the descriptor, so that a failure keeps the system's own reason.
    if (const QString failure = writeFullyAt(file.handle(), bytes.constData(), size_t(bytes.size()), 0);
        !failure.isEmpty()) {
        file.cancelWriting();
        return failure;
    }
    // What the system holds in its caches reaches the disk before the rename makes it the file: the
    // data and what reading it back needs (its size); the file's times are not waited for.
    if (::fdatasync(file.handle()) != 0) {
        const QString reason = errnoText(errno);
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    // The rename lives in the folder: synced too, so that after a power cut the name leads to the
    // new file and not to the old one (or to none).
    return syncFolderOf(path);
}

QString syncFolderOf(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("its folder could not be synced: %1").arg(errnoText(errno));
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!synced)
        return QStringLiteral("its folder could not be synced: %1").arg(errnoText(error));
    return {};
}

void writeWholeFile(const QString& path, const QByteArray& bytes, const QString& what)
{
    if (const QString failure = writeWholeFile(path, bytes); !failure.isEmpty())
        throw StoreError(QStringLiteral("Cannot create %1 %2: %3").arg(what, path, failure));
}

QString writeFullyAt(int fd, const char* data, size_t size, off_t pos)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, pos);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoText(errno);
        }
        if (n == 0)
            return errnoText(ENOSPC);
        data += n;
        size -= size_t(n);
        pos += n;
    }
    return {};
}

} // namespace store
