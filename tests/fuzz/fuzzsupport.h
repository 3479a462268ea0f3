#pragma once

// What every fuzz target shares: a scratch folder of its own for the files a target writes, and the
// "--write-seed DIR" option with which a target writes a well-formed input to start the corpus from.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstring>
#include <functional>

namespace fuzz {

// A Qt application object (file names, code pages and locales want one) and the scratch folder.
inline QString scratchFolder()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    return dir.path();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Handles "--write-seed DIR": writes the seed made by `seed` as DIR/seed and exits.
inline void handleSeedOption(int* argc, char*** argv, const std::function<QByteArray()>& seed)
{
    for (int i = 1; i + 1 < *argc; ++i) {
        if (std::strcmp((*argv)[i], "--write-seed") == 0) {
            scratchFolder();
            QDir().mkpath(QString::fromLocal8Bit((*argv)[i + 1]));
            writeFile(QString::fromLocal8Bit((*argv)[i + 1]) + QStringLiteral("/seed"), seed());
            std::exit(0);
        }
    }
}

// Several files in one input: each part is preceded by its length, four bytes little-endian, cut
// to what is left of the input; a missing part is empty.
inline QList<QByteArray> splitParts(const uint8_t* data, size_t size, int count)
{
    QList<QByteArray> parts;
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        if (i == count - 1) {
            parts << QByteArray(reinterpret_cast<const char*>(data) + at, qsizetype(size - at));
            break;
        }
        uint32_t length = 0;
        if (size - at >= 4) {
            std::memcpy(&length, data + at, 4);
            at += 4;
        } else {
            at = size;
        }
        length = uint32_t(std::min<size_t>(length, size - at));
        parts << QByteArray(reinterpret_cast<const char*>(data) + at, qsizetype(length));
        at += length;
    }
    return parts;
}

inline QByteArray joinParts(const QList<QByteArray>& parts)
{
    QByteArray joined;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i + 1 < parts.size()) {
            const uint32_t length = uint32_t(parts[i].size());
            joined.append(reinterpret_cast<const char*>(&length), 4);
        }
        joined += parts[i];
    }
    return joined;
}

} // namespace fuzz
