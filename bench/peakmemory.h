#pragma once

// The process's peak resident memory so far, as /proc/self/status says it ("107900 kB"; "?" where
// it cannot be read).

#include <QByteArray>
#include <QFile>

namespace bench {

inline QByteArray peakResident()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).simplified();
    return "?";
}

} // namespace bench
