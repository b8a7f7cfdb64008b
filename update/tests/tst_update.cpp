// The update check, the update window and real downloads with /usr/bin/curl,
// all against a server of the test's own on 127.0.0.1.
#include "LocalHttpServer.h"
#include "RecordingDesktop.h"

#include "StringTable.h"
#include "UpdateCheck.h"
#include "UpdateControl.h"
#include "UpdateListFetcher.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Response = LocalHttpServer::Response;

namespace {
const QString listPath = "/updates/vorlocheck.xml";
const QString filePath = "/files/Vorlo-2.0.tar.gz";

QString text(const char *key)
{
    return StringTable::text(QString::fromLatin1(key));
}

QByteArray listXml(const QString &version, const QString &link, const QByteArray &extra = {})
{
    auto escaped = [](const QString &text) { return text.toHtmlEscaped().toUtf8(); };
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>lastVersion</key><string>" + escaped(version) + "</string><key>tailleTotale</key><string>300</string>"
           "<key>link</key><string>" + escaped(link) + "</string>" + extra + "</dict></plist>\n";
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}

class TestUpdate : public QObject
{
    Q_OBJECT

    QByteArray body;
    std::unique_ptr<LocalHttpServer> server;
    std::unique_ptr<RecordingDesktop> desktop;
    std::unique_ptr<QTemporaryDir> folder;
    UpdateControl *control = nullptr;
    QString target;

    QString link() const { return server->baseUrl() + filePath; }
    QPushButton *comm() const { return control->window()->findChild<QPushButton *>("comm"); }
    QProgressBar *bar() const { return control->window()->findChild<QProgressBar *>("progressUpdate"); }
    bool curlRuns() const
    {
        const auto processes = control->findChildren<QProcess *>();
        return std::any_of(processes.begin(), processes.end(),
                           [](QProcess *p) { return p->state() != QProcess::NotRunning; });
    }

    // Serves the list and a download that takes about two seconds, then
    // fills a window from them.
    void openWindow(const QString &fileLink = QString())
    {
        server->route(listPath, {200, listXml("2.0", fileLink.isEmpty() ? link() : fileLink)});
        server->route(filePath, Response(200, body).inParts(16, 120));
        control = new UpdateControl(desktop.get());
        control->startUpdate(1);
        QVERIFY(control->window()->isVisible());
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        StringTable::reload();
        QCoreApplication::setApplicationVersion("1.2");
        UpdateListFetcher::setTimeoutForTesting(1000);
        for (const char *proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            qunsetenv(proxy);
        for (int i = 0; body.size() < 400000; ++i)
            body += QByteArray::number(i * 7919) + ' ';
    }

    void init()
    {
        server = std::make_unique<LocalHttpServer>();
        QVERIFY(server->listen());
        qputenv("VORLO_UPDATE_BASE", server->baseUrl().toUtf8());
        desktop = std::make_unique<RecordingDesktop>();
        folder = std::make_unique<QTemporaryDir>();
        target = desktop->savePath = folder->filePath("Vorlo-2.0.tar.gz");
    }

    void cleanup()
    {
        delete control;
        control = nullptr;
        UpdateControl::setCurlProgramForTesting(QString());
    }

    void checkOutcomeFollowsTheServedList_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("expected");  // the version offered, or the alert's key
        QTest::newRow("same version") << "1.2" << "MyDocument13";
        QTest::newRow("older version") << "1.1" << "1.1";
        QTest::newRow("redirected") << "302" << "1.3";
        QTest::newRow("not found") << "404" << "MyDocument17";
        QTest::newRow("server gone") << "gone" << "MyDocument17";
        QTest::newRow("server silent") << "silent" << "MyDocument17";
    }

    void checkOutcomeFollowsTheServedList()
    {
        QFETCH(QString, served);
        QFETCH(QString, expected);
        const QByteArray list = listXml(served.startsWith("1.") ? served : "1.3", link());
        server->route(listPath, {served == "404" ? 404 : 200, list});
        if (served == "silent") {
            server->route(listPath, Response().unanswered());
        } else if (served == "302") {
            server->route(listPath, Response().movedTo(server->baseUrl() + "/elsewhere.xml"));
            server->route("/elsewhere.xml", {200, list});
        } else if (served == "gone") {
            qputenv("VORLO_UPDATE_BASE", "http://127.0.0.1:" + QByteArray::number(LocalHttpServer::closedPort()));
        }

        UpdateCheck(desktop.get()).run(control, nullptr);
        QVERIFY(!control && !UpdateListFetcher::isBusy());
        if (expected.startsWith("MyDocument")) {
            QVERIFY(desktop->offers.isEmpty() && desktop->alerts.size() == 1);
            QCOMPARE(desktop->alerts[0].message, text(qPrintable(expected)));
        } else {
            QVERIFY(desktop->alerts.isEmpty() && desktop->offers.size() == 1);
            QCOMPARE(desktop->offers[0].informative, StringTable::format("MyDocument16", {expected}));
        }
    }

    void versionsAreShownLiterally()
    {
        // Read as a format or as markup, this version would lose its % signs
        // or its tags.
        const QString odd = "2.0%@%d%1$@ <b>x</b>";
        QCoreApplication::setApplicationVersion(odd);
        server->route(listPath, {200, listXml(odd, link())});
        UpdateCheck(desktop.get()).run(control, nullptr);
        QCoreApplication::setApplicationVersion("1.2");
        QCOMPARE(desktop->alerts.size(), 1);
        QVERIFY2(desktop->alerts[0].informative.contains(odd), qPrintable(desktop->alerts[0].informative));

        QStringList shown;
        QTimer::singleShot(0, this, [&shown] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            for (QLabel *label : box ? box->findChildren<QLabel *>() : QList<QLabel *>()) {
                if (label->textFormat() == Qt::PlainText)
                    shown << label->text();
            }
            if (box)
                box->buttons().first()->click();
        });
        UpdateDesktop::standard()->alert("Up to date <i>now</i>", odd);
        QVERIFY(shown.contains("Up to date <i>now</i>") && shown.contains(odd));
    }

    void standardSaveDialogAnswersOnce()
    {
        QWidget window;
        window.show();
        QList<QPair<int, QString>> answers;
        auto record = [&answers](int code, const QString &path) { answers << qMakePair(code, path); };
        UpdateDesktop::standard()->chooseSavePath(&window, "Keep it", "Vorlo-2.0.tar.gz", record);
        auto *dialog = window.findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible() && answers.isEmpty());
        const QString proposed = dialog->selectedFiles().value(0);
        QVERIFY2(proposed.startsWith('/') && proposed.endsWith("/Vorlo-2.0.tar.gz"), qPrintable(proposed));
        static_cast<QDialog *>(dialog)->accept();
        UpdateDesktop::standard()->chooseSavePath(&window, "Keep it", "x.zip", record);
        QTRY_VERIFY(window.findChild<QFileDialog *>());
        window.findChild<QFileDialog *>()->reject();
        QCOMPARE(answers, (QList<QPair<int, QString>>{{1, proposed}, {0, QString()}}));
    }

    void acceptedOfferOpensOneFilledWindow()
    {
        server->route(listPath, {200, listXml("2.0", link(),
                                              "<key>notes</key><array><string>Faster</string><string></string>"
                                              "<string>Fixed &lt;b&gt;bold&lt;/b&gt; names</string></array>"
                                              "<key>notesFr</key><array><string>Plus rapide</string></array>")});
        desktop->acceptOffers = true;
        QObject owner;
        UpdateControl *center = nullptr;
        UpdateCheck(desktop.get()).run(center, &owner);
        QVERIFY(center && center->parent() == &owner);
        QCOMPARE(server->requestCount(listPath), 2);  // the check, then the window
        QWidget *window = center->window();
        QVERIFY(window->isVisible());
        QCOMPARE(window->findChild<QLabel *>("version")->text(), QString("2.0"));
        QCOMPARE(window->findChild<QPlainTextEdit *>("changesView")->toPlainText(),
                 QString("Faster\n\nFixed <b>bold</b> names\n"));

        // Later acceptances bring the same window back as it was, without
        // fetching the list for it again.
        window->hide();
        server->route(listPath, {200, listXml("3.0", link())});
        UpdateControl *first = center;
        UpdateCheck(desktop.get()).run(center, &owner);
        QVERIFY(center == first && window->isVisible());
        QCOMPARE(server->requestCount(listPath), 3);
        QCOMPARE(window->findChild<QLabel *>("version")->text(), QString("2.0"));
    }

    void unreadableListKeepsTheWindowDown()
    {
        server->route(listPath, {200, listXml("2.0", "-o" + link())});
        control = new UpdateControl(desktop.get());
        QSignalSpy closed(control, &UpdateControl::closeUpdate);
        control->startUpdate(1);
        QCOMPARE(desktop->alerts.size(), 1);
        QCOMPARE(desktop->alerts[0].message, text("updateControl3"));
        QVERIFY(closed.size() == 1 && !control->window()->isVisible());
        // Shown again later, it has nothing to download.
        control->makeWinKey();
        QVERIFY(control->window()->isVisible() && !comm()->isEnabled());
    }

    void nothingStartsAgainWhileAFetchWaits()
    {
        openWindow();
        // The server now keeps the next fetch waiting; timers still run while
        // it waits, as they do in the application, and try to start
        // everything again.
        server->route(listPath, Response().unanswered());
        UpdateControl *none = nullptr;
        QTimer::singleShot(100, this, [&] {
            UpdateCheck(desktop.get()).run(none, nullptr);
            comm()->click();
            QVERIFY(!control->window()->close());
        });
        comm()->click();

        QCOMPARE(server->requestCount(listPath), 2);  // the filling and the one press
        QCOMPARE(desktop->alerts.size(), 1);          // the press, once its list timed out
        QCOMPARE(desktop->alerts[0].message, text("updateControl3"));
        QVERIFY(desktop->offers.isEmpty() && !none && desktop->proposedNames.isEmpty());
        QVERIFY(control->window()->isVisible());
    }

    void downloadEndsWithTheFileInItsFolder()
    {
        openWindow();
        // Through a redirect, as download sites do: the file is saved, not
        // the redirect's page.
        server->route(filePath, Response().movedTo(server->baseUrl() + "/mirror/v2.tar.gz"));
        server->route("/mirror/v2.tar.gz", Response(200, body).inParts(16, 120));
        QSignalSpy closed(control, &UpdateControl::closeUpdate);
        QList<int> values;
        connect(bar(), &QProgressBar::valueChanged, this, [&values](int value) { values << value; });

        QTest::mouseClick(comm(), Qt::LeftButton);
        QCOMPARE(desktop->proposedNames, QStringList{"Vorlo-2.0.tar.gz"});
        // While curl runs the window refuses to close, with a beep.
        QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty(), 5000);
        QVERIFY(!control->window()->close());
        QCOMPARE(desktop->beeps, 1);

        QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
        QCOMPARE(desktop->sheets[0].message, text("updateControl8"));
        QVERIFY2(values.size() >= 4 && std::is_sorted(values.begin(), values.end()) && values.last() == 1000,
                 qPrintable(QString::number(values.size())));
        // The window stays while the sheet is up, then goes, and the folder
        // of the download opens.
        QVERIFY(!control->window()->close() && desktop->openedFolders.isEmpty());
        desktop->dismissSheet();
        QVERIFY(!control->window()->isVisible() && closed.size() == 1);
        QCOMPARE(desktop->openedFolders, QStringList{QDir(folder->path()).absolutePath()});
        QVERIFY(contentOf(target) == body);
    }

    void stopKeepsThePartialFileAndAllowsARestart()
    {
        openWindow();
        desktop->savePath.clear();  // a cancelled save dialog starts nothing
        QTest::mouseClick(comm(), Qt::LeftButton);
        QVERIFY(control->findChildren<QProcess *>().isEmpty());

        desktop->savePath = target;
        QTest::mouseClick(comm(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(bar()->value() > 0 && bar()->value() < 500, 5000);
        QTest::mouseClick(comm(), Qt::LeftButton);
        QCOMPARE(comm()->text(), text("updateControl1"));
        QTRY_VERIFY_WITH_TIMEOUT(!curlRuns(), 5000);
        const qint64 partial = QFileInfo(target).size();
        QVERIFY2(partial > 0 && partial < body.size(), qPrintable(QString::number(partial)));
        QVERIFY(desktop->sheets.isEmpty() && desktop->openedFolders.isEmpty());

        QTest::mouseClick(comm(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
        QCOMPARE(desktop->sheets[0].message, text("updateControl8"));
        QVERIFY(contentOf(target) == body);
    }

    void stopAnswersAtOnceWhenCurlLingers()
    {
        // A curl that ignores the polite request to end.
        QFile script(folder->filePath("stubborn-curl"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.1; done\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        UpdateControl::setCurlProgramForTesting(script.fileName());

        openWindow();
        QTest::mouseClick(comm(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(curlRuns(), 5000);
        // The window is back to its resting state while curl is still being
        // ended, rather than frozen until it is.
        QTest::mouseClick(comm(), Qt::LeftButton);
        QCOMPARE(comm()->text(), text("updateControl1"));
        QVERIFY(curlRuns());
        QTRY_VERIFY_WITH_TIMEOUT(control->findChildren<QProcess *>().isEmpty(), 5000);
        QVERIFY(desktop->sheets.isEmpty());
    }

    void failedTransfersAreTold_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("detail");  // expected in the alert
        QTest::newRow("unreachable host") << "unreachable" << "curl: (7)";
        QTest::newRow("connection cut") << "cut" << "curl: (18)";
        QTest::newRow("file not on the server") << "not found" << "curl: (22)";
        QTest::newRow("unwritable place") << "unwritable" << "curl: (23)";
        QTest::newRow("curl missing") << "missing" << "/nonexistent/curl";
        QTest::newRow("redirect away from the web") << "redirect to file" << "curl: (1)";
    }

    void failedTransfersAreTold()
    {
        QFETCH(QString, failure);
        QFETCH(QString, detail);
        openWindow(failure == "unreachable" ? QString("http://127.0.0.1:%1/v2").arg(LocalHttpServer::closedPort())
                                            : QString());
        if (failure == "cut")
            server->route(filePath, Response(200, body.left(1000)).claiming(body.size()));
        else if (failure == "not found")
            server->route(filePath, {404, "<html><body>404 Not Found</body></html>"});
        else if (failure == "unwritable")
            desktop->savePath = folder->filePath("no-such-folder/Vorlo-2.0.tar.gz");
        else if (failure == "redirect to file")
            server->route(filePath, Response().movedTo("file:///etc/hostname"));
        else if (failure == "missing")
            UpdateControl::setCurlProgramForTesting("/nonexistent/curl");
        QSignalSpy closed(control, &UpdateControl::closeUpdate);

        QTest::mouseClick(comm(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
        QCOMPARE(desktop->sheets[0].message, text("updateFailed1"));
        QCOMPARE(desktop->sheets[0].kind, UpdateDesktop::SheetKind::Failure);
        QVERIFY2(desktop->sheets[0].informative.contains(detail), qPrintable(desktop->sheets[0].informative));
        QCOMPARE(comm()->text(), text("updateControl1"));
        // The window stays, ready to try again; no folder opens.
        desktop->dismissSheet();
        QVERIFY(control->window()->isVisible() && desktop->openedFolders.isEmpty() && closed.isEmpty());
        QVERIFY(control->window()->close());
        QCOMPARE(desktop->beeps, 0);
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
