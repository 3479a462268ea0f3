#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

namespace pagersim {

class Exchange;

// A carrier's WCTP 1.3 server in transient-client mode on 127.0.0.1, plain HTTP/1.1: one request per
// connection (each connection is a call of the exchange), answered and closed. It takes
// wctp-SubmitClientMessage (checking the recipient's authorizationCode against the exchange's password), issues tracking
// numbers, and answers wctp-ClientQuery with the state a tracking number has reached: QUEUED, then
// DELIVERED and READ once the set delays from its submit have passed.
class WctpServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxHeaderBytes = 16 * 1024;
    static constexpr int kMaxBodyBytes = 1024 * 1024;
    static constexpr int kIdleTimeoutMs = 60000; // a connection that sends no whole request is closed

    WctpServer(Exchange* exchange, QObject* parent = nullptr);

    // PORT 0 takes any free port; port() then tells which.
    bool listen(quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }
    // Milliseconds from a submit until its message is DELIVERED, and until it is READ; -1: never.
    void setDelays(int deliveredMs, int readMs);
    // The minNextPollInterval given with every query answer, in minutes (0: none given).
    void setPollMinutes(int minutes) { m_pollMinutes = minutes; }
    int pollMinutes() const { return m_pollMinutes; }
    // Written before each tracking number issued (a carrier whose numbers are long).
    void setTrackingPrefix(const QString& prefix) { m_trackingPrefix = prefix; }
    bool isDrained() const;

    // The state of a tracking number now: "QUEUED", "DELIVERED", "READ", or empty when unknown.
    QString stateOf(const QString& trackingNumber) const;
    // Issues a tracking number for a message just accepted.
    QString issue();

private:
    void acceptCalls();

    Exchange* m_exchange;
    QTcpServer m_server;
    QList<QPointer<QObject>> m_calls;
    QHash<QString, QElapsedTimer> m_tracking;
    int m_deliveredMs = 1000;
    int m_readMs = 3000;
    int m_pollMinutes = 1;
    int m_issued = 0;
    QString m_trackingPrefix;
};

} // namespace pagersim
