// Starts of Vorlo: the channel through which a second start hands its
// archives over, and the program itself run as a user's desktop runs it.
#include "InstanceChannel.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>

class TestProcess : public QObject
{
    Q_OBJECT

    QTemporaryDir runtime;
    QString channel() const { return runtime.filePath(QStringLiteral("vorlo-offscreen.socket")); }

    // A second start of Vorlo is another process; a thread stands for it
    // here, since the running instance must keep its event loop turning.
    static bool handOver(const QString &name, const QStringList &archives)
    {
        std::atomic<bool> taken = false;
        QScopedPointer<QThread> second(QThread::create([&] { taken = InstanceChannel(name).sendToRunning(archives); }));
        second->start();
        if (!QTest::qWaitFor([&] { return second->isFinished(); }, 10000))
            qFatal("the hand-over hangs");
        return taken;
    }

    void start(QProcess &process)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(VORLO_PROGRAM), {QStringLiteral(VORLO_SAMPLE_ARCHIVE)});
        QVERIFY(process.waitForStarted());
    }

private slots:
    // What the started programs inherit: no display, a runtime folder of
    // their own.
    void initTestCase()
    {
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", runtime.filePath(QStringLiteral("config")).toLocal8Bit());
    }

    void secondStartHandsItsArchivesOver()
    {
        const QString name = runtime.filePath(QStringLiteral("vorlo.socket"));
        QVERIFY(!InstanceChannel(name).sendToRunning({}));
        // An instance that crashed left its socket file behind: taken over.
        QVERIFY(QFile(name).open(QIODevice::WriteOnly));
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

    void secondStartJoinsAndSignalsEndItCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void secondStartJoinsAndSignalsEndItCleanly()
    {
        QFETCH(int, signalNumber);
        if (!QFile::exists(QStringLiteral(VORLO_SAMPLE_ARCHIVE)))
            QSKIP("the sample archive is not built");
        QProcess first, second;
        start(first);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(channel()), 10000);
        start(second);
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(second.exitCode() == 0 && first.state() == QProcess::Running);

        ::kill(first.processId(), signalNumber);
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
        // Gone cleanly: the next start does not find a channel to take over.
        QVERIFY(!QFile::exists(channel()));
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
