#include "LocalHttpServer.h"
#include "RecordingDesktop.h"
#include "UpdateListXml.h"

#include "StringTable.h"
#include "UpdateCheck.h"
#include "UpdateControl.h"
#include "UpdateListFetcher.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {
const QString listPath = "/updates/vorlocheck.xml";

QString text(const char *key)
{
    return StringTable::text(QString::fromLatin1(key));
}

template <typename T>
T *view(UpdateControl *control, const char *name)
{
    T *found = control->window()->findChild<T *>(QString::fromLatin1(name));
    Q_ASSERT(found);
    return found;
}
}

class TestUpdateCheck : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void outcomeFollowsTheServedList_data();
    void outcomeFollowsTheServedList();
    void versionIsShownAsWritten();
    void standardAlertsShowTextsLiterally();
    void standardSaveDialogProposesTheName();

    void acceptedOfferOpensAFilledWindowOnce();
    void missingOrEmptyNotesLeaveAnEmptyView_data();
    void missingOrEmptyNotesLeaveAnEmptyView();
    void unreadableListKeepsTheWindowDown();
    void idleWindowClosesAndSaysSo();
    void nothingStartsAgainWhileAFetchWaits();

private:
    QString link() const { return server->baseUrl() + "/files/Vorlo-2.0.tar.gz"; }
    void serveList(const QByteArray &xml) { server->route(listPath, {200, xml}); }

    LocalHttpServer *server = nullptr;
    RecordingDesktop *desktop = nullptr;
    UpdateControl *uploadCenter = nullptr;
};

void TestUpdateCheck::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    StringTable::reload();
    QCoreApplication::setApplicationVersion("1.2");
    UpdateListFetcher::setTimeoutForTesting(500);
}

void TestUpdateCheck::init()
{
    server = new LocalHttpServer(this);
    QVERIFY(server->listen());
    qputenv("VORLO_UPDATE_BASE", server->baseUrl().toUtf8());
    desktop = new RecordingDesktop;
    uploadCenter = nullptr;
}

void TestUpdateCheck::cleanup()
{
    delete uploadCenter;
    delete desktop;
    delete server;
}

void TestUpdateCheck::outcomeFollowsTheServedList_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("version");  // of the served list; empty: serve `body`
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");  // "same", "offer" or "unreadable"

    QTest::newRow("same version") << 200 << "1.2" << QByteArray() << "same";
    QTest::newRow("newer version") << 200 << "1.3" << QByteArray() << "offer";
    QTest::newRow("older version") << 200 << "1.1" << QByteArray() << "offer";
    QTest::newRow("trailing blank") << 200 << "1.2 " << QByteArray() << "offer";
    QTest::newRow("letter case") << 200 << "1.2B" << QByteArray() << "offer";
    QTest::newRow("not found") << 404 << "1.3" << QByteArray() << "unreadable";
    QTest::newRow("server error") << 500 << "1.3" << QByteArray() << "unreadable";
    QTest::newRow("web page") << 200 << "" << QByteArray("<html><body>Maintenance</body></html>") << "unreadable";
    QTest::newRow("empty answer") << 200 << "" << QByteArray() << "unreadable";
    QTest::newRow("link is a curl option")
        << 200 << "" << updateListXml("1.3", "--output=/home/user/.profile") << "unreadable";
    QTest::newRow("redirected") << 302 << "" << QByteArray() << "same";
    QTest::newRow("server gone") << -1 << "" << QByteArray() << "unreadable";
    QTest::newRow("server silent") << 0 << "" << QByteArray() << "unreadable";
}

void TestUpdateCheck::outcomeFollowsTheServedList()
{
    QFETCH(int, status);
    QFETCH(QString, version);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    if (status == -1) {
        qputenv("VORLO_UPDATE_BASE", QByteArray("http://127.0.0.1:") + QByteArray::number(LocalHttpServer::closedPort()));
    } else if (status == 0) {
        LocalHttpServer::Response silent;
        silent.silent = true;
        server->route(listPath, silent);
    } else if (status == 302) {
        LocalHttpServer::Response redirect{302, "moved"};
        redirect.location = (server->baseUrl() + "/elsewhere/list.xml").toUtf8();
        server->route(listPath, redirect);
        server->route("/elsewhere/list.xml", {200, updateListXml("1.2", link())});
    } else {
        server->route(listPath, {status, version.isEmpty() ? body : updateListXml(version, link())});
    }

    UpdateCheck(desktop).run(uploadCenter, nullptr);

    QVERIFY(!uploadCenter);  // never accepted
    if (expected == "same") {
        QCOMPARE(desktop->offers.size(), 0);
        QCOMPARE(desktop->alerts.size(), 1);
        QCOMPARE(desktop->alerts[0].message, text("MyDocument13"));
        QVERIFY2(desktop->alerts[0].informative.contains("1.2"), qPrintable(desktop->alerts[0].informative));
    } else if (expected == "offer") {
        QCOMPARE(desktop->alerts.size(), 0);
        QCOMPARE(desktop->offers.size(), 1);
        QCOMPARE(desktop->offers[0].message, text("MyDocument15"));
        QCOMPARE(desktop->offers[0].informative, StringTable::format("MyDocument16", {version}));
        QCOMPARE(desktop->offerButtons[0], QStringList({text("MyDocument19"), text("MyDocument20")}));
    } else {
        QCOMPARE(desktop->offers.size(), 0);
        QCOMPARE(desktop->alerts.size(), 1);
        QCOMPARE(desktop->alerts[0].message, text("MyDocument17"));
        QCOMPARE(desktop->alerts[0].informative, text("MyDocument18"));
    }
    QVERIFY(!UpdateListFetcher::isBusy());
}

void TestUpdateCheck::versionIsShownAsWritten()
{
    const QString odd = "2.0%@%d%1$@ <b>x</b>";
    QCoreApplication::setApplicationVersion(odd);
    serveList(updateListXml(odd, link()));
    UpdateCheck(desktop).run(uploadCenter, nullptr);
    QCoreApplication::setApplicationVersion("1.2");

    QCOMPARE(desktop->alerts.size(), 1);
    const QString informative = desktop->alerts[0].informative;
    QVERIFY2(informative.contains(odd), qPrintable(informative));
    QCOMPARE(informative.count('%'), 3);
}

void TestUpdateCheck::standardAlertsShowTextsLiterally()
{
    QStringList shown;
    QTimer::singleShot(0, this, [&shown] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        for (QLabel *label : box->findChildren<QLabel *>()) {
            if (!label->text().isEmpty() && label->textFormat() == Qt::PlainText)
                shown << label->text();
        }
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->buttons().first()->click();
    });
    UpdateDesktop::standard()->alert("Up to date <i>now</i>", "Version <b>2</b> &amp; %@");
    QVERIFY(shown.contains("Up to date <i>now</i>"));
    QVERIFY(shown.contains("Version <b>2</b> &amp; %@"));
}

void TestUpdateCheck::standardSaveDialogProposesTheName()
{
    QWidget window;
    window.show();
    QList<QPair<int, QString>> answers;
    auto record = [&answers](int code, const QString &path) { answers << qMakePair(code, path); };

    UpdateDesktop::standard()->chooseSavePath(&window, "Keep it", "Vorlo-2.0.tar.gz", record);
    auto *dialog = window.findChild<QFileDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowModality(), Qt::WindowModal);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog->labelText(QFileDialog::Accept), QString("Keep it"));
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), QString("Vorlo-2.0.tar.gz"));
    QVERIFY(answers.isEmpty());  // nothing before the user answers
    const QString proposed = dialog->selectedFiles().value(0);
    static_cast<QDialog *>(dialog)->accept();
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers[0].first, 1);
    QCOMPARE(answers[0].second, proposed);
    QVERIFY(QFileInfo(answers[0].second).isAbsolute());

    UpdateDesktop::standard()->chooseSavePath(&window, "Keep it", "x.zip", record);
    QTRY_VERIFY(window.findChild<QFileDialog *>());
    window.findChild<QFileDialog *>()->reject();
    QCOMPARE(answers.size(), 2);
    QCOMPARE(answers[1], qMakePair(0, QString()));
}

void TestUpdateCheck::acceptedOfferOpensAFilledWindowOnce()
{
    serveList(updateListXml("2.0", link(), "  12.5",
                            notesXml("notes", {"Faster listing", "", "Fixed <b>bold</b> names"})
                                + notesXml("notesFr", {"Plus rapide"})));
    desktop->acceptOffers = true;
    QObject owner;
    UpdateCheck(desktop).run(uploadCenter, &owner);

    QVERIFY(uploadCenter);
    QCOMPARE(uploadCenter->parent(), &owner);
    QCOMPARE(server->requestCount(listPath), 2);  // the check, then the window
    QWidget *window = uploadCenter->window();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), text("updateControl13"));
    QCOMPARE(view<QLabel>(uploadCenter, "title")->text(), text("updateControl12"));
    QCOMPARE(view<QLabel>(uploadCenter, "version")->text(), QString("2.0"));
    QCOMPARE(view<QLabel>(uploadCenter, "datesortie")->text(), QString("2026-12-01"));
    QCOMPARE(view<QLabel>(uploadCenter, "sysmini")->text(), QString("Debian 12"));
    QCOMPARE(view<QLabel>(uploadCenter, "taille")->text(), QString("  12.5"));
    QCOMPARE(view<QLabel>(uploadCenter, "status")->text(), StringTable::format("updateControl5", {"12.5"}));
    auto *comm = view<QPushButton>(uploadCenter, "comm");
    QCOMPARE(comm->text(), text("updateControl1"));
    QVERIFY(comm->isEnabled());
    QCOMPARE(view<QProgressBar>(uploadCenter, "progressUpdate")->maximum(), 0);  // indeterminate

    auto *notes = view<QPlainTextEdit>(uploadCenter, "changesView");
    QCOMPARE(notes->toPlainText(), QString("Faster listing\n\nFixed <b>bold</b> names\n"));
    QVERIFY(notes->isReadOnly());
    QCOMPARE(notes->textInteractionFlags(), Qt::NoTextInteraction);
    QTest::keyClicks(notes, "typed");
    QCOMPARE(notes->toPlainText(), QString("Faster listing\n\nFixed <b>bold</b> names\n"));

    // Later acceptances bring the same window back as it was, without
    // fetching the list for it again.
    window->hide();
    serveList(updateListXml("3.0", link()));
    UpdateControl *first = uploadCenter;
    UpdateCheck(desktop).run(uploadCenter, &owner);
    QCOMPARE(uploadCenter, first);
    QCOMPARE(server->requestCount(listPath), 3);
    QVERIFY(window->isVisible());
    QCOMPARE(view<QLabel>(uploadCenter, "version")->text(), QString("2.0"));
    QCOMPARE(desktop->offers.size(), 2);
    QCOMPARE(desktop->offers[1].informative, StringTable::format("MyDocument16", {"3.0"}));
    uploadCenter = nullptr;  // owned by `owner`
}

void TestUpdateCheck::missingOrEmptyNotesLeaveAnEmptyView_data()
{
    QTest::addColumn<QByteArray>("notes");
    QTest::newRow("empty array") << notesXml("notes", {});
    QTest::newRow("no notes") << QByteArray();
}

void TestUpdateCheck::missingOrEmptyNotesLeaveAnEmptyView()
{
    QFETCH(QByteArray, notes);
    serveList(updateListXml("2.0", link(), "1", notes));
    uploadCenter = new UpdateControl(desktop);
    uploadCenter->startUpdate(7);
    QVERIFY(uploadCenter->window()->isVisible());
    QCOMPARE(view<QPlainTextEdit>(uploadCenter, "changesView")->toPlainText(), QString());
}

void TestUpdateCheck::unreadableListKeepsTheWindowDown()
{
    server->route(listPath, {200, updateListXml("2.0", "-o" + link())});
    uploadCenter = new UpdateControl(desktop);
    QSignalSpy closed(uploadCenter, &UpdateControl::closeUpdate);
    uploadCenter->startUpdate(1);

    QCOMPARE(desktop->alerts.size(), 1);
    QCOMPARE(desktop->alerts[0].message, text("updateControl3"));
    QCOMPARE(desktop->alerts[0].informative, text("updateControl4"));
    QCOMPARE(closed.size(), 1);
    QVERIFY(!uploadCenter->window()->isVisible());

    // Shown again later: only the headings are set, and there is nothing to
    // download.
    uploadCenter->makeWinKey();
    QVERIFY(uploadCenter->window()->isVisible());
    QCOMPARE(uploadCenter->window()->windowTitle(), text("updateControl13"));
    QCOMPARE(view<QLabel>(uploadCenter, "title")->text(), text("updateControl12"));
    QCOMPARE(view<QLabel>(uploadCenter, "version")->text(), QString());
    QVERIFY(!view<QPushButton>(uploadCenter, "comm")->isEnabled());
}

void TestUpdateCheck::idleWindowClosesAndSaysSo()
{
    serveList(updateListXml("2.0", link()));
    uploadCenter = new UpdateControl(desktop);
    uploadCenter->startUpdate(1);
    QSignalSpy closed(uploadCenter, &UpdateControl::closeUpdate);
    QVERIFY(uploadCenter->window()->close());
    QVERIFY(!uploadCenter->window()->isVisible());
    QCOMPARE(closed.size(), 1);
    QCOMPARE(desktop->beeps, 0);
}

void TestUpdateCheck::nothingStartsAgainWhileAFetchWaits()
{
    serveList(updateListXml("2.0", link()));
    uploadCenter = new UpdateControl(desktop);
    uploadCenter->startUpdate(1);
    auto *comm = view<QPushButton>(uploadCenter, "comm");
    desktop->savePath = "/nonexistent/never-used";

    // The server now keeps the next fetch waiting; timers still run while it
    // waits, as they do in the application, and try to start everything again.
    LocalHttpServer::Response silent;
    silent.silent = true;
    server->route(listPath, silent);
    UpdateControl *none = nullptr;
    QTimer::singleShot(100, this, [&] {
        UpdateCheck(desktop).run(none, nullptr);
        comm->click();
        QVERIFY(!uploadCenter->window()->close());
    });
    comm->click();

    QCOMPARE(server->requestCount(listPath), 2);  // the filling and the one press
    QCOMPARE(desktop->alerts.size(), 1);          // the press, once its list timed out
    QCOMPARE(desktop->alerts[0].message, text("updateControl3"));
    QCOMPARE(desktop->offers.size(), 0);
    QVERIFY(!none);
    QCOMPARE(desktop->proposedNames.size(), 0);
    QVERIFY(uploadCenter->window()->isVisible());
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
