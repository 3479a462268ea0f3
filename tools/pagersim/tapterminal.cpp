#include "tapterminal.h"

#include "asciicontrol.h"
#include "tapchecksum.h"
#include "transcript.h"

#include <QRandomGenerator>

namespace pagersim {

namespace {

const QByteArray kLoggedIn = QByteArray("110 1.8\r") + ACK + CR;
const QByteArray kGoAhead = QByteArray() + ESC + "[p" + CR;
const QByteArray kDisconnect = QByteArray() + ESC + EOT + CR;
const QByteArray kAck = QByteArray() + ACK + CR;
const QByteArray kNak = QByteArray() + NAK + CR;

} // namespace

TapTerminal::TapTerminal(CallFaults faults, QString password, QObject* parent)
    : QObject(parent)
    , m_faults(std::move(faults))
    , m_password(std::move(password))
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        // A caller that went quiet: a silent terminal just drops, a speaking one says goodbye first.
        reply(m_faults.silentTerminal ? QByteArray() : QByteArray("501 Time-out\r") + kDisconnect, true);
    });
    m_garbage.setInterval(kGarbageIntervalMs);
    connect(&m_garbage, &QTimer::timeout, this, &TapTerminal::sendGarbage);
}

void TapTerminal::start()
{
    m_idle.start(m_idleTimeoutMs);
    if (m_faults.garbage)
        m_garbage.start();
}

QString TapTerminal::decodeField(QByteArrayView field)
{
    QByteArray plain;
    plain.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == SUB && i + 1 < field.size() && field[i + 1] >= 0x40 && field[i + 1] <= 0x5F) {
            plain += static_cast<char>(field[i + 1] - 0x40);
            ++i;
        } else {
            plain += c;
        }
    }
    return QString::fromLatin1(plain);
}

void TapTerminal::feed(QByteArrayView bytes)
{
    if (m_state == State::Closed)
        return;
    m_idle.start(m_idleTimeoutMs);
    if (m_faults.silentTerminal || m_faults.garbage)
        return;
    for (char c : bytes) {
        if (m_state == State::Prompting)
            promptingByte(c);
        else if (m_state == State::Blocks)
            blockByte(c);
        else
            return;
    }
}

void TapTerminal::promptingByte(char c)
{
    // LF where CR belongs is taken as CR; the LF of a CR LF pair is not a second line end.
    const bool afterCr = std::exchange(m_lastWasCr, c == CR);
    if (c == LF) {
        if (afterCr)
            return;
        c = CR;
    }
    if (c == EOT && m_line.endsWith(ESC)) {
        // The caller gave up the login.
        reply({}, true);
        return;
    }
    if (c != CR) {
        if (m_line.size() < kMaxLoginLine)
            m_line += c;
        return;
    }
    const qsizetype escape = m_line.lastIndexOf(ESC);
    if (escape >= 0) {
        login(QByteArrayView(m_line).sliced(escape + 1));
    } else if (m_prompts < kIdPrompts) {
        ++m_prompts;
        reply("ID=");
    }
    m_line.clear();
}

void TapTerminal::login(QByteArrayView text)
{
    // ESC, a three-letter service ("PG1" is alphanumeric paging, the only one here), the password.
    const bool paging = text.startsWith("PG1");
    const QString password = QString::fromLatin1(text.sliced(std::min<qsizetype>(3, text.size())));
    const bool accepted = paging && !m_faults.badPassword && (m_password.isNull() || password == m_password);
    QJsonObject record = transcriptEvent("login");
    record.insert(QStringLiteral("password"), password);
    record.insert(QStringLiteral("accepted"), accepted);
    emit event(record);
    if (!accepted) {
        reply(kDisconnect, true);
        return;
    }
    m_state = State::Blocks;
    reply(kLoggedIn + (m_faults.noGoAhead ? QByteArray() : kGoAhead), m_faults.dropAfterBlocks == 0);
}

void TapTerminal::blockByte(char c)
{
    switch (m_phase) {
    case BlockPhase::Between:
        if (c == STX) {
            m_block = QByteArray(1, STX);
            m_overlong = false;
            m_phase = BlockPhase::Content;
        } else if (c == EOT) {
            reply(QByteArray("115\r") + kDisconnect, true);
        }
        // CR, LF and anything else between blocks is line noise.
        return;
    case BlockPhase::Content:
        if (c == STX) {
            // A new block before the old one ended: the caller gave that one up.
            m_block = QByteArray(1, STX);
            m_overlong = false;
            return;
        }
        if (m_block.size() < kMaxBlockLength)
            m_block += c;
        else
            m_overlong = true;
        if (c == ETX || c == ETB || c == US) {
            m_checksum.clear();
            m_phase = BlockPhase::Checksum;
        }
        return;
    case BlockPhase::Checksum:
        if (c == CR || c == LF) {
            m_phase = BlockPhase::Between;
            finishBlock(false);
            return;
        }
        m_checksum += c;
        if (m_checksum.size() == 3)
            m_phase = BlockPhase::End;
        return;
    case BlockPhase::End:
        m_phase = BlockPhase::Between;
        if (c == CR || c == LF) {
            finishBlock(true);
        } else {
            finishBlock(false);
            blockByte(c);
        }
        return;
    }
}

void TapTerminal::finishBlock(bool framed)
{
    ++m_blocksReceived;
    const bool intact = framed && !m_overlong && m_block.size() + 4 <= kMaxBlockLength
        && tapChecksum(m_block) == m_checksum;
    if (!intact || m_faults.nakAlways || m_blocksReceived <= m_faults.nakFirstBlocks) {
        QJsonObject record = transcriptEvent("nak");
        record.insert(QStringLiteral("block"), m_blocksReceived);
        emit event(record);
        reply(kNak);
        return;
    }
    const bool startsPage = m_fields.isEmpty() && m_partialField.isEmpty();
    if (startsPage && m_faults.maxPages >= 0 && m_pages >= m_faults.maxPages) {
        reply(QByteArray("112 Maximum pages entered for session\r") + kDisconnect, true);
        return;
    }

    const char terminator = m_block.back();
    QList<QByteArray> segments = m_block.mid(1, m_block.size() - 2).split(CR);
    segments.first().prepend(m_partialField);
    m_partialField.clear();
    if (terminator == US) {
        m_partialField = segments.takeLast();
    } else if (segments.last().isEmpty()) {
        segments.removeLast(); // the CR that ended the last field
    }
    m_fields.append(segments);

    if (terminator == ETX) {
        finishPage();
        return;
    }
    ++m_blocksAccepted;
    reply(kAck, m_blocksAccepted == m_faults.dropAfterBlocks);
}

void TapTerminal::finishPage()
{
    const QList<QByteArray> fields = std::exchange(m_fields, {});
    if (fields.size() != 2) {
        QJsonObject record = transcriptEvent("refused");
        record.insert(QStringLiteral("id"), fields.isEmpty() ? QString() : decodeField(fields.first()));
        record.insert(QStringLiteral("reason"), QStringLiteral("bad fields"));
        emit event(record);
        reply(QByteArray("506 Invalid message field\r") + RS + CR);
        return;
    }
    const QString id = decodeField(fields.at(0));
    if (id.isEmpty() || m_faults.invalidIds.contains(id)) {
        QJsonObject record = transcriptEvent("refused");
        record.insert(QStringLiteral("id"), id);
        record.insert(QStringLiteral("reason"), QStringLiteral("invalid id"));
        emit event(record);
        reply(QByteArray("511 Invalid pager ID\r") + RS + CR);
        return;
    }
    ++m_pages;
    ++m_blocksAccepted;
    QJsonObject record = transcriptEvent("page");
    record.insert(QStringLiteral("id"), id);
    record.insert(QStringLiteral("text"), decodeField(fields.at(1)));
    emit event(record);
    reply(QByteArray("211 Page(s) Sent\r") + kAck, m_blocksAccepted == m_faults.dropAfterBlocks);
}

void TapTerminal::reply(const QByteArray& bytes, bool thenDrop)
{
    if (thenDrop) {
        m_state = State::Closed;
        m_idle.stop();
        m_garbage.stop();
    }
    const auto send = [this, bytes, thenDrop] {
        if (!bytes.isEmpty())
            emit output(bytes);
        if (thenDrop)
            emit dropped();
    };
    if (m_faults.slowAckMs > 0)
        QTimer::singleShot(m_faults.slowAckMs, this, send);
    else
        send();
}

void TapTerminal::sendGarbage()
{
    // Random printable characters, never '=' (so never "ID="), in lines of random length, some of
    // them far longer than any reply.
    auto* random = QRandomGenerator::global();
    QByteArray noise;
    const int length = random->bounded(8, 96);
    for (int i = 0; i < length; ++i) {
        char c = static_cast<char>(random->bounded(0x20, 0x7F));
        noise += c == '=' ? '#' : c;
    }
    if (random->bounded(4) == 0)
        noise += "\r\n";
    emit output(noise);
}

} // namespace pagersim
