#include "snppterminal.h"

#include "transcript.h"

#include <QRandomGenerator>

namespace pagersim {

SnppTerminal::SnppTerminal(CallFaults faults, QString password, QObject* parent)
    : QObject(parent)
    , m_faults(std::move(faults))
    , m_password(std::move(password))
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        reply(m_faults.silentTerminal || m_faults.garbage ? QByteArray() : "421 Timeout, goodbye", true);
    });
    m_garbage.setInterval(kGarbageIntervalMs);
    connect(&m_garbage, &QTimer::timeout, this, &SnppTerminal::sendGarbage);
}

void SnppTerminal::start()
{
    m_idle.start(m_idleTimeoutMs);
    if (m_faults.garbage)
        m_garbage.start();
    else if (m_faults.snpp421)
        reply("421 Service not available, try later", true);
    else if (!m_faults.silentTerminal)
        reply("220 SNPP server ready", m_faults.dropAfterBlocks == 0);
}

void SnppTerminal::feed(QByteArrayView bytes)
{
    if (m_closed)
        return;
    m_idle.start(m_idleTimeoutMs);
    if (m_faults.silentTerminal || m_faults.garbage)
        return;
    for (char c : bytes) {
        if (m_closed)
            return;
        if (c != '\n') {
            if (m_line.size() < kMaxLine)
                m_line += c;
            else
                m_overlong = true;
            continue;
        }
        QByteArray line = std::exchange(m_line, {});
        if (line.endsWith('\r'))
            line.chop(1);
        if (std::exchange(m_overlong, false))
            reply("500 Command line too long");
        else if (m_inData)
            dataLine(line);
        else
            commandLine(line);
    }
}

void SnppTerminal::commandLine(const QByteArray& line)
{
    const qsizetype blank = line.indexOf(' ');
    const QByteArray verb = line.left(blank < 0 ? line.size() : blank).left(4).toUpper();
    const QByteArray rest = blank < 0 ? QByteArray() : line.mid(blank + 1);
    const QList<QByteArray> words = rest.simplified().split(' ');

    if (verb == "PAGE") {
        const QString id = QString::fromLatin1(words.first());
        if (id.isEmpty() || m_faults.invalidIds.contains(id)) {
            QJsonObject record = transcriptEvent("refused");
            record.insert(QStringLiteral("id"), id);
            record.insert(QStringLiteral("reason"), QStringLiteral("invalid id"));
            emit event(record);
            reply("550 Error, invalid pager ID");
            return;
        }
        m_pagers.append(id);
        reply("250 Pager ID accepted");
    } else if (verb == "MESS") {
        if (m_haveMessage) {
            reply("503 Error, message already entered");
        } else if (rest.trimmed().isEmpty()) {
            reply("550 Error, invalid message");
        } else {
            m_message = QString::fromLatin1(rest);
            m_haveMessage = true;
            reply("250 Message OK");
        }
    } else if (verb == "DATA") {
        if (m_haveMessage) {
            reply("503 Error, message already entered");
        } else {
            m_inData = true;
            m_dataLines.clear();
            reply("354 Begin input; end with <CRLF>'.'<CRLF>");
        }
    } else if (verb == "SEND") {
        send();
    } else if (verb == "RESE") {
        m_pagers.clear();
        m_message.clear();
        m_haveMessage = false;
        reply("250 Reset OK");
    } else if (verb == "LOGI") {
        const QString login = QString::fromLatin1(words.value(0));
        const QString password = QString::fromLatin1(words.value(1));
        const bool accepted = !m_faults.badPassword && (m_password.isNull() || password == m_password);
        QJsonObject record = transcriptEvent("login");
        record.insert(QStringLiteral("login"), login);
        record.insert(QStringLiteral("password"), password);
        record.insert(QStringLiteral("accepted"), accepted);
        emit event(record);
        reply(accepted ? "250 Login accepted" : "550 Error, invalid login");
    } else if (verb == "HELP") {
        reply("214 Commands: LOGI PAGE MESS DATA SEND RESE HELP QUIT");
        reply("250 End of help");
    } else if (verb == "QUIT") {
        reply("221 OK, goodbye", true);
    } else {
        reply("500 Command not implemented");
    }
}

void SnppTerminal::dataLine(const QByteArray& line)
{
    if (line == ".") {
        m_inData = false;
        m_message = m_dataLines.join(u'\n');
        m_haveMessage = true;
        reply("250 Message OK");
        return;
    }
    m_dataLines.append(QString::fromLatin1(line.startsWith('.') ? line.mid(1) : line));
}

void SnppTerminal::send()
{
    if (m_pagers.isEmpty()) {
        reply("503 Error, pager ID needed");
        return;
    }
    if (!m_haveMessage) {
        reply("503 Error, message needed");
        return;
    }
    if (m_faults.snpp554) {
        reply("554 Error, failed (technical reason)");
        return;
    }
    for (const QString& id : std::as_const(m_pagers)) {
        QJsonObject record = transcriptEvent("page");
        record.insert(QStringLiteral("id"), id);
        record.insert(QStringLiteral("text"), m_message);
        emit event(record);
        ++m_pages;
    }
    m_pagers.clear(); // a sent transaction starts the next one afresh
    m_message.clear();
    m_haveMessage = false;
    reply("250 Message sent successfully");
}

void SnppTerminal::reply(const QByteArray& line, bool thenDrop)
{
    if (line.startsWith("250") && ++m_positive == m_faults.dropAfterBlocks)
        thenDrop = true;
    if (thenDrop) {
        m_closed = true;
        m_idle.stop();
        m_garbage.stop();
    }
    const auto out = [this, line, thenDrop] {
        if (!line.isEmpty())
            emit output(line + "\r\n");
        if (thenDrop)
            emit dropped();
    };
    if (m_faults.slowAckMs > 0)
        QTimer::singleShot(m_faults.slowAckMs, Qt::PreciseTimer, this, out);
    else
        out();
}

void SnppTerminal::sendGarbage()
{
    // Random printable characters in lines of random length; none starts with a reply code.
    auto* random = QRandomGenerator::global();
    QByteArray noise;
    const int length = random->bounded(8, 96);
    for (int i = 0; i < length; ++i)
        noise += static_cast<char>(random->bounded(0x20, 0x7F));
    if (random->bounded(4) == 0)
        noise += "\r\n";
    if (std::isdigit(uchar(noise[0])))
        noise[0] = '#';
    emit output(noise);
}

} // namespace pagersim
