#pragma once

#include "faults.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QTimer>

namespace pagersim {

// The carrier's TAP 1.8 paging terminal for one call, on whatever line carries it: fed the caller's
// bytes (already cut to 7 bits), it answers with bytes of its own (without parity) and reports what
// happened as transcript events. The terminal ends the call itself on EOT, a refused login, a session
// page limit, an idle line or a drop fault; a hang-up by the caller is the owner's business (it deletes
// the terminal).
class TapTerminal : public QObject {
    Q_OBJECT
public:
    // Protocol figures on the terminal's side.
    static constexpr int kIdPrompts = 3; // "ID=" answers to lone CRs before it stops prompting
    static constexpr int kMaxBlockLength = 256; // STX through the checksum's CR
    static constexpr int kMaxLoginLine = 64; // characters kept of a login line
    static constexpr int kIdleTimeoutMs = 60000; // the line drops after this long without a byte
    static constexpr int kGarbageIntervalMs = 50; // the garbage fault's pace

    // PASSWORD: the login password; a null string accepts any.
    TapTerminal(CallFaults faults, QString password, QObject* parent = nullptr);

    // The call is connected: starts the idle timer and the garbage of that fault.
    void start();
    void feed(QByteArrayView bytes);

    int acceptedPages() const { return m_pages; }
    bool isClosed() const { return m_state == State::Closed; }
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

    // "SUB c+0x40" back to the control character c.
    static QString decodeField(QByteArrayView field);

signals:
    void output(const QByteArray& bytes);
    void event(const QJsonObject& event);
    // The terminal dropped the line; emitted after its last output.
    void dropped();

private:
    enum class State { Prompting, Blocks, Closed };
    enum class BlockPhase { Between, Content, Checksum, End };

    void promptingByte(char c);
    void login(QByteArrayView text);
    void blockByte(char c);
    void finishBlock(bool framed);
    void finishPage();
    void reply(const QByteArray& bytes, bool thenDrop = false);
    void sendGarbage();

    CallFaults m_faults;
    QString m_password;
    State m_state = State::Prompting;
    QByteArray m_line;
    int m_prompts = 0;
    bool m_lastWasCr = false;

    BlockPhase m_phase = BlockPhase::Between;
    QByteArray m_block; // STX through the terminator
    QByteArray m_checksum;
    bool m_overlong = false;
    QList<QByteArray> m_fields; // completed fields of the transaction, still escaped
    QByteArray m_partialField; // a field continued (US) into the next block
    int m_blocksReceived = 0;
    int m_blocksAccepted = 0;
    int m_pages = 0;

    QTimer m_idle;
    QTimer m_garbage;
    int m_idleTimeoutMs = kIdleTimeoutMs;
};

} // namespace pagersim
