#pragma once

#include "intake/gate.h"

#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace intake {

// The SNPP listener: a TCP (or, with a TLS configuration, TLS) server on the session's thread,
// one SnppDialogue a connection. A line is read whole before it is answered and may be at most
// SnppDialogue::kMaxLine bytes; a session silent for idleTimeout() ends with 421; more connections
// than maxConnections() are answered 421 and closed at once.
class SnppServer : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxConnections = 64;

    SnppServer(Gate& gate, qint64 maxBody, QObject* parent = nullptr);
    ~SnppServer() override;

    // Listens on `address`:`port` (0: any free port); TLS when `tls` is given. An empty text, or
    // why it could not.
    QString listen(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls);
    void close();
    quint16 port() const;

    void setIdleTimeout(int ms) { idleMs_ = ms; }
    int idleTimeout() const { return idleMs_; }
    void setMaxConnections(int count) { maxConnections_ = count; }
    int maxConnections() const { return maxConnections_; }
    int connectionCount() const { return connections_; }

private:
    void accept();
    void serve(QTcpSocket* socket);

    Gate& gate_;
    qint64 maxBody_;
    QTcpServer* server_ = nullptr;
    int idleMs_;
    int maxConnections_ = kMaxConnections;
    int connections_ = 0;
};

} // namespace intake
