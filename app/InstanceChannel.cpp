#include "InstanceChannel.h"

#include <QDataStream>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace {
// Sent back once the paths are read, so that the sender knows it may go.
constexpr char kTaken = '\x01';
// A message larger than this is not ours.
constexpr qint64 kMaxMessage = 1 << 20;
}

InstanceChannel::InstanceChannel(const QString &name, QObject *parent)
    : QObject(parent)
    , name_(name)
{
}

InstanceChannel::~InstanceChannel() = default;

QString InstanceChannel::defaultName()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QStringLiteral("vorlo.socket"));
    // QLocalServer puts a bare name in the temporary folder, shared by every
    // user: the user id keeps each user's channel apart.
    return QStringLiteral("vorlo-%1").arg(::getuid());
}

bool InstanceChannel::sendToRunning(const QStringList &archives, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs))
        return false;

    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << archives;
    QByteArray framed;
    QDataStream frame(&framed, QIODevice::WriteOnly);
    frame << message;
    socket.write(framed);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.read(1) == QByteArray(1, kTaken);
}

bool InstanceChannel::listen()
{
    if (server_)
        return server_->isListening();
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::receive);
    if (server_->listen(name_))
        return true;
    // Nobody answered on the channel (sendToRunning failed), so whatever is
    // there was left by an instance that ended without cleaning up.
    QLocalServer::removeServer(name_);
    return server_->listen(name_);
}

void InstanceChannel::receive()
{
    while (QLocalSocket *socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > kMaxMessage) {
                socket->abort();
                return;
            }
            QDataStream in(socket);
            in.startTransaction();
            QByteArray message;
            in >> message;
            if (!in.commitTransaction())
                return; // wait for the rest
            QStringList archives;
            QDataStream content(message);
            content >> archives;
            socket->write(QByteArray(1, kTaken));
            socket->flush();
            socket->disconnectFromServer();
            emit archivesReceived(archives);
        });
    }
}
