#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {

QString fixture(const char *name)
{
    return QDir(QStringLiteral(VORLO_FIXTURES_DIR)).absoluteFilePath(QString::fromLatin1(name));
}

// Runs the event loop until Vorlo quits or `milliseconds` pass; true when
// it quit. Quitting is only meaningful inside a running loop, as in main.
bool quitsWithin(int milliseconds, const std::function<void()> &first)
{
    bool timedOut = false;
    QTimer timeout; // dies with this call, unlike a single shot
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(-1);
    });
    timeout.start(milliseconds);
    QTimer::singleShot(0, first);
    QCoreApplication::exec();
    return !timedOut;
}

QWidget *visibleWindow(const QString &name = {})
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !qobject_cast<QMenu *>(window) && (name.isEmpty() || window->objectName() == name))
            return window;
    }
    return nullptr;
}

} // namespace

class TestVorloCtrl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void donationPagesDifferOnlyInCurrency();
    void startAsksForArchivesOnlyWithoutArguments();
    void sameArchiveOpenedTwiceKeepsOneWindow();
    void quitsWhenTheLastVisibleWindowGoes();
    void quitEndsVorloDuringAnExtraction();
    void menusAndKeysReachTheControllerFromEveryWindow();

private:
    QString first_;
    QString second_;
};

void TestVorloCtrl::init()
{
    first_ = fixture("rar/libarchive/test_read_format_rar5_multiple_files.rar");
    second_ = fixture("rar/libarchive/test_read_format_rar5_stored.rar");
    if (!QFile::exists(first_) || !QFile::exists(second_))
        QSKIP("the third-party test archives are missing");
    // The documents list their archives with the real helper: without it
    // each would raise an alert, a window of its own.
    if (QTest::currentTestFunction() != QByteArray("donationPagesDifferOnlyInCurrency")
        && ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
        QSKIP("the unrar helper is not built");
}

void TestVorloCtrl::cleanup()
{
    // Each test's controller takes its documents with it.
    QVERIFY(!visibleWindow());
}

void TestVorloCtrl::donationPagesDifferOnlyInCurrency()
{
    VorloCtrl controller;
    QStringList opened;
    controller.setUrlOpener([&opened](const QUrl &url) {
        opened << url.toString(QUrl::FullyEncoded);
        return url.isValid();
    });
    controller.donateEuroAction()->trigger();
    controller.donateDollarAction()->trigger();
    QCOMPARE(opened.size(), 2);

    const QString euro = opened[0];
    QVERIFY2(euro.startsWith(QLatin1String("https://")), qPrintable(euro));
    QVERIFY(euro.endsWith(QLatin1String("&item_name=Vorlo&no_note=1&tax=0&currency_code=EUR")));
    QCOMPARE(euro.chopped(3) + QLatin1String("USD"), opened[1]);
    // The parameters are part of the path, and the account's "@" stays
    // encoded all the way to the browser.
    QVERIFY(euro.contains(QLatin1String("/xclick/business=")) && !euro.contains(QLatin1Char('?')));
    const QString account = euro.section(QLatin1String("business="), 1).section(QLatin1Char('&'), 0, 0);
    QVERIFY2(account.contains(QLatin1String("%40")) && !account.contains(QLatin1Char('@')), qPrintable(account));
}

void TestVorloCtrl::startAsksForArchivesOnlyWithoutArguments()
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
        QCOMPARE(asked, 1);
        QVERIFY(!windowBeforeAsking);
        QVERIFY(controller.documents().isEmpty());
    }
    {
        VorloCtrl controller;
        controller.setFileChooser(cancel);
        QTemporaryDir folder;
        // A file manager may hand over URLs as well as paths; a name that is
        // no readable file gets a message instead of a window.
        const QStringList arguments{first_, QUrl::fromLocalFile(second_).toString(), folder.filePath("gone.rar"),
                                    folder.path()};
        QVERIFY(!quitsWithin(300, [&] { controller.start(arguments); }));
        QCOMPARE(asked, 1);
        QCOMPARE(controller.documents().size(), 2);
        QCOMPARE(controller.documents()[1]->fileName(), second_);
        QVERIFY(controller.documents()[1]->window()->isVisible());
        auto *alert = qobject_cast<QMessageBox *>(visibleWindow(QStringLiteral("cannotOpenAlert")));
        QVERIFY(alert && alert->text().contains(QLatin1String("gone.rar")));
        alert->accept();

        // Vorlo started again: with an archive it opens it (once), without
        // any it asks.
        controller.openRequested({second_});
        QCOMPARE(controller.documents().size(), 2);
        controller.openRequested({});
        QCOMPARE(asked, 2);
    }
    {
        // An archive handed over by a second start while the first start's
        // chooser is up: cancelling the chooser leaves its window open.
        VorloCtrl controller;
        controller.setFileChooser([&](QWidget *) {
            controller.openRequested({first_});
            return QStringList();
        });
        QVERIFY(!quitsWithin(300, [&] { controller.start({}); }));
        QCOMPARE(controller.documents().size(), 1);
        QVERIFY(controller.documents()[0]->window()->isVisible());
    }
}

void TestVorloCtrl::sameArchiveOpenedTwiceKeepsOneWindow()
{
    QTemporaryDir links;
    const QString link = links.filePath(QStringLiteral("link.rar"));
    QVERIFY(QFile::link(first_, link));
    const QFileInfo info(first_);
    const QString roundabout = info.absolutePath() + "/../" + info.dir().dirName() + '/' + info.fileName();

    VorloCtrl controller;
    MyDocument *document = controller.openArchive(first_);
    QVERIFY(document && document->window()->isVisible());
    for (const QString &path : {first_, roundabout, link})
        QCOMPARE(controller.openArchive(path), document);
    QCOMPARE(controller.documents().size(), 1);

    // A window put away comes back when its archive is opened again.
    document->window()->hide();
    QCOMPARE(controller.openArchive(first_), document);
    QVERIFY(document->window()->isVisible());

    // An archive moved to the Trash and replaced by another file of the same
    // name: opening the name lists the new file instead of showing the old.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("a.rar"));
    QVERIFY(QFile::copy(first_, path));
    QPointer<MyDocument> trashed = controller.openArchive(path);
    QTRY_VERIFY_WITH_TIMEOUT(!trashed->isRunning(), 10000);
    QCOMPARE(trashed->rows().size(), 4);
    trashed->closeNow();
    QVERIFY(QFile::remove(path) && QFile::copy(second_, path));
    MyDocument *replacement = controller.openArchive(path);
    QVERIFY(replacement != trashed);
    QVERIFY(replacement->window()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!replacement->isRunning(), 10000);
    QCOMPARE(replacement->rows().size(), 1);
    QTRY_VERIFY(trashed.isNull());
    QCOMPARE(controller.documents().size(), 2);

    // Archives dropped on a window open as if chosen with Open: the one
    // already open keeps its single window.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(first_), QUrl::fromLocalFile(second_)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(replacement->window(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(replacement->window(), &drop);
    QVERIFY(drop.isAccepted());
    QTRY_COMPARE(controller.documents().size(), 3);
    QVERIFY(controller.documentForFile(second_)->window()->isVisible());
    QCOMPARE(controller.documentForFile(first_), document);
}

void TestVorloCtrl::quitsWhenTheLastVisibleWindowGoes()
{
    VorloCtrl controller;
    MyDocument *hidden = controller.openArchive(first_);
    MyDocument *closed = controller.openArchive(second_);
    QWidget other; // any other window the user can reach, such as the about box
    other.show();

    QVERIFY(!quitsWithin(200, [hidden] { hidden->closeNow(); }));
    QVERIFY(!quitsWithin(200, [closed] { closed->window()->close(); }));
    // A closed document is let go; a hidden one lives on behind its window.
    QVERIFY(controller.documents() == QList<MyDocument *>{hidden});
    QVERIFY(quitsWithin(5000, [&other] { other.hide(); }));
}

void TestVorloCtrl::quitEndsVorloDuringAnExtraction()
{
    // An extraction held at the password prompt: the progress sheet covers
    // the document window and the password window waits for the user.
    QTemporaryDir folder;
    QFile secret(folder.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly) && secret.write("x\n") == 2);
    secret.close();
    QProcess zip;
    zip.setWorkingDirectory(folder.path());
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("pw"),
                                      QStringLiteral("locked.zip"), QStringLiteral("secret.txt")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    QVERIFY(secret.remove());

    VorloCtrl controller;
    MyDocument *document = controller.openArchive(folder.filePath(QStringLiteral("locked.zip")));
    QTRY_VERIFY_WITH_TIMEOUT(!document->isRunning() && !document->rows().isEmpty(), 10000);
    document->launchExtractionTo(folder.path());
    QTRY_VERIFY_WITH_TIMEOUT(document->passwordWindow()->isVisible(), 10000);
    const qint64 helper = document->helperProcessId();
    QVERIFY(helper > 0);

    // Neither the sheet nor the waiting run may hold Quit back, and the
    // helper ends with Vorlo.
    QVERIFY(quitsWithin(5000, [&controller] { controller.quit(); }));
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(helper), 0) != 0, 10000);
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("secret.txt"))));
}

void TestVorloCtrl::menusAndKeysReachTheControllerFromEveryWindow()
{
    VorloCtrl controller;
    int asked = 0;
    controller.setFileChooser([&asked](QWidget *) {
        ++asked;
        return QStringList();
    });
    QPointer<QMainWindow> first = controller.openArchive(first_)->window();
    QPointer<QMainWindow> second = controller.openArchive(second_)->window();

    QList<QAction *> offered;
    for (const QMenu *menu : second->menuBar()->findChildren<QMenu *>())
        offered += menu->actions();
    for (QAction *command : {controller.aboutAction(), controller.checkForUpdateAction(),
                             controller.donateEuroAction(), controller.donateDollarAction(), controller.quitAction(),
                             controller.openAction(), controller.closeWindowAction()})
        QVERIFY2(offered.contains(command), qPrintable(command->objectName()));

    // The shared keys answer in whichever window is active, whatever the
    // platform theme defines, even in a window without the menu bar.
    second->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(second));
    QTest::keySequence(second, QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(asked, 1);
    QTest::keySequence(second, QKeySequence(Qt::CTRL | Qt::Key_W));
    QTRY_VERIFY(!second || !second->isVisible());
    QCOMPARE(controller.documents().size(), 1);

    QWidget about;
    about.show();
    about.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    QTest::keySequence(&about, QKeySequence(Qt::CTRL | Qt::Key_W));
    QTRY_VERIFY(!about.isVisible());

    first->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(first));
    QVERIFY(quitsWithin(5000, [first] { QTest::keySequence(first.data(), QKeySequence(Qt::CTRL | Qt::Key_Q)); }));
}

QTEST_MAIN(TestVorloCtrl)
#include "tst_vorloctrl.moc"
