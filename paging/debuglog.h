#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
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
    // A password of the page's: written as "****" wherever it stands in what is logged or kept, as
    // sent and in the forms a server may echo it back in (XML-escaped).
    void hide(const QString& secret);
    void sent(const QByteArray& bytes) { write("->", bytes); }
    void received(const QByteArray& bytes) { write("<-", bytes); }
    void note(const QString& text);

    static QByteArray readable(const QByteArray& bytes);

    // Also keeps the bytes sent and received in memory, up to kMaxKept of them: a path test shows
    // the dialogue to the operator.
    void keepDialogue() { m_keep = true; }
    struct Chunk {
        bool sent = false;
        QByteArray bytes;
    };
    QList<Chunk> dialogue() const;
    static constexpr qsizetype kMaxKept = 8192;

private:
    void write(const char* direction, const QByteArray& bytes);
    QByteArray masked(QByteArray bytes) const;

    QString m_path;
    bool m_enabled = false;
    bool m_keep = false;
    qsizetype m_kept = 0;
    QList<Chunk> m_dialogue;
    QList<QByteArray> m_secrets;
    mutable QMutex m_mutex;
};

} // namespace paging
