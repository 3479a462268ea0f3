#include "tcpline.h"

#include "exchange.h"
#include "linecoding.h"
#include "pacer.h"
#include "snppterminal.h"
#include "tapterminal.h"

#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace pagersim {

namespace {

// One TCP call: the socket, the terminal behind it and the pacing of both directions.
class TcpCall : public QObject {
public:
    TcpCall(QTcpSocket* socket, Exchange* exchange, TcpLine::Protocol protocol, int cps, QObject* parent)
        : QObject(parent)
        , m_socket(socket)
        , m_exchange(exchange)
        , m_readPacer(cps)
        , m_writePacer(cps)
    {
        m_socket->setParent(this);
        m_readResume.setSingleShot(true);
        m_readResume.setTimerType(Qt::PreciseTimer);
        m_writeResume.setSingleShot(true);
        m_writeResume.setTimerType(Qt::PreciseTimer);
        connect(&m_readResume, &QTimer::timeout, this, &TcpCall::readAvailable);
        connect(&m_writeResume, &QTimer::timeout, this, &TcpCall::writePending);
        connect(m_socket, &QTcpSocket::readyRead, this, &TcpCall::readAvailable);
        connect(m_socket, &QTcpSocket::disconnected, this, &TcpCall::onDisconnected);

        m_call = m_exchange->beginCall();
        const CallFaults faults = m_exchange->faultsFor(m_call);
        const bool snpp = protocol == TcpLine::Protocol::Snpp;
        m_exchange->record(m_call,
            { { QStringLiteral("event"), QStringLiteral("connect") },
                { QStringLiteral("via"), snpp ? QStringLiteral("snpp") : QStringLiteral("tcp") } });
        if (!faults.dialResult.isEmpty()) {
            // No line to the terminal: the connection is closed at once.
            endCall();
            m_socket->disconnectFromHost();
            return;
        }
        if (snpp)
            attach(new SnppTerminal(faults, m_exchange->password, this), false);
        else
            attach(new TapTerminal(faults, m_exchange->password, this), true);
    }

    bool isDrained() const { return m_pending.isEmpty() && (!m_socket || m_socket->bytesToWrite() == 0); }

private:
    // Wires a terminal of either kind to the socket and starts it. TAP bytes go with even parity (a 7E1
    // line as an 8N1 port reads it); SNPP is plain text.
    template <class Terminal>
    void attach(Terminal* terminal, bool parity)
    {
        connect(terminal, &Terminal::output, this, [this, parity](const QByteArray& bytes) {
            m_pending += parity ? withEvenParity(bytes) : bytes;
            writePending();
        });
        connect(terminal, &Terminal::event, this,
            [this](const QJsonObject& event) { m_exchange->record(m_call, event); });
        connect(terminal, &Terminal::dropped, this, [this] {
            endCall();
            m_closing = true;
            writePending();
        });
        m_feed = [terminal](const QByteArray& bytes) { terminal->feed(bytes); };
        m_acceptedPages = [terminal] { return terminal->acceptedPages(); };
        terminal->start();
    }

    void readAvailable()
    {
        if (m_ended || !m_feed)
            return;
        if (!m_readPacer.isThrottled()) {
            m_feed(toSevenBits(m_socket->readAll()));
            return;
        }
        // What is not due yet waits in the socket, as it would on the wire.
        if (m_readResume.isActive())
            return;
        const int due = m_readPacer.due();
        if (due > 0 && m_socket->bytesAvailable() > 0) {
            const QByteArray bytes = m_socket->read(due);
            m_readPacer.consume(static_cast<int>(bytes.size()));
            m_feed(toSevenBits(bytes));
        }
        if (m_socket->bytesAvailable() > 0)
            m_readResume.start(m_readPacer.msUntilDue());
    }

    void writePending()
    {
        while (!m_pending.isEmpty()) {
            const int due = m_writePacer.due();
            if (due == 0) {
                if (!m_writeResume.isActive())
                    m_writeResume.start(m_writePacer.msUntilDue());
                return;
            }
            const QByteArray chunk = m_pending.left(due);
            m_socket->write(chunk);
            m_pending.remove(0, chunk.size());
            m_writePacer.consume(static_cast<int>(chunk.size()));
        }
        if (m_closing)
            m_socket->disconnectFromHost(); // sends what is buffered first
    }

    void onDisconnected()
    {
        if (!m_ended) {
            m_exchange->record(m_call, { { QStringLiteral("event"), QStringLiteral("hangup") } });
            endCall();
        }
        deleteLater();
    }

    void endCall()
    {
        if (m_ended)
            return;
        m_ended = true;
        m_exchange->endCall(m_call, m_acceptedPages ? m_acceptedPages() : 0);
    }

    QTcpSocket* m_socket;
    Exchange* m_exchange;
    std::function<void(const QByteArray&)> m_feed;
    std::function<int()> m_acceptedPages;
    int m_call = 0;
    bool m_ended = false;
    bool m_closing = false;
    Pacer m_readPacer;
    Pacer m_writePacer;
    QTimer m_readResume;
    QTimer m_writeResume;
    QByteArray m_pending;
};

} // namespace

TcpLine::TcpLine(Exchange* exchange, Protocol protocol, QObject* parent)
    : QObject(parent)
    , m_exchange(exchange)
    , m_protocol(protocol)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpLine::acceptCalls);
}

bool TcpLine::listen(quint16 port, QString* error)
{
    if (!m_server.listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(m_server.errorString());
        return false;
    }
    return true;
}

bool TcpLine::isDrained() const
{
    return std::all_of(m_calls.cbegin(), m_calls.cend(), [](const QPointer<QObject>& call) {
        return !call || static_cast<TcpCall*>(call.data())->isDrained();
    });
}

void TcpLine::acceptCalls()
{
    m_calls.removeAll(QPointer<QObject>());
    while (QTcpSocket* socket = m_server.nextPendingConnection())
        m_calls.append(new TcpCall(socket, m_exchange, m_protocol, m_cps, this));
}

} // namespace pagersim

#include "moc_tcpline.cpp"
