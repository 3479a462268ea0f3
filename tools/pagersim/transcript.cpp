#include "transcript.h"

#include <QJsonDocument>

#include <cstdio>

namespace pagersim {

bool Transcript::open(const QString& path, QString* error)
{
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = QStringLiteral("cannot open transcript %1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

void Transcript::write(const QJsonObject& event)
{
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    if (m_file.isOpen()) {
        m_file.write(line);
        m_file.flush();
    }
    if (m_echo) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
}

} // namespace pagersim
