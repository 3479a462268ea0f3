#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

namespace testsupport {

// A server on a loopback port that plays a script: its greeting at once, then for each line received
// (ended by CR or LF) that begins with the next step's prefix, that step's answer ("close" closes
// the connection). A server of whole requests (HTTP) answers once what it received holds the prefix.
// It counts its connections.
class ScriptedServer : public QObject {
public:
    struct Step {
        QByteArray prefix;
        QByteArray answer;
    };
    ScriptedServer(QByteArray greeting, QList<Step> steps, bool wholeRequests = false)
        : greeting_(std::move(greeting))
        , steps_(std::move(steps))
        , wholeRequests_(wholeRequests)
    {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                socket->write(greeting_);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    int connections = 0;
    QByteArray received;

private:
    void take(QTcpSocket* socket)
    {
        QByteArray bytes = socket->readAll();
        for (char& c : bytes) // a TAP terminal's 7E1: the parity bit off
            c = char(c & 0x7F);
        received += bytes;
        buffer_ += bytes;
        if (wholeRequests_) {
            if (next_ < steps_.size() && buffer_.contains(steps_.at(next_).prefix)) {
                buffer_.clear();
                answer(socket, steps_.at(next_++).answer);
            }
            return;
        }
        for (qsizetype end; (end = buffer_.indexOf('\r')) >= 0 || (end = buffer_.indexOf('\n')) >= 0;) {
            const QByteArray line = buffer_.left(end);
            buffer_.remove(0, end + 1);
            if (!line.isEmpty() && next_ < steps_.size() && line.startsWith(steps_.at(next_).prefix)
                && !answer(socket, steps_.at(next_++).answer))
                return;
        }
    }
    // False once the connection is closed.
    static bool answer(QTcpSocket* socket, const QByteArray& text)
    {
        if (text == "close") {
            socket->disconnectFromHost();
            return false;
        }
        socket->write(text);
        return true;
    }

    QTcpServer server_;
    QByteArray greeting_;
    QList<Step> steps_;
    bool wholeRequests_;
    qsizetype next_ = 0;
    QByteArray buffer_;
};

} // namespace testsupport
