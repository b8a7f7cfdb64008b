#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A small HTTP/1.1 server on 127.0.0.1 for the updater's tests: it answers
// GET requests from a table of canned responses, one request per
// connection. Unknown paths get a 404.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Response
    {
        Response(int status = 200, const QByteArray &body = QByteArray())
            : status(status), body(body)
        {
        }

        int status;
        QByteArray body;
        QByteArray location;  // sent as Location: for redirects
        int chunks = 1;       // the body is sent in this many parts...
        int chunkDelay = 0;   // ...this many milliseconds apart
        qint64 announcedLength = -1;  // Content-Length, the body's size unless set
        bool silent = false;  // accept the request but never answer
    };

    explicit LocalHttpServer(QObject *parent = nullptr);

    bool listen();
    QString baseUrl() const;  // "http://127.0.0.1:<port>"
    void route(const QString &path, const Response &response);
    int requestCount(const QString &path) const;

    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort();

private:
    void answer(QTcpSocket *socket);

    QTcpServer server;
    QHash<QString, Response> routes;
    QHash<QString, int> counts;
};
