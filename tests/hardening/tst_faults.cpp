// The archive document when things go wrong outside it (the helper killed,
// the destination made read-only, the disk full) and over many documents in
// a row (descriptors, children).
#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ProcessProbes.h"
#include "ResourceLocator.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
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
#include <sys/stat.h>
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

using ProcessProbes::childrenOf;
using ProcessProbes::openDescriptors;

// A stored archive made here: two small entries, a big one being written long
// enough to be interrupted, and one after it.
class BigArchive
{
public:
    static constexpr qint64 bigSize = 128 << 20;

    bool make()
    {
        if (!m_dir.isValid() || !QDir(m_dir.path()).mkpath(QStringLiteral("tree/sub")))
            return false;
        for (int i = 0; i < 20000; ++i)
            m_second.append(char(i * 7919 >> 3));
        if (!put(QStringLiteral("tree/a.txt"), m_first) || !put(QStringLiteral("tree/sub/b.bin"), m_second))
            return false;
        QProcess writer;
        writer.start(QStringLiteral(VORLO_RARWRITE),
                     {path(), QStringLiteral("-C"), m_dir.filePath(QStringLiteral("tree")),
                      QStringLiteral("--big-file"), QString::number(bigSize), QStringLiteral("--names"),
                      QStringLiteral("-")});
        writer.write(QByteArray("zz-after.txt", 13)); // NUL-terminated name
        writer.closeWriteChannel();
        return writer.waitForFinished(60000) && writer.exitStatus() == QProcess::NormalExit
            && writer.exitCode() == 0;
    }
    QString path() const { return m_dir.filePath(QStringLiteral("big.rar")); }
    QString folder() const { return m_dir.path(); }

    bool earlierEntriesIntact(const QDir &destination) const
    {
        return contents(destination.filePath(QStringLiteral("a.txt"))) == m_first
            && contents(destination.filePath(QStringLiteral("sub/b.bin"))) == m_second;
    }

private:
    bool put(const QString &relative, const QByteArray &data)
    {
        QFile file(m_dir.filePath(relative));
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    QTemporaryDir m_dir;
    QByteArray m_first = QByteArray("the first entry\n").repeated(50);
    QByteArray m_second;
};

// Whether big.bin (far larger than the entries before it) is being written
// into `folder` while the run goes on; the helper is left stopped then.
bool bigEntryUnderWay(MyDocument &document, const QString &folder)
{
    const qint64 pid = document.helperProcessId();
    return ProcessProbes::stepUntil(
        pid, [&] { return ProcessProbes::writesInto(pid, folder, 1 << 20); },
        [&] {
            QCoreApplication::processEvents();
            return document.isRunning();
        });
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
    void init();
    void listingPastItsBoundsIsStopped();
    void helperKilledDuringTheListing();
    void helperKilledDuringTheExtraction();
    void destinationMadeReadOnlyHalfway();
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

void TestFaults::init()
{
    ResourceLocator::setSearchPathsForTesting({});
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
        QVERIFY(QFile::copy(fixture("sharpcompress/Rar5.rar"), archive));
        auto document = open(archive, false);
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
    auto document = open(fixture("sharpcompress/Rar.encrypted_filesAndHeader.rar"), false);
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
    BigArchive archive;
    QVERIFY(archive.make());
    QTemporaryDir folder;
    const QDir destination(folder.path());
    auto document = open(archive.path());
    QVERIFY(document);
    const int rows = document->rows().size();
    QCOMPARE(rows, 4);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    document->launchExtractionTo(folder.path());
    QVERIFY2(bigEntryUnderWay(*document, folder.path()), "the extraction ended before it could be killed");
    ::kill(pid_t(document->helperProcessId()), SIGKILL);
    QVERIFY(waitForRun(*document));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocument1")); // the failure
    QCOMPARE(document->rows().size(), rows);
    // What was extracted stays; nothing half written passes for complete.
    QVERIFY(archive.earlierEntriesIntact(destination));
    QVERIFY(!destination.exists(QStringLiteral("big.bin")));
    QVERIFY(!destination.exists(QStringLiteral("zz-after.txt")));

    // Usable: the same extraction again, to its end.
    shown.clear();
    document->launchExtractionTo(folder.path());
    QVERIFY(waitForRun(*document, 120000));
    QCOMPARE(shown.size(), 0);
    QCOMPARE(QFileInfo(destination.filePath(QStringLiteral("big.bin"))).size(), BigArchive::bigSize);
    QVERIFY(destination.exists(QStringLiteral("zz-after.txt")));
}

void TestFaults::destinationMadeReadOnlyHalfway()
{
    BigArchive archive;
    QVERIFY(archive.make());
    QTemporaryDir place;
    QTemporaryDir wrapperFolder;
    const bool root = ::geteuid() == 0;
    constexpr uid_t nobody = 65534;
    auto restore = qScopeGuard([] { ResourceLocator::setSearchPathsForTesting({}); });
    if (root) {
        // Root ignores folder permissions: the helper runs as an unprivileged
        // user, through a wrapper found in its place.
        const QString helper = ResourceLocator::find(QStringLiteral("unrar"));
        const QString wrapper = wrapperFolder.filePath(QStringLiteral("unrar"));
        QFile script(wrapper);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups '" + helper.toUtf8()
                     + "' \"$@\"\n");
        script.close();
        for (const QString &path : {wrapperFolder.path(), place.path(), archive.folder()})
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadGroup | QFile::ExeGroup
                                      | QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(wrapper, QFile::permissions(wrapper) | QFile::ExeOwner | QFile::ExeGroup
                                  | QFile::ExeOther | QFile::ReadOther);
        QProcess probe;
        probe.start(wrapper, {QStringLiteral("vb"), archive.path()});
        if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
            QSKIP("running as root, and the helper cannot run as an unprivileged user here");
        ResourceLocator::setSearchPathsForTesting({wrapperFolder.path()});
    }
    const auto makeDestination = [&](const QString &name) {
        const QString path = place.filePath(name);
        if (!QDir().mkpath(path) || (root && ::chown(QFile::encodeName(path).constData(), nobody, nobody) != 0))
            return QString();
        return path;
    };
    const QString first = makeDestination(QStringLiteral("first"));
    QVERIFY(!first.isEmpty());
    const QByteArray firstName = QFile::encodeName(first);
    auto writable = qScopeGuard([&] { ::chmod(firstName.constData(), 0755); }); // to be removed

    auto document = open(archive.path());
    QVERIFY(document);
    QCOMPARE(document->rows().size(), 4);
    AlertAnswerer alerts;
    QSignalSpy shown(document.get(), &MyDocument::alertShown);
    document->launchExtractionTo(first);
    QVERIFY2(bigEntryUnderWay(*document, first), "the extraction ended before the folder could be locked");
    const pid_t helper = pid_t(document->helperProcessId());
    ::kill(helper, SIGSTOP);
    QCOMPARE(::chmod(firstName.constData(), 0555), 0);
    ::kill(helper, SIGCONT);
    QVERIFY(waitForRun(*document, 120000));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first().first().toString(), QStringLiteral("MyDocument1"));
    const QDir destination(first);
    QVERIFY(archive.earlierEntriesIntact(destination));
    QVERIFY(!destination.exists(QStringLiteral("big.bin")));
    QVERIFY(!destination.exists(QStringLiteral("zz-after.txt")));

    // Still usable: the extraction elsewhere goes to its end.
    shown.clear();
    const QString second = makeDestination(QStringLiteral("second"));
    QVERIFY(!second.isEmpty());
    document->launchExtractionTo(second);
    QVERIFY(waitForRun(*document, 120000));
    QCOMPARE(shown.size(), 0);
    QVERIFY(archive.earlierEntriesIntact(QDir(second)));
    QCOMPARE(QFileInfo(QDir(second).filePath(QStringLiteral("big.bin"))).size(), BigArchive::bigSize);
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
