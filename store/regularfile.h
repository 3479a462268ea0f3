#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// Files opened by name may be anything a name can stand for: a FIFO (an open or a read that waits
// for a writer forever), a device (/dev/zero never ends), a folder. Only a regular file is opened
// and read. The kind is checked without blocking: the name is looked at first (nothing but a regular
// file is opened at all), then opened with O_NONBLOCK and checked again on the open descriptor with
// fstat, so a file swapped under the name between the two looks is refused too.

// Bounds of the files the desk reads whole.
inline constexpr qint64 kMiB = 1024 * 1024;

// Opens an existing regular file with `flags` (O_RDONLY or O_RDWR; close-on-exec is added) and
// returns its descriptor in blocking mode. Returns -1 when nothing has that name and
// `missingIsNone` is set; otherwise a failure throws StoreError
// "Cannot open <what> <path>: <reason>" (a FIFO, a device or a folder is such a failure).
int openRegularFile(const QString& path, int flags, const QString& what, bool missingIsNone = false);

// A file read whole by name.
struct WholeFile {
    bool exists = false; // something is there under the name (a dangling link counts)
    QByteArray bytes; // the contents, when read
    QString fault; // why it was not read (not a regular file, too large, unreadable); empty when read

    bool read() const { return exists && fault.isEmpty(); }
};

// Reads a regular file of at most `maxSize` bytes. A missing file gives exists == false; anything
// else that is not read gives its fault, naming the file as `path` gives it. With `followLinks`
// false a symbolic link is refused, whatever it points to.
WholeFile readWholeFile(const QString& path, qint64 maxSize, bool followLinks = true);

} // namespace store
