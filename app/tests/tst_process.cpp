// The vorlo program itself, run as a user's desktop would run it.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestProcess : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void terminationSignalsEndItCleanly_data();
    void terminationSignalsEndItCleanly();
    void secondStartJoinsTheFirst();

private:
    void start(QProcess &process, const QStringList &arguments);
    QString channel() const { return QDir(runtime_->path()).filePath(QStringLiteral("vorlo-offscreen.socket")); }

    QScopedPointer<QTemporaryDir> runtime_;
    QString archive_;
};

void TestProcess::init()
{
    runtime_.reset(new QTemporaryDir);
    QVERIFY(runtime_->isValid());
    archive_ = QStringLiteral(VORLO_SAMPLE_ARCHIVE);
    if (!QFile::exists(archive_))
        QSKIP("the sample archive is not built");
}

void TestProcess::start(QProcess &process, const QStringList &arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime_->filePath(QStringLiteral("config")));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(VORLO_PROGRAM), arguments);
    QVERIFY(process.waitForStarted());
}

void TestProcess::terminationSignalsEndItCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestProcess::terminationSignalsEndItCleanly()
{
    QFETCH(int, signalNumber);
    QProcess vorlo;
    start(vorlo, {archive_});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(channel()), 10000);

    ::kill(vorlo.processId(), signalNumber);
    QVERIFY(vorlo.waitForFinished(10000));
    QCOMPARE(vorlo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(vorlo.exitCode(), 0);
    // Gone cleanly: the next start does not find a channel to take over.
    QVERIFY(!QFile::exists(channel()));
}

void TestProcess::secondStartJoinsTheFirst()
{
    QProcess first;
    start(first, {archive_});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(channel()), 10000);

    QProcess second;
    start(second, {archive_});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    ::kill(first.processId(), SIGTERM);
    QVERIFY(first.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
