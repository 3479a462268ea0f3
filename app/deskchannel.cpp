#include "app/deskchannel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <unistd.h>

namespace {

const QByteArray kRaise = "raise\n";
const QByteArray kRaised = "raised\n";
constexpr int kWaitMs = 2000;

} // namespace

DeskChannel::DeskChannel(const QString& dataFolder, QWidget* window)
    : QObject(window)
    , server_(new QLocalServer(this))
    , window_(window)
{
    const QString name = serverName(dataFolder);
    // The folder's lock is held: a channel of that name left by a killed desk is stale.
    QLocalServer::removeServer(name);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->listen(name);
    connect(server_, &QLocalServer::newConnection, this, &DeskChannel::answer);
}

QString DeskChannel::serverName(const QString& dataFolder)
{
    const QString folder = QDir(dataFolder).canonicalPath();
    const QByteArray key = QByteArray::number(::getuid()) + '\0' + folder.toUtf8();
    return QStringLiteral("plimopager-")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16));
}

bool DeskChannel::raiseRunningDesk(const QString& dataFolder)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(dataFolder));
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    while (socket.bytesAvailable() < kRaised.size()) {
        if (!socket.waitForReadyRead(kWaitMs))
            return false;
    }
    return socket.readAll().startsWith(kRaised);
}

void DeskChannel::answer()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine(64) == kRaise) {
                window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
                window_->show();
                window_->raise();
                window_->activateWindow();
                socket->write(kRaised);
            }
            socket->disconnectFromServer();
        });
    }
}

#include "moc_deskchannel.cpp"
