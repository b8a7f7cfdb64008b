// The document driving the real unrar helper on real archives: listing,
// extraction, passwords, selection, opening, drag and drop, Trash, alerts.
#include "DocumentTestTools.h"
#include "DocumentToolbar.h"
#include "EntryDetails.h"
#include "EntryTableModel.h"
#include "PasswordWindow.h"
#include "ProcessProbes.h"
#include "ProgressWindow.h"
#include "ResourceLocator.h"
#include "StringTable.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QDragEnterEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <csignal>
#include <zlib.h>

#ifdef __SANITIZE_ADDRESS__
// Freed memory is overwritten: Qt is not instrumented, so a read of a freed
// object from inside Qt (a signal emitted on a freed process) then fails
// here instead of reading what the object held.
extern "C" const char *__asan_default_options()
{
    return "max_free_fill_size=1048576:free_fill_byte=170";
}
#endif

using namespace DocumentTestTools;

namespace {
QString fixture(const char *name)
{
    return QStringLiteral(VORLO_FIXTURES_DIR "/rar/") + QString::fromUtf8(name);
}

const QString rar5 = fixture("sharpcompress/Rar5.rar");
const QString cyrillicTxt = QStringLiteral("\u0442\u0435\u0441\u0442.txt");

QStringList rowNames(const MyDocument &document)
{
    QStringList names;
    for (const EntryRow &row : document.rows())
        names << (row.kind == EntryRow::Kind::Folder ? row.name + QLatin1Char('*') : row.name);
    return names;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
           && file.write(contents) == contents.size();
}

using Files = QMap<QString, QByteArray>;

// The files below `folder` with their contents, by relative path.
Files filesBelow(const QString &folder)
{
    Files files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), contentsOf(path));
    }
    return files;
}

// Whether `folder` holds the three files of the sharpcompress set, whole by
// their CRC-32, its empty folder, and nothing else but archives.
bool holdsTheSharpFiles(const QString &folder)
{
    Files files = filesBelow(folder);
    for (const auto &[path, crc] : QList<std::pair<QString, quint32>>{
             {"exe/test.exe", 3484486088u}, {"jpg/test.jpg", 143135971u}, {cyrillicTxt, 2614190330u}}) {
        const QByteArray data = files.take(path);
        if (crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())) != crc)
            return false;
    }
    const QStringList rest = files.keys();
    return QFileInfo(folder + "/Empty").isDir()
           && std::all_of(rest.cbegin(), rest.cend(), [](const QString &name) { return name.endsWith(".rar"); });
}

// Types `password` into the password window once it shows, and confirms it.
bool answer(PasswordWindow *window, const QString &password)
{
    if (!QTest::qWaitFor([window] { return window->isVisible(); }, 15000))
        return false;
    window->passwordField()->setText(password);
    QTest::keyClick(window->passwordField(), Qt::Key_Return);
    return !window->isVisible();
}

QTableView *tableOf(const MyDocument &document)
{
    return document.window()->findChild<QTableView *>("listView");
}

void doubleClickRow(QTableView *table, int row)
{
    const QPoint centre = table->visualRect(table->model()->index(row, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centre);
}

void trigger(MyDocument &document, const char *item)
{
    document.toolbar()->itemAction(QString::fromLatin1(item))->trigger();
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
} // namespace

class TestMyDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void extractsBesideTheArchiveOrIntoAChosenFolder();
    void stopsALargeExtraction();
    void listingPasswordDialogue_data();
    void listingPasswordDialogue();
    void encryptedDataExtractsVerified_data();
    void encryptedDataExtractsVerified();
    void namesHoldingTheHelpersWordsOrShellText();
    void unreadableArchivesAlertAndHide_data();
    void unreadableArchivesAlertAndHide();
    void documentReleasedDuringTheFailureAlert();
    void missingHelperIsReported();
    void trashHidesTheWindowAndKeepsTheDocument();
    void technicalListingMatchesTheManifest();
    void detailsSortingAndNavigation();
    void extractingTheSelection();
    void openingAndDraggingOutExtractFirst();

private:
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
    QDesktopServices::setUrlHandler("file", &m_opened, "openFile");
    m_helper = ResourceLocator::find("unrar");
    if (m_helper.isEmpty())
        QSKIP("the unrar helper is not built");
    if (!QFile::exists(rar5))
        QSKIP("the third-party fixture archives are not beside the project");
}

void TestMyDocument::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("file");
}

void TestMyDocument::init()
{
    m_opened.urls.clear();
    m_opened.contents.clear();
    ResourceLocator::setSearchPathsForTesting({});
}

void TestMyDocument::extractsBesideTheArchiveOrIntoAChosenFolder()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath("a.part1.rar");
    QVERIFY(QFile::copy(rar5, archive));
    // An old file of the same name is overwritten without a question.
    QVERIFY(writeFile(folder.filePath("jpg/test.jpg"), "stale"));

    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->window()->windowTitle(), "a.part1.rar");
    QCOMPARE(rowNames(*document), (QStringList{"exe*", "jpg*", cyrillicTxt, "Empty"}));
    QCOMPARE(document->statusText(), StringTable::format("MyDocument4", {"4"}));
    AlertAnswerer alerts;
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QSignalSpy refused(document.get(), &MyDocument::commandRefused);
    QSignalSpy resets(tableOf(*document)->model(), &QAbstractItemModel::modelAboutToBeReset);

    // Extract, while the details run that starts as the listing ends: not
    // refused for it, and the details still come once it is over.
    QVERIFY(document->detailsRunning());
    trigger(*document, "ExtractItem");
    QCOMPARE(refused.size(), 0);
    QVERIFY(document->progressWindow() && document->progressWindow()->isVisible());
    QCOMPARE(document->progressWindow()->windowModality(), Qt::WindowModal);
    QVERIFY(waitForRun(*document, 30000));
    QVERIFY(!document->progressWindow()->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(holdsTheSharpFiles(folder.path()));
    QVERIFY(details.wait(20000));
    QCOMPARE(details.constLast().at(0).toBool(), true);
    // Only the details tell an empty folder from a file; the row changes
    // in place, the table is not reset (the selection would go with it).
    QCOMPARE(rowNames(*document), (QStringList{"exe*", "jpg*", cyrillicTxt, "Empty*"}));
    QCOMPARE(resets.size(), 0);
    QCOMPARE(document->rows().at(2).size, 15498);
    QCOMPARE(document->rows().at(3).items, 0);

    // Extract To: the chooser's cancel starts nothing; a chosen folder is used.
    QStringList asked;
    QString chosen;
    MyDocument::setFolderChooserForTesting([&](QWidget *window) {
        asked << window->windowTitle();
        return chosen;
    });
    const auto forget = qScopeGuard([] { MyDocument::setFolderChooserForTesting(nullptr); });
    trigger(*document, "ExtractItemTo");
    QCOMPARE(asked, QStringList{"a.part1.rar"});
    QVERIFY(!document->isRunning());
    QTemporaryDir other;
    chosen = other.path() + '/';
    trigger(*document, "ExtractItemTo");
    QVERIFY(waitForRun(*document));
    QVERIFY(holdsTheSharpFiles(other.path()));
    QCOMPARE(alerts.texts, QStringList());

    // Gathering several top-level items in a new folder, a setting off by
    // default: named after the archive without its volume suffix, then
    // "(2)" when that name is taken. A single top-level item still lands
    // beside its archive.
    QVERIFY(!DocumentToolbar::extractsIntoFolder());
    DocumentToolbar::setExtractsIntoFolder(true);
    const auto restore = qScopeGuard([] { DocumentToolbar::setExtractsIntoFolder(false); });
    for (int run = 0; run < 2; ++run) {
        document->extractNow();
        QVERIFY(waitForRun(*document, 30000));
    }
    QVERIFY(holdsTheSharpFiles(folder.filePath("a")));
    QVERIFY(holdsTheSharpFiles(folder.filePath("a (2)")));
    auto lone = open(writeRar(other, "only.rar", {{"only/a.txt", "a"}, {"only/b.txt", "b"}}));
    QVERIFY(lone);
    lone->extractNow();
    QVERIFY(waitForRun(*lone, 30000));
    QCOMPARE(contentsOf(other.filePath("only/b.txt")), "b");
    QCOMPARE(alerts.texts, QStringList());

    // Close only hides the window.
    trigger(*document, "CloseItem");
    QVERIFY(!document->window()->isVisible());
    QCOMPARE(rowNames(*document).size(), 4);
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
    auto *entryLabel = progress->findChild<QLabel *>("entryLabel");
    QTRY_COMPARE(entryLabel->text(), "large.bin");
    const int width = progress->width();
    progress->showEntry("first/" + QString(400, u'x') + "/<b>last</b>.bin");
    const QString shown = entryLabel->text();
    QVERIFY2(shown.startsWith("first/") && shown.endsWith("/<b>last</b>.bin") && shown.contains(u'\u2026'),
             qPrintable(shown));
    QCOMPARE(entryLabel->textFormat(), Qt::PlainText);
    QCOMPARE(progress->width(), width);

    QTest::mouseClick(progress->findChild<QPushButton *>("stopButton"), Qt::LeftButton);
    ::kill(pid_t(helper), SIGCONT);
    QVERIFY(document->hasBeenStoped());
    QVERIFY(progress->isVisible()); // until the output ends
    QVERIFY(waitForRun(*document, 10000));
    QVERIFY(!progress->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    // Nothing of the stopped file is left, under either name.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestMyDocument::listingPasswordDialogue_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QStringList>("answers"); // none: Escape
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("alert");
    const QString rar4 = fixture("libarchive/test_read_format_rar_encryption_header.rar");
    const QString hidden5 = fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar");
    QTest::newRow("RAR 5") << hidden5 << QStringList{"not it", "test"}
                           << QStringList{"Empty", "exe", "exe/test.exe", "jpg", "jpg/test.jpg", cyrillicTxt} << "";
    QTest::newRow("refused three times") << rar4 << QStringList{"not it", "wrong", "wrong again"} << QStringList()
                                         << "MyDocumentPassword1";
    QTest::newRow("cancelled") << hidden5 << QStringList() << QStringList() << "";
}

void TestMyDocument::listingPasswordDialogue()
{
    QFETCH(QString, archive);
    QFETCH(QStringList, answers);
    QFETCH(QString, alert);
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(archive, QString()));
    document.showWindows();
    // The window asks during the listing, with nothing blocked, again after
    // a wrong answer, and then says that the answer was wrong, the refused
    // text selected.
    PasswordWindow *window = document.passwordWindow();
    QVERIFY(QTest::qWaitFor([window] { return window->isVisible(); }, 15000));
    QCOMPARE(window->message(), StringTable::text("MyDocumentWindow1"));
    QVERIFY(document.window()->isEnabled());
    for (qsizetype i = 0; i < answers.size(); ++i) {
        if (i > 0) {
            QVERIFY(QTest::qWaitFor([window] { return window->isVisible(); }, 15000));
            QCOMPARE(window->message(), StringTable::format("MyDocumentWrongPassword", {QFileInfo(archive).fileName()}));
            QCOMPARE(window->passwordField()->selectedText(), answers.at(i - 1));
        }
        QVERIFY(answer(window, answers.at(i)));
    }
    if (answers.isEmpty())
        QTest::keyClick(window->passwordField(), Qt::Key_Escape);
    QVERIFY(finished.wait(20000));
    QCOMPARE(document.hasBeenStoped(), answers.isEmpty());
    QVERIFY(!window->isVisible());
    // Nothing of the dialogue became an entry, not even the end of its line.
    QStringList listed = document.entries();
    QVERIFY(listed.isEmpty() || !listed.constFirst().isEmpty());
    listed.removeAll(QString());
    listed.sort();
    QTEST(listed, "entries");
    if (alert.isEmpty()) {
        QCOMPARE(alerts.size(), 0);
        QVERIFY(document.window()->isVisible());
        return;
    }
    // Refused for good: said, not left as an empty window; the window goes
    // with the alert.
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).at(0).toString(), alert);
    auto *sheet = document.window()->findChild<QMessageBox *>();
    QVERIFY(sheet && sheet->isVisible());
    sheet->accept();
    QTRY_VERIFY(!document.window()->isVisible());
}

void TestMyDocument::encryptedDataExtractsVerified_data()
{
    QTest::addColumn<QString>("archive");
    QTest::newRow("RAR 4") << fixture("sharpcompress/Rar.encrypted_filesOnly.rar");
    QTest::newRow("RAR 5") << fixture("sharpcompress/Rar5.encrypted_filesOnly.rar");
    QTest::newRow("RAR 5, names hidden") << fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar");
}

void TestMyDocument::encryptedDataExtractsVerified()
{
    QFETCH(QString, archive);
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(archive, QString()));
    document.showWindows();
    PasswordWindow *window = document.passwordWindow();
    if (archive.contains("AndHeader"))
        QVERIFY(answer(window, "test"));
    QVERIFY(finished.wait(20000));
    QVERIFY(!document.rows().isEmpty());
    window->passwordField()->clear();

    AlertAnswerer alerts;
    QTemporaryDir out;
    document.launchExtractionTo(out.path());
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
    QVERIFY(!window->isModal());
    // Typed as a user types: through the window system, where the progress
    // sheet that covers the document window must not block the password.
    QWindow *handle = window->windowHandle();
    QVERIFY(handle);
    for (const char key : {'w', 'r', 'o', 'n', 'g'})
        QTest::keyClick(handle, key);
    QCOMPARE(window->passwordField()->text(), "wrong");
    QTest::keyClick(handle, Qt::Key_Return);
    QVERIFY(!window->isVisible());
    // The helper asks again: the text still in the field is sent once more by
    // itself, and the prompt after that opens the window with an empty field.
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
    QVERIFY(window->passwordField()->text().isEmpty());
    QCOMPARE(window->message(), StringTable::format("MyDocumentWrongPassword", {QFileInfo(archive).fileName()}));
    QVERIFY(document.progressWindow()->isVisible());
    window->passwordField()->setText("test");
    QPushButton *ok = window->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QTest::mouseClick(handle, Qt::LeftButton, {}, ok->mapTo(window, ok->rect().center()));
    QVERIFY(waitForRun(document, 30000));
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(!document.progressWindow()->isVisible());
    QVERIFY(holdsTheSharpFiles(out.path()));

    // The next extraction sends the remembered password without asking, once.
    QTemporaryDir again;
    document.launchExtractionTo(again.path());
    QVERIFY(waitForRun(document, 30000));
    QVERIFY(window->passwordField()->text().isEmpty());
    QVERIFY(holdsTheSharpFiles(again.path()));
    // Confirming after the helper has gone writes nowhere and breaks nothing.
    window->show();
    document.validatePassword();
    QVERIFY(!window->isVisible());

    // Escape at the prompt stops the run quietly, nothing half-written left.
    QTemporaryDir cancelled;
    document.launchExtractionTo(cancelled.path());
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
    QTest::keyClick(window->passwordField(), Qt::Key_Escape);
    QVERIFY(waitForRun(document, 10000));
    QVERIFY(document.hasBeenStoped());
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(!document.progressWindow()->isVisible() && !window->isVisible());
    QCOMPARE(filesBelow(cancelled.path()), Files());
}

void TestMyDocument::namesHoldingTheHelpersWordsOrShellText()
{
    // The helper's success, damage and prompt texts as entry names, and in
    // the archive's own name with text a shell would act on: listed and
    // extracted as they are, nothing run, and a failed extraction that
    // prints them is still a failure.
    const QList<std::pair<QString, QByteArray>> files = {
        {"***All OK****", "one"},
        {"Unexpected end of archive", "two"},
        {"Unexpected end of archive.txt", "three"},
        {"How to Enter Password.txt", "four"},
        {"The specified password is incorrect.", "five"},
        {"Enter password (will not be echoed) for x.rar: ", "six"},
        {"dir/***All OK****", "seven"},
    };
    QTemporaryDir folder;
    const char *name = "***All OK**** Unexpected end of archive Enter password -x \"q\" 'a' "
                       "$(touch pwned) `touch pwned` \\ $HOME;&*?[a]\n\xc3\xa9t\xc3\xa9.rar";
    auto document = open(writeRar(folder, name, files));
    QVERIFY(document);
    QCOMPARE(document->window()->windowTitle(), name);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    QStringList expected = {"dir*"};
    for (const auto &file : files.first(6))
        expected << file.first;
    QStringList names = rowNames(*document);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);

    document->launchExtractionTo(folder.path());
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    for (const auto &[path, contents] : files)
        QCOMPARE(contentsOf(folder.filePath(path)), contents);

    // A file in the way of "dir": the helper fails after printing every name.
    QVERIFY(writeFile(folder.filePath("blocked/dir"), {}));
    document->launchExtractionTo(folder.filePath("blocked"));
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{StringTable::text("MyDocument1")});
    QCOMPARE(shown.size(), 1);
    QVERIFY(document->window()->isVisible() && !document->progressWindow()->isVisible());
    QCOMPARE(rowNames(*document).size(), expected.size());
    QVERIFY(!QFile::exists(folder.filePath("pwned")) && !QFile::exists("pwned"));
}

void TestMyDocument::unreadableArchivesAlertAndHide_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("alert");
    QByteArray damaged = contentsOf(rar5);
    damaged[12] = char(damaged[12] ^ 0x55); // in the main header: its checksum fails
    QTest::newRow("damaged") << damaged << "MyDocument23";
    QTest::newRow("not an archive") << QByteArray("not an archive\n").repeated(200) << "MyDocumentUnreadable1";
}

void TestMyDocument::unreadableArchivesAlertAndHide()
{
    QFETCH(QByteArray, contents);
    QTemporaryDir folder;
    QVERIFY(writeFile(folder.filePath("x.rar"), contents));
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    document.readFromFile(folder.filePath("x.rar"), QString());
    document.showWindows();
    QVERIFY(finished.wait(20000));
    QTRY_COMPARE(alerts.size(), 1);
    QTEST(alerts.at(0).at(0).toString(), "alert");
    // The helper's error lines are no entries.
    QCOMPARE(document.entries(), QStringList());
    QVERIFY(document.rows().isEmpty());
    // A sheet over its window, which goes with it.
    auto *sheet = document.window()->findChild<QMessageBox *>();
    QVERIFY(sheet && sheet->isVisible());
    QVERIFY(document.window()->frameGeometry().contains(sheet->frameGeometry().center()));
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    sheet->accept();
    QTRY_VERIFY(!document.window()->isVisible());
}

void TestMyDocument::documentReleasedDuringTheFailureAlert()
{
    // The document is released while its failure alert waits for its OK,
    // its window closed first or not (as when Vorlo quits): nothing of the
    // document or of its helper's process may be used after it is freed (the
    // sanitizer build reports it). The real helper fails on a destination
    // that is no folder; a stand-in fails at once.
    QTemporaryDir folder;
    const QString notAFolder = folder.filePath("a.rar");
    QVERIFY(QFile::copy(rar5, notAFolder));
    QFile fake(folder.filePath("unrar"));
    QVERIFY(writeFile(fake.fileName(), "#!/bin/sh\n[ \"$1\" = vb ] && { echo a.txt; exit 0; }\nexit 3\n"));
    QVERIFY(fake.setPermissions(fake.permissions() | QFileDevice::ExeOwner));
    for (const QStringList &helperPaths : {QStringList(), QStringList{folder.path()}}) {
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
    // Missing or not a program: the same alert, as a sheet
    // once the window is on screen, and no progress window left behind.
    QTemporaryDir empty;
    ResourceLocator::setSearchPathsForTesting({empty.path()});
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(rar5, QString()));
    document.showWindows();
    QVERIFY(finished.wait(5000));
    QTRY_COMPARE(alerts.size(), 1);

    QFile broken(empty.filePath("unrar"));
    QVERIFY(writeFile(broken.fileName(), "not a program"));
    QVERIFY(broken.setPermissions(broken.permissions() | QFileDevice::ExeOwner));
    AlertAnswerer answerer;
    document.launchExtractionTo(empty.path());
    QVERIFY(waitForRun(document, 5000));
    QCOMPARE(alerts.size(), 2);
    for (const QList<QVariant> &alert : alerts)
        QCOMPARE(alert.at(0).toString(), "MyDocumentHelper1");
    QVERIFY(!document.progressWindow() || !document.progressWindow()->isVisible());
}

void TestMyDocument::trashHidesTheWindowAndKeepsTheDocument()
{
    QTemporaryDir folder;
    // A data folder that does not exist yet.
    const QString dataHome = folder.filePath("home/.local/share");
    const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dataHome.toUtf8());
    auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", savedDataHome); });

    const QString archive = folder.filePath("to be trashed.rar");
    QVERIFY(QFile::copy(rar5, archive));
    auto document = open(archive);
    QVERIFY(document);
    QSignalSpy refused(document.get(), &MyDocument::commandRefused);
    QSignalSpy closed(document.get(), &MyDocument::documentClosed);
    trigger(*document, "placerDansLaCorbeille");
    QCOMPARE(refused.size(), 0);
    QVERIFY(!QFile::exists(archive));
    QCOMPARE(contentsOf(dataHome + "/Trash/files/to be trashed.rar"), contentsOf(rar5));
    QVERIFY(!QFile::exists("files/to be trashed.rar"));
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
    QFile manifest(VORLO_FIXTURES_DIR "/manifest.json");
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    int checked = 0;
    for (const QJsonValue &value : QJsonDocument::fromJson(manifest.readAll()).array()) {
        const QJsonObject archive = value.toObject();
        if (!archive.value("damaged").isNull())
            continue;
        const QString name = archive.value("archive").toString();
        QStringList arguments = {"vt", VORLO_FIXTURES_DIR "/" + name};
        if (archive.value("password").isString())
            arguments << "-p" + archive.value("password").toString();
        QProcess helper;
        helper.setStandardInputFile(QProcess::nullDevice());
        helper.start(m_helper, arguments);
        QVERIFY2(helper.waitForFinished(60000), qPrintable(name));
        if (helper.exitCode() != 0)
            continue; // what the helper cannot list is the bare listing's concern
        QHash<QString, EntryDetails::Record> listed;
        for (const QByteArray &line : helper.readAllStandardOutput().split('\n')) {
            const std::optional<EntryDetails::Line> parsed = EntryDetails::parse(line);
            QVERIFY2(line.isEmpty() || parsed, qPrintable(name + ": " + QString::fromUtf8(line)));
            if (parsed)
                listed.insert(QString::fromUtf8(parsed->name), parsed->record);
        }
        for (const QJsonValue &entryValue : archive.value("entries").toArray()) {
            const QJsonObject entry = entryValue.toObject();
            const QString where = name + ": " + entry.value("name").toString();
            const auto found = listed.constFind(entry.value("name").toString());
            QVERIFY2(found != listed.cend() && found->directory == entry.value("dir").toBool()
                         && found->encrypted == entry.value("encrypted").toBool()
                         && (found->directory || !entry.value("redir").isUndefined()
                             || qint64(found->size) == entry.value("size").toInteger()),
                     qPrintable(where));
        }
        ++checked;
    }
    QVERIFY(checked > 40);
}

void TestMyDocument::detailsSortingAndNavigation()
{
    QTemporaryDir folder;
    auto document = open(writeRar(folder, "numbers.rar",
                                  {{"file10.txt", QByteArray(1000, 'a')}, {"file2.txt", QByteArray(20, 'b')},
                                   {"File1.txt", QByteArray(300, 'c')}, {"docs/a/x.txt", QByteArray(7, 'd')},
                                   {"docs/b.txt", QByteArray(5, 'e')}, {"docs/a/y.txt", QByteArray(3, 'f')}}));
    QVERIFY(document);
    QTableView *table = tableOf(*document);
    table->setFocus();
    // The details come after the rows: they fill the rows in without
    // resetting them, which would drop the row the user is on.
    QVERIFY(document->detailsRunning());
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QSignalSpy resets(table->model(), &QAbstractItemModel::modelReset);
    table->setCurrentIndex(table->model()->index(3, 1));
    QVERIFY(details.wait(20000));
    QCOMPARE(details.at(0).at(0).toBool(), true);
    QCOMPARE(resets.size(), 0);
    QCOMPARE(table->currentIndex().row(), 3);
    // "docs" holds a folder and a file.
    const QList<EntryRow> &rows = document->rows();
    QCOMPARE(rowNames(*document), (QStringList{"file10.txt", "file2.txt", "File1.txt", "docs*"}));
    QCOMPARE(rows.at(0).size, 1000);
    QCOMPARE(rows.at(3).items, 2);
    QCOMPARE(rows.at(3).size, 15);

    // Folders first, then names as people count; by size, folders by theirs.
    table->sortByColumn(EntryTableModel::SizeColumn, Qt::DescendingOrder);
    QCOMPARE(rowNames(*document), (QStringList{"docs*", "file10.txt", "File1.txt", "file2.txt"}));
    table->sortByColumn(EntryTableModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(rowNames(*document), (QStringList{"docs*", "File1.txt", "file2.txt", "file10.txt"}));

    // Down by Return, the path in the title; the order holds inside
    // folders, the parent row last. Backspace, Alt+Up and Return on ".."
    // each go one level up, onto the folder just left.
    const auto title = [&document] { return document->window()->windowTitle(); };
    const auto current = [&] { return document->rows().value(table->currentIndex().row()).name; };
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(rowNames(*document), (QStringList{"a*", "b.txt", ".."}));
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(title(), "numbers.rar — docs/a");
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(title(), "numbers.rar — docs");
    QCOMPARE(current(), "a");
    QTest::keyClick(table, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(title(), "numbers.rar");
    QCOMPARE(current(), "docs");
    QTest::keyClick(table, Qt::Key_Return);
    table->setCurrentIndex(table->model()->index(2, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(current(), "docs");
    // At the top there is nowhere to go.
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(document->level(), 0);
    QCOMPARE(rowNames(*document).size(), 4);
}

void TestMyDocument::extractingTheSelection()
{
    QTemporaryDir folder;
    auto document = open(writeRar(folder, "picked.rar",
                                  {{"a.txt", "a"}, {"docs/one.txt", "1"}, {"docs/sub/two.txt", "2"},
                                   {"docs-old/x.txt", "x"}, {"z.txt", "z"}}));
    QVERIFY(document);
    AlertAnswerer alerts;
    QTableView *table = tableOf(*document);
    QCOMPARE(rowNames(*document), (QStringList{"a.txt", "docs*", "docs-old*", "z.txt"}));
    const auto centreOf = [table](int row) { return table->visualRect(table->model()->index(row, 1)).center(); };

    // A folder and a file, picked with the mouse: Extract To… takes them
    // alone, the folder with everything inside it (never "docs-old").
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(3));
    const QString chosen = folder.filePath("chosen");
    QVERIFY(QDir().mkpath(chosen));
    MyDocument::setFolderChooserForTesting([&](QWidget *) { return chosen; });
    const auto forget = qScopeGuard([] { MyDocument::setFolderChooserForTesting(nullptr); });
    trigger(*document, "ExtractItemTo");
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(chosen), (Files{{"docs/one.txt", "1"}, {"docs/sub/two.txt", "2"}, {"z.txt", "z"}}));

    // Inside a folder, a row is named by its whole path, and everything
    // selected there is that folder.
    document->changeLevel(1);
    table->selectRow(int(rowNames(*document).indexOf("sub*")));
    document->extractNow();
    QVERIFY(waitForRun(*document));
    QCOMPARE(contentsOf(folder.filePath("docs/sub/two.txt")), "2");
    QVERIFY(!QFile::exists(folder.filePath("docs/one.txt")));
    table->selectAll();
    document->launchExtractionTo(chosen + "/all", document->selectedPaths());
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(chosen + "/all").keys(), (QStringList{"docs/one.txt", "docs/sub/two.txt"}));

    // Back up, the folder left is the current row but not selected:
    // Extract is the whole archive again, as it always was.
    document->goUp();
    QCOMPARE(document->rows().at(table->currentIndex().row()).name, "docs");
    QCOMPARE(document->selectedPaths(), QStringList());
    document->extractNow();
    QVERIFY(waitForRun(*document));
    QCOMPARE(contentsOf(folder.filePath("docs-old/x.txt")), "x");
    QCOMPARE(contentsOf(folder.filePath("docs/one.txt")), "1");
    QCOMPARE(alerts.texts, QStringList());

    // An entry the archive does not hold is a failure, not an empty success.
    document->launchExtractionTo(chosen, {"docs/none.txt"});
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{StringTable::text("MyDocument1")});

}

void TestMyDocument::openingAndDraggingOutExtractFirst()
{
    QTemporaryDir folder;
    const QString archive = writeRar(folder, "open.rar", {{"notes.txt", "first notes"}, {"dir/notes.txt", "inner notes"},
                                                          {"other.txt", "not this one"}});
    auto document = open(archive);
    QVERIFY(document);
    AlertAnswerer alerts;
    QTableView *table = tableOf(*document);

    // A double-click on a file extracts it alone, out of sight, and hands
    // it to the desktop; no progress window flashes by.
    doubleClickRow(table, 0);
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QVERIFY(!document->progressWindow()->isVisible());
    const QString temporary = document->temporaryFolder();
    QCOMPARE(m_opened.urls.size(), 1);
    QVERIFY(!temporary.isEmpty() && m_opened.urls.at(0).toLocalFile().startsWith(temporary + '/'));
    QCOMPARE(m_opened.contents, QList<QByteArray>{"first notes"});

    // Two rows dragged with the button held (the view takes a first move for
    // the start of a drag, a further one past the drag distance for the
    // drag): the receiver gets the files themselves, already whole on disk.
    QList<QUrl> dragged;
    int drags = 0;
    MyDocument::setDragRunnerForTesting([&](QDrag *drag) {
        ++drags;
        dragged = drag->mimeData()->urls();
    });
    const auto forget = qScopeGuard([] { MyDocument::setDragRunnerForTesting(nullptr); });
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(1, 1), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QPoint from = table->visualRect(table->model()->index(0, 1)).center();
    const QPoint to = from + QPoint(QApplication::startDragDistance() * 3, 30);
    const auto send = [table](QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, at, table->viewport()->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(table->viewport(), &event);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, from + QPoint(1, 1), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    QVERIFY(waitForRun(*document));
    send(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(drags, 1);
    QCOMPARE(dragged.size(), 2);
    QCOMPARE(contentsOf(dragged.at(0).toLocalFile()), "first notes");
    QCOMPARE(filesBelow(dragged.at(1).toLocalFile()), (Files{{"notes.txt", "inner notes"}}));
    QVERIFY(dragged.at(0).toLocalFile().startsWith(temporary + '/'));
    QVERIFY(!filesBelow(temporary).contains("other.txt"));

    // A double-click on a folder opens it in the window; Return on a file
    // of the same name there opens it beside the first one, not over it.
    doubleClickRow(table, 1);
    QCOMPARE(document->prefixePath(), "dir");
    QVERIFY(!document->isRunning());
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QVERIFY(waitForRun(*document));
    QCOMPARE(m_opened.contents.value(1), "inner notes");
    QCOMPARE(contentsOf(m_opened.urls.at(0).toLocalFile()), "first notes");

    // Archive files dropped on the window are handed on to be opened;
    // links and folders are refused.
    QSignalSpy wanted(document.get(), &MyDocument::openWanted);
    QMainWindow *window = document->window();
    const auto offer = [window](const QUrl &offered) {
        QMimeData data;
        data.setUrls({offered});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window, &drop);
        return drop.isAccepted();
    };
    QVERIFY(!offer(QUrl("https://example.invalid/x.rar")));
    QVERIFY(!offer(QUrl::fromLocalFile(folder.path())));
    QVERIFY(offer(QUrl::fromLocalFile(archive)));
    QTRY_COMPARE(wanted.size(), 1);
    QCOMPARE(wanted.at(0).at(0).toStringList(), QStringList{archive});

    // The extracted files go with the window.
    document->window()->close();
    QVERIFY(!QFileInfo::exists(temporary));

    // A protected file asks for the password as an extraction does.
    auto locked = open(fixture("sharpcompress/Rar5.encrypted_filesOnly.rar"));
    QVERIFY(locked);
    locked->activateRow(int(rowNames(*locked).indexOf(cyrillicTxt)));
    QVERIFY(answer(locked->passwordWindow(), "test"));
    QVERIFY(waitForRun(*locked));
    QCOMPARE(alerts.texts, QStringList());
    const QByteArray text = m_opened.contents.value(2);
    QCOMPARE(crc32(0, reinterpret_cast<const Bytef *>(text.constData()), uInt(text.size())), 2614190330ul);
}

QTEST_MAIN(TestMyDocument)
#include "tst_mydocument.moc"
