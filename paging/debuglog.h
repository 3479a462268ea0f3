#pragma once

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>

namespace paging {

// The dialogue with the modem and the terminal, byte for byte, appended to a file: one line per chunk
// sent ("->") or received ("<-"), with a time stamp; control characters written as <XX> in hex so the
// file stays readable. An empty path logs nothing.
class DebugLog {
public:
    explicit DebugLog(const QString& path);

    bool enabled() const { return m_enabled; }
    void sent(const QByteArray& bytes) { write("->", bytes); }
    void received(const QByteArray& bytes) { write("<-", bytes); }
    void note(const QString& text);

    static QByteArray readable(const QByteArray& bytes);

private:
    void write(const char* direction, const QByteArray& bytes);

    QString m_path;
    bool m_enabled = false;
    QMutex m_mutex;
};

} // namespace paging
