#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace pagersim {

class Exchange;
class TapTerminal;

// The Hayes modem on the pseudo-terminal: interprets AT commands in command mode, dials (a call to the
// paging terminal, or a numeric page when the dial string ends in ';'), carries the call's bytes to
// the terminal in data mode, and goes back to command mode on "+++", on the terminal's hang-up and on
// ATH. Fed the caller's bytes cut to 7 bits; its output goes without parity.
class HayesModem : public QObject {
    Q_OBJECT
public:
    static constexpr int kEscapeGuardMs = 1000; // pause after "+++" that makes it an escape
    static constexpr int kMaxCommandLine = 255;

    explicit HayesModem(Exchange* exchange, QObject* parent = nullptr);
    ~HayesModem() override;

    void feed(QByteArrayView bytes);
    // The client let go of the line (closed the device): a call in progress ends as on ATH, without
    // a reply, and a half-typed command is forgotten.
    void dropLine();
    bool isOnline() const { return m_mode == Mode::Online; }
    bool inCall() const { return m_mode != Mode::Command; }
    void setEscapeGuard(int ms) { m_guardMs = ms; }

signals:
    void output(const QByteArray& bytes);

private:
    enum class Mode { Command, Online, NumericCall };

    void commandByte(char c);
    void executeLine(const QByteArray& line);
    // Runs the commands after "AT"; false when one of them is not understood.
    bool execute(const QByteArray& commands, bool* dialled);
    bool dial(QByteArray dialString);
    void result(const QByteArray& text);
    void hangUp();
    void endCall();
    void onTerminalDropped();
    void onGuardTimeout();
    int faultCall() const;

    Exchange* m_exchange;
    Mode m_mode = Mode::Command;
    bool m_echo = false;
    QByteArray m_line;
    QHash<int, int> m_registers;

    int m_call = 0;
    bool m_faultedAttempt = false; // a modem fault answered since the client opened the line
    QString m_number;
    QString m_digits; // a numeric page's digits
    QPointer<TapTerminal> m_terminal;

    int m_pluses = 0;
    int m_guardMs = kEscapeGuardMs;
    QTimer m_guard;
};

} // namespace pagersim
