// The updater: what it takes from an update list, then the check, the window
// and real downloads with /usr/bin/curl against a server on 127.0.0.1.
#include "LocalHttpServer.h"

#include "DownloadLink.h"
#include "StringTable.h"
#include "UpdateCheck.h"
#include "UpdateControl.h"
#include "UpdateDesktop.h"
#include "UpdateList.h"
#include "UpdateListFetcher.h"

#include <QApplication>
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

QString text(const char *key) { return StringTable::text(QString::fromLatin1(key)); }

QByteArray plist(const QByteArray &dictionaryBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>"
           + dictionaryBody + "</dict></plist>\n";
}

QByteArray listXml(const QString &version, const QString &link, const QByteArray &extra = {})
{
    return plist("<key>lastVersion</key><string>" + version.toHtmlEscaped().toUtf8()
                 + "</string><key>tailleTotale</key><string>300</string><key>link</key><string>"
                 + link.toHtmlEscaped().toUtf8() + "</string>" + extra);
}

// Stands in for the user: records what the updater shows, declines offers
// and answers the save dialog as the test has set up.
struct RecordingDesktop : UpdateDesktop
{
    struct Sheet
    {
        SheetKind kind;
        QString message, informative;
    };

    void alert(const QString &message, const QString &) override { alerts << message; }
    bool offer(const QString &, const QString &informative, const QString &, const QString &) override
    {
        offers << informative;
        return false;
    }
    void sheet(QWidget *, SheetKind kind, const QString &message, const QString &informative,
               std::function<void()> done) override
    {
        sheets << Sheet{kind, message, informative};
        dismissSheet = done;  // the sheet stays up until the test dismisses it
    }
    void chooseSavePath(QWidget *, const QString &, const QString &proposedName,
                        std::function<void(int, const QString &)> done) override
    {
        proposedNames << proposedName;
        done(savePath.isEmpty() ? 0 : 1, savePath);
    }
    void beep() override { ++beeps; }
    void openFolder(const QString &folder) override { openedFolders << folder; }

    QString savePath;  // empty: the user cancels the save dialog
    QStringList alerts, offers, proposedNames, openedFolders;
    QList<Sheet> sheets;
    std::function<void()> dismissSheet;
    int beeps = 0;
};
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
    bool curlAround() const { return !control->findChildren<QProcess *>().isEmpty(); }

    // Serves the list and a download that takes about two seconds, then
    // fills a window from them.
    void openWindow(const QString &fileLink = QString())
    {
        // Notes in two languages, one of them with a value of another type.
        const QByteArray notes = "<key>notes</key><array><string>Fixed &lt;b&gt;bold&lt;/b&gt; names</string>"
                                 "<integer>2</integer></array><key>notesFr</key><array><string>Vite</string></array>";
        server->route(listPath, {200, listXml("2.0", fileLink.isEmpty() ? link() : fileLink, notes)});
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
        delete std::exchange(control, nullptr);
        UpdateControl::setCurlProgramForTesting(QString());
    }

    void listsThatCannotLeadToAnUpdateAreRefused()
    {
        const QByteArray version = "<key>lastVersion</key><string>2.0</string>";
        const QByteArray link = "<key>link</key><string>https://example.org/v2.tar.gz</string>";
        for (const QByteArray &xml :
             {QByteArray(), QByteArray("<html><body>404 Not Found</body></html>"), plist(version + link).chopped(30),
              QByteArray("bplist00\xd1\x01\x02\x00\xff\xfe", 14),
              QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>2.0</string></array></plist>"),
              plist(link), plist("<key>lastVersion</key><real>2.0</real>" + link), plist(version),
              plist(version + "<key>link</key><string>-o/home/u/.bashrc</string>"),
              plist(version + "<key>link</key><array/>")})
            QVERIFY2(!UpdateList::fromXml(xml, "notes"), xml.constData());
    }

    void onlyPlainWebAddressesAreDownloaded()
    {
        // Anything else could reach curl as an option, a glob, a second
        // address or a local file.
        for (const char *link : {"https://example.org/Vorlo-2.0.tar.gz", "http://127.0.0.1:8765/get?file=v2&x=%20",
                                 "HTTPS://example.org/v2", "http://[::1]:8080/v2.tar.gz"})
            QVERIFY2(DownloadLink::isAcceptable(link), link);
        for (const char *link : {"", "files/v2.tar.gz", "ftp://example.org/v2.tar.gz", "file:///etc/passwd",
                                 "http:///v2.tar.gz", "-K/tmp/evil", " http://example.org/v2", "http://example.org/v 2",
                                 "http://example.org/v2\n-o/tmp/x", "http://example.org/{a,b}.tar.gz",
                                 "http://example.org/part[1-9999].bin", "http://example.org/v2\u00e9"})
            QVERIFY2(!DownloadLink::isAcceptable(QString::fromUtf8(link)), link);

        // The name proposed for saving is a bare file name, never a path.
        const QList<QPair<QString, QString>> names{
            {"https://x.org/get/v2.zip?mirror=3#x", "v2.zip"}, {"https://x.org/Vorlo%202.0.zip", "Vorlo 2.0.zip"},
            {"https://x.org/x%2F..%2F.bashrc", ".bashrc"}, {"https://x.org/a/%2E%2E", ""}, {"https://x.org/f/", ""}};
        for (const auto &[link, name] : names)
            QCOMPARE(DownloadLink::proposedFileName(link), name);
    }

    void checkOutcomeFollowsTheServedList_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("expected");  // the version offered, or the alert's key
        QTest::newRow("same version") << "1.2" << "MyDocument13";
        QTest::newRow("older version") << "1.1" << "1.1";
        QTest::newRow("redirected") << "302" << "1.3";
        QTest::newRow("not found") << "404" << "MyDocument17";
        QTest::newRow("server silent") << "silent" << "MyDocument17";
    }

    void checkOutcomeFollowsTheServedList()
    {
        QFETCH(QString, served);
        QFETCH(QString, expected);
        const QByteArray list = listXml(served.startsWith("1.") ? served : "1.3", link());
        server->route(listPath, {served == "404" ? 404 : 200, list});
        server->route("/elsewhere.xml", {200, list});
        if (served == "silent")
            server->route(listPath, Response().unanswered());
        else if (served == "302")
            server->route(listPath, Response().movedTo(server->baseUrl() + "/elsewhere.xml"));
        UpdateCheck(desktop.get()).run(control, nullptr);
        QVERIFY(!control && !UpdateListFetcher::isBusy());
        if (expected.startsWith("MyDocument")) {
            QVERIFY(desktop->offers.isEmpty() && desktop->alerts.size() == 1);
            QCOMPARE(desktop->alerts[0], text(qPrintable(expected)));
        } else {
            QVERIFY(desktop->alerts.isEmpty() && desktop->offers.size() == 1);
            QCOMPARE(desktop->offers[0], StringTable::format("MyDocument16", {expected}));
        }
    }

    void standardAlertsShowTextsLiterally()
    {
        // Versions and messages from the network are never read as markup.
        const QString odd = "2.0%@%d%1$@ <b>x</b>";
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

    void downloadEndsWithTheFileInItsFolder()
    {
        openWindow();
        QCOMPARE(control->window()->findChild<QPlainTextEdit *>()->toPlainText(), QString("Fixed <b>bold</b> names\n"));
        // Through a redirect, as download sites do: the file is saved, not
        // the redirect's page.
        server->route(filePath, Response().movedTo(server->baseUrl() + "/mirror/v2.tar.gz"));
        server->route("/mirror/v2.tar.gz", Response(200, body).inParts(16, 120));
        QSignalSpy closed(control, &UpdateControl::closeUpdate);
        QList<int> values;
        connect(control->window()->findChild<QProgressBar *>(), &QProgressBar::valueChanged, this,
                [&values](int value) { values << value; });
        QTest::mouseClick(comm(), Qt::LeftButton);
        QCOMPARE(desktop->proposedNames, QStringList{"Vorlo-2.0.tar.gz"});
        // While curl runs the window refuses to close, with a beep.
        QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty(), 5000);
        QVERIFY(!control->window()->close() && desktop->beeps == 1);

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
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == body);
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
        QTRY_VERIFY_WITH_TIMEOUT(curlAround(), 5000);
        // The window is back at rest while curl is still being ended, rather
        // than frozen until it is.
        QTest::mouseClick(comm(), Qt::LeftButton);
        QCOMPARE(comm()->text(), text("updateControl1"));
        QVERIFY(curlAround());
        QTRY_VERIFY_WITH_TIMEOUT(!curlAround(), 5000);
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
        QVERIFY(control->window()->close() && desktop->beeps == 0);
    }
};

QTEST_MAIN(TestUpdate)
#include "tst_update.moc"
