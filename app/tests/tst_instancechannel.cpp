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
};

void TestInstanceChannel::secondStartHandsItsArchivesOver()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("vorlo.socket"));
    QVERIFY(!InstanceChannel(name).sendToRunning({}));

    // An instance that crashed left its socket file behind: taken over.
    QFile stale(name);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    InstanceChannel running(name);
    QVERIFY(running.listen());
    QSignalSpy received(&running, &InstanceChannel::archivesReceived);

    const QStringList odd{QStringLiteral("/tmp/a b/été.rar"), QStringLiteral("/tmp/line\nbreak.rar"),
                          QStringLiteral("/tmp/'quoted' \"name\".rar")};
    QVERIFY(handOver(name, odd));
    // Started again without an archive: the running one is told so.
    QVERIFY(handOver(name, {}));
    QCOMPARE(received.size(), 2);
    QCOMPARE(received.at(0).at(0).toStringList(), odd);
    QCOMPARE(received.at(1).at(0).toStringList(), QStringList());
}

QTEST_GUILESS_MAIN(TestInstanceChannel)
#include "tst_instancechannel.moc"
