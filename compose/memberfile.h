#pragma once

#include <QString>
#include <QStringList>

namespace compose {

// A group's members live outside GROUPS.DBF, one member file per group in the data directory: one
// USERNAME a line, Windows-1252, CR LF after every line, the last included; an empty group is a
// file of zero bytes.

// The member file's name for a group name: the name without blanks and without the characters a
// file name in the data directory may not hold (slash, backslash, NUL and other control
// characters, and any leading "."), followed by ".GRP". "Night Shift" gives "NightShift.GRP" and
// "../x" gives "x.GRP", so the file never lands outside the data directory.
QString memberFileName(const QString& groupName);
// The member file's path in `dataDirectory` (with or without a trailing "/").
QString memberFilePath(const QString& dataDirectory, const QString& groupName);

// The largest member file read (some 130,000 members).
inline constexpr qint64 kMemberFileLimit = 4 * 1024 * 1024;

// Reads a member file: a line ends at CR, LF or CR LF, a last line without an end counts. Returns
// false when the file does not exist or is not read (`members` is then empty); `fault`, when given,
// receives why a file that exists was not read (not a regular file, larger than kMemberFileLimit,
// unreadable), or "".
bool readMemberFile(const QString& path, QStringList* members, QString* fault = nullptr);
// Writes the member file whole and atomically (the old one stays untouched until the new one is
// complete). Returns an empty text, or the failure's text.
QString writeMemberFile(const QString& path, const QStringList& members);

} // namespace compose
