#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

// Lets a second start of Vorlo (a double-click in the file manager while
// Vorlo runs) hand its archives to the instance already running, so that an
// archive opened twice still has one window. The channel is a local socket
// that only the same user can reach.
class InstanceChannel : public QObject
{
    Q_OBJECT
public:
    // `name` is a socket name or an absolute socket path.
    explicit InstanceChannel(const QString &name, QObject *parent = nullptr);
    ~InstanceChannel() override;

    // The user's channel: in the private runtime folder when there is one.
    static QString defaultName();

    // Hands `archives` (absolute paths; none means "ask for some") to the
    // running instance. True when it has taken them.
    bool sendToRunning(const QStringList &archives, int timeoutMs = 3000);

    // Makes this process the running instance. A channel left behind by a
    // crashed instance is taken over.
    bool listen();

signals:
    void archivesReceived(const QStringList &archives);

private:
    void receive();

    QString name_;
    QLocalServer *server_ = nullptr;
};
