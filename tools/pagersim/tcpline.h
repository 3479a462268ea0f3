#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

namespace pagersim {

class Exchange;

// A carrier's port on the loopback interface: every connection is a call straight to a paging
// terminal (TAP over IP) or to an SNPP server, no modem. Several calls may be up at once.
class TcpLine : public QObject {
    Q_OBJECT
public:
    enum class Protocol { Tap, Snpp };

    TcpLine(Exchange* exchange, Protocol protocol = Protocol::Tap, QObject* parent = nullptr);

    // PORT 0 takes any free port; port() then tells which.
    bool listen(quint16 port, QString* error);
    quint16 port() const { return m_server.serverPort(); }
    void setCharsPerSecond(int cps) { m_cps = cps; }
    // No call has bytes waiting to be written.
    bool isDrained() const;

private:
    void acceptCalls();

    Exchange* m_exchange;
    Protocol m_protocol;
    QTcpServer m_server;
    int m_cps = 0;
    QList<QPointer<QObject>> m_calls;
};

} // namespace pagersim
