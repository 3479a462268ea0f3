#include "store/regularfile.h"

#include "store/storeerror.h"
#include "store/systemfile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace store {

namespace {

QString kindText(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe, not a regular file");
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device, not a regular file");
    return QStringLiteral("not a regular file");
}

// What a checked open found: a descriptor (blocking again), or why there is none.
struct Opened {
    int fd = -1;
    bool missing = false; // nothing has the name
    QString kind; // set when the name is not a regular file ("a pipe, not a regular file")
    int error = 0; // set when opening a regular file failed
};

Opened openChecked(const QString& path, int flags, bool followLinks)
{
    const QByteArray name = QFile::encodeName(path);
    Opened opened;
    struct stat st;
    if ((followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0) {
        opened.error = errno;
        if (opened.error == ENOENT) {
            const bool dangling = followLinks && ::lstat(name.constData(), &st) == 0;
            opened.missing = !dangling;
            if (dangling)
                opened.kind = QStringLiteral("a link to nothing");
        }
        return opened;
    }
    if (!S_ISREG(st.st_mode)) {
        opened.kind = kindText(st.st_mode);
        return opened;
    }
    opened.fd = ::open(
        name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (opened.fd < 0) {
        opened.error = errno;
        if (opened.error == ELOOP && !followLinks)
            opened.kind = kindText(S_IFLNK);
        return opened;
    }
    // Swapped under the name between the two looks: the descriptor decides.
    if (::fstat(opened.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        opened.kind = kindText(st.st_mode);
        ::close(opened.fd);
        opened.fd = -1;
        return opened;
    }
    ::fcntl(opened.fd, F_SETFL, ::fcntl(opened.fd, F_GETFL) & ~O_NONBLOCK);
    return opened;
}

QString faultText(const QString& path, const Opened& opened)
{
    if (!opened.kind.isEmpty())
        return path + QStringLiteral(" is ") + opened.kind;
    return path + QStringLiteral(" could not be read: ") + errnoText(opened.error);
}

} // namespace

int openRegularFile(const QString& path, int flags, const QString& what, bool missingIsNone)
{
    const Opened opened = openChecked(path, flags, true);
    if (opened.fd < 0 && !(missingIsNone && opened.missing))
        throw StoreError(QStringLiteral("Cannot open %1 %2: %3")
                             .arg(what, path,
                                 opened.kind.isEmpty() ? errnoText(opened.error)
                                                       : QStringLiteral("it is ") + opened.kind));
    return opened.fd;
}

WholeFile readWholeFile(const QString& path, qint64 maxSize, bool followLinks)
{
    WholeFile whole;
    const Opened opened = openChecked(path, O_RDONLY, followLinks);
    whole.exists = !opened.missing;
    if (opened.fd < 0) {
        if (whole.exists)
            whole.fault = faultText(path, opened);
        return whole;
    }
    QFile file;
    if (!file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(opened.fd);
        whole.fault = path + QStringLiteral(" could not be read: ") + file.errorString();
        return whole;
    }
    // One byte past the bound tells a file that is too large (or grows while it is read).
    whole.bytes = file.read(maxSize + 1);
    if (file.error() != QFileDevice::NoError) {
        whole.fault = path + QStringLiteral(" could not be read: ") + file.errorString();
        whole.bytes.clear();
    } else if (whole.bytes.size() > maxSize) {
        whole.fault = path
            + (maxSize % kMiB == 0 ? QStringLiteral(" is larger than %1 MiB").arg(maxSize / kMiB)
                                   : QStringLiteral(" is larger than %1 bytes").arg(maxSize));
        whole.bytes.clear();
    }
    return whole;
}

} // namespace store
