// The document driving the real unrar helper on real archives.
#include "MyDocument.h"
#include "ProcessProbes.h"
#include "PasswordWindow.h"
#include "ProgressWindow.h"
#include "DocumentToolbar.h"
#include "ResourceLocator.h"
#include "StringTable.h"
#include "DocumentTestTools.h"
#include "EntryDetails.h"
#include "EntryTableModel.h"
#include "ExtractionFolder.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QScopeGuard>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <zlib.h>

using Kind = EntryRow::Kind;

#ifdef __SANITIZE_ADDRESS__
// Freed memory is overwritten: Qt is not instrumented, so a read of a freed
// object from inside Qt (a signal emitted on a freed process) then fails
// here instead of reading what the object held.
extern "C" const char *__asan_default_options()
{
    return "max_free_fill_size=1048576:free_fill_byte=170";
}
#endif

namespace {
bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

using NamedContents = QList<std::pair<QString, QByteArray>>;

// Writes a RAR archive of the given files at `path`.
bool writeRar(const QString &path, const NamedContents &files)
{
    QByteArray records;
    for (const auto &[name, contents] : files)
        records += name.toUtf8() + '\0' + contents + '\0';
    QProcess writer;
    writer.start(QStringLiteral(VORLO_RARWRITE), {path, QStringLiteral("--names"), QStringLiteral("-"),
                                                  QStringLiteral("--with-contents")});
    writer.write(records);
    writer.closeWriteChannel();
    return writer.waitForFinished(30000) && writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 0;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// A stand-in for the helper, for faults the real one cannot be made to show
// on demand: `body` is the shell script it runs.
bool writeFakeHelper(const QString &folder, const QByteArray &body)
{
    QFile script(QDir(folder).filePath(QStringLiteral("unrar")));
    if (!script.open(QIODevice::WriteOnly) || script.write("#!/bin/sh\n" + body) < 0)
        return false;
    script.close();
    return script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
}
// Stands for the desktop's applications: QDesktopServices hands it every
// file URL to open, and it reads the file at that moment.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;
    QList<QByteArray> contents;

public slots:
    void openFile(const QUrl &url)
    {
        urls << url;
        contents << contentsOf(url.toLocalFile());
    }
};

// The files below `folder` with their contents, by relative path.
QMap<QString, QByteArray> filesBelow(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), contentsOf(path));
    }
    return files;
}
} // namespace

class TestMyDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void opensListsAndNavigates();
    void extractsNextToTheArchiveWithProgress();
    void stopsALargeExtraction();
    void asksForThePasswordUntilItIsRight();
    void listingStoppedAtThePasswordPrompt();
    void namesHoldingTheHelpersWords();
    void unreadableArchivesAlertAndHide_data();
    void unreadableArchivesAlertAndHide();
    void shellMetacharactersInTheName();
    void oneRunAtATime();
    void closingEndsTheRun();
    void documentReleasedDuringTheFailureAlert();
    void missingHelperIsReported();
    void toolbarCommandsExtract();
    void trashHidesTheWindowAndKeepsTheDocument();
    void technicalListingMatchesTheManifest();
    void detailsSortingAndFolderCounts();
    void whereYouAreAndGoingUp();
    void detailsGiveWayToAnExtraction();
    void extractingSeveralItemsIntoAFolder();
    void extractingTheSelection();
    void openingAFileWithTheDesktop();
    void draggingOutAndDroppingIn();

private:
    // Opens `path`, shows the window and waits for the listing to end.
    std::unique_ptr<MyDocument> open(const QString &path);
    bool waitForRun(MyDocument &document, int timeout = 20000);

    QString m_helper;
    QTemporaryDir m_settingsDir;
    UrlCatcher m_opened;
};

void TestMyDocument::initTestCase()
{
    // Keep the toolbar arrangement of the tests away from the user's.
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // Nothing is ever opened in a real application here.
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "openFile");
    m_helper = ResourceLocator::find(QStringLiteral("unrar"));
    if (m_helper.isEmpty())
        QSKIP("the unrar helper is not built");
    if (!QFile::exists(fixture("sharpcompress/Rar5.rar")))
        QSKIP("the third-party fixture archives are not beside the project");
}

void TestMyDocument::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void TestMyDocument::init()
{
    m_opened.urls.clear();
    m_opened.contents.clear();
    ResourceLocator::setSearchPathsForTesting({});
}

std::unique_ptr<MyDocument> TestMyDocument::open(const QString &path)
{
    auto document = std::make_unique<MyDocument>();
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    if (!document->readFromFile(path, QStringLiteral("RAR archive")))
        return nullptr;
    document->showWindows();
    if (!finished.wait(20000))
        return nullptr;
    return document;
}

bool TestMyDocument::waitForRun(MyDocument &document, int timeout)
{
    QSignalSpy finished(&document, &MyDocument::runFinished);
    return !document.isRunning() || finished.wait(timeout);
}

void TestMyDocument::opensListsAndNavigates()
{
    auto document = open(fixture("sharpcompress/Rar5.rar"));
    QVERIFY(document);
    QMainWindow *window = document->window();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Rar5.rar"));

    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("exe*"), QStringLiteral("jpg*"),
                                               QStringLiteral("\u0442\u0435\u0441\u0442.txt"),
                                               QStringLiteral("Empty")}));
    QCOMPARE(document->statusText(), StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("4")}));

    // Down into "jpg" by a double-click on the table, up again with Return.
    auto *table = window->findChild<QTableView *>(QStringLiteral("listView"));
    QVERIFY(table);
    const QModelIndex jpg = table->model()->index(1, 1);
    const QPoint centre = table->visualRect(jpg).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centre);
    QCOMPARE(document->level(), 1);
    QCOMPARE(document->prefixePath(), QStringLiteral("jpg"));
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("test.jpg"), QStringLiteral("..")}));
    QCOMPARE(document->statusText(), StringTable::format(QStringLiteral("MyDocument3"), {QStringLiteral("1")}));
    QCOMPARE(table->model()->data(table->model()->index(1, 1)).toString(), QStringLiteral(".."));
    QVERIFY(!table->model()->data(table->model()->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());

    // Return on a file row opens the file; the folder stays.
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QVERIFY(waitForRun(*document));
    QCOMPARE(document->level(), 1);
    QCOMPARE(m_opened.urls.size(), 1);
    QCOMPARE(m_opened.urls.at(0).fileName(), QStringLiteral("test.jpg"));

    table->setCurrentIndex(table->model()->index(1, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(document->level(), 0);
    QCOMPARE(document->prefixePath(), QString());
    QCOMPARE(rowNames(*document).size(), 4);
    QVERIFY(!rowNames(*document).contains(QStringLiteral("..")));
}

void TestMyDocument::extractsNextToTheArchiveWithProgress()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("copy of Rar5.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
    // An old file of the same name is overwritten without a question.
    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("jpg")));
    QFile stale(folder.filePath(QStringLiteral("jpg/test.jpg")));
    QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("stale") == 5);
    stale.close();

    auto document = open(archive);
    QVERIFY(document);
    AlertAnswerer alerts;
    document->launchExtractionTo(folder.path());
    QVERIFY(document->isRunning());
    QVERIFY(document->progressWindow() && document->progressWindow()->isVisible());
    QCOMPARE(document->progressWindow()->windowModality(), Qt::WindowModal);
    QVERIFY(waitForRun(*document));

    QVERIFY(!document->progressWindow()->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    QCOMPARE(fileCrc(folder.filePath(QStringLiteral("jpg/test.jpg"))), 143135971u);
    QCOMPARE(fileCrc(folder.filePath(QStringLiteral("exe/test.exe"))), 3484486088u);
    QCOMPARE(fileCrc(folder.filePath(QStringLiteral("\u0442\u0435\u0441\u0442.txt"))), 2614190330u);
    QVERIFY(QFileInfo(folder.filePath(QStringLiteral("Empty"))).isDir());
    // The browser stays where it was.
    QCOMPARE(document->level(), 0);
    QCOMPARE(rowNames(*document).size(), 4);

    // A run that ends without the helper's success line is a failure.
    document->launchExtractionTo(archive); // a file, not a folder
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{StringTable::text(QStringLiteral("MyDocument1"))});
    QVERIFY(!document->progressWindow()->isVisible());
}

void TestMyDocument::stopsALargeExtraction()
{
    QTemporaryDir folder;
    auto document = open(fixture("sharpcompress/Large.rar"));
    QVERIFY(document);
    AlertAnswerer alerts;
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    document->launchExtractionTo(folder.path());
    // Stop as soon as the helper has begun writing (a file without a name,
    // or under a hidden one, open in the destination). It is held still
    // meanwhile, and let go once asked to stop.
    const QDir destination(folder.path());
    const qint64 helper = document->helperProcessId();
    QVERIFY2(ProcessProbes::stepUntil(
                 helper, [&] { return ProcessProbes::writesInto(helper, folder.path()); },
                 [&] {
                     QCoreApplication::processEvents();
                     return finished.isEmpty();
                 }),
             "the extraction ended before it could be stopped");
    // The window names the entry under way; a long name is shortened in the
    // middle (both ends tell most), shown as plain text, and does not widen
    // the window.
    ProgressWindow *progress = document->progressWindow();
    auto *entryLabel = progress->findChild<QLabel *>(QStringLiteral("entryLabel"));
    QTRY_COMPARE(entryLabel->text(), QStringLiteral("large.bin"));
    const int width = progress->width();
    progress->showEntry(QStringLiteral("first/") + QString(400, u'x') + QStringLiteral("/<b>last</b>.bin"));
    QVERIFY2(entryLabel->text().startsWith(QStringLiteral("first/"))
                 && entryLabel->text().endsWith(QStringLiteral("/<b>last</b>.bin"))
                 && entryLabel->text().contains(u'\u2026'),
             qPrintable(entryLabel->text()));
    QCOMPARE(entryLabel->textFormat(), Qt::PlainText);
    QCOMPARE(progress->width(), width);
    QTest::mouseClick(document->progressWindow()->findChild<QPushButton *>(QStringLiteral("stopButton")),
                      Qt::LeftButton);
    ::kill(pid_t(helper), SIGCONT);
    QVERIFY(document->hasBeenStoped());
    QVERIFY(document->progressWindow()->isVisible()); // until the output ends
    QVERIFY(waitForRun(*document, 10000));
    QVERIFY(!document->progressWindow()->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    // Nothing of the stopped file is left, under either name.
    QCOMPARE(destination.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestMyDocument::asksForThePasswordUntilItIsRight()
{
    QTemporaryDir folder;
    QFile secret(folder.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("the treasure is under the oak\n");
    secret.close();
    QProcess zip;
    zip.setWorkingDirectory(folder.path());
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("right"),
                                      QStringLiteral("locked.zip"), QStringLiteral("secret.txt")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    QVERIFY(QFile::remove(secret.fileName()));
    const QString out = folder.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));

    auto document = open(folder.filePath(QStringLiteral("locked.zip")));
    QVERIFY(document);
    QCOMPARE(rowNames(*document), QStringList{QStringLiteral("secret.txt")});

    AlertAnswerer alerts;
    PasswordWindow *passwordWin = document->passwordWindow();
    document->launchExtractionTo(out);
    QTRY_VERIFY_WITH_TIMEOUT(passwordWin->isVisible(), 10000);
    QVERIFY(!passwordWin->isModal());
    // Placed from the document window's lower-left corner.
    const QRect frame = document->window()->frameGeometry();
    QCOMPARE(passwordWin->frameGeometry().left(), frame.left() + 91);
    QCOMPARE(passwordWin->frameGeometry().bottom(), frame.bottom() - 78);

    // Typed as a user types: through the window system, where the progress
    // sheet that covers the document window must not block the password.
    QWindow *passwordWindow = passwordWin->windowHandle();
    QVERIFY(passwordWindow);
    for (const char key : {'w', 'r', 'o', 'n', 'g'})
        QTest::keyClick(passwordWindow, key);
    QCOMPARE(passwordWin->passwordField()->text(), QStringLiteral("wrong"));
    QTest::keyClick(passwordWindow, Qt::Key_Return);
    QVERIFY(!passwordWin->isVisible());
    // The helper asks again: the text still in the field is sent once more by
    // itself, and the prompt after that opens the window with an empty field.
    QTRY_VERIFY_WITH_TIMEOUT(passwordWin->isVisible(), 10000);
    QVERIFY(passwordWin->passwordField()->text().isEmpty());
    QCOMPARE(passwordWin->message(),
             StringTable::format(QStringLiteral("MyDocumentWrongPassword"), {QStringLiteral("locked.zip")}));
    QVERIFY(document->progressWindow()->isVisible());
    passwordWin->passwordField()->setText(QStringLiteral("right"));
    QPushButton *ok = passwordWin->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QTest::mouseClick(passwordWindow, Qt::LeftButton, {}, ok->mapTo(passwordWin, ok->rect().center()));
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    QFile extracted(QDir(out).filePath(QStringLiteral("secret.txt")));
    QVERIFY(extracted.open(QIODevice::ReadOnly));
    QCOMPARE(extracted.readAll(), QByteArray("the treasure is under the oak\n"));
    extracted.close();
    QVERIFY(extracted.remove());

    // The next extraction sends the remembered password without asking.
    QCOMPARE(passwordWin->passwordField()->text(), QStringLiteral("right"));
    document->launchExtractionTo(out);
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(passwordWin->passwordField()->text().isEmpty());
    QVERIFY(extracted.exists());

    // Confirming after the helper has gone writes nowhere and breaks nothing.
    passwordWin->show();
    document->validatePassword();
    QVERIFY(!passwordWin->isVisible());

    // Cancelling at the prompt stops the run without an alert.
    QVERIFY(QFile::remove(extracted.fileName()));
    document->launchExtractionTo(out);
    QTRY_VERIFY_WITH_TIMEOUT(passwordWin->isVisible(), 10000);
    document->cancelPassword();
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(!document->progressWindow()->isVisible());
}

void TestMyDocument::listingStoppedAtThePasswordPrompt()
{
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    document.readFromFile(fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar"), QString());
    document.showWindows();
    QTRY_VERIFY_WITH_TIMEOUT(document.passwordWindow()->isVisible(), 10000);
    QVERIFY(document.window()->isEnabled()); // nothing is blocked
    QTest::keyClick(document.passwordWindow()->passwordField(), Qt::Key_Escape);
    QVERIFY(finished.wait(10000));
    QVERIFY(document.hasBeenStoped());
    QCOMPARE(alerts.size(), 0);
    QVERIFY(!document.passwordWindow()->isVisible());
    // The prompt's text is no entry.
    for (const QString &entry : document.entries())
        QVERIFY2(!entry.contains(QLatin1String("password"), Qt::CaseInsensitive), qPrintable(entry));
}

void TestMyDocument::namesHoldingTheHelpersWords()
{
    // The helper's success, damage and prompt texts as entry names and in
    // the archive's own name: listed and extracted as they are, and a failed
    // extraction that prints them is still a failure.
    const NamedContents files = {
        {QStringLiteral("***All OK****"), "one"},
        {QStringLiteral("Unexpected end of archive"), "two"},
        {QStringLiteral("Unexpected end of archive.txt"), "three"},
        {QStringLiteral("How to Enter Password.txt"), "four"},
        {QStringLiteral("The specified password is incorrect."), "five"},
        {QStringLiteral("Enter password (will not be echoed) for x.rar: "), "six"},
        {QStringLiteral("dir/***All OK****"), "seven"},
    };
    QTemporaryDir folder;
    const QString name = QStringLiteral("***All OK**** Unexpected end of archive Enter password.rar");
    const QString archive = folder.filePath(name);
    QVERIFY(writeRar(archive, files));

    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->window()->windowTitle(), name);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    QVERIFY(document->window()->isVisible());
    QStringList expected = {QStringLiteral("dir*")};
    for (const auto &file : files.first(6))
        expected << file.first;
    QStringList names = rowNames(*document);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);

    const QString out = folder.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(out));
    document->launchExtractionTo(out);
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    for (const auto &[name, contents] : files)
        QCOMPARE(contentsOf(QDir(out).filePath(name)), contents);

    // A file in the way of "dir": the helper fails after printing every name.
    const QString blocked = folder.filePath(QStringLiteral("blocked"));
    QVERIFY(QDir().mkpath(blocked));
    QFile inTheWay(QDir(blocked).filePath(QStringLiteral("dir")));
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    document->launchExtractionTo(blocked);
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{StringTable::text(QStringLiteral("MyDocument1"))});
    QCOMPARE(shown.size(), 1);
    QVERIFY(document->window()->isVisible());
    QCOMPARE(rowNames(*document).size(), expected.size());
}

void TestMyDocument::unreadableArchivesAlertAndHide_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("alert");
    QFile source(fixture("sharpcompress/Rar5.rar"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray damaged = source.readAll();
    damaged[12] = char(damaged[12] ^ 0x55); // in the main header: its checksum fails
    QTest::newRow("damaged") << damaged << QStringLiteral("MyDocument23");
    QByteArray noise;
    for (int i = 0; i < 3000; ++i)
        noise.append(char(i * 7919 >> 5));
    QTest::newRow("not an archive") << noise << QStringLiteral("MyDocumentUnreadable1");
}

void TestMyDocument::unreadableArchivesAlertAndHide()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, alert);
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("x.rar")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();

    auto document = std::make_unique<MyDocument>();
    QSignalSpy alerts(document.get(), &MyDocument::alertShown);
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    document->readFromFile(file.fileName(), QString());
    document->showWindows();
    QVERIFY(finished.wait(20000));
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).at(0).toString(), alert);
    // The helper's error lines are no entries.
    QCOMPARE(document->entries(), QStringList());
    QVERIFY(document->rows().isEmpty());

    auto *sheet = document->window()->findChild<QMessageBox *>();
    QVERIFY(sheet && sheet->isVisible());
    QVERIFY(document->window()->frameGeometry().contains(sheet->frameGeometry().center()));
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QVERIFY(document->window()->isVisible());
    sheet->accept();
    QTRY_VERIFY(!document->window()->isVisible());
}

void TestMyDocument::shellMetacharactersInTheName()
{
    QTemporaryDir folder;
    const QString name = QStringLiteral("-x \"q\" 'a' $(touch pwned) `touch pwned` \\ $HOME;\n&.rar");
    const QString archive = folder.filePath(name);
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->fileName(), archive);
    QCOMPARE(rowNames(*document).size(), 4);
    QVERIFY(rowNames(*document).contains(QStringLiteral("exe*")));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("pwned"))));
}

void TestMyDocument::oneRunAtATime()
{
    QTemporaryDir folder;
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    document.readFromFile(fixture("sharpcompress/Rar5.rar"), QString());
    document.showWindows();
    QVERIFY(document.isRunning());
    document.launchExtractionTo(folder.path()); // refused: the listing still runs
    QCOMPARE(document.action(), MyDocument::Action::Listing);
    QVERIFY(finished.wait(20000));
    QVERIFY(QDir(folder.path()).isEmpty());
    QCOMPARE(finished.size(), 1);
}

void TestMyDocument::closingEndsTheRun()
{
    QTemporaryDir folder;
    auto document = open(fixture("sharpcompress/Large.rar"));
    QVERIFY(document);
    QSignalSpy closed(document.get(), &MyDocument::documentClosed);
    document->launchExtractionTo(folder.path());
    QVERIFY(document->isRunning());
    QTRY_VERIFY(document->helperProcessId() > 0);
    const qint64 pid = document->helperProcessId();

    AlertAnswerer alerts;
    document->window()->close();
    QCOMPARE(closed.size(), 1);
    QVERIFY(!document->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), 10000);
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(document->rows().isEmpty());
    document.reset(); // must not block or crash
}

void TestMyDocument::documentReleasedDuringTheFailureAlert()
{
    // The document is released while its failure alert waits for its OK,
    // its window closed first or not (as when Vorlo quits): nothing of the
    // document or of its helper's process may be used after it is freed (the
    // sanitizer build reports it). The real helper fails on a destination
    // that is no folder; a stand-in fails at once.
    QTemporaryDir folder;
    const QString notAFolder = folder.filePath(QStringLiteral("a.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), notAFolder));
    QTemporaryDir fakeFolder;
    QVERIFY(writeFakeHelper(fakeFolder.path(), "[ \"$1\" = vb ] && { echo a.txt; exit 0; }\nexit 3\n"));
    for (const QStringList &helperPaths : {QStringList(), QStringList{fakeFolder.path()}}) {
        ResourceLocator::setSearchPathsForTesting(helperPaths);
        for (const bool closeFirst : {true, false}) {
            QPointer<MyDocument> document = open(notAFolder).release();
            QVERIFY(document);
            connect(document, &MyDocument::documentClosed, document, &QObject::deleteLater);
            QTimer releaser;
            connect(&releaser, &QTimer::timeout, this, [&] {
                if (!document || !QApplication::activeModalWidget())
                    return;
                if (closeFirst)
                    document->window()->close();
                else
                    delete document.data(); // as its owner may, while the alert is up
            });
            releaser.start(10);
            document->launchExtractionTo(notAFolder);
            QTRY_VERIFY_WITH_TIMEOUT(document.isNull(), 20000);
            QVERIFY(!QApplication::activeModalWidget());
        }
    }
}

void TestMyDocument::missingHelperIsReported()
{
    QTemporaryDir empty;
    ResourceLocator::setSearchPathsForTesting({empty.path()});
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(fixture("sharpcompress/Rar5.rar"), QString()));
    document.showWindows();
    QVERIFY(finished.wait(5000));
    // Shown as a sheet once the window is on screen.
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).at(0).toString(), QStringLiteral("MyDocumentHelper1"));

    // A helper that is there but cannot run is the same.
    QFile broken(empty.filePath(QStringLiteral("unrar")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a program");
    broken.close();
    AlertAnswerer answerer;
    document.launchExtractionTo(empty.path());
    QVERIFY(!document.isRunning());
    QCOMPARE(alerts.size(), 2);
    QCOMPARE(alerts.at(1).at(0).toString(), QStringLiteral("MyDocumentHelper1"));
    QVERIFY(!document.progressWindow() || !document.progressWindow()->isVisible());

    QVERIFY(broken.setPermissions(broken.permissions() | QFileDevice::ExeOwner));
    document.launchExtractionTo(empty.path());
    QVERIFY(waitForRun(document, 5000));
    QCOMPARE(alerts.size(), 3);
    QCOMPARE(alerts.at(2).at(0).toString(), QStringLiteral("MyDocumentHelper1"));
    QVERIFY(!document.progressWindow()->isVisible());
}

void TestMyDocument::toolbarCommandsExtract()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("a.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
    auto document = open(archive);
    QVERIFY(document);
    QVERIFY(document->toolbar());
    QCOMPARE(document->toolbar()->parentWidget(), document->window());
    AlertAnswerer alerts;

    // Extract: next to the archive.
    document->toolbar()->itemAction(QStringLiteral("ExtractItem"))->trigger();
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QCOMPARE(fileCrc(folder.filePath(QStringLiteral("jpg/test.jpg"))), 143135971u);

    // Extract To: the chooser's cancel starts nothing; a chosen folder is used.
    QStringList asked;
    QString answer;
    MyDocument::setFolderChooserForTesting([&](QWidget *window) {
        asked << window->windowTitle();
        return answer;
    });
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QCOMPARE(asked, QStringList{QStringLiteral("a.rar")});
    QVERIFY(!document->isRunning());

    const QString chosen = folder.filePath(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    answer = chosen + QLatin1Char('/');
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    MyDocument::setFolderChooserForTesting(nullptr);
    QCOMPARE(fileCrc(QDir(chosen).filePath(QStringLiteral("exe/test.exe"))), 3484486088u);
    QCOMPARE(alerts.texts, QStringList());

    // Close only hides the window.
    document->toolbar()->itemAction(QStringLiteral("CloseItem"))->trigger();
    QVERIFY(!document->window()->isVisible());
    QCOMPARE(rowNames(*document).size(), 4);
}

void TestMyDocument::trashHidesTheWindowAndKeepsTheDocument()
{
    QTemporaryDir folder;
    // A data folder that does not exist yet.
    const QString dataHome = folder.filePath(QStringLiteral("home/.local/share"));
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", savedDataHome); });

    const QString archive = folder.filePath(QStringLiteral("to be trashed.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
    auto document = open(archive);
    QVERIFY(document);
    QSignalSpy refused(document.get(), &MyDocument::commandRefused);
    QSignalSpy closed(document.get(), &MyDocument::documentClosed);

    document->toolbar()->itemAction(QStringLiteral("placerDansLaCorbeille"))->trigger();
    QCOMPARE(refused.size(), 0);
    QVERIFY(!QFile::exists(archive));
    QVERIFY(QFile::exists(dataHome + QStringLiteral("/Trash/files/to be trashed.rar")));
    QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("files/to be trashed.rar"))));
    QVERIFY(!document->window()->isVisible());
    QCOMPARE(closed.size(), 0);
    QCOMPARE(rowNames(*document).size(), 4);

    // The archive is gone now: the move is refused and the window stays.
    document->showWindows();
    document->placerDansLaCorbeille();
    QCOMPARE(refused.size(), 1);
    QVERIFY(document->window()->isVisible());
}


void TestMyDocument::technicalListingMatchesTheManifest()
{
    QFile manifestFile(QStringLiteral(VORLO_FIXTURES_DIR "/manifest.json"));
    QVERIFY(manifestFile.open(QIODevice::ReadOnly));
    const QJsonArray manifest = QJsonDocument::fromJson(manifestFile.readAll()).array();
    int checked = 0;
    for (const QJsonValue &value : manifest) {
        const QJsonObject archive = value.toObject();
        if (!archive.value(QStringLiteral("damaged")).isNull())
            continue;
        const QString name = archive.value(QStringLiteral("archive")).toString();
        QStringList arguments = {QStringLiteral("vt"), QStringLiteral(VORLO_FIXTURES_DIR "/") + name};
        if (archive.value(QStringLiteral("password")).isString())
            arguments << QStringLiteral("-p") + archive.value(QStringLiteral("password")).toString();
        QProcess helper;
        helper.setStandardInputFile(QProcess::nullDevice());
        helper.start(m_helper, arguments);
        QVERIFY2(helper.waitForFinished(60000), qPrintable(name));
        if (helper.exitCode() != 0)
            continue; // what the helper cannot list is the bare listing's concern
        QHash<QString, EntryDetails::Record> listed;
        for (const QByteArray &line : helper.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const std::optional<EntryDetails::Line> parsed = EntryDetails::parse(line);
            QVERIFY2(parsed, (name + QStringLiteral(": ") + QString::fromUtf8(line)).toUtf8().constData());
            listed.insert(QString::fromUtf8(parsed->name), parsed->record);
        }
        for (const QJsonValue &entryValue : archive.value(QStringLiteral("entries")).toArray()) {
            const QJsonObject entry = entryValue.toObject();
            const QString entryName = entry.value(QStringLiteral("name")).toString();
            const auto found = listed.constFind(entryName);
            QVERIFY2(found != listed.cend(), qPrintable(name + QStringLiteral(": ") + entryName));
            const QString where = name + QStringLiteral(": ") + entryName;
            QVERIFY2(found->directory == entry.value(QStringLiteral("dir")).toBool(), qPrintable(where));
            if (!found->directory && entry.value(QStringLiteral("redir")).isUndefined())
                QVERIFY2(qint64(found->size) == entry.value(QStringLiteral("size")).toInteger(), qPrintable(where));
            QVERIFY2(found->encrypted == entry.value(QStringLiteral("encrypted")).toBool(), qPrintable(where));
        }
        ++checked;
    }
    QVERIFY(checked > 40);
}

void TestMyDocument::detailsSortingAndFolderCounts()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("numbers.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("file10.txt"), QByteArray(1000, 'a')},
                               {QStringLiteral("file2.txt"), QByteArray(20, 'b')},
                               {QStringLiteral("File1.txt"), QByteArray(300, 'c')},
                               {QStringLiteral("docs/a/x.txt"), QByteArray(7, 'd')},
                               {QStringLiteral("docs/b.txt"), QByteArray(5, 'e')},
                               {QStringLiteral("docs/a/y.txt"), QByteArray(3, 'f')},
                               {QStringLiteral("empty/"), QByteArray()}}));
    auto document = std::make_unique<MyDocument>();
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QVERIFY(document->readFromFile(archive, QString()));
    document->showWindows();
    QVERIFY(details.wait(20000));
    QCOMPARE(details.at(0).at(0).toBool(), true);

    // The empty folder is a folder; "docs" holds a folder and a file.
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("file10.txt"), QStringLiteral("file2.txt"),
                                               QStringLiteral("File1.txt"), QStringLiteral("docs*"),
                                               QStringLiteral("empty*")}));
    const QList<EntryRow> &rows = document->rows();
    QCOMPARE(rows.at(0).size, 1000);
    QCOMPARE(rows.at(3).items, 2);
    QCOMPARE(rows.at(3).size, 15);
    QCOMPARE(rows.at(4).items, 0);
    QVERIFY(rows.at(0).modified > 0);
    QCOMPARE(document->statusText(),
             StringTable::format(QStringLiteral("MyDocumentStatusSize"),
                                 {StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("5")}),
                                  EntryTableModel::sizeText(1335)}));

    auto *table = document->window()->findChild<QTableView *>(QStringLiteral("listView"));
    QAbstractItemModel *model = table->model();
    QCOMPARE(model->data(model->index(3, EntryTableModel::SizeColumn)).toString(),
             StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("2")}));
    QCOMPARE(model->data(model->index(0, EntryTableModel::SizeColumn)).toString(), EntryTableModel::sizeText(1000));

    // A click on the name header: folders first, then names as people count.
    QHeaderView *header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(EntryTableModel::NameColumn) + 10, header->height() / 2));
    const QStringList byName = {QStringLiteral("docs*"), QStringLiteral("empty*"), QStringLiteral("File1.txt"),
                                QStringLiteral("file2.txt"), QStringLiteral("file10.txt")};
    const QStringList byNameDown = {QStringLiteral("empty*"), QStringLiteral("docs*"), QStringLiteral("file10.txt"),
                                    QStringLiteral("file2.txt"), QStringLiteral("File1.txt")};
    QCOMPARE(header->sortIndicatorSection(), int(EntryTableModel::NameColumn));
    QCOMPARE(rowNames(*document), header->sortIndicatorOrder() == Qt::AscendingOrder ? byName : byNameDown);
    table->sortByColumn(EntryTableModel::SizeColumn, Qt::DescendingOrder);
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("docs*"), QStringLiteral("empty*"),
                                               QStringLiteral("file10.txt"), QStringLiteral("File1.txt"),
                                               QStringLiteral("file2.txt")}));

    // The order holds inside folders; the parent row stays last.
    table->sortByColumn(EntryTableModel::NameColumn, Qt::AscendingOrder);
    document->changeLevel(0);
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("a*"), QStringLiteral("b.txt"), QStringLiteral("..")}));
    QCOMPARE(document->statusText(),
             StringTable::format(QStringLiteral("MyDocumentStatusSize"),
                                 {StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("2")}),
                                  EntryTableModel::sizeText(15)}));
}

void TestMyDocument::whereYouAreAndGoingUp()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("deep.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("top.txt"), "1"},
                               {QStringLiteral("one/two/three.txt"), "3"},
                               {QStringLiteral("one/x.txt"), "x"}}));
    auto document = open(archive);
    QVERIFY(document);
    QMainWindow *window = document->window();
    auto *table = window->findChild<QTableView *>(QStringLiteral("listView"));
    table->setFocus();
    // The details come after the rows: they fill the rows in without
    // resetting them, which would drop the row the user is on.
    QVERIFY(document->detailsRunning());
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QSignalSpy resets(table->model(), &QAbstractItemModel::modelReset);
    table->setCurrentIndex(table->model()->index(1, EntryTableModel::NameColumn));
    QVERIFY(details.wait(20000));
    QCOMPARE(resets.size(), 0);
    QCOMPARE(table->currentIndex().row(), 1);
    QCOMPARE(document->rows().at(1).items, 2);
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar"));
    document->changeLevel(int(rowNames(*document).indexOf(QStringLiteral("one*"))));
    document->changeLevel(int(rowNames(*document).indexOf(QStringLiteral("two*"))));
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar — one/two"));

    // Backspace and Alt+Up each go one level up, onto the folder just left.
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(document->prefixePath(), QStringLiteral("one"));
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar — one"));
    QCOMPARE(document->rows().at(table->currentIndex().row()).name, QStringLiteral("two"));
    QTest::keyClick(table, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(document->level(), 0);
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar"));
    // At the top there is nowhere to go.
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(document->level(), 0);
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("top.txt"), QStringLiteral("one*")}));
}

void TestMyDocument::detailsGiveWayToAnExtraction()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("Rar5.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
    auto document = open(archive);
    QVERIFY(document);
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QSignalSpy refused(document.get(), &MyDocument::commandRefused);
    // The details run starts as the listing ends; an extraction is not
    // refused for it, and the details still come once it is over.
    QVERIFY(document->detailsRunning());
    document->launchExtractionTo(folder.path());
    QCOMPARE(refused.size(), 0);
    QVERIFY(document->isRunning());
    QVERIFY(!document->detailsRunning());
    QVERIFY(waitForRun(*document, 30000));
    QCOMPARE(QFileInfo(folder.filePath(QStringLiteral("jpg/test.jpg"))).size(), 40372);
    QVERIFY(details.wait(20000));
    QCOMPARE(details.constLast().at(0).toBool(), true);
    QCOMPARE(rowNames(*document).size(), 4);
    QCOMPARE(document->rows().at(2).size, 15498);
}

void TestMyDocument::extractingSeveralItemsIntoAFolder()
{
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("photos.part01.rar")), QStringLiteral("photos"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("my.notes.rar")), QStringLiteral("my.notes"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("backup.rar.001")), QStringLiteral("backup"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("logs.tar.gz")), QStringLiteral("logs"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral(".rar")), QStringLiteral(".rar"));

    QTemporaryDir folder;
    const QString several = folder.filePath(QStringLiteral("Rar5.part1.rar"));
    QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), several));
    const QString single = folder.filePath(QStringLiteral("only.rar"));
    QVERIFY(writeRar(single, {{QStringLiteral("only/a.txt"), "a"}, {QStringLiteral("only/b.txt"), "b"}}));
    const auto listing = [&folder] {
        QStringList names = QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    };

    // Off by default: everything lands beside the archive, as it always has.
    QVERIFY(!DocumentToolbar::extractsIntoFolder());
    auto document = open(several);
    QVERIFY(document);
    QMenu menu;
    document->toolbar()->fillContextMenu(menu);
    auto *item = menu.findChild<QAction *>(QStringLiteral("extractIntoFolder"));
    QVERIFY(item && item->isCheckable() && !item->isChecked());
    item->trigger();
    QVERIFY(DocumentToolbar::extractsIntoFolder());
    const auto restore = qScopeGuard([] { DocumentToolbar::setExtractsIntoFolder(false); });

    // Several top-level items: a folder named after the archive, then
    // "(2)" when that name is taken.
    document->extractNow();
    QVERIFY(waitForRun(*document, 30000));
    document->extractNow();
    QVERIFY(waitForRun(*document, 30000));
    QCOMPARE(listing(), (QStringList{QStringLiteral("Rar5"), QStringLiteral("Rar5 (2)"),
                                     QStringLiteral("Rar5.part1.rar"), QStringLiteral("only.rar")}));
    for (const QString &made : {QStringLiteral("Rar5"), QStringLiteral("Rar5 (2)")}) {
        QCOMPARE(QFileInfo(folder.filePath(made + QStringLiteral("/jpg/test.jpg"))).size(), 40372);
        QVERIFY(QFileInfo(folder.filePath(made + QStringLiteral("/Empty"))).isDir());
    }

    // A single top-level item is extracted beside the archive.
    auto lone = open(single);
    QVERIFY(lone);
    lone->extractNow();
    QVERIFY(waitForRun(*lone, 30000));
    QCOMPARE(listing().size(), 5);
    QCOMPARE(contentsOf(folder.filePath(QStringLiteral("only/b.txt"))), QByteArray("b"));
}

void TestMyDocument::extractingTheSelection()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("picked.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("a.txt"), "a"},
                               {QStringLiteral("docs/one.txt"), "1"},
                               {QStringLiteral("docs/sub/two.txt"), "2"},
                               {QStringLiteral("docs-old/x.txt"), "x"},
                               {QStringLiteral("z.txt"), "z"}}));
    auto document = open(archive);
    QVERIFY(document);
    AlertAnswerer alerts;
    auto *table = document->window()->findChild<QTableView *>(QStringLiteral("listView"));
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs*"),
                                               QStringLiteral("docs-old*"), QStringLiteral("z.txt")}));
    const auto centreOf = [table](int row) { return table->visualRect(table->model()->index(row, 1)).center(); };

    // A folder and a file, picked with the mouse: Extract To… takes them
    // alone, the folder with everything inside it.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(3));
    QCOMPARE(document->selectedPaths(), (QStringList{QStringLiteral("docs"), QStringLiteral("z.txt")}));
    const QString chosen = folder.filePath(QStringLiteral("chosen"));
    QVERIFY(QDir().mkpath(chosen));
    MyDocument::setFolderChooserForTesting([&](QWidget *) { return chosen; });
    const auto forget = qScopeGuard([] { MyDocument::setFolderChooserForTesting(nullptr); });
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    QCOMPARE(filesBelow(chosen), (QMap<QString, QByteArray>{{QStringLiteral("docs/one.txt"), "1"},
                                                            {QStringLiteral("docs/sub/two.txt"), "2"},
                                                            {QStringLiteral("z.txt"), "z"}}));

    // Inside a folder, a row is named by its whole path.
    document->changeLevel(1);
    table->selectRow(int(rowNames(*document).indexOf(QStringLiteral("sub*"))));
    QCOMPARE(document->selectedPaths(), QStringList{QStringLiteral("docs/sub")});
    document->extractNow();
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(folder.path()).keys(),
             (QStringList{QStringLiteral("chosen/docs/one.txt"), QStringLiteral("chosen/docs/sub/two.txt"),
                          QStringLiteral("chosen/z.txt"), QStringLiteral("docs/sub/two.txt"),
                          QStringLiteral("picked.rar")}));

    // Back up, the folder left is the current row but not selected:
    // Extract is the whole archive again, as it always was.
    document->goUp();
    QCOMPARE(document->rows().at(table->currentIndex().row()).name, QStringLiteral("docs"));
    QCOMPARE(document->selectedPaths(), QStringList());
    document->extractNow();
    QVERIFY(waitForRun(*document));
    QCOMPARE(contentsOf(folder.filePath(QStringLiteral("docs-old/x.txt"))), QByteArray("x"));
    QCOMPARE(contentsOf(folder.filePath(QStringLiteral("a.txt"))), QByteArray("a"));
    QCOMPARE(alerts.texts, QStringList());

    // Everything selected, at the top and inside a folder, is everything
    // there, whatever way it is asked for.
    table->selectAll();
    const QString all = folder.filePath(QStringLiteral("all"));
    QVERIFY(QDir().mkpath(all));
    document->launchExtractionTo(all, document->selectedPaths());
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(all).size(), 5);
    document->changeLevel(1);
    table->selectAll();
    const QString inside = folder.filePath(QStringLiteral("inside"));
    QVERIFY(QDir().mkpath(inside));
    document->launchExtractionTo(inside, document->selectedPaths());
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(inside).keys(),
             (QStringList{QStringLiteral("docs/one.txt"), QStringLiteral("docs/sub/two.txt")}));
    document->goUp();
    QCOMPARE(alerts.texts, QStringList());

    // An entry the archive does not hold is a failure, not an empty success.
    document->launchExtractionTo(chosen, {QStringLiteral("docs/none.txt")});
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{StringTable::text(QStringLiteral("MyDocument1"))});

    // Shift+F10 opens the table's menu, which holds the commands and the
    // toolbar's own settings, so that a keyboard reaches them all.
    QStringList items;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *action : menu->actions())
                items << (action->objectName().isEmpty() ? action->text() : action->objectName());
            menu->close();
        }
    });
    closer.start(20);
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY2(items.contains(QStringLiteral("openEntry")) && items.contains(QStringLiteral("extractIntoFolder"))
                 && items.contains(StringTable::text(QStringLiteral("MyDocument7")))
                 && items.contains(StringTable::text(QStringLiteral("MyDocument12"))),
             qPrintable(items.join(QLatin1Char('|'))));
}

void TestMyDocument::openingAFileWithTheDesktop()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("open.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("notes.txt"), "first notes"},
                               {QStringLiteral("dir/notes.txt"), "inner notes"},
                               {QStringLiteral("other.txt"), "not this one"}}));
    auto document = open(archive);
    QVERIFY(document);
    AlertAnswerer alerts;
    auto *table = document->window()->findChild<QTableView *>(QStringLiteral("listView"));
    const auto centreOf = [table](int row) { return table->visualRect(table->model()->index(row, 1)).center(); };

    // A double-click on a file extracts it alone, out of sight, and hands
    // it to the desktop; no progress window flashes by.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(0));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centreOf(0));
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QVERIFY(!document->progressWindow()->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    const QString temporary = document->temporaryFolder();
    QVERIFY(!temporary.isEmpty());
    QCOMPARE(m_opened.urls.size(), 1);
    QVERIFY(m_opened.urls.at(0).toLocalFile().startsWith(temporary + QLatin1Char('/')));
    QCOMPARE(m_opened.contents, QList<QByteArray>{"first notes"});
    QCOMPARE(filesBelow(temporary).size(), 1);

    // A folder still opens in the window; Return opens the file of the
    // same name in there, beside the first one, not over it.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    QCOMPARE(document->prefixePath(), QStringLiteral("dir"));
    QVERIFY(!document->isRunning());
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QVERIFY(waitForRun(*document));
    QCOMPARE(m_opened.urls.size(), 2);
    QCOMPARE(m_opened.contents.at(1), QByteArray("inner notes"));
    QVERIFY(m_opened.urls.at(1) != m_opened.urls.at(0));
    QCOMPARE(contentsOf(m_opened.urls.at(0).toLocalFile()), QByteArray("first notes"));

    // The extracted files go with the window.
    document->window()->close();
    QVERIFY(!QFileInfo::exists(temporary));

    // A protected file asks for the password as an extraction does.
    QFile secret(folder.filePath(QStringLiteral("secret.txt")));
    QVERIFY(secret.open(QIODevice::WriteOnly));
    secret.write("behind the clock\n");
    secret.close();
    QProcess zip;
    zip.setWorkingDirectory(folder.path());
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("right"),
                                      QStringLiteral("locked.zip"), QStringLiteral("secret.txt")});
    QVERIFY(zip.waitForFinished() && zip.exitCode() == 0);
    auto locked = open(folder.filePath(QStringLiteral("locked.zip")));
    QVERIFY(locked);
    locked->activateRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(locked->passwordWindow()->isVisible(), 10000);
    locked->passwordWindow()->passwordField()->setText(QStringLiteral("right"));
    locked->validatePassword();
    QVERIFY(waitForRun(*locked));
    QCOMPARE(alerts.texts, QStringList());
    QCOMPARE(m_opened.contents.size(), 3);
    QCOMPARE(m_opened.contents.at(2), QByteArray("behind the clock\n"));
}

void TestMyDocument::draggingOutAndDroppingIn()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("drag.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("a.txt"), "a"},
                               {QStringLiteral("docs/one.txt"), "1"},
                               {QStringLiteral("b.txt"), "b"}}));
    auto document = open(archive);
    QVERIFY(document);
    AlertAnswerer alerts;
    auto *table = document->window()->findChild<QTableView *>(QStringLiteral("listView"));
    QMimeData dragged;
    int drags = 0;
    MyDocument::setDragRunnerForTesting([&](QDrag *drag) {
        ++drags;
        dragged.setUrls(drag->mimeData()->urls());
    });
    const auto forget = qScopeGuard([] { MyDocument::setDragRunnerForTesting(nullptr); });

    // Two rows picked, then dragged from one of them with the button held.
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(1, 1),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QPoint from = table->visualRect(table->model()->index(0, 1)).center();
    const QPoint to = from + QPoint(QApplication::startDragDistance() * 3, 30);
    QMouseEvent press(QEvent::MouseButtonPress, from, table->viewport()->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &press);
    // The view takes a first move for the start of a drag, a further one
    // past the drag distance for the drag itself.
    for (const QPoint &at : {from + QPoint(1, 1), to}) {
        QMouseEvent move(QEvent::MouseMove, at, table->viewport()->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &move);
    }
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    QCOMPARE(drags, 1);
    // The receiver gets the files themselves, already whole on disk.
    QVERIFY(dragged.hasFormat(QStringLiteral("text/uri-list")));
    const QList<QUrl> urls = dragged.urls();
    QCOMPARE(urls.size(), 2);
    QCOMPARE(urls.at(0).fileName(), QStringLiteral("a.txt"));
    QCOMPARE(urls.at(1).fileName(), QStringLiteral("docs"));
    QCOMPARE(contentsOf(urls.at(0).toLocalFile()), QByteArray("a"));
    QCOMPARE(filesBelow(urls.at(1).toLocalFile()), (QMap<QString, QByteArray>{{QStringLiteral("one.txt"), "1"}}));
    QVERIFY(urls.at(0).toLocalFile().startsWith(document->temporaryFolder() + QLatin1Char('/')));
    QVERIFY(!filesBelow(document->temporaryFolder()).contains(QStringLiteral("b.txt")));
    QMouseEvent release(QEvent::MouseButtonRelease, to, table->viewport()->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &release);

    // Archive files dropped on the window are handed on to be opened;
    // links and folders are refused.
    QSignalSpy wanted(document.get(), &MyDocument::openWanted);
    QMainWindow *window = document->window();
    const auto offer = [window](const QList<QUrl> &offered) {
        QMimeData data;
        data.setUrls(offered);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        return drop.isAccepted();
    };
    const QString other = folder.filePath(QStringLiteral("other.rar"));
    QVERIFY(QFile::copy(archive, other));
    QVERIFY(!offer({QUrl(QStringLiteral("https://example.invalid/x.rar"))}));
    QVERIFY(!offer({QUrl::fromLocalFile(folder.path())}));
    QVERIFY(offer({QUrl::fromLocalFile(other)}));
    QTRY_COMPARE(wanted.size(), 1);
    QCOMPARE(wanted.at(0).at(0).toStringList(), QStringList{other});
}

QTEST_MAIN(TestMyDocument)
#include "tst_mydocument.moc"
