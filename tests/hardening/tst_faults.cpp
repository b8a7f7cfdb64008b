// The archive document when things go wrong outside it (the helper killed,
// the disk full) and over many documents in a row (descriptors, children).
#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ResourceLocator.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const QString fixtures = QStringLiteral(VORLO_FIXTURES_DIR "/rar/");

QString fixture(const char *name)
{
    return fixtures + QString::fromUtf8(name);
}

// Answers every alert, application-modal or sheet, and remembers its text.
class AlertAnswerer : public QObject
{
public:
    AlertAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    texts << box->text();
                    box->accept();
                }
            }
        });
        m_timer.start(20);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// Our live child processes (zombies included: they are leaks too).
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &word : file.readAll().split(' '))
            if (!word.trimmed().isEmpty())
                children << word.trimmed().toLongLong();
    }
    return children;
}

bool processGone(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    return status.readAll().contains(") Z "); // ended, waiting to be reaped
}
} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helperKilledDuringTheListing();
    void helperKilledDuringTheExtraction();
    void diskFillsDuringTheExtraction();
    void manyDocumentsLeaveNothingBehind();

private:
    std::unique_ptr<MyDocument> open(const QString &path, bool waitForListing = true);
    bool waitForRun(MyDocument &document, int timeout = 30000);
    QTemporaryDir m_settingsDir;
};

void TestFaults::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    if (ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
        QSKIP("the unrar helper is not built");
    if (!QFile::exists(fixture("sharpcompress/Large.rar")))
        QSKIP("the third-party fixture archives are not beside the project");
}

std::unique_ptr<MyDocument> TestFaults::open(const QString &path, bool waitForListing)
{
    auto document = std::make_unique<MyDocument>();
    QSignalSpy finished(document.get(), &MyDocument::runFinished);
    document->readFromFile(path, QStringLiteral("RAR archive"));
    document->showWindows();
    if (waitForListing && !finished.wait(30000))
        return nullptr;
    return document;
}

bool TestFaults::waitForRun(MyDocument &document, int timeout)
{
    QSignalSpy finished(&document, &MyDocument::runFinished);
    return !document.isRunning() || finished.wait(timeout);
}

void TestFaults::helperKilledDuringTheListing()
{
    // Encrypted names: the listing waits at the password prompt, so the
    // helper is certainly in the middle of its run when it is killed.
    auto document = open(fixture("sharpcompress/Rar.encrypted_filesAndHeader.rar"), false);
    AlertAnswerer alerts;
    QTRY_VERIFY_WITH_TIMEOUT(document->passwordWindow()->isVisible(), 20000);
    QList<qint64> helpers;
    QTRY_VERIFY((helpers = childrenOf(document->helperProcessId())).size() == 1); // the shell's child
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    ::kill(pid_t(helpers.first()), SIGKILL);
    QVERIFY(waitForRun(*document));
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocumentHelper3"));
    QVERIFY(document->rows().isEmpty());
    QVERIFY(!document->passwordWindow()->isVisible());
    QVERIFY(document->window()->isVisible()); // still open and usable

    // A later run still starts (stopped here at its password prompt).
    QTemporaryDir folder;
    document->launchExtractionTo(folder.path());
    QVERIFY(document->isRunning());
    document->cancelPassword();
    QVERIFY(waitForRun(*document));
}

void TestFaults::helperKilledDuringTheExtraction()
{
    QTemporaryDir folder;
    auto document = open(fixture("sharpcompress/Large.rar"));
    QVERIFY(document);
    const int rows = document->rows().size();
    QVERIFY(rows > 0);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    document->launchExtractionTo(folder.path());
    const QString output = folder.filePath(QStringLiteral("large.bin"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(output) || !document->isRunning(), 20000);
    QVERIFY2(document->isRunning(), "the extraction ended before it could be killed");
    ::kill(pid_t(document->helperProcessId()), SIGKILL);
    QVERIFY(waitForRun(*document));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocument1")); // the failure
    QCOMPARE(document->rows().size(), rows);

    // Usable: the same extraction again, to its end.
    shown.clear();
    document->launchExtractionTo(folder.path());
    QVERIFY(waitForRun(*document, 120000));
    QCOMPARE(shown.size(), 0);
    QVERIFY(QFileInfo(output).size() > 0);
}

void TestFaults::diskFillsDuringTheExtraction()
{
    QTemporaryDir folder;
    const QByteArray target = folder.path().toUtf8();
    if (::geteuid() != 0 || ::mount("vorlo-test", target.constData(), "tmpfs", 0, "size=8m") != 0)
        QSKIP("a small filesystem cannot be mounted here");
    auto unmount = qScopeGuard([&] { ::umount2(target.constData(), MNT_DETACH); });
    auto document = open(fixture("sharpcompress/Large.rar"));
    QVERIFY(document);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    document->launchExtractionTo(folder.path());
    QVERIFY(waitForRun(*document, 60000));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocument1"));
    // The big entry did not fit: nothing of it is left to pass for complete.
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("large.bin"))));
    QVERIFY(!document->isRunning());
}

void TestFaults::manyDocumentsLeaveNothingBehind()
{
    const QString archive = fixture("sharpcompress/Rar5.rar");
    auto cycle = [&](int i) {
        QTemporaryDir folder;
        auto document = open(archive);
        if (!document || document->rows().isEmpty())
            return false;
        document->launchExtractionTo(folder.path());
        if (!waitForRun(*document))
            return false;
        if (i % 2 == 1) {
            // And one closed in the middle of its run: no helper is left.
            document->launchExtractionTo(folder.path());
            const qint64 pid = document->helperProcessId();
            document->window()->close();
            if (pid > 0 && !QTest::qWaitFor([pid] { return processGone(pid); }, 10000))
                return false;
        } else {
            document->window()->close();
        }
        document.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return true;
    };
    QVERIFY(cycle(0));
    QVERIFY(cycle(1));
    QTest::qWait(200);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int descriptors = openDescriptors();
    for (int i = 0; i < 40; ++i)
        QVERIFY2(cycle(i), qPrintable(QStringLiteral("cycle %1").arg(i)));
    // Processes let go while running are reaped when they end.
    QTRY_VERIFY_WITH_TIMEOUT(childrenOf(::getpid()).isEmpty(), 10000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(openDescriptors(), descriptors);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
