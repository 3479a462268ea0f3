#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testsupport {

// A file's bytes as a fresh reader sees them; empty when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace testsupport
