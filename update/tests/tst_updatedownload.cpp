#include "LocalHttpServer.h"
#include "RecordingDesktop.h"
#include "UpdateListXml.h"

#include "StringTable.h"
#include "UpdateControl.h"
#include "UpdateListFetcher.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString listPath = "/updates/vorlocheck.xml";
const QString filePath = "/files/Vorlo-2.0.tar.gz";

QString text(const char *key)
{
    return StringTable::text(QString::fromLatin1(key));
}

QByteArray downloadBody()
{
    QByteArray body;
    for (int i = 0; body.size() < 400000; ++i)
        body += QByteArray::number(i * 7919) + ' ';
    return body;
}

qint64 sizeOf(const QString &path)
{
    return QFileInfo(path).size();
}
}

class TestUpdateDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void downloadFollowsCurlAndEndsInItsFolder();
    void stopKeepsThePartialFileAndAllowsARestart();
    void stopAnswersAtOnceWhenCurlLingers();
    void redirectsGiveTheFile();
    void pressWithoutADownload();
    void failedTransfersAreTold_data();
    void failedTransfersAreTold();

private:
    // Serves the list and a download that takes about two seconds, then
    // fills a window from them.
    void openWindow(const QString &link = QString());
    QPushButton *comm() const { return control->window()->findChild<QPushButton *>("comm"); }
    QProgressBar *bar() const { return control->window()->findChild<QProgressBar *>("progressUpdate"); }
    QString status() const { return control->window()->findChild<QLabel *>("status")->text(); }
    bool curlRuns() const
    {
        const auto processes = control->findChildren<QProcess *>();
        return std::any_of(processes.begin(), processes.end(),
                           [](QProcess *p) { return p->state() != QProcess::NotRunning; });
    }

    const QByteArray body = downloadBody();
    LocalHttpServer *server = nullptr;
    RecordingDesktop *desktop = nullptr;
    UpdateControl *control = nullptr;
    QTemporaryDir *folder = nullptr;
    QString target;
};

void TestUpdateDownload::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    StringTable::reload();
    for (const char *proxy : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        qunsetenv(proxy);
    if (!QFileInfo::exists("/usr/bin/curl"))
        QSKIP("these tests download with /usr/bin/curl");
}

void TestUpdateDownload::init()
{
    server = new LocalHttpServer(this);
    QVERIFY(server->listen());
    qputenv("VORLO_UPDATE_BASE", server->baseUrl().toUtf8());
    desktop = new RecordingDesktop;
    folder = new QTemporaryDir;
    QVERIFY(folder->isValid());
    target = folder->filePath("Vorlo-2.0.tar.gz");
    desktop->savePath = target;
}

void TestUpdateDownload::cleanup()
{
    delete control;
    control = nullptr;
    delete desktop;
    delete server;
    delete folder;
    UpdateControl::setCurlProgramForTesting(QString());
}

void TestUpdateDownload::openWindow(const QString &link)
{
    server->route(listPath, {200, updateListXml("2.0", link.isEmpty() ? server->baseUrl() + filePath : link, "300")});
    LocalHttpServer::Response slow{200, body};
    slow.chunks = 16;
    slow.chunkDelay = 120;
    server->route(filePath, slow);
    control = new UpdateControl(desktop);
    control->startUpdate(1);
    QVERIFY(control->window()->isVisible());
}

void TestUpdateDownload::downloadFollowsCurlAndEndsInItsFolder()
{
    openWindow();
    QSignalSpy closed(control, &UpdateControl::closeUpdate);

    // Every move of the bar comes with the amounts in the status line.
    QList<int> values;
    QStringList mismatches;
    connect(bar(), &QProgressBar::valueChanged, this, [&](int value) {
        values << value;
        if (value < 1000) {
            const QString expected = StringTable::format(
                "updateControl10", {QLocale().toString(value / 1000.0 * 300, 'f', 1), "300.0"});
            if (status() != expected)
                mismatches << status() + " / " + expected;
        }
    });

    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(server->requestCount(listPath), 2);
    QCOMPARE(desktop->savePrompts, QStringList{text("updateControl2")});
    QCOMPARE(desktop->proposedNames, QStringList{"Vorlo-2.0.tar.gz"});
    QCOMPARE(comm()->text(), text("updateControl6"));
    QCOMPARE(bar()->maximum(), 1000);
    QVERIFY(curlRuns());

    // While curl runs the window refuses to close, with a beep.
    QTRY_VERIFY_WITH_TIMEOUT(!values.isEmpty(), 5000);
    QVERIFY(!control->window()->close());
    QVERIFY(control->window()->isVisible());
    QCOMPARE(desktop->beeps, 1);
    QCOMPARE(closed.size(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
    QCOMPARE(desktop->sheets[0].message, text("updateControl8"));
    QCOMPARE(desktop->sheets[0].informative, text("updateControl9"));
    QCOMPARE(desktop->sheetKinds[0], UpdateDesktop::SheetKind::Done);
    QVERIFY2(values.size() >= 4, qPrintable(QString::number(values.size())));
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QVERIFY(values.first() > 0 && values.first() < 1000);
    QCOMPARE(values.last(), 1000);
    QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
    QCOMPARE(status(), StringTable::format("updateControl7", {"300.0"}));

    // The window stays while the sheet is up, then goes, and the folder of
    // the download opens.
    QVERIFY(!control->window()->close());
    QCOMPARE(desktop->beeps, 1);
    QVERIFY(control->window()->isVisible());
    QCOMPARE(desktop->openedFolders, QStringList());
    desktop->dismissSheet();
    QVERIFY(!control->window()->isVisible());
    QCOMPARE(closed.size(), 1);
    QCOMPARE(desktop->openedFolders, QStringList{QFileInfo(folder->path()).absoluteFilePath()});
    QCOMPARE(comm()->text(), text("updateControl6"));

    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == body);
}

void TestUpdateDownload::stopKeepsThePartialFileAndAllowsARestart()
{
    openWindow();
    QTest::mouseClick(comm(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(bar()->value() > 0 && bar()->value() < 500, 5000);

    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(comm()->text(), text("updateControl1"));
    QCOMPARE(bar()->maximum(), 0);
    QCOMPARE(bar()->value(), 1000);
    QCOMPARE(status(), StringTable::format("updateControl7", {"300.0"}));
    QTRY_VERIFY_WITH_TIMEOUT(!curlRuns(), 5000);
    const qint64 partial = sizeOf(target);
    QTest::qWait(400);
    QCOMPARE(sizeOf(target), partial);
    QVERIFY2(partial > 0 && partial < body.size(), qPrintable(QString::number(partial)));
    QCOMPARE(desktop->sheets.size(), 0);
    QCOMPARE(desktop->openedFolders, QStringList());

    // A new download starts from the full bar left by the stop and replaces
    // the partial file.
    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(bar()->maximum(), 1000);
    QCOMPARE(bar()->value(), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(bar()->value() < 1000, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
    QCOMPARE(desktop->sheets[0].message, text("updateControl8"));
    QCOMPARE(sizeOf(target), qint64(body.size()));
}

void TestUpdateDownload::stopAnswersAtOnceWhenCurlLingers()
{
    // A curl that ignores the polite request to end.
    const QString script = folder->filePath("stubborn-curl");
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.1; done\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    UpdateControl::setCurlProgramForTesting(script);

    openWindow();
    QTest::mouseClick(comm(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(curlRuns(), 5000);

    // The window is back to its resting state while curl is still being
    // ended, rather than frozen until it is.
    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(comm()->text(), text("updateControl1"));
    QCOMPARE(bar()->maximum(), 0);
    QVERIFY(curlRuns());
    QTRY_VERIFY_WITH_TIMEOUT(!curlRuns(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(control->findChildren<QProcess *>().isEmpty(), 5000);
    QCOMPARE(desktop->sheets.size(), 0);
}

void TestUpdateDownload::redirectsGiveTheFile()
{
    openWindow();
    LocalHttpServer::Response moved{302, "<html>Moved</html>"};
    moved.location = (server->baseUrl() + "/mirror/Vorlo-2.0.tar.gz").toUtf8();
    server->route(filePath, moved);
    server->route("/mirror/Vorlo-2.0.tar.gz", {200, body});

    QTest::mouseClick(comm(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
    QCOMPARE(desktop->sheetKinds[0], UpdateDesktop::SheetKind::Done);
    QFile saved(target);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), body);
}

void TestUpdateDownload::pressWithoutADownload()
{
    openWindow();
    QSignalSpy closed(control, &UpdateControl::closeUpdate);

    desktop->savePath.clear();  // the user cancels the save dialog
    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(desktop->proposedNames.size(), 1);
    QCOMPARE(comm()->text(), text("updateControl1"));
    QVERIFY(control->findChildren<QProcess *>().isEmpty());

    // The list is read again at each press; when it cannot be, the user is
    // told and nothing else changes.
    server->route(listPath, {503, "busy"});
    desktop->savePath = target;
    QTest::mouseClick(comm(), Qt::LeftButton);
    QCOMPARE(desktop->alerts.size(), 1);
    QCOMPARE(desktop->alerts[0].message, text("updateControl3"));
    QCOMPARE(desktop->alerts[0].informative, text("updateControl4"));
    QCOMPARE(closed.size(), 1);
    QCOMPARE(desktop->proposedNames.size(), 1);
    QCOMPARE(comm()->text(), text("updateControl1"));
    QVERIFY(control->window()->isVisible());
    QVERIFY(control->findChildren<QProcess *>().isEmpty());
}

void TestUpdateDownload::failedTransfersAreTold_data()
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

void TestUpdateDownload::failedTransfersAreTold()
{
    QFETCH(QString, failure);
    QFETCH(QString, detail);
    if (failure == "unreachable")
        openWindow(QString("http://127.0.0.1:%1/Vorlo-2.0.tar.gz").arg(LocalHttpServer::closedPort()));
    else
        openWindow();
    if (failure == "cut") {
        LocalHttpServer::Response cut{200, body.left(1000)};
        cut.announcedLength = body.size();
        server->route(filePath, cut);
    } else if (failure == "not found") {
        server->route(filePath, {404, "<html><body>404 Not Found</body></html>"});
    } else if (failure == "unwritable") {
        desktop->savePath = folder->filePath("no-such-folder/Vorlo-2.0.tar.gz");
    } else if (failure == "redirect to file") {
        LocalHttpServer::Response moved{302, "<html>Moved</html>"};
        moved.location = "file:///etc/hostname";
        server->route(filePath, moved);
    } else if (failure == "missing") {
        UpdateControl::setCurlProgramForTesting("/nonexistent/curl");
    }
    QSignalSpy closed(control, &UpdateControl::closeUpdate);

    QTest::mouseClick(comm(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(desktop->sheets.size(), 1, 15000);
    QCOMPARE(desktop->sheets[0].message, text("updateFailed1"));
    QCOMPARE(desktop->sheetKinds[0], UpdateDesktop::SheetKind::Failure);
    QVERIFY2(desktop->sheets[0].informative.contains(detail), qPrintable(desktop->sheets[0].informative));
    QCOMPARE(status(), text("updateFailed3"));
    QCOMPARE(comm()->text(), text("updateControl1"));
    QCOMPARE(bar()->maximum(), 0);

    desktop->dismissSheet();
    QVERIFY(control->window()->isVisible());
    QCOMPARE(desktop->openedFolders, QStringList());
    QCOMPARE(closed.size(), 0);
    QVERIFY(control->window()->close());
    QCOMPARE(desktop->beeps, 0);
}

QTEST_MAIN(TestUpdateDownload)
#include "tst_updatedownload.moc"
