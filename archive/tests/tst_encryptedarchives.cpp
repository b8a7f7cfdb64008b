// Encrypted RAR archives end to end: the document, its password window and
// the real helper decrypting real archives.
#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ProgressWindow.h"
#include "ResourceLocator.h"
#include "StringTable.h"
#include "DocumentTestTools.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
struct ExpectedFile
{
    QString path;
    qint64 size;
    quint32 crc;
};

// The three files that every archive of the sharpcompress set holds.
const QList<ExpectedFile> sharpFiles = {
    {QStringLiteral("exe/test.exe"), 45056, 3484486088u},
    {QStringLiteral("jpg/test.jpg"), 40372, 143135971u},
    {QStringLiteral("\u0442\u0435\u0441\u0442.txt"), 15498, 2614190330u},
};

QStringList nonEmpty(const QStringList &entries)
{
    QStringList kept;
    for (const QString &entry : entries)
        if (!entry.isEmpty())
            kept << entry;
    kept.sort();
    return kept;
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

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}
} // namespace

class TestEncryptedArchives : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hiddenNamesListedAfterAWrongPassword_data();
    void hiddenNamesListedAfterAWrongPassword();
    void listingRefusedThreeTimesShowsNothing();
    void encryptedDataExtractsVerified_data();
    void encryptedDataExtractsVerified();
    void cancelAtTheExtractionPrompt();

private:
    QTemporaryDir m_settingsDir;
};

void TestEncryptedArchives::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    if (ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
        QSKIP("the unrar helper is not built");
    if (!QFile::exists(fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar")))
        QSKIP("the third-party fixture archives are not beside the project");
}

void TestEncryptedArchives::hiddenNamesListedAfterAWrongPassword_data()
{
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("entries");
    const QStringList sharp = {QStringLiteral("Empty"), QStringLiteral("exe"), QStringLiteral("exe/test.exe"),
                               QStringLiteral("jpg"), QStringLiteral("jpg/test.jpg"),
                               QStringLiteral("\u0442\u0435\u0441\u0442.txt")};
    QTest::newRow("RAR 5") << fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar") << QStringLiteral("test")
                           << sharp;
    QTest::newRow("RAR 4") << fixture("libarchive/test_read_format_rar_encryption_header.rar")
                           << QStringLiteral("12345678")
                           << QStringList{QStringLiteral("bar.txt"), QStringLiteral("foo.txt")};
}

void TestEncryptedArchives::hiddenNamesListedAfterAWrongPassword()
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
    QVERIFY(window->message().contains(QFileInfo(archive).fileName()));
    QVERIFY(answer(window, password));
    QVERIFY(finished.wait(20000));
    QCOMPARE(alerts.size(), 0);
    QVERIFY(!document.hasBeenStoped());
    // Nothing of the dialogue became an entry, not even the end of its line.
    QCOMPARE(nonEmpty(document.entries()), entries);
    QVERIFY(!document.entries().constFirst().isEmpty());
    QVERIFY(!document.rows().isEmpty());
    QVERIFY(document.window()->isVisible());
}

void TestEncryptedArchives::listingRefusedThreeTimesShowsNothing()
{
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QSignalSpy alerts(&document, &MyDocument::alertShown);
    QVERIFY(document.readFromFile(fixture("libarchive/test_read_format_rar_encryption_header.rar"), QString()));
    document.showWindows();
    for (int i = 0; i < 3; ++i)
        QVERIFY(answer(document.passwordWindow(), QStringLiteral("wrong %1").arg(i)));
    QVERIFY(finished.wait(20000));
    QCOMPARE(nonEmpty(document.entries()), QStringList());
    QVERIFY(document.rows().isEmpty());
    // Said, not left as an empty window; the window goes with the alert.
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.at(0).at(0).toString(), QStringLiteral("MyDocumentPassword1"));
    auto *sheet = document.window()->findChild<QMessageBox *>();
    QVERIFY(sheet && sheet->isVisible());
    sheet->accept();
    QTRY_VERIFY(!document.window()->isVisible());
}

void TestEncryptedArchives::encryptedDataExtractsVerified_data()
{
    QTest::addColumn<QString>("archive");
    QTest::newRow("RAR 4") << fixture("sharpcompress/Rar.encrypted_filesOnly.rar");
    QTest::newRow("RAR 5") << fixture("sharpcompress/Rar5.encrypted_filesOnly.rar");
    QTest::newRow("RAR 5, names hidden") << fixture("sharpcompress/Rar5.encrypted_filesAndHeader.rar");
}

void TestEncryptedArchives::encryptedDataExtractsVerified()
{
    QFETCH(QString, archive);
    QTemporaryDir out;
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(archive, QString()));
    document.showWindows();
    const bool namesHidden = archive.contains(QLatin1String("AndHeader"));
    if (namesHidden)
        QVERIFY(answer(document.passwordWindow(), QStringLiteral("test")));
    QVERIFY(finished.wait(20000));
    QVERIFY(!document.rows().isEmpty());
    document.passwordWindow()->passwordField()->clear();

    // A wrong answer is sent a second time by itself, then the window asks.
    AlertAnswerer alerts;
    finished.clear();
    document.launchExtractionTo(out.path());
    QVERIFY(answer(document.passwordWindow(), QStringLiteral("wrong")));
    QVERIFY(answer(document.passwordWindow(), QStringLiteral("test")));
    QVERIFY(finished.wait(30000));
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(!document.progressWindow()->isVisible());

    QStringList expected;
    for (const ExpectedFile &file : sharpFiles) {
        const QString path = QDir(out.path()).filePath(file.path);
        QCOMPARE(QFileInfo(path).size(), file.size);
        QCOMPARE(fileCrc(path), file.crc);
        expected << file.path;
    }
    expected.sort();
    QCOMPARE(filesBelow(out.path()), expected);
    QVERIFY(QFileInfo(QDir(out.path()).filePath(QStringLiteral("Empty"))).isDir());
}

void TestEncryptedArchives::cancelAtTheExtractionPrompt()
{
    QTemporaryDir out;
    MyDocument document;
    QSignalSpy finished(&document, &MyDocument::runFinished);
    QVERIFY(document.readFromFile(fixture("sharpcompress/Rar.encrypted_filesOnly.rar"), QString()));
    document.showWindows();
    QVERIFY(finished.wait(20000));
    AlertAnswerer alerts;
    finished.clear();
    document.launchExtractionTo(out.path());
    QTRY_VERIFY_WITH_TIMEOUT(document.passwordWindow()->isVisible(), 15000);
    QTest::keyClick(document.passwordWindow()->passwordField(), Qt::Key_Escape);
    QVERIFY(finished.wait(10000));
    QVERIFY(document.hasBeenStoped());
    QCOMPARE(alerts.texts, QStringList());
    QVERIFY(!document.progressWindow()->isVisible());
    QVERIFY(!document.passwordWindow()->isVisible());
    QCOMPARE(filesBelow(out.path()), QStringList()); // nothing half-written is left
}

QTEST_MAIN(TestEncryptedArchives)
#include "tst_encryptedarchives.moc"
