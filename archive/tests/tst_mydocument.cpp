// The document driving the real unrar helper on real archives: listing,
// extraction, passwords, selection, opening, drag and drop, Trash, alerts.
#include "DocumentToolbar.h"
#include "EntryDetails.h"
#include "EntryTableModel.h"
#include "ExtractionFolder.h"
#include "MyDocument.h"
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
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
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

namespace {
QString fixture(const char *name)
{
    return QStringLiteral(VORLO_FIXTURES_DIR "/rar/") + QString::fromUtf8(name);
}

const QString rar5 = fixture("sharpcompress/Rar5.rar");
const QString cyrillicTxt = QStringLiteral("\u0442\u0435\u0441\u0442.txt");

// The three files of every archive of the sharpcompress set, with their CRC-32.
const QList<std::pair<QString, quint32>> sharpFiles = {
    {QStringLiteral("exe/test.exe"), 3484486088u},
    {QStringLiteral("jpg/test.jpg"), 143135971u},
    {cyrillicTxt, 2614190330u},
};

QStringList rowNames(const MyDocument &document)
{
    QStringList names;
    for (const EntryRow &row : document.rows())
        names << (row.kind == EntryRow::Kind::Folder ? row.name + QLatin1Char('*') : row.name);
    return names;
}

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

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

// Whether `folder` holds the sharpcompress set's files, whole, and nothing
// else but archives.
bool holdsTheSharpFiles(const QString &folder)
{
    QMap<QString, QByteArray> files = filesBelow(folder);
    for (const auto &[path, crc] : sharpFiles) {
        const QByteArray data = files.take(path);
        if (crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())) != crc)
            return false;
    }
    const QStringList rest = files.keys();
    return QFileInfo(folder + QStringLiteral("/Empty")).isDir()
           && std::all_of(rest.cbegin(), rest.cend(), [](const QString &name) { return name.endsWith(QLatin1String(".rar")); });
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

// A ZIP archive in `folder` holding secret.txt with `text`, password "right".
QString writeLockedZip(const QString &folder, const QByteArray &text)
{
    QFile secret(QDir(folder).filePath(QStringLiteral("secret.txt")));
    if (!secret.open(QIODevice::WriteOnly) || secret.write(text) != text.size())
        return {};
    secret.close();
    QProcess zip;
    zip.setWorkingDirectory(folder);
    zip.start(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-P"), QStringLiteral("right"),
                                      QStringLiteral("locked.zip"), QStringLiteral("secret.txt")});
    const bool made = zip.waitForFinished() && zip.exitCode() == 0;
    return made && secret.remove() ? QDir(folder).filePath(QStringLiteral("locked.zip")) : QString();
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
    return document.window()->findChild<QTableView *>(QStringLiteral("listView"));
}

void doubleClickRow(QTableView *table, int row)
{
    const QPoint centre = table->visualRect(table->model()->index(row, 1)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, centre);
}

QString subfolder(const QTemporaryDir &folder, const char *name)
{
    const QString path = folder.filePath(QString::fromUtf8(name));
    QDir().mkpath(path);
    return path;
}

// Answers every application-modal alert with its button and remembers its
// text; the document's exec() returns then.
class AlertAnswerer : public QObject
{
public:
    AlertAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        m_timer.start(20);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

QString failureAlert()
{
    return StringTable::text(QStringLiteral("MyDocument1"));
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
    void hiddenNamesListedAfterAWrongPassword_data();
    void hiddenNamesListedAfterAWrongPassword();
    void listingPromptCancelledOrRefused();
    void encryptedDataExtractsVerified_data();
    void encryptedDataExtractsVerified();
    void namesHoldingTheHelpersWordsOrShellText();
    void unreadableArchivesAlertAndHide_data();
    void unreadableArchivesAlertAndHide();
    void oneRunAtATimeAndClosingEndsIt();
    void documentReleasedDuringTheFailureAlert();
    void missingHelperIsReported();
    void trashHidesTheWindowAndKeepsTheDocument();
    void technicalListingMatchesTheManifest();
    void detailsSortingAndFolderCounts();
    void navigatingAsTheDetailsArrive();
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
    if (!QFile::exists(rar5))
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

void TestMyDocument::extractsBesideTheArchiveOrIntoAChosenFolder()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("a.rar"));
    QVERIFY(QFile::copy(rar5, archive));
    // An old file of the same name is overwritten without a question.
    QFile stale(subfolder(folder, "jpg") + QStringLiteral("/test.jpg"));
    QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("stale") == 5);
    stale.close();

    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->window()->windowTitle(), QStringLiteral("a.rar"));
    QCOMPARE(rowNames(*document),
             (QStringList{QStringLiteral("exe*"), QStringLiteral("jpg*"), cyrillicTxt, QStringLiteral("Empty")}));
    QCOMPARE(document->statusText(), StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("4")}));
    AlertAnswerer alerts;
    QSignalSpy details(document.get(), &MyDocument::detailsFinished);
    QSignalSpy refused(document.get(), &MyDocument::commandRefused);

    // Extract, while the details run that starts as the listing ends: not
    // refused for it, and the details still come once it is over.
    QVERIFY(document->detailsRunning());
    document->toolbar()->itemAction(QStringLiteral("ExtractItem"))->trigger();
    QCOMPARE(refused.size(), 0);
    QVERIFY(document->progressWindow() && document->progressWindow()->isVisible());
    QCOMPARE(document->progressWindow()->windowModality(), Qt::WindowModal);
    QVERIFY(waitForRun(*document, 30000));
    QVERIFY(!document->progressWindow()->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(holdsTheSharpFiles(folder.path()));
    QVERIFY(details.wait(20000));
    QCOMPARE(details.constLast().at(0).toBool(), true);
    QCOMPARE(document->rows().at(2).size, 15498);

    // Extract To: the chooser's cancel starts nothing; a chosen folder is used.
    QStringList asked;
    QString chosen;
    MyDocument::setFolderChooserForTesting([&](QWidget *window) {
        asked << window->windowTitle();
        return chosen;
    });
    const auto forget = qScopeGuard([] { MyDocument::setFolderChooserForTesting(nullptr); });
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QCOMPARE(asked, QStringList{QStringLiteral("a.rar")});
    QVERIFY(!document->isRunning());
    QTemporaryDir other;
    chosen = other.path() + QLatin1Char('/');
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QVERIFY(waitForRun(*document));
    QVERIFY(holdsTheSharpFiles(other.path()));
    QCOMPARE(alerts.texts, QStringList());

    // A run that ends without the helper's success line is a failure.
    document->launchExtractionTo(archive); // a file, not a folder
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{failureAlert()});
    QVERIFY(!document->progressWindow()->isVisible());

    // Close only hides the window.
    document->toolbar()->itemAction(QStringLiteral("CloseItem"))->trigger();
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
    auto *entryLabel = progress->findChild<QLabel *>(QStringLiteral("entryLabel"));
    QTRY_COMPARE(entryLabel->text(), QStringLiteral("large.bin"));
    const int width = progress->width();
    progress->showEntry(QStringLiteral("first/") + QString(400, u'x') + QStringLiteral("/<b>last</b>.bin"));
    const QString shown = entryLabel->text();
    QVERIFY2(shown.startsWith(QStringLiteral("first/")) && shown.endsWith(QStringLiteral("/<b>last</b>.bin"))
                 && shown.contains(u'\u2026'),
             qPrintable(shown));
    QCOMPARE(entryLabel->textFormat(), Qt::PlainText);
    QCOMPARE(progress->width(), width);

    QTest::mouseClick(progress->findChild<QPushButton *>(QStringLiteral("stopButton")), Qt::LeftButton);
    ::kill(pid_t(helper), SIGCONT);
    QVERIFY(document->hasBeenStoped());
    QVERIFY(progress->isVisible()); // until the output ends
    QVERIFY(waitForRun(*document, 10000));
    QVERIFY(!progress->isVisible());
    QCOMPARE(alerts.texts, QStringList());
    // Nothing of the stopped file is left, under either name.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestMyDocument::hiddenNamesListedAfterAWrongPassword_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("RAR 5") << fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar") << QStringLiteral("test")
                           << QStringList{QStringLiteral("Empty"), QStringLiteral("exe"), QStringLiteral("exe/test.exe"),
                                          QStringLiteral("jpg"), QStringLiteral("jpg/test.jpg"), cyrillicTxt};
    QTest::newRow("RAR 4") << fixture("libarchive/test_read_format_rar_encryption_header.rar")
                           << QStringLiteral("12345678")
                           << QStringList{QStringLiteral("bar.txt"), QStringLiteral("foo.txt")};
}

void TestMyDocument::hiddenNamesListedAfterAWrongPassword()
{
    QFETCH(QString, archive);
    QFETCH(QString, password);
    QFETCH(QStringList, entries);
    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(archive, QString()));
    document.showWindows();
    // The window asks during the listing, again after a wrong answer, and
    // then says that the answer was wrong, the refused text selected.
    PasswordWindow *window = document.passwordWindow();
    QVERIFY(QTest::qWaitFor([window] { return window->isVisible(); }, 15000));
    QCOMPARE(window->message(), StringTable::text(QStringLiteral("MyDocumentWindow1")));
    QVERIFY(answer(window, QStringLiteral("not it")));
    QVERIFY(QTest::qWaitFor([window] { return window->isVisible(); }, 15000));
    QCOMPARE(window->message(), StringTable::format(QStringLiteral("MyDocumentWrongPassword"),
                                                    {QFileInfo(archive).fileName()}));
    QCOMPARE(window->passwordField()->selectedText(), QStringLiteral("not it"));
    QVERIFY(answer(window, password));
    QVERIFY(finished.wait(20000));
    QCOMPARE(alerts.size(), 0);
    // Nothing of the dialogue became an entry, not even the end of its line.
    QStringList listed = document.entries();
    QVERIFY(!listed.constFirst().isEmpty());
    listed.removeAll(QString());
    listed.sort();
    QCOMPARE(listed, entries);
    QVERIFY(document.window()->isVisible());
}

void TestMyDocument::listingPromptCancelledOrRefused()
{
    // Escape at the listing's prompt stops it quietly, with nothing blocked.
    {
        MyDocument document;
        QSignalSpy alerts(&document, &MyDocument::alertShown);
        QSignalSpy finished(&document, &MyDocument::runFinished);
        document.readFromFile(fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar"), QString());
        document.showWindows();
        QTRY_VERIFY_WITH_TIMEOUT(document.passwordWindow()->isVisible(), 10000);
        QVERIFY(document.window()->isEnabled());
        QTest::keyClick(document.passwordWindow()->passwordField(), Qt::Key_Escape);
        QVERIFY(finished.wait(10000));
        QVERIFY(document.hasBeenStoped());
        QCOMPARE(alerts.size(), 0);
        QVERIFY(!document.passwordWindow()->isVisible());
        for (const QString &entry : document.entries())
            QVERIFY2(!entry.contains(QLatin1String("password"), Qt::CaseInsensitive), qPrintable(entry));
    }

    // Refused three times: said, not left as an empty window; the window
    // goes with the alert.
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QVERIFY(document.readFromFile(fixture("libarchive/test_read_format_rar_encryption_header.rar"), QString()));
    document.showWindows();
    for (int i = 0; i < 3; ++i)
        QVERIFY(answer(document.passwordWindow(), QStringLiteral("wrong %1").arg(i)));
    QVERIFY(finished.wait(20000));
    QVERIFY(document.rows().isEmpty());
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).at(0).toString(), QStringLiteral("MyDocumentPassword1"));
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
    if (archive.contains(QLatin1String("AndHeader")))
        QVERIFY(answer(window, QStringLiteral("test")));
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
    QCOMPARE(window->passwordField()->text(), QStringLiteral("wrong"));
    QTest::keyClick(handle, Qt::Key_Return);
    QVERIFY(!window->isVisible());
    // The helper asks again: the text still in the field is sent once more by
    // itself, and the prompt after that opens the window with an empty field.
    QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 15000);
    QVERIFY(window->passwordField()->text().isEmpty());
    QCOMPARE(window->message(), StringTable::format(QStringLiteral("MyDocumentWrongPassword"),
                                                    {QFileInfo(archive).fileName()}));
    QVERIFY(document.progressWindow()->isVisible());
    window->passwordField()->setText(QStringLiteral("test"));
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
    QCOMPARE(filesBelow(cancelled.path()), (QMap<QString, QByteArray>()));
}

void TestMyDocument::namesHoldingTheHelpersWordsOrShellText()
{
    // The helper's success, damage and prompt texts as entry names, and in
    // the archive's own name with text a shell would act on: listed and
    // extracted as they are, nothing run, and a failed extraction that
    // prints them is still a failure.
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
    const QString archiveName = QStringLiteral("***All OK**** Unexpected end of archive Enter password "
                                               "-x \"q\" 'a' $(touch pwned) `touch pwned` \\ $HOME;&.rar");
    const QString archive = folder.filePath(archiveName);
    QVERIFY(writeRar(archive, files));

    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->window()->windowTitle(), archiveName);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    QStringList expected = {QStringLiteral("dir*")};
    for (const auto &file : files.first(6))
        expected << file.first;
    QStringList names = rowNames(*document);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);

    const QString out = subfolder(folder, "out");
    document->launchExtractionTo(out);
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList());
    for (const auto &[name, contents] : files)
        QCOMPARE(contentsOf(QDir(out).filePath(name)), contents);

    // A file in the way of "dir": the helper fails after printing every name.
    const QString blocked = subfolder(folder, "blocked");
    QFile inTheWay(QDir(blocked).filePath(QStringLiteral("dir")));
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    document->launchExtractionTo(blocked);
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{failureAlert()});
    QCOMPARE(shown.size(), 1);
    QVERIFY(document->window()->isVisible());
    QCOMPARE(rowNames(*document).size(), expected.size());
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("pwned"))));
    QVERIFY(!QFile::exists(QDir::current().filePath(QStringLiteral("pwned"))));
}

void TestMyDocument::unreadableArchivesAlertAndHide_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("alert");
    QByteArray damaged = contentsOf(rar5);
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
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("x.rar")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();

    MyDocument document;
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QSignalSpy finished(&document, &MyDocument::runFinished);
    document.readFromFile(file.fileName(), QString());
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

void TestMyDocument::oneRunAtATimeAndClosingEndsIt()
{
    QTemporaryDir folder;
    auto document = std::make_unique<MyDocument>();
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    QSignalSpy closed(document.get(), &MyDocument::documentClosed);
    document->readFromFile(fixture("sharpcompress/Large.rar"), QString());
    document->showWindows();
    QVERIFY(document->isRunning());
    document->launchExtractionTo(folder.path()); // refused: the listing still runs
    QCOMPARE(document->action(), MyDocument::Action::Listing);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.size(), 1);
    QVERIFY(QDir(folder.path()).isEmpty());

    // Closing the window during an extraction ends its helper, quietly.
    document->launchExtractionTo(folder.path());
    QTRY_VERIFY(document->helperProcessId() > 0);
    const qint64 pid = document->helperProcessId();
    AlertAnswerer alerts;
    document->window()->close();
    QCOMPARE(closed.size(), 1);
    QVERIFY(!document->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(::kill(pid_t(pid), 0) != 0, 10000);
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
    QVERIFY(QFile::copy(rar5, notAFolder));
    QFile fake(folder.filePath(QStringLiteral("unrar")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\n[ \"$1\" = vb ] && { echo a.txt; exit 0; }\nexit 3\n");
    fake.close();
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
    // Missing, not executable, or not a program: the same alert, as a sheet
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

    QFile broken(empty.filePath(QStringLiteral("unrar")));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a program");
    broken.close();
    AlertAnswerer answerer;
    document.launchExtractionTo(empty.path());
    QVERIFY(!document.isRunning());
    QCOMPARE(alerts.size(), 2);
    QVERIFY(broken.setPermissions(broken.permissions() | QFileDevice::ExeOwner));
    document.launchExtractionTo(empty.path());
    QVERIFY(waitForRun(document, 5000));
    QCOMPARE(alerts.size(), 3);
    for (const QList<QVariant> &alert : alerts)
        QCOMPARE(alert.at(0).toString(), QStringLiteral("MyDocumentHelper1"));
    QVERIFY(!document.progressWindow() || !document.progressWindow()->isVisible());
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
    QVERIFY(QFile::copy(rar5, archive));
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
    int checked = 0;
    for (const QJsonValue &value : QJsonDocument::fromJson(manifestFile.readAll()).array()) {
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
            const std::optional<EntryDetails::Line> parsed = EntryDetails::parse(line);
            QVERIFY2(line.isEmpty() || parsed, qPrintable(name + QStringLiteral(": ") + QString::fromUtf8(line)));
            if (parsed)
                listed.insert(QString::fromUtf8(parsed->name), parsed->record);
        }
        for (const QJsonValue &entryValue : archive.value(QStringLiteral("entries")).toArray()) {
            const QJsonObject entry = entryValue.toObject();
            const QString where = name + QStringLiteral(": ") + entry.value(QStringLiteral("name")).toString();
            const auto found = listed.constFind(entry.value(QStringLiteral("name")).toString());
            QVERIFY2(found != listed.cend(), qPrintable(where));
            QVERIFY2(found->directory == entry.value(QStringLiteral("dir")).toBool(), qPrintable(where));
            QVERIFY2(found->directory || !entry.value(QStringLiteral("redir")).isUndefined()
                         || qint64(found->size) == entry.value(QStringLiteral("size")).toInteger(),
                     qPrintable(where));
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
    MyDocument document;
    QSignalSpy details(&document, &MyDocument::detailsFinished);
    QVERIFY(document.readFromFile(archive, QString()));
    document.showWindows();
    QVERIFY(details.wait(20000));
    QCOMPARE(details.at(0).at(0).toBool(), true);

    // The empty folder is a folder; "docs" holds a folder and a file.
    const QList<EntryRow> &rows = document.rows();
    QCOMPARE(rows.at(0).size, 1000);
    QCOMPARE(rows.at(3).items, 2);
    QCOMPARE(rows.at(3).size, 15);
    QCOMPARE(rows.at(4).items, 0);
    QVERIFY(rows.at(0).modified > 0);
    const auto status = [](const char *count, qint64 size) {
        return StringTable::format(QStringLiteral("MyDocumentStatusSize"),
                                   {StringTable::format(QStringLiteral("MyDocument4"), {QString::fromLatin1(count)}),
                                    EntryTableModel::sizeText(size)});
    };
    QCOMPARE(document.statusText(), status("5", 1335));
    QTableView *table = tableOf(document);
    QAbstractItemModel *model = table->model();
    QCOMPARE(model->data(model->index(3, EntryTableModel::SizeColumn)).toString(),
             StringTable::format(QStringLiteral("MyDocument4"), {QStringLiteral("2")}));

    // A click on the name header: folders first, then names as people count.
    QHeaderView *header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(EntryTableModel::NameColumn) + 10, header->height() / 2));
    QCOMPARE(header->sortIndicatorSection(), int(EntryTableModel::NameColumn));
    table->sortByColumn(EntryTableModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(rowNames(document), (QStringList{QStringLiteral("docs*"), QStringLiteral("empty*"),
                                              QStringLiteral("File1.txt"), QStringLiteral("file2.txt"),
                                              QStringLiteral("file10.txt")}));
    table->sortByColumn(EntryTableModel::SizeColumn, Qt::DescendingOrder);
    QCOMPARE(rowNames(document), (QStringList{QStringLiteral("docs*"), QStringLiteral("empty*"),
                                              QStringLiteral("file10.txt"), QStringLiteral("File1.txt"),
                                              QStringLiteral("file2.txt")}));

    // The order holds inside folders; the parent row stays last.
    table->sortByColumn(EntryTableModel::NameColumn, Qt::AscendingOrder);
    document.changeLevel(0);
    QCOMPARE(rowNames(document), (QStringList{QStringLiteral("a*"), QStringLiteral("b.txt"), QStringLiteral("..")}));
    QCOMPARE(document.statusText(), status("2", 15));
}

void TestMyDocument::navigatingAsTheDetailsArrive()
{
    QTemporaryDir folder;
    const QString archive = folder.filePath(QStringLiteral("deep.rar"));
    QVERIFY(writeRar(archive, {{QStringLiteral("top.txt"), "1"},
                               {QStringLiteral("one/two/three.txt"), "3"},
                               {QStringLiteral("one/x.txt"), "x"}}));
    auto document = open(archive);
    QVERIFY(document);
    QMainWindow *window = document->window();
    QTableView *table = tableOf(*document);
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

    // Down by a double-click and by Return; the path shows in the title.
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar"));
    doubleClickRow(table, int(rowNames(*document).indexOf(QStringLiteral("one*"))));
    QCOMPARE(document->prefixePath(), QStringLiteral("one"));
    QCOMPARE(rowNames(*document).constLast(), QStringLiteral(".."));
    table->setCurrentIndex(table->model()->index(int(rowNames(*document).indexOf(QStringLiteral("two*"))), 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar — one/two"));

    // Backspace, Alt+Up and Return on ".." each go one level up, onto the
    // folder just left.
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(document->prefixePath(), QStringLiteral("one"));
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar — one"));
    QCOMPARE(document->rows().at(table->currentIndex().row()).name, QStringLiteral("two"));
    QTest::keyClick(table, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(document->level(), 0);
    QCOMPARE(window->windowTitle(), QStringLiteral("deep.rar"));
    document->changeLevel(int(rowNames(*document).indexOf(QStringLiteral("one*"))));
    table->setCurrentIndex(table->model()->index(int(document->rows().size()) - 1, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QCOMPARE(document->level(), 0);
    // At the top there is nowhere to go.
    QTest::keyClick(table, Qt::Key_Backspace);
    QCOMPARE(document->level(), 0);
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("top.txt"), QStringLiteral("one*")}));
}

void TestMyDocument::extractingSeveralItemsIntoAFolder()
{
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("photos.part01.rar")), QStringLiteral("photos"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral("backup.rar.001")), QStringLiteral("backup"));
    QCOMPARE(ExtractionFolder::baseName(QStringLiteral(".rar")), QStringLiteral(".rar"));

    QTemporaryDir folder;
    const QString several = folder.filePath(QStringLiteral("Rar5.part1.rar"));
    QVERIFY(QFile::copy(rar5, several));
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
    for (int run = 0; run < 2; ++run) {
        document->extractNow();
        QVERIFY(waitForRun(*document, 30000));
    }
    QCOMPARE(listing(), (QStringList{QStringLiteral("Rar5"), QStringLiteral("Rar5 (2)"),
                                     QStringLiteral("Rar5.part1.rar"), QStringLiteral("only.rar")}));
    QVERIFY(holdsTheSharpFiles(folder.filePath(QStringLiteral("Rar5"))));
    QVERIFY(holdsTheSharpFiles(folder.filePath(QStringLiteral("Rar5 (2)"))));

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
    QTableView *table = tableOf(*document);
    QCOMPARE(rowNames(*document), (QStringList{QStringLiteral("a.txt"), QStringLiteral("docs*"),
                                               QStringLiteral("docs-old*"), QStringLiteral("z.txt")}));
    const auto centreOf = [table](int row) { return table->visualRect(table->model()->index(row, 1)).center(); };

    // A folder and a file, picked with the mouse: Extract To… takes them
    // alone, the folder with everything inside it (never "docs-old").
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, centreOf(1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ControlModifier, centreOf(3));
    const QString chosen = subfolder(folder, "chosen");
    MyDocument::setFolderChooserForTesting([&](QWidget *) { return chosen; });
    const auto forget = qScopeGuard([] { MyDocument::setFolderChooserForTesting(nullptr); });
    document->toolbar()->itemAction(QStringLiteral("ExtractItemTo"))->trigger();
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(chosen), (QMap<QString, QByteArray>{{QStringLiteral("docs/one.txt"), "1"},
                                                            {QStringLiteral("docs/sub/two.txt"), "2"},
                                                            {QStringLiteral("z.txt"), "z"}}));

    // Inside a folder, a row is named by its whole path, and everything
    // selected there is that folder.
    document->changeLevel(1);
    table->selectRow(int(rowNames(*document).indexOf(QStringLiteral("sub*"))));
    document->extractNow();
    QVERIFY(waitForRun(*document));
    QCOMPARE(contentsOf(folder.filePath(QStringLiteral("docs/sub/two.txt"))), QByteArray("2"));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("docs/one.txt"))));
    table->selectAll();
    const QString inside = subfolder(folder, "inside");
    document->launchExtractionTo(inside, document->selectedPaths());
    QVERIFY(waitForRun(*document));
    QCOMPARE(filesBelow(inside).keys(),
             (QStringList{QStringLiteral("docs/one.txt"), QStringLiteral("docs/sub/two.txt")}));

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

    // An entry the archive does not hold is a failure, not an empty success.
    document->launchExtractionTo(chosen, {QStringLiteral("docs/none.txt")});
    QVERIFY(waitForRun(*document));
    QCOMPARE(alerts.texts, QStringList{failureAlert()});

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
    QTableView *table = tableOf(*document);

    // A double-click on a file extracts it alone, out of sight, and hands
    // it to the desktop; no progress window flashes by.
    doubleClickRow(table, 0);
    QVERIFY(document->isRunning());
    QVERIFY(waitForRun(*document));
    QVERIFY(!document->progressWindow()->isVisible());
    const QString temporary = document->temporaryFolder();
    QVERIFY(!temporary.isEmpty());
    QCOMPARE(m_opened.urls.size(), 1);
    QVERIFY(m_opened.urls.at(0).toLocalFile().startsWith(temporary + QLatin1Char('/')));
    QCOMPARE(m_opened.contents, QList<QByteArray>{"first notes"});
    QCOMPARE(filesBelow(temporary).size(), 1);

    // Return on a file of the same name in a folder opens it beside the
    // first one, not over it.
    doubleClickRow(table, 1);
    QCOMPARE(document->prefixePath(), QStringLiteral("dir"));
    QVERIFY(!document->isRunning());
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 1));
    QTest::keyClick(table, Qt::Key_Return);
    QVERIFY(waitForRun(*document));
    QCOMPARE(m_opened.urls.size(), 2);
    QCOMPARE(m_opened.contents.at(1), QByteArray("inner notes"));
    QCOMPARE(contentsOf(m_opened.urls.at(0).toLocalFile()), QByteArray("first notes"));

    // The extracted files go with the window.
    document->window()->close();
    QVERIFY(!QFileInfo::exists(temporary));

    // A protected file asks for the password as an extraction does.
    auto locked = open(writeLockedZip(folder.path(), "behind the clock\n"));
    QVERIFY(locked);
    locked->activateRow(0);
    QVERIFY(answer(locked->passwordWindow(), QStringLiteral("right")));
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
    QTableView *table = tableOf(*document);
    QList<QUrl> dragged;
    int drags = 0;
    MyDocument::setDragRunnerForTesting([&](QDrag *drag) {
        ++drags;
        dragged = drag->mimeData()->urls();
    });
    const auto forget = qScopeGuard([] { MyDocument::setDragRunnerForTesting(nullptr); });

    // Two rows picked, then dragged from one of them with the button held:
    // the view takes a first move for the start of a drag, a further one
    // past the drag distance for the drag itself.
    table->selectRow(0);
    table->selectionModel()->select(table->model()->index(1, 1),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
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
    QCOMPARE(alerts.texts, QStringList());
    QCOMPARE(drags, 1);
    // The receiver gets the files themselves, already whole on disk.
    QCOMPARE(dragged.size(), 2);
    QCOMPARE(dragged.at(0).fileName(), QStringLiteral("a.txt"));
    QCOMPARE(dragged.at(1).fileName(), QStringLiteral("docs"));
    QCOMPARE(contentsOf(dragged.at(0).toLocalFile()), QByteArray("a"));
    QCOMPARE(filesBelow(dragged.at(1).toLocalFile()), (QMap<QString, QByteArray>{{QStringLiteral("one.txt"), "1"}}));
    QVERIFY(dragged.at(0).toLocalFile().startsWith(document->temporaryFolder() + QLatin1Char('/')));
    QVERIFY(!filesBelow(document->temporaryFolder()).contains(QStringLiteral("b.txt")));

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
    const QString other = folder.filePath(QStringLiteral("other.rar"));
    QVERIFY(QFile::copy(archive, other));
    QVERIFY(!offer(QUrl(QStringLiteral("https://example.invalid/x.rar"))));
    QVERIFY(!offer(QUrl::fromLocalFile(folder.path())));
    QVERIFY(offer(QUrl::fromLocalFile(other)));
    QTRY_COMPARE(wanted.size(), 1);
    QCOMPARE(wanted.at(0).at(0).toStringList(), QStringList{other});
}

QTEST_MAIN(TestMyDocument)
#include "tst_mydocument.moc"
