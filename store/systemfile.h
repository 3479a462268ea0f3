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

// Writes a whole file atomically (temporary file, then rename); a failure throws StoreError
// "Cannot create <what> <path>: <reason>".
void writeWholeFile(const QString& path, const QByteArray& bytes, const QString& what);

} // namespace store
