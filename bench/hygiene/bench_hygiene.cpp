// Many documents in a row through the real controller, document and helper:
// each cycle opens an archive, lets it list, extracts it (every other
// cycle, one in two of those stopped by closing the window mid-run) and
// closes the window. Prints the open file descriptors, child processes and
// resident memory at the start and every 50 cycles, then the growth, and
// checks that no helper process is left anywhere on the system.
//
// The process makes itself the subreaper of its descendants: a helper that
// its shell left behind would be adopted by us and counted, not lost to init.
//
// Under the sanitizer build (-DVORLO_SANITIZE=ON), LeakSanitizer reports
// at exit.
#include "EventWait.h"
#include "MyDocument.h"
#include "PasswordWindow.h"
#include "ProcessCensus.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmapCache>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <malloc.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Census
{
    int cycle = 0;
    int descriptors = 0;
    int children = 0;
    int helpers = 0;
    qint64 residentKiB = 0;
    qint64 trimmedKiB = 0; // after emptying the pixmap cache and trimming the allocator
    qint64 heapInUseKiB = 0; // what the program holds from malloc: fragmentation aside
};

QString helperPath()
{
    return ResourceLocator::find(QStringLiteral("unrar"));
}

Census takeCensus(int cycle)
{
    // Documents and processes are let go with deleteLater.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Census census;
    census.cycle = cycle;
    census.descriptors = ProcessProbes::openDescriptors();
    census.children = int(ProcessProbes::childrenOf(::getpid()).size());
    census.helpers = int(ProcessProbes::processesRunning(helperPath()).size());
    census.residentKiB = ProcessProbes::statusKiB("VmRSS");
    // Qt keeps rendered icons in its pixmap cache (10 MiB by default), keyed
    // by icon: every new window's toolbar icons add entries until the cache
    // is full. Emptied here, with the allocator's free memory, so that what
    // remains is what the documents kept.
    QPixmapCache::clear();
    ::malloc_trim(0);
    census.trimmedKiB = ProcessProbes::statusKiB("VmRSS");
    const struct mallinfo2 heap = ::mallinfo2(); // all zero under the sanitizers
    census.heapInUseKiB = qint64((heap.uordblks + heap.hblkhd) / 1024);
    return census;
}

void printCensus(const char *label, const Census &census)
{
    std::printf("%-14s %6d %8d %9d %8d %10.1f %12.1f %10.2f\n", label, census.cycle, census.descriptors,
                census.children, census.helpers, ProcessProbes::mib(census.residentKiB),
                ProcessProbes::mib(census.trimmedKiB), ProcessProbes::mib(census.heapInUseKiB));
    std::fflush(stdout);
}

// Answers any alert that comes up and counts it: none is expected.
class AlertCounter : public QObject
{
public:
    AlertCounter()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (box && box->isVisible()) {
                    std::fprintf(stderr, "unexpected alert: %s\n", qPrintable(box->text()));
                    ++count;
                    box->accept();
                }
            }
        });
        m_timer.start(50);
    }
    int count = 0;

private:
    QTimer m_timer;
};

enum class Kind { ListOnly, ExtractToEnd, CloseMidExtraction, CloseMidListing };

struct Totals
{
    int listed = 0;
    int extracted = 0;
    int closedMidExtraction = 0;
    int closedMidListing = 0;
    int adoptedHelpers = 0; // outlived the process the document started, then ended
    int failures = 0;
};

class Cycler
{
public:
    Cycler(VorloCtrl &controller, QString small, QString big, QString waitsForPassword)
        : m_controller(controller)
        , m_small(std::move(small))
        , m_big(std::move(big))
        , m_waitsForPassword(std::move(waitsForPassword))
    {
    }

    Kind kindOf(int cycle) const
    {
        switch (cycle % 4) {
        case 0:
            return Kind::ExtractToEnd;
        case 2:
            return Kind::CloseMidExtraction;
        default:
            return cycle % 20 == 1 && !m_waitsForPassword.isEmpty() ? Kind::CloseMidListing : Kind::ListOnly;
        }
    }

    bool run(int cycle)
    {
        const Kind kind = kindOf(cycle);
        const QString archive = kind == Kind::CloseMidExtraction ? m_big
                                : kind == Kind::CloseMidListing  ? m_waitsForPassword
                                                                 : m_small;
        QTemporaryDir destination;
        MyDocument *document = m_controller.openArchive(archive);
        if (!document || !destination.isValid())
            return fail(cycle, "the document did not open");
        const QPointer<MyDocument> alive(document);

        if (kind == Kind::CloseMidListing) {
            // The listing waits at the password prompt: close it there.
            if (!EventWait::until([&] { return document->passwordWindow()->isVisible(); }, 20000))
                return fail(cycle, "the listing did not ask for a password");
            // The listing's shell execs the helper: the process the document
            // started is the helper itself.
            if (!ProcessProbes::processesRunning(helperPath()).contains(document->helperProcessId()))
                return fail(cycle, "the listing's process is not the helper");
            return closeAndCheck(document, document->helperProcessId(), cycle, &m_totals.closedMidListing);
        }

        if (!EventWait::until([&] { return alive && !document->isRunning(); }, 30000) || !alive
            || document->rows().isEmpty())
            return fail(cycle, "the listing did not end with rows");
        ++m_totals.listed;
        if (kind == Kind::ListOnly)
            return closeAndCheck(document, 0, cycle, nullptr);

        // The toolbar's "extract to" command, the folder chooser answered.
        const QString folder = destination.path();
        MyDocument::setFolderChooserForTesting([folder](QWidget *) { return folder; });
        document->extractNowTo();
        MyDocument::setFolderChooserForTesting(nullptr);
        if (!document->isRunning())
            return fail(cycle, "the extraction did not start");

        if (kind == Kind::CloseMidExtraction) {
            // Once the helper is writing, close the window under it.
            const QString output = QDir(folder).filePath(QStringLiteral("big.bin"));
            EventWait::until([&] { return QFile::exists(output) || !document->isRunning(); }, 20000);
            if (!document->isRunning())
                return fail(cycle, "the extraction ended before the window could be closed");
            return closeAndCheck(document, document->helperProcessId(), cycle, &m_totals.closedMidExtraction);
        }
        if (!EventWait::until([&] { return !document->isRunning(); }, 30000))
            return fail(cycle, "the extraction did not end");
        if (QDir(folder).isEmpty())
            return fail(cycle, "the extraction wrote nothing");
        return closeAndCheck(document, 0, cycle, &m_totals.extracted);
    }

    const Totals &totals() const { return m_totals; }

private:
    // Closes the document window as the user does; a helper that was
    // running must be gone (exited and reaped) soon after. Counts the
    // cycle in `done` when all went well.
    bool closeAndCheck(MyDocument *document, qint64 runningPid, int cycle, int *done)
    {
        // The process the document started and, for a listing, the helper
        // that its shell started.
        const QList<qint64> started = runningPid > 0 ? ProcessProbes::childrenOf(runningPid) : QList<qint64>();
        const QPointer<MyDocument> alive(document);
        document->window()->close();
        if (!EventWait::until([&] { return alive.isNull(); }, 5000))
            return fail(cycle, "the document was not released when its window closed");
        auto gone = [](qint64 pid) { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); };
        if (runningPid > 0 && !EventWait::until([&] { return gone(runningPid); }, 10000))
            return fail(cycle, "the process the document started outlived its window");
        for (const qint64 pid : started) {
            // A helper whose shell went first is adopted by this process (the
            // subreaper), which must reap it; QProcess reaps only its own.
            const bool ended = EventWait::until([&] {
                if (::waitpid(pid_t(pid), nullptr, WNOHANG) == pid)
                    ++m_totals.adoptedHelpers;
                return gone(pid);
            }, 10000);
            if (!ended)
                return fail(cycle, "the helper outlived its window");
        }
        if (done)
            ++*done;
        return true;
    }

    bool fail(int cycle, const char *what)
    {
        std::fprintf(stderr, "cycle %d: %s\n", cycle, what);
        ++m_totals.failures;
        return false;
    }

    VorloCtrl &m_controller;
    QString m_small;
    QString m_big;
    QString m_waitsForPassword;
    Totals m_totals;
};

} // namespace

namespace {
QtMessageHandler defaultMessageHandler = nullptr;

// The offscreen platform says, for every window shown, what it cannot do.
void quietMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    defaultMessageHandler(type, context, message);
}
} // namespace

int main(int argc, char *argv[])
{
    defaultMessageHandler = qInstallMessageHandler(quietMessageHandler);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_hygiene SMALL.rar BIG.rar [PASSWORD-NAMES.rar] [CYCLES]\n");
        return 2;
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlo"));
    QApplication::setOrganizationName(QStringLiteral("Vorlo"));
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir settingsDir;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());

    const QString small = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    const QString big = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
    QString waitsForPassword = argc > 3 ? QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath() : QString();
    if (!QFile::exists(waitsForPassword))
        waitsForPassword.clear();
    const int cycles = argc > 4 ? std::max(4, std::atoi(argv[4])) : 200;
    if (helperPath().isEmpty() || !QFile::exists(small) || !QFile::exists(big)) {
        std::fprintf(stderr, "bench_hygiene: the helper or an archive is missing\n");
        return 1;
    }

    int exitCode = 0;
    {
        // The controller ends Vorlo when its last window goes: this one stays.
        QWidget anchor;
        anchor.resize(100, 100);
        anchor.show();
        VorloCtrl controller;
        AlertCounter alerts;
        Cycler cycler(controller, small, big, waitsForPassword);

        std::printf("%d documents: listed, one in two extracted (half of those stopped by closing the window),\n"
                    "%s\n\n",
                    cycles,
                    waitsForPassword.isEmpty() ? "no listing closed mid-run (no archive that asks for a password)"
                                               : "one listing in ten closed while it waits for a password");
        std::printf("%-14s %6s %8s %9s %8s %10s %12s %10s\n", "", "cycle", "fds", "children", "helpers", "RSS MiB",
                    "trimmed MiB", "heap MiB");
        std::printf("(trimmed: after emptying Qt's pixmap cache and giving the allocator's free memory back;\n"
                    " heap: bytes held from malloc, which fragmentation does not inflate)\n");
        const Census start = takeCensus(0);
        printCensus("start", start);
        // Warm-up: the first documents load icons, fonts, string tables.
        bool ok = cycler.run(0) && cycler.run(1) && cycler.run(2) && cycler.run(3);
        const Census warm = takeCensus(4);
        printCensus("after warm-up", warm);
        Census last = warm;
        for (int cycle = 4; ok && cycle < cycles; ++cycle) {
            ok = cycler.run(cycle);
            if ((cycle + 1) % 50 == 0) {
                last = takeCensus(cycle + 1);
                printCensus("", last);
            }
        }
        // Helpers let go while running are reaped when they end.
        EventWait::until([] { return ProcessProbes::childrenOf(::getpid()).isEmpty(); }, 10000);
        const Census end = takeCensus(last.cycle);
        printCensus("end (settled)", end);

        const Totals &totals = cycler.totals();
        std::printf("\ncycles done: %d listed to the end (%d extracted to the end), %d closed mid-extraction, "
                    "%d closed mid-listing; %d failures, %d unexpected alerts\n",
                    totals.listed, totals.extracted, totals.closedMidExtraction, totals.closedMidListing,
                    totals.failures, alerts.count);
        std::printf("helpers that outlived the process the document started (reaped here): %d\n",
                    totals.adoptedHelpers);
        std::printf("growth after warm-up: %+d descriptors, %+d child processes, %d helper processes left, "
                    "%+.1f MiB resident (%+.1f MiB after trimming the allocator), %+.2f MiB of heap in use\n",
                    end.descriptors - warm.descriptors, end.children - warm.children, end.helpers,
                    ProcessProbes::mib(end.residentKiB - warm.residentKiB),
                    ProcessProbes::mib(end.trimmedKiB - warm.trimmedKiB),
                    ProcessProbes::mib(end.heapInUseKiB - warm.heapInUseKiB));
        std::printf("documents still known to the controller: %lld\n", qlonglong(controller.documents().size()));
        const bool clean = ok && end.descriptors == warm.descriptors && end.children == 0 && end.helpers == 0
                           && controller.documents().isEmpty() && alerts.count == 0;
        std::printf("%s\n", clean ? "nothing left behind" : "SOMETHING WAS LEFT BEHIND");
#if defined(__SANITIZE_ADDRESS__)
        std::printf("sanitizer build: LeakSanitizer checks the process at its exit (a leak report follows, "
                    "or nothing); resident memory includes the freed blocks AddressSanitizer holds in "
                    "quarantine\n");
#endif
        exitCode = clean ? 0 : 1;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return exitCode;
}
