#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace config {

// One INI file read and written with the semantics of the private-profile services: a read names a
// section, a key and a default and yields the default when the file, the section or the key is
// missing; a write updates the key where it stands or appends it (creating the section at the end
// of the file when missing). Section and key names compare without regard to case. Every other line
// (comments, blank lines, junk) is kept byte for byte. The file is opened afresh for each call and
// written atomically, so a reader never sees half a file. Text is Windows-1252.
// The largest settings file read.
inline constexpr qint64 kIniFileLimit = 1024 * 1024;

class IniFile {
public:
    explicit IniFile(const QString& path);

    QString path() const { return path_; }
    // Why the file is not read (not a regular file, larger than kIniFileLimit, unreadable), naming
    // it; empty when it is read or missing. Reads then give their defaults.
    QString fault() const;

    // The value of `key` in `section`, blanks around it removed and one pair of enclosing quotes
    // dropped; `defaultValue` when the file cannot be read or holds no such key.
    QString readString(
        const QString& section, const QString& key, const QString& defaultValue = QString()) const;

    // Sets `key` in `section` to `value` (line breaks in the value become blanks, so a value can never
    // add lines of its own). Returns false, leaving the file as it was, when the names are unusable
    // (empty, or holding a line break, "=" in a key, "]" in a section) or the file cannot be written.
    bool writeString(const QString& section, const QString& key, const QString& value) const;

private:
    QString path_;
};

// The one settings file of the desk, pager.ini, in the user's configuration folder.
QString pagerIniPath();
// Points pagerIniPath() at another file for the rest of the run (a runner's --config); empty: the
// per-user file again.
void setPagerIniPath(const QString& path);

} // namespace config
