#pragma once

#include "faults.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QTimer>

namespace pagersim {

// A carrier's SNPP server (RFC 1861 level 2) for one connection: fed the client's bytes, it answers
// line by line and reports what happened as the same transcript events the TAP terminal writes (one
// "page" per pager ID at SEND). Commands: LOGI, PAGE, MESS, DATA (dot-unstuffed), SEND, RESE, HELP,
// QUIT; any other command, the level 2 options among them, is answered 500. The server ends the
// connection itself after QUIT, a 421, an idle line or a drop fault.
class SnppTerminal : public QObject {
    Q_OBJECT
public:
    static constexpr int kIdleTimeoutMs = 60000; // the connection drops after this long without a byte
    static constexpr int kMaxLine = 1024; // characters kept of one command or DATA line
    static constexpr int kGarbageIntervalMs = 50;

    // PASSWORD: the LOGI password; a null string accepts any.
    SnppTerminal(CallFaults faults, QString password, QObject* parent = nullptr);

    // The connection is up: the greeting (or what a fault puts in its place).
    void start();
    void feed(QByteArrayView bytes);

    int acceptedPages() const { return m_pages; }
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

signals:
    void output(const QByteArray& bytes);
    void event(const QJsonObject& event);
    void dropped(); // after the last output

private:
    void commandLine(const QByteArray& line);
    void dataLine(const QByteArray& line);
    void send();
    void reply(const QByteArray& line, bool thenDrop = false);
    void sendGarbage();

    CallFaults m_faults;
    QString m_password;
    QByteArray m_line;
    bool m_overlong = false;
    bool m_closed = false;
    bool m_inData = false;
    QStringList m_dataLines;
    QStringList m_pagers;
    QString m_message;
    bool m_haveMessage = false;
    int m_positive = 0; // 250 replies so far, for the drop fault
    int m_pages = 0;
    QTimer m_idle;
    QTimer m_garbage;
    int m_idleTimeoutMs = kIdleTimeoutMs;
};

} // namespace pagersim
