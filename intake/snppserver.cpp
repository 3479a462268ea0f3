#include "intake/snppserver.h"

#include "intake/snppdialogue.h"

#include <QPointer>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace intake {

namespace {

// Replies a client has not read beyond this: it only sends, and is let go.
constexpr qint64 kMaxUnreadReplies = 64 * 1024;
// A closing connection whose client reads nothing more is dropped after this.
constexpr int kHangUpGraceMs = 5000;

// Ends a connection: what was written goes out, then the socket closes; a client that takes none of
// it is dropped after the grace.
void hangUp(QTcpSocket* socket)
{
    QTimer::singleShot(kHangUpGraceMs, socket, [socket] { socket->abort(); });
    socket->disconnectFromHost();
}

} // namespace

SnppServer::SnppServer(Gate& gate, qint64 maxBody, QObject* parent)
    : QObject(parent)
    , gate_(gate)
    , maxBody_(maxBody)
    , idleMs_(SnppDialogue::kIdleMs)
{
}

SnppServer::~SnppServer()
{
    close();
}

QString SnppServer::listen(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls)
{
    close();
    if (tls) {
        if (!QSslSocket::supportsSsl())
            return QStringLiteral("TLS is not available to this program");
        auto* server = new QSslServer(this);
        server->setSslConfiguration(*tls);
        // A connection counts from its handshake on: a flood of handshakes meets the cap too.
        connect(server, &QSslServer::startedEncryptionHandshake, this, [this](QSslSocket* socket) {
            if (connections_ >= maxConnections_) {
                socket->abort();
                return;
            }
            ++connections_;
            connect(socket, &QObject::destroyed, this, [this] { --connections_; });
        });
        server_ = server;
    } else {
        server_ = new QTcpServer(this);
    }
    server_->setMaxPendingConnections(maxConnections_);
    connect(server_, &QTcpServer::pendingConnectionAvailable, this, &SnppServer::accept);
    if (!server_->listen(address, port)) {
        const QString why = server_->errorString();
        delete std::exchange(server_, nullptr);
        return why;
    }
    return {};
}

void SnppServer::close()
{
    if (!server_)
        return;
    server_->close();
    delete std::exchange(server_, nullptr);
    // The sessions under way end with the server.
    for (QTcpSocket* socket : findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly))
        socket->abort();
}

quint16 SnppServer::port() const
{
    return server_ ? server_->serverPort() : 0;
}

void SnppServer::accept()
{
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        const bool counted = qobject_cast<QSslServer*>(server_) != nullptr; // at its handshake
        if (!counted && connections_ >= maxConnections_) {
            socket->write("421 Too many connections, Goodbye\r\n");
            hangUp(socket);
            continue;
        }
        if (!counted) {
            ++connections_;
            connect(socket, &QObject::destroyed, this, [this] { --connections_; });
        }
        serve(socket);
    }
}

void SnppServer::serve(QTcpSocket* socket)
{
    auto dialogue = std::make_shared<SnppDialogue>(gate_, maxBody_);
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(idleMs_);
    auto buffer = std::make_shared<QByteArray>();
    auto closing = std::make_shared<bool>(false);

    const auto finish = [socket, idle, closing](const QByteArray& last) {
        *closing = true;
        idle->stop();
        socket->write(last);
        hangUp(socket);
    };
    connect(idle, &QTimer::timeout, socket, [finish] { finish(SnppDialogue::idleReply()); });
    connect(socket, &QTcpSocket::readyRead, socket, [socket, dialogue, idle, buffer, closing, finish] {
        if (*closing) {
            socket->readAll();
            return;
        }
        *buffer += socket->readAll();
        for (;;) {
            const qsizetype end = buffer->indexOf('\n');
            if (end < 0 ? buffer->size() >= SnppDialogue::kMaxLine : end + 1 > SnppDialogue::kMaxLine) {
                finish(SnppDialogue::overlongReply());
                return;
            }
            if (end < 0)
                return;
            const QByteArray line = buffer->left(end);
            buffer->remove(0, end + 1);
            idle->start(); // silence is counted from the last whole line
            const SnppDialogue::Answer answer = dialogue->line(line);
            if (answer.close) {
                finish(answer.reply);
                return;
            }
            socket->write(answer.reply);
            if (socket->bytesToWrite() > kMaxUnreadReplies) {
                socket->abort();
                return;
            }
        }
    });
    socket->write(SnppDialogue::greeting());
    idle->start();
}

} // namespace intake

#include "moc_snppserver.cpp"
