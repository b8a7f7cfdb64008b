#include "LocalHttpServer.h"

#include <QTcpSocket>
#include <QTimer>

LocalHttpServer::LocalHttpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

bool LocalHttpServer::listen()
{
    return server.listen(QHostAddress::LocalHost);
}

QString LocalHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort());
}

void LocalHttpServer::route(const QString &path, const Response &response)
{
    routes.insert(path, response);
}

int LocalHttpServer::requestCount(const QString &path) const
{
    return counts.value(path);
}

quint16 LocalHttpServer::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void LocalHttpServer::answer(QTcpSocket *socket)
{
    if (socket->property("answered").toBool() || !socket->peek(65536).contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    const QList<QByteArray> requestLine = socket->readLine().trimmed().split(' ');
    const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine.at(1)) : QString();
    ++counts[path];

    const Response response = routes.value(path, Response{404, "no such page"});
    if (response.silent)
        return;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n";
    if (!response.location.isEmpty())
        head += "Location: " + response.location + "\r\n";
    const qint64 length = response.announcedLength >= 0 ? response.announcedLength : response.body.size();
    head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    head += "Content-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    socket->write(head);

    // The body goes out in parts on a timer owned by the connection, so a
    // client sees it arrive over time; the connection closes after the last
    // part.
    const int chunks = qMax(1, response.chunks);
    const qsizetype chunkSize = (response.body.size() + chunks - 1) / chunks;
    auto *timer = new QTimer(socket);
    timer->setInterval(response.chunkDelay);
    auto sendPart = [socket, timer, chunks, chunkSize, body = response.body, sent = 0]() mutable {
        if (socket->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            return;
        }
        socket->write(body.mid(sent * chunkSize, chunkSize));
        if (++sent >= chunks) {
            timer->stop();
            socket->disconnectFromHost();
        }
    };
    connect(timer, &QTimer::timeout, socket, sendPart);
    timer->start();
}
