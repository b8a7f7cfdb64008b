#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

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

private slots:
    void init()
    {
        if (!QFile::exists(first_) || !QFile::exists(second_))
            QSKIP("the third-party test archives are missing");
        // Without the helper each document would raise an alert of its own.
        if (ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
            QSKIP("the unrar helper is not built");
    }

    // Each test's controller takes its documents with it.
    void cleanup() { QVERIFY(!visibleWindow()); }

    void startAsksForArchivesOnlyWithoutArguments()
    {
        int asked = 0;
        bool windowBeforeAsking = false;
        auto cancel = [&](QWidget *) {
            ++asked;
            windowBeforeAsking = visibleWindow() != nullptr;
            return QStringList();
        };
        {
            // No archive: no untitled window, the chooser, and cancelling quits.
            VorloCtrl controller;
            controller.setFileChooser(cancel);
            QVERIFY(quitsWithin(5000, [&] { controller.start({}); }));
            QVERIFY(asked == 1 && !windowBeforeAsking && controller.documents().isEmpty());
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
            QVERIFY(controller.documents()[1]->fileName() == second_ && controller.documents()[1]->window()->isVisible());
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
        const QFileInfo info(first_);
        const QString roundabout = info.absolutePath() + "/../" + info.dir().dirName() + '/' + info.fileName();

        VorloCtrl controller;
        MyDocument *document = controller.openArchive(first_);
        QVERIFY(document);
        document->window()->hide();  // a window put away comes back
        for (const QString &path : {first_, roundabout, link})
            QCOMPARE(controller.openArchive(path), document);
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

    void quitsWhenTheLastVisibleWindowGoes()
    {
        VorloCtrl controller;
        MyDocument *hidden = controller.openArchive(first_);
        MyDocument *closed = controller.openArchive(second_);
        QWidget other;  // any other window the user can reach, such as the about box
        other.show();
        QVERIFY(!quitsWithin(200, [hidden] { hidden->closeNow(); }));
        QVERIFY(!quitsWithin(200, [closed] { closed->window()->close(); }));
        // A closed document is let go; a hidden one lives on behind its window.
        QVERIFY(controller.documents() == QList<MyDocument *>{hidden});
        QVERIFY(quitsWithin(5000, [&other] { other.hide(); }));
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
        // Only the entry stored without a password came out, and nothing
        // half-written is left.
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"a.txt"});
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
