#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// The text of a system error number, for messages that name a file.
QString errnoText(int error);

// Opens an existing file for reading and writing (close-on-exec). Returns -1 when the file does not
// exist and `missingIsNone` is set; otherwise a failure throws StoreError
// "Cannot open <what> <path>: <reason>".
int openReadWrite(const QString& path, const QString& what, bool missingIsNone = false);

// Writes `bytes` as the whole of the file at `path`, atomically: into a temporary file beside it,
// every write and the sync to disk checked, then renamed over the old file, and the folder synced so
// that the rename itself survives a power cut. Anything that fails before the rename (a full disk, a
// short write, a failed sync) leaves the old file whole and gives the system's reason ("No space
// left on device"); a folder that cannot be synced after it gives its reason too (the new file is
// in place, but not known to be on disk). An empty text means the file was written and synced.
QString writeWholeFile(const QString& path, const QByteArray& bytes);
// Syncs the folder holding `path` (a rename or a new name in it reaches the disk). Returns an empty
// text, or the reason.
QString syncFolderOf(const QString& path);
// The same; a failure throws StoreError "Cannot create <what> <path>: <reason>".
void writeWholeFile(const QString& path, const QByteArray& bytes, const QString& what);

// Writes all `size` bytes at `pos`: a short write is continued, so that a full disk gives its own
// reason rather than none. Returns an empty text, or the system's reason.
QString writeFullyAt(int fd, const char* data, size_t size, off_t pos);

} // namespace store
