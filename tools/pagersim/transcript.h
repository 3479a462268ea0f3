#pragma once

#include <QFile>
#include <QJsonObject>

namespace pagersim {

// A transcript event of `name`, to which the terminal adds its fields.
inline QJsonObject transcriptEvent(const char* name)
{
    return { { QStringLiteral("event"), QLatin1String(name) } };
}

// The record of every call: one compact JSON object per line, appended and flushed line by line so a
// reader sees each event as soon as it happened, even if the simulator is killed.
class Transcript {
public:
    Transcript() = default;
    // Opens FILE for appending; false with the system's message when it cannot be opened.
    bool open(const QString& path, QString* error);
    // Also writes every line to stderr (the simulator's running log).
    void setEcho(bool echo) { m_echo = echo; }
    void write(const QJsonObject& event);

private:
    QFile m_file;
    bool m_echo = false;
};

} // namespace pagersim
