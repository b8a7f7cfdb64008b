#include "InstanceChannel.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

// A second start of Vorlo is another process; a thread stands for it here,
// since the running instance must keep its event loop turning meanwhile.
bool handOver(const QString &name, const QStringList &archives)
{
    std::atomic<bool> taken = false;
    QScopedPointer<QThread> second(QThread::create([&] { taken = InstanceChannel(name).sendToRunning(archives); }));
    second->start();
    if (!QTest::qWaitFor([&] { return second->isFinished(); }, 10000))
        qFatal("the hand-over hangs");
    return taken;
}

} // namespace

class TestInstanceChannel : public QObject
{
    Q_OBJECT
private slots:
    void secondStartHandsItsArchivesOver();
    void nobodyRunningTakesNothing();
    void channelLeftBehindIsTakenOver();

private:
    QTemporaryDir dir_;
};

void TestInstanceChannel::secondStartHandsItsArchivesOver()
{
    const QString name = dir_.filePath(QStringLiteral("running.socket"));
    InstanceChannel running(name);
    QVERIFY(running.listen());
    QSignalSpy received(&running, &InstanceChannel::archivesReceived);

    const QStringList odd{QStringLiteral("/tmp/a b/été.rar"), QStringLiteral("/tmp/line\nbreak.rar"),
                          QStringLiteral("/tmp/'quoted' \"name\".rar")};
    QVERIFY(handOver(name, odd));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(0).toStringList(), odd);

    // Started again without an archive: the running one is told so.
    QVERIFY(handOver(name, {}));
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.at(1).at(0).toStringList(), QStringList());
}

void TestInstanceChannel::nobodyRunningTakesNothing()
{
    const QString name = dir_.filePath(QStringLiteral("nobody.socket"));
    QVERIFY(!InstanceChannel(name).sendToRunning({QStringLiteral("/tmp/a.rar")}));

    // A listener that has gone takes nothing either.
    {
        InstanceChannel gone(name);
        QVERIFY(gone.listen());
    }
    QVERIFY(!InstanceChannel(name).sendToRunning({QStringLiteral("/tmp/a.rar")}));
}

void TestInstanceChannel::channelLeftBehindIsTakenOver()
{
    // An instance that crashed leaves its socket file behind.
    const QString name = dir_.filePath(QStringLiteral("stale.socket"));
    QFile stale(name);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    QVERIFY(!InstanceChannel(name).sendToRunning({}));

    InstanceChannel running(name);
    QVERIFY(running.listen());
    QSignalSpy received(&running, &InstanceChannel::archivesReceived);
    QVERIFY(handOver(name, {QStringLiteral("/tmp/b.rar")}));
    QCOMPARE(received.size(), 1);
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
