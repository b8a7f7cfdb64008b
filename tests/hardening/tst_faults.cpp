// The archive document when things go wrong outside it (the helper killed,
// a listing without bounds) and over many documents in a row (descriptors,
// children). What the helper leaves on disk when cut short is the helper's
// own tests' business; here it is what the user is told and can still do.
#include "DocumentTestTools.h"
#include "PasswordWindow.h"
#include "ProcessProbes.h"
#include "ResourceLocator.h"

#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

using namespace DocumentTestTools;
using ProcessProbes::childrenOf;

namespace {
QString fixture(const char *name)
{
    return QStringLiteral(VORLO_FIXTURES_DIR "/rar/sharpcompress/") + QString::fromUtf8(name);
}

bool processGone(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    return !status.open(QIODevice::ReadOnly) || status.readAll().contains(") Z "); // or ended, not yet reaped
}
} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listingPastItsBoundsIsStopped();
    void helperKilledDuringTheListing();
    void helperKilledDuringTheExtraction();
    void manyDocumentsLeaveNothingBehind();

private:
    QTemporaryDir m_settingsDir;
};

void TestFaults::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    if (ResourceLocator::find(QStringLiteral("unrar")).isEmpty())
        QSKIP("the unrar helper is not built");
    if (!QFile::exists(fixture("Rar5.rar")))
        QSKIP("the third-party fixture archives are not beside the project");
}

void TestFaults::listingPastItsBoundsIsStopped()
{
    // An archive of huge or countless names makes a listing far larger than
    // its archive. A stand-in for the helper prints 100 MB of names: first
    // of 100 kB each, then of one letter each. The document stops it at its
    // bounds and says so, instead of holding it all.
    const QList<QByteArray> listings = {
        "yes \"$(head -c 100000 /dev/zero | tr '\\0' n)\" | head -c 100000000\n",
        "yes x | head -c 100000000\n",
    };
    const qint64 peakBefore = ProcessProbes::statusKiB("VmHWM");
    auto realHelper = qScopeGuard([] { ResourceLocator::setSearchPathsForTesting({}); });
    for (const QByteArray &listing : listings) {
        QTemporaryDir fake;
        QFile script(fake.filePath(QStringLiteral("unrar")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" + listing);
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
        ResourceLocator::setSearchPathsForTesting({fake.path()});

        QTemporaryDir folder;
        const QString archive = folder.filePath(QStringLiteral("names.rar"));
        QVERIFY(QFile::copy(fixture("Rar5.rar"), archive));
        auto document = open(archive, false);
        QVERIFY(document);
        QSignalSpy shown(document.get(), &MyDocument::alertShown);
        QTRY_VERIFY_WITH_TIMEOUT(!document->isRunning(), 30000);
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocumentTooLarge1"));
        QCOMPARE(document->entries(), QStringList());
        QVERIFY(document->window()->isVisible()); // the archive may still be extracted
        QTRY_VERIFY_WITH_TIMEOUT(childrenOf(::getpid()).isEmpty(), 10000);
        AlertAnswerer alerts;
        QTRY_VERIFY(!alerts.texts.isEmpty());
    }
    // The bounds, not the 100 MB and the strings made of them (about a gigabyte).
    const qint64 growthMiB = (ProcessProbes::statusKiB("VmHWM") - peakBefore) / 1024;
    QVERIFY2(growthMiB < 400, qPrintable(QStringLiteral("%1 MiB").arg(growthMiB)));
}

void TestFaults::helperKilledDuringTheListing()
{
    // Encrypted names: the listing waits at the password prompt, so the
    // helper is certainly in the middle of its run when it is killed.
    auto document = open(fixture("Rar.encrypted_filesAndHeader.rar"), false);
    QVERIFY(document);
    AlertAnswerer alerts;
    QTRY_VERIFY_WITH_TIMEOUT(document->passwordWindow()->isVisible(), 20000);
    const qint64 helper = document->helperProcessId(); // the shell execs the helper
    QVERIFY(helper > 0);
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    ::kill(pid_t(helper), SIGKILL);
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
    // A stored archive made here: small entries, a big one written long
    // enough to be killed in the middle of, and one after it.
    constexpr qint64 bigSize = 128 << 20;
    QTemporaryDir work;
    const QString archive = writeRar(work, "big.rar", {{"a.txt", "a.txt\n"}, {"sub/b.txt", "sub/b.txt\n"}},
                                     {"--big-file", QString::number(bigSize), "--generate", "1"});
    QVERIFY(!archive.isEmpty());

    QTemporaryDir folder;
    const QDir destination(folder.path());
    auto document = open(archive);
    QVERIFY(document);
    QCOMPARE(document->rows().size(), 4);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    document->launchExtractionTo(folder.path());
    // Stepped until big.bin is under way, then killed (it is left stopped).
    const qint64 pid = document->helperProcessId();
    QVERIFY2(ProcessProbes::stepUntil(
                 pid, [&] { return ProcessProbes::writesInto(pid, folder.path(), 1 << 20); },
                 [&] {
                     QCoreApplication::processEvents();
                     return document->isRunning();
                 }),
             "the extraction ended before it could be killed");
    ::kill(pid_t(pid), SIGKILL);
    QVERIFY(waitForRun(*document));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocument1")); // the failure
    QCOMPARE(document->rows().size(), 4);
    // What was extracted stays; nothing half written passes for complete.
    QCOMPARE(contentsOf(destination.filePath(QStringLiteral("a.txt"))), QByteArray("a.txt\n"));
    QCOMPARE(contentsOf(destination.filePath(QStringLiteral("sub/b.txt"))), QByteArray("sub/b.txt\n"));
    QVERIFY(!destination.exists(QStringLiteral("big.bin")));
    QVERIFY(!destination.exists(QStringLiteral("file0.txt")));

    // Usable: the same extraction again, to its end.
    shown.clear();
    document->launchExtractionTo(folder.path());
    QVERIFY(waitForRun(*document, 120000));
    QCOMPARE(shown.size(), 0);
    QCOMPARE(QFileInfo(destination.filePath(QStringLiteral("big.bin"))).size(), bigSize);
    QCOMPARE(contentsOf(destination.filePath(QStringLiteral("file0.txt"))), QByteArray("file 0\n"));
}

void TestFaults::manyDocumentsLeaveNothingBehind()
{
    auto cycle = [&](int i) {
        QTemporaryDir folder;
        auto document = open(fixture("Rar5.rar"));
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
    const int descriptors = ProcessProbes::openDescriptors();
    for (int i = 0; i < 40; ++i)
        QVERIFY2(cycle(i), qPrintable(QStringLiteral("cycle %1").arg(i)));
    // Processes let go while running are reaped when they end.
    QTRY_VERIFY_WITH_TIMEOUT(childrenOf(::getpid()).isEmpty(), 10000);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(ProcessProbes::openDescriptors(), descriptors);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
