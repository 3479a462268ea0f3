#pragma once

// The carrier simulator as the paging tests run it: a real process with a pseudo-terminal and a
// loopback TCP port (and an SNPP port when the arguments ask for one), and its transcript read back as
// JSON objects.

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// A text field of a transcript event.
inline QString textOf(const QJsonObject& event, const char* key)
{
    return event.value(QLatin1String(key)).toString();
}

class PagerSimProcess {
public:
    ~PagerSimProcess() { stop(); }

    static QString program() { return QStringLiteral(PLIMO_BINARY_DIR "/tools/pagersim/pagersim"); }

    bool start(const QStringList& args)
    {
        m_transcript = m_dir.filePath(QStringLiteral("transcript.jsonl"));
        m_process.setProgram(program());
        m_process.setArguments(QStringList { QStringLiteral("--tcp"), QStringLiteral("0"),
                                   QStringLiteral("--quiet"), QStringLiteral("--transcript"), m_transcript }
            + args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        QByteArray out;
        const QDeadlineTimer deadline(5000);
        while (!out.contains("READY") && !deadline.hasExpired())
            if (m_process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
                out += m_process.readAllStandardOutput();
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("DEVICE "))
                m_device = QString::fromLatin1(line.mid(7).trimmed());
            else if (line.startsWith("TCP "))
                m_tcp = QStringLiteral("tcp:") + QString::fromLatin1(line.mid(4).trimmed());
            else if (line.startsWith("SNPP "))
                m_snpp = QString::fromLatin1(line.mid(5).trimmed());
            else if (line.startsWith("WCTP "))
                m_wctp = QString::fromLatin1(line.mid(5).trimmed());
        }
        return out.contains("READY") && !m_device.isEmpty() && !m_tcp.isEmpty();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    QString device() const { return m_device; }
    QString tcp() const { return m_tcp; }
    QString snpp() const { return m_snpp; } // HOST:PORT, with --snpp
    QString wctp() const { return m_wctp; } // the URL, when started with --wctp
    QString dir() const { return m_dir.path(); }

    QList<QJsonObject> transcript(const QString& event = QString()) const
    {
        QList<QJsonObject> out;
        QFile file(m_transcript);
        if (!file.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!o.isEmpty() && (event.isEmpty() || o.value(QStringLiteral("event")).toString() == event))
                out.append(o);
        }
        return out;
    }

    // Waits until the transcript holds `n` events of that kind (the simulator writes them as it goes).
    bool waitFor(const QString& event, int n, int ms = 5000) const
    {
        const QDeadlineTimer deadline(ms);
        while (transcript(event).size() < n) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(20);
        }
        return true;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_transcript;
    QString m_device;
    QString m_tcp;
    QString m_snpp;
    QString m_wctp;
};
