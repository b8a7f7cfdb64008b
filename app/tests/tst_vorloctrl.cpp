#include "MyDocument.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString fixture(const char *name)
{
    return QDir(QStringLiteral(VORLO_FIXTURES_DIR)).absoluteFilePath(QString::fromLatin1(name));
}

// Runs the event loop until Vorlo quits or `milliseconds` pass; true when
// it quit. Quitting is only meaningful inside a running loop, as in main.
bool quitsWithin(int milliseconds, const std::function<void()> &first = {})
{
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(-1);
    });
    if (first)
        QTimer::singleShot(0, first);
    timer.start(milliseconds);
    QCoreApplication::exec();
    return !timedOut;
}

bool anyWindowVisible()
{
    for (const QWidget *window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && !qobject_cast<const QMenu *>(window))
            return true;
    }
    return false;
}

} // namespace

class TestVorloCtrl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void donationPagesDifferOnlyInCurrency();
    void startWithoutArchivesAsksFirstAndQuitsOnCancel();
    void startOpensArchivesFromArgumentsOrChooser();
    void sameArchiveOpenedTwiceKeepsOneWindow();
    void quitsWhenTheLastVisibleWindowGoes();
    void quitsWhenTheDamagedArchiveAlertPutsTheWindowAway();
    void everyWindowReachesTheController();

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
    const QByteArray test = QTest::currentTestFunction();
    if (test != "donationPagesDifferOnlyInCurrency" && test != "startWithoutArchivesAsksFirstAndQuitsOnCancel"
        && ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
        QSKIP("the unrar helper is not built");
}

void TestVorloCtrl::cleanup()
{
    // Each test's controller takes its documents with it.
    QVERIFY(!anyWindowVisible());
}

void TestVorloCtrl::donationPagesDifferOnlyInCurrency()
{
    VorloCtrl controller;
    QList<QUrl> opened;
    controller.setUrlOpener([&opened](const QUrl &url) {
        opened << url;
        return true;
    });

    controller.donateEuroAction()->trigger();
    QCOMPARE(opened.size(), 1);
    controller.donateDollarAction()->trigger();
    QCOMPARE(opened.size(), 2);

    const QString euro = opened[0].toString(QUrl::FullyEncoded);
    const QString dollar = opened[1].toString(QUrl::FullyEncoded);
    QVERIFY2(opened[0].isValid() && opened[0].scheme() == QLatin1String("https"), qPrintable(euro));
    QVERIFY(euro.endsWith(QLatin1String("&item_name=Vorlo&no_note=1&tax=0&currency_code=EUR")));
    QCOMPARE(euro.chopped(3) + QLatin1String("USD"), dollar);

    // The parameters are part of the path, and the account's "@" stays
    // encoded all the way to the browser.
    QVERIFY(opened[0].path(QUrl::FullyEncoded).startsWith(QLatin1String("/xclick/business=")));
    QVERIFY(!opened[0].hasQuery());
    const QString account = euro.section(QLatin1String("business="), 1).section(QLatin1Char('&'), 0, 0);
    QVERIFY2(account.contains(QLatin1String("%40")) && !account.contains(QLatin1Char('@')), qPrintable(account));
}

void TestVorloCtrl::startWithoutArchivesAsksFirstAndQuitsOnCancel()
{
    VorloCtrl controller;
    int asked = 0;
    bool windowShownBeforeAsking = false;
    controller.setFileChooser([&](QWidget *) {
        ++asked;
        windowShownBeforeAsking = anyWindowVisible();
        return QStringList();
    });

    QVERIFY(!VorloCtrl::applicationShouldOpenUntitledFile());
    QVERIFY(quitsWithin(5000, [&controller] { controller.start({}); }));
    QCOMPARE(asked, 1);
    QVERIFY(!windowShownBeforeAsking);
    QVERIFY(controller.documents().isEmpty());
}

void TestVorloCtrl::startOpensArchivesFromArgumentsOrChooser()
{
    {
        VorloCtrl controller;
        int asked = 0;
        controller.setFileChooser([&asked](QWidget *) {
            ++asked;
            return QStringList();
        });
        // A file manager may hand over URLs as well as paths.
        QVERIFY(!quitsWithin(300, [&] { controller.start({first_, QUrl::fromLocalFile(second_).toString()}); }));
        QCOMPARE(asked, 0);
        const QList<MyDocument *> documents = controller.documents();
        QCOMPARE(documents.size(), 2);
        QCOMPARE(documents[0]->fileName(), first_);
        QCOMPARE(documents[1]->fileName(), second_);
        for (MyDocument *document : documents)
            QVERIFY(document->window() && document->window()->isVisible());

        // Vorlo started again: with archives it opens them (once), without
        // any it asks.
        controller.openRequested({second_});
        QCOMPARE(controller.documents().size(), 2);
        QCOMPARE(asked, 0);
        controller.openRequested({});
        QCOMPARE(asked, 1);
    }
    {
        VorloCtrl controller;
        controller.setFileChooser([this](QWidget *) { return QStringList{second_}; });
        QVERIFY(!quitsWithin(300, [&] { controller.start({}); }));
        QCOMPARE(controller.documents().size(), 1);
        QCOMPARE(controller.documents()[0]->fileName(), second_);
    }
}

void TestVorloCtrl::sameArchiveOpenedTwiceKeepsOneWindow()
{
    QTemporaryDir links;
    QVERIFY(links.isValid());
    const QString link = links.filePath(QStringLiteral("link.rar"));
    QVERIFY(QFile::link(first_, link));
    const QFileInfo info(first_);
    const QString roundabout = info.absolutePath() + QLatin1String("/../") + info.dir().dirName()
                               + QLatin1Char('/') + info.fileName();

    VorloCtrl controller;
    MyDocument *document = controller.openArchive(first_);
    QVERIFY(document);
    QMainWindow *window = document->window();
    QVERIFY(window && window->isVisible());

    QCOMPARE(controller.openArchive(first_), document);
    QCOMPARE(controller.openArchive(roundabout), document);
    QCOMPARE(controller.openArchive(link), document);
    QCOMPARE(controller.documents().size(), 1);
    QCOMPARE(document->window(), window);

    // A window put away comes back when its archive is opened again.
    window->hide();
    QCOMPARE(controller.openArchive(first_), document);
    QVERIFY(window->isVisible());

    QVERIFY(controller.openArchive(second_) != document);
    QCOMPARE(controller.documents().size(), 2);
}

void TestVorloCtrl::quitsWhenTheLastVisibleWindowGoes()
{
    VorloCtrl controller;
    MyDocument *hidden = controller.openArchive(first_);
    MyDocument *closed = controller.openArchive(second_);
    QVERIFY(hidden && closed);
    QWidget other; // any other window the user can reach, such as the about box
    other.show();

    QVERIFY(!quitsWithin(200, [hidden] { hidden->window()->hide(); }));
    QVERIFY(!quitsWithin(200, [closed] { closed->window()->close(); }));
    // A closed document is let go; a hidden one lives on behind its window.
    QVERIFY(controller.documents() == QList<MyDocument *>{hidden});

    QVERIFY(quitsWithin(5000, [&other] { other.hide(); }));
    QVERIFY(controller.documents() == QList<MyDocument *>{hidden});
}

void TestVorloCtrl::quitsWhenTheDamagedArchiveAlertPutsTheWindowAway()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile broken(folder.filePath(QStringLiteral("broken.rar")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray("Rar!\x1a\x07\x01\x00", 8) + QByteArray(4096, '\xee'));
    broken.close();

    VorloCtrl controller;
    QStringList alerts;
    // The alert sits on the window: while it is up, Vorlo stays; its OK
    // hides the window, the last one.
    const bool quit = quitsWithin(20000, [&] {
        MyDocument *document = controller.openArchive(broken.fileName());
        connect(document, &MyDocument::alertShown, &controller, [&alerts, document](const QString &key) {
            alerts << key;
            QTimer::singleShot(100, document, [document] {
                if (auto *alert = document->window()->findChild<QMessageBox *>())
                    alert->accept();
            });
        });
    });
    QVERIFY(quit);
    QCOMPARE(alerts, QStringList{QStringLiteral("MyDocument23")});
    QCOMPARE(controller.documents().size(), 1);
}

void TestVorloCtrl::everyWindowReachesTheController()
{
    VorloCtrl controller;
    int asked = 0;
    controller.setFileChooser([&asked](QWidget *) {
        ++asked;
        return QStringList();
    });
    int opened = 0;
    controller.setUrlOpener([&opened](const QUrl &) { return ++opened; });

    QPointer<QMainWindow> first = controller.openArchive(first_)->window();
    QPointer<QMainWindow> second = controller.openArchive(second_)->window();
    const QList<QAction *> commands{controller.aboutAction(),      controller.checkForUpdateAction(),
                                    controller.donateEuroAction(), controller.donateDollarAction(),
                                    controller.quitAction(),       controller.openAction(),
                                    controller.closeWindowAction()};
    for (QMainWindow *window : {first.data(), second.data()}) {
        QList<QAction *> offered;
        const QList<QMenu *> menus = window->menuBar()->findChildren<QMenu *>(Qt::FindDirectChildrenOnly);
        QCOMPARE(menus.size(), 2);
        for (const QMenu *menu : menus)
            offered += menu->actions();
        for (QAction *command : commands)
            QVERIFY2(offered.contains(command), qPrintable(command->objectName()));
    }

    // The shared shortcuts answer in whichever window is active, with the
    // keys users expect whatever the platform theme defines.
    second->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(second));
    QTest::keySequence(second, QKeySequence(Qt::CTRL | Qt::Key_O));
    QCOMPARE(asked, 1);
    controller.donateDollarAction()->trigger();
    QCOMPARE(opened, 1);
    QTest::keySequence(second, QKeySequence(Qt::CTRL | Qt::Key_W));
    QTRY_VERIFY(!second || !second->isVisible());
    QCOMPARE(controller.documents().size(), 1);
    QVERIFY(first->isVisible());

    first->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(first));
    QVERIFY(quitsWithin(5000, [first] { QTest::keySequence(first.data(), QKeySequence(Qt::CTRL | Qt::Key_Q)); }));
}

QTEST_MAIN(TestVorloCtrl)
#include "tst_vorloctrl.moc"
