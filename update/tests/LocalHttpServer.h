#pragma once

#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// A small HTTP/1.1 server on 127.0.0.1 for the updater's tests: it answers
// GET requests from a table of canned responses, one request per
// connection. Unknown paths get a 404.
class LocalHttpServer
{
public:
    struct Response
    {
        Response(int status = 200, const QByteArray &body = {}) : status(status), body(body) {}
        Response &movedTo(const QString &url) { status = 302; location = url.toUtf8(); return *this; }
        // The body in `count` parts, `delay` milliseconds apart.
        Response &inParts(int count, int delay) { chunks = count; chunkDelay = delay; return *this; }
        // Announces `length` bytes whatever the body holds.
        Response &claiming(qint64 length) { announcedLength = length; return *this; }
        // Takes the request but never answers.
        Response &unanswered() { silent = true; return *this; }

        int status;
        QByteArray body, location;
        int chunks = 1, chunkDelay = 0;
        qint64 announcedLength = -1;
        bool silent = false;
    };

    LocalHttpServer()
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    bool listen() { return server.listen(QHostAddress::LocalHost); }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }
    void route(const QString &path, const Response &response) { routes.insert(path, response); }

    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

private:
    void answer(QTcpSocket *socket)
    {
        if (socket->property("answered").toBool() || !socket->peek(65536).contains("\r\n\r\n"))
            return;
        socket->setProperty("answered", true);
        const QString path = QString::fromLatin1(socket->readLine().split(' ').value(1));
        const Response response = routes.value(path, Response{404, "no such page"});
        if (response.silent)
            return;
        const qint64 length = response.announcedLength >= 0 ? response.announcedLength : response.body.size();
        socket->write("HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n"
                      + (response.location.isEmpty() ? QByteArray() : "Location: " + response.location + "\r\n")
                      + "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n");

        // The body goes out in parts on a timer owned by the connection, so a
        // client sees it arrive over time.
        const qsizetype chunkSize = (response.body.size() + response.chunks - 1) / response.chunks;
        auto *timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [=, body = response.body, sent = 0]() mutable {
            if (socket->state() == QAbstractSocket::ConnectedState)
                socket->write(body.mid(sent * chunkSize, chunkSize));
            if (++sent >= response.chunks || socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop();
                socket->disconnectFromHost();
            }
        });
        timer->start(response.chunkDelay);
    }

    QTcpServer server;
    QHash<QString, Response> routes;
};
