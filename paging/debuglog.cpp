#include "debuglog.h"

#include <QDateTime>

#include <algorithm>

namespace paging {

DebugLog::DebugLog(const QString& path)
    : m_path(path)
    , m_enabled(!path.isEmpty())
{
}

QByteArray DebugLog::readable(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b >= 0x7F || b == '<')
            out.append('<').append(QByteArray::number(b, 16).rightJustified(2, '0').toUpper()).append('>');
        else
            out.append(ch);
    }
    return out;
}

void DebugLog::hide(const QString& secret)
{
    if (secret.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    for (const QByteArray& form : { secret.toLatin1(), secret.toUtf8(), secret.toHtmlEscaped().toUtf8() }) {
        if (!m_secrets.contains(form))
            m_secrets << form;
    }
    // The longest first: a password inside another is not left half shown.
    std::sort(m_secrets.begin(), m_secrets.end(), [](const QByteArray& a, const QByteArray& b) { return a.size() > b.size(); });
}

QByteArray DebugLog::masked(QByteArray bytes) const
{
    for (const QByteArray& secret : m_secrets)
        bytes.replace(secret, "****");
    return bytes;
}

void DebugLog::note(const QString& text)
{
    write("--", text.toUtf8());
}

QList<DebugLog::Chunk> DebugLog::dialogue() const
{
    QMutexLocker lock(&m_mutex);
    return m_dialogue;
}

void DebugLog::write(const char* direction, const QByteArray& bytes)
{
    QByteArray shown;
    {
        QMutexLocker lock(&m_mutex);
        shown = masked(bytes);
    }
    if (m_keep && direction[0] != direction[1] && !shown.isEmpty()) {
        QMutexLocker lock(&m_mutex);
        const QByteArray kept = shown.left(kMaxKept - m_kept);
        if (!kept.isEmpty())
            m_dialogue.append({ direction[0] == '-', kept });
        m_kept += kept.size();
    }
    if (!m_enabled || shown.isEmpty())
        return;
    const QByteArray line
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1() + ' '
        + direction + ' ' + (direction[0] == '-' && direction[1] == '-' ? shown : readable(shown)) + '\n';
    QMutexLocker lock(&m_mutex);
    QFile file(m_path);
    // A file made here is the operator's alone.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        file.write(line);
}

} // namespace paging
