// The application: its controller, the channel through which a second start
// hands its archives over, and the program itself as a desktop runs it.
#include "InstanceChannel.h"
#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>

namespace {
// Runs the event loop until Vorlo quits or `milliseconds` pass; true when
// it quit. Quitting is only meaningful inside a running loop, as in main.
bool quitsWithin(int milliseconds, const std::function<void()> &first)
{
    QTimer timeout;  // dies with this call, unlike a single shot
    QObject::connect(&timeout, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    timeout.start(milliseconds);
    QTimer::singleShot(0, first);
    return QCoreApplication::exec() != -1;
}

QWidget *visibleWindow(const QString &name = {})
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !qobject_cast<QMenu *>(window) && (name.isEmpty() || window->objectName() == name))
            return window;
    }
    return nullptr;
}
}

class TestVorloCtrl : public QObject
{
    Q_OBJECT

    static QString fixture(const char *name)
    {
        return QDir::cleanPath(QStringLiteral(VORLO_FIXTURES_DIR "/rar/libarchive/") + QLatin1String(name));
    }
    const QString first_ = fixture("test_read_format_rar5_multiple_files.rar");
    const QString second_ = fixture("test_read_format_rar5_stored.rar");
    QTemporaryDir runtime;

    void start(QProcess &process)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(VORLO_PROGRAM), {QStringLiteral(VORLO_SAMPLE_ARCHIVE)});
        QVERIFY(process.waitForStarted());
    }

private slots:
    // Started programs, and settings, stay out of the user's session.
    void initTestCase()
    {
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", runtime.filePath(QStringLiteral("config")).toLocal8Bit());
    }

    void init()
    {
        // Without the helper each document would raise an alert of its own.
        if (!QFile::exists(first_) || !QFile::exists(second_) || !QFile::exists(QStringLiteral(VORLO_SAMPLE_ARCHIVE))
            || ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
            QSKIP("the test archives or the unrar helper are missing");
    }

    // Each test's controller takes its documents with it.
    void cleanup() { QVERIFY(!visibleWindow()); }

    void secondStartHandsItsArchivesOver()
    {
        const QString name = runtime.filePath(QStringLiteral("test.socket"));
        // An instance that crashed left its socket file behind: taken over.
        QVERIFY(QFile(name).open(QIODevice::WriteOnly));
        InstanceChannel running(name);
        QVERIFY(running.listen());
        QSignalSpy received(&running, &InstanceChannel::archivesReceived);
        // A second start is another process; a thread stands for it here,
        // since the running instance must keep its event loop turning.
        auto handOver = [&name](const QStringList &archives) {
            std::atomic<bool> taken = false;
            QScopedPointer<QThread> second(
                QThread::create([&] { taken = InstanceChannel(name).sendToRunning(archives); }));
            second->start();
            return QTest::qWaitFor([&] { return second->isFinished(); }, 10000) && taken;
        };
        const QStringList odd{QStringLiteral("/tmp/a b/été.rar"), QStringLiteral("/tmp/line\nbreak.rar"),
                              QStringLiteral("/tmp/'quoted' \"name\".rar")};
        QVERIFY(handOver(odd));
        QVERIFY(handOver({}));  // started again without an archive
        QCOMPARE(received.size(), 2);
        QCOMPARE(received.at(0).at(0).toStringList(), odd);
        QCOMPARE(received.at(1).at(0).toStringList(), QStringList());
    }

    void secondStartJoinsAndSignalsEndItCleanly()
    {
        for (int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            QProcess first, second;
            start(first);
            const QString channel = runtime.filePath(QStringLiteral("vorlo-offscreen.socket"));
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(channel), 10000);
            start(second);
            QVERIFY(second.waitForFinished(10000));
            QVERIFY(second.exitCode() == 0 && first.state() == QProcess::Running);
            ::kill(first.processId(), signalNumber);
            QVERIFY(first.waitForFinished(10000));
            QVERIFY(first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
            // Gone cleanly: the next start does not find a channel to take over.
            QVERIFY(!QFile::exists(channel));
        }
    }

    void startAsksForArchivesOnlyWithoutArguments()
    {
        int asked = 0;
        auto cancel = [&asked](QWidget *) {
            ++asked;
            return QStringList();
        };
        {
            // No archive: the chooser, and cancelling it quits.
            VorloCtrl controller;
            controller.setFileChooser(cancel);
            QVERIFY(quitsWithin(5000, [&] { controller.start({}); }));
            QVERIFY(asked == 1 && controller.documents().isEmpty());
        }
        {
            // A file manager may hand over URLs as well as paths; a name that
            // is no readable file gets a message instead of a window.
            VorloCtrl controller;
            controller.setFileChooser(cancel);
            QTemporaryDir folder;
            const QStringList arguments{first_, QUrl::fromLocalFile(second_).toString(), folder.filePath("gone.rar"),
                                        folder.path()};
            QVERIFY(!quitsWithin(300, [&] { controller.start(arguments); }));
            QCOMPARE(controller.documents().size(), 2);
            MyDocument *opened = controller.documents()[1];
            QVERIFY(opened->fileName() == second_ && opened->window()->isVisible());
            auto *alert = qobject_cast<QMessageBox *>(visibleWindow(QStringLiteral("cannotOpenAlert")));
            QVERIFY(alert && alert->text().contains(QLatin1String("gone.rar")));
            alert->accept();
            // Started again: with an archive it opens it (once), without any
            // it asks.
            controller.openRequested({second_});
            controller.openRequested({});
            QVERIFY(controller.documents().size() == 2 && asked == 2);
        }
        {
            // An archive handed over by a second start while the first
            // start's chooser is up: cancelling the chooser leaves its window.
            VorloCtrl controller;
            controller.setFileChooser([&](QWidget *) {
                controller.openRequested({first_});
                return QStringList();
            });
            QVERIFY(!quitsWithin(300, [&] { controller.start({}); }));
            QVERIFY(controller.documents().size() == 1 && controller.documents()[0]->window()->isVisible());
        }
    }

    void sameArchiveOpenedTwiceKeepsOneWindow()
    {
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("link.rar"));
        QVERIFY(QFile::link(first_, link));
        VorloCtrl controller;
        MyDocument *document = controller.openArchive(first_);
        QVERIFY(document);
        document->window()->hide();  // a window put away comes back
        QCOMPARE(controller.openArchive(link), document);
        QVERIFY(controller.documents().size() == 1 && document->window()->isVisible());

        // An archive moved to the Trash and replaced by another file of the
        // same name: opening the name lists the new file, not the old.
        const QString path = folder.filePath(QStringLiteral("a.rar"));
        QVERIFY(QFile::copy(first_, path));
        QPointer<MyDocument> trashed = controller.openArchive(path);
        QTRY_VERIFY_WITH_TIMEOUT(!trashed->isRunning(), 10000);
        QCOMPARE(trashed->rows().size(), 4);
        trashed->closeNow();
        QVERIFY(QFile::remove(path) && QFile::copy(second_, path));
        MyDocument *replacement = controller.openArchive(path);
        QVERIFY(replacement != trashed && replacement->window()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!replacement->isRunning(), 10000);
        QCOMPARE(replacement->rows().size(), 1);
        QTRY_VERIFY(trashed.isNull());
    }

    void quitEndsVorloDuringAnExtraction()
    {
        // An extraction held at the password prompt: the progress sheet
        // covers the window and the password window waits for the user.
        QTemporaryDir folder;
        VorloCtrl controller;
        MyDocument *document = controller.openArchive(fixture("test_read_format_rar5_encrypted.rar"));
        QTRY_VERIFY_WITH_TIMEOUT(!document->isRunning() && !document->rows().isEmpty(), 10000);
        document->launchExtractionTo(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(document->passwordWindow()->isVisible(), 10000);
        const qint64 helper = document->helperProcessId();
        QVERIFY(helper > 0);
        // Neither the sheet nor the waiting run may hold Quit back, and the
        // helper ends with Vorlo.
        QVERIFY(quitsWithin(5000, [&controller] { controller.quit(); }));
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(helper), 0) != 0, 10000);
        // Only entries stored without a password may have come out, whole:
        // nothing half-written is left.
        const QStringList out = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(QSet<QString>(out.begin(), out.end()).subtract({"a.txt", "c.txt"}).isEmpty(),
                 qPrintable(out.join(' ')));
    }

    void keysReachTheControllerFromEveryWindow()
    {
        // The shared keys answer in whichever window is active, whatever the
        // platform theme defines, even in a window without the menu bar.
        VorloCtrl controller;
        int asked = 0;
        controller.setFileChooser([&asked](QWidget *) {
            ++asked;
            return QStringList();
        });
        QPointer<QMainWindow> first = controller.openArchive(first_)->window();
        QPointer<QMainWindow> second = controller.openArchive(second_)->window();
        QWidget about;
        for (QPointer<QWidget> window : {QPointer<QWidget>(second), QPointer<QWidget>(&about)}) {
            window->show();
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QTest::keySequence(window, QKeySequence(Qt::CTRL | Qt::Key_O));
            QTest::keySequence(window, QKeySequence(Qt::CTRL | Qt::Key_W));
            QTRY_VERIFY(!window || !window->isVisible());
        }
        QVERIFY(asked == 2 && controller.documents().size() == 1);
        first->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(first));
        QVERIFY(quitsWithin(5000, [first] { QTest::keySequence(first.data(), QKeySequence(Qt::CTRL | Qt::Key_Q)); }));
    }
};

QTEST_MAIN(TestVorloCtrl)
#include "tst_vorloctrl.moc"
