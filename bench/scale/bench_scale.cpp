// Vorlo on a very large archive, end to end: the real controller, document,
// table and helper, on a real X display (a private Xvfb when DISPLAY is not
// set). Times from the open request, and from each double-click, to the
// moment the table's new rows have been painted, flushed to the X server
// and the server has caught up; then the peak memory of Vorlo and of the
// helper.
//
// The timing sits in this program only: a QApplication whose notify() sees
// the paint of the table's viewport, no hook in the product.
#include "EntryTableModel.h"
#include "EventWait.h"
#include "MyDocument.h"
#include "ProcessCensus.h"
#include "ResourceLocator.h"
#include "VorloCtrl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kOpenGoalMs = 3000;
constexpr double kNavigationGoalMs = 150;
constexpr double kMemoryGoalMB = 400;

QElapsedTimer &benchClock()
{
    static QElapsedTimer timer;
    return timer;
}

double nowMs()
{
    return double(benchClock().nsecsElapsed()) / 1e6;
}

// A private X server for the run, when there is no display.
class PrivateDisplay
{
public:
    ~PrivateDisplay()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool start()
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(pipeFds[0]);
            const std::string fd = std::to_string(pipeFds[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
                     "tcp", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        if (m_pid < 0) {
            ::close(pipeFds[0]);
            return false;
        }
        // Xvfb writes its display number once it accepts clients.
        std::string number;
        char c;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeFds[0]);
        if (number.empty())
            return false;
        qputenv("DISPLAY", QByteArray(":") + QByteArray::fromStdString(number));
        return true;
    }

private:
    pid_t m_pid = -1;
};

// Sees every event: a paint of an item view's viewport while `arrived`
// holds marks the wanted rows as painted; the time is taken when the
// outermost event that painted them returns, after the window's backing
// store has been flushed.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    void expect(std::function<bool()> arrived)
    {
        m_arrived = std::move(arrived);
        m_seen = false;
        m_paintedAt = -1;
    }
    bool painted() const { return m_paintedAt >= 0; }
    double paintedAt() const { return m_paintedAt; }

    bool notify(QObject *receiver, QEvent *event) override
    {
        ++m_depth;
        const bool result = QApplication::notify(receiver, event);
        --m_depth;
        if (event->type() == QEvent::Paint && m_arrived && !m_seen) {
            auto *view = qobject_cast<QAbstractItemView *>(receiver->parent());
            if (view && view->viewport() == receiver && m_arrived())
                m_seen = true;
        }
        if (m_depth == 0 && m_seen && m_paintedAt < 0) {
            syncWithServer();
            m_paintedAt = nowMs();
            m_arrived = nullptr;
        }
        return result;
    }

private:
    // One round trip: once the X server answers, it has handled the image.
    void syncWithServer()
    {
        auto *x11 = nativeInterface<QNativeInterface::QX11Application>();
        if (!x11 || !x11->connection())
            return;
        xcb_connection_t *connection = x11->connection();
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }

    std::function<bool()> m_arrived;
    bool m_seen = false;
    double m_paintedAt = -1;
    int m_depth = 0;
};

// Lets the window finish whatever it still has to do (paints, layouts).
void settle(int ms = 150)
{
    EventWait::pause(ms);
}

QTableView *tableOf(MyDocument *document)
{
    return document->window() ? document->window()->findChild<QTableView *>() : nullptr;
}

int rowNamed(MyDocument *document, const QString &name, EntryRow::Kind kind)
{
    const QList<EntryRow> &rows = document->rows();
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i].name == name && rows[i].kind == kind)
            return i;
    }
    return -1;
}

// Double-clicks row `row` as a user would (the row scrolled into view and
// clicked first, untimed) and returns the time from the double-click to
// the painted new level, or -1.
double navigate(TimingApplication &app, MyDocument *document, int row, const QString &wantedPrefix)
{
    QTableView *table = tableOf(document);
    if (!table || row < 0)
        return -1;
    const QModelIndex index = table->model()->index(row, EntryTableModel::NameColumn);
    table->scrollTo(index);
    settle(100);
    const QPoint at = table->visualRect(index).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
    settle(100);
    app.expect([document, wantedPrefix] {
        return document->prefixePath() == wantedPrefix && !document->rows().isEmpty();
    });
    const double start = nowMs();
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
    if (!EventWait::until([&] { return app.painted(); }, 30000))
        return -1;
    return app.paintedAt() - start;
}

void report(const char *what, double ms, double goalMs)
{
    std::printf("  %-44s %8.1f ms   goal %5.0f ms   %5.2f of goal  %s\n", what, ms, goalMs, ms / goalMs,
                ms >= 0 && ms <= goalMs ? "ok" : "MISSED");
}

void warmCache(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    while (!file.read(1 << 20).isEmpty()) {
    }
}

// The helper by itself: the same bare listing into a pipe that is drained.
double helperAloneMs(const QString &archive)
{
    QProcess helper;
    helper.setProcessChannelMode(QProcess::MergedChannels);
    qint64 bytes = 0;
    QObject::connect(&helper, &QProcess::readyReadStandardOutput, [&] { bytes += helper.readAll().size(); });
    const double start = nowMs();
    helper.start(ResourceLocator::find(QStringLiteral("unrar")), {QStringLiteral("vb"), QStringLiteral("-v"), archive});
    if (!helper.waitForStarted())
        return -1;
    EventWait::until([&] { return helper.state() == QProcess::NotRunning; }, 120000);
    return nowMs() - start;
}

} // namespace

int main(int argc, char *argv[])
{
    benchClock().start();
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_scale ARCHIVE [ROUNDS]\n");
        return 2;
    }
    const QString archive = QString::fromLocal8Bit(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    PrivateDisplay privateDisplay;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && !privateDisplay.start()) {
        std::fprintf(stderr, "bench_scale: no DISPLAY and Xvfb could not be started\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    TimingApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlo"));
    QApplication::setOrganizationName(QStringLiteral("Vorlo"));
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir settingsDir; // the toolbar arrangement stays out of the user's settings
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    if (ResourceLocator::find(QStringLiteral("unrar")).isEmpty() || !QFile::exists(archive)) {
        std::fprintf(stderr, "bench_scale: the helper or %s is missing\n", qPrintable(archive));
        return 1;
    }
    warmCache(archive);
    std::printf("Vorlo on %s (%.0f MB), display %s, %d rounds of navigation\n", qPrintable(archive),
                double(QFileInfo(archive).size()) / 1e6, qgetenv("DISPLAY").constData(), rounds);
    const qint64 startKiB = ProcessProbes::statusKiB("VmRSS");

    // Opening: the request, the listing run, the top level on screen.
    VorloCtrl controller;
    MyDocument *document = nullptr;
    double lastPieceAt = -1;
    double listedAt = -1;
    app.expect([&document] { return document && document->level() == 0 && !document->rows().isEmpty(); });
    const double openAt = nowMs();
    document = controller.openArchive(archive);
    if (!document)
        return 1;
    QObject::connect(document, &MyDocument::runFinished, [&] { listedAt = nowMs(); });
    if (QProcess *listing = document->findChild<QProcess *>())
        QObject::connect(listing, &QProcess::readyReadStandardOutput, [&] { lastPieceAt = nowMs(); });
    if (!EventWait::until([&] { return app.painted(); }, 120000)) {
        std::fprintf(stderr, "bench_scale: the top level was never shown\n");
        return 1;
    }
    const double openPaintedAt = app.paintedAt();
    const double openMs = openPaintedAt - openAt;
    const qlonglong entries = document->entries().size();
    const qlonglong topRows = document->rows().size();
    settle(300);
    rusage children = {};
    ::getrusage(RUSAGE_CHILDREN, &children);
    const double helperPeakMiB = double(children.ru_maxrss) / 1024.0;
    const qint64 afterOpenKiB = ProcessProbes::statusKiB("VmRSS");

    // Navigation: into the big folder and back, down a chain of folders and back up.
    const int deepLevels = 8;
    std::map<QString, std::vector<double>> steps;
    std::vector<QString> order;
    auto record = [&](const QString &step, double ms) {
        if (!steps.count(step))
            order.push_back(step);
        steps[step].push_back(ms);
    };
    qlonglong bigRows = 0;
    for (int round = 0; round < rounds; ++round) {
        record(QStringLiteral("into big/ (100,000 files)"),
               navigate(app, document, rowNamed(document, QStringLiteral("big"), EntryRow::Kind::Folder),
                        QStringLiteral("big")));
        bigRows = document->rows().size();
        record(QStringLiteral(".. out of big/"),
               navigate(app, document, int(document->rows().size()) - 1, QString()));
        QString path;
        for (int level = 0; level <= deepLevels; ++level) {
            const QString name = level == 0 ? QStringLiteral("deep") : QStringLiteral("l%1").arg(level);
            path = path.isEmpty() ? name : path + QLatin1Char('/') + name;
            record(QStringLiteral("into deep/ level %1").arg(level + 1),
                   navigate(app, document, rowNamed(document, name, EntryRow::Kind::Folder), path));
        }
        for (int level = deepLevels; level >= 0; --level) {
            path = EntryRows::parentPath(path);
            record(QStringLiteral(".. up to level %1").arg(level),
                   navigate(app, document, int(document->rows().size()) - 1, path));
        }
    }
    const qint64 peakKiB = ProcessProbes::statusKiB("VmHWM");
    const qint64 endKiB = ProcessProbes::statusKiB("VmRSS");

    std::printf("archive: %lld entries listed, %lld rows at the top, %lld rows in big/\n\n", entries, topRows,
                bigRows);
    std::printf("open -> top level painted:\n");
    report("open request to top level on screen", openMs, kOpenGoalMs);
    std::printf("    of which: last output piece read at %.0f ms, rows built (run finished) at %.0f ms,\n"
                "    painted %.0f ms after that\n",
                lastPieceAt - openAt, listedAt - openAt, openPaintedAt - listedAt);

    std::printf("\nnavigation, double-click to new rows on screen (worst of %d; median in brackets):\n", rounds);
    double worstNavigation = 0;
    bool failed = false;
    for (const QString &step : order) {
        std::vector<double> times = steps[step];
        std::sort(times.begin(), times.end());
        failed = failed || times.front() < 0;
        worstNavigation = std::max(worstNavigation, times.back());
        const QByteArray label = (step + QStringLiteral(" [%1]").arg(times[times.size() / 2], 0, 'f', 1)).toUtf8();
        report(label.constData(), times.front() < 0 ? -1 : times.back(), kNavigationGoalMs);
    }

    const double peakMB = double(peakKiB) * 1024.0 / 1e6;
    std::printf("\nmemory:\n");
    std::printf("  %-44s %8.1f MB   goal %5.0f MB   %5.2f of goal  %s\n", "Vorlo peak resident (VmHWM)", peakMB,
                kMemoryGoalMB, peakMB / kMemoryGoalMB, peakMB <= kMemoryGoalMB ? "ok" : "MISSED");
    std::printf("  Vorlo resident: %.0f MiB before the open, %.0f MiB with the top level shown, %.0f MiB at the end\n",
                ProcessProbes::mib(startKiB), ProcessProbes::mib(afterOpenKiB), ProcessProbes::mib(endKiB));
    std::printf("  helper peak resident (largest child, getrusage): %.1f MiB\n", helperPeakMiB);

    const double aloneMs = helperAloneMs(archive);
    std::printf("\nhelper alone, bare listing into a drained pipe: %.0f ms (%.2f of the open)\n", aloneMs,
                aloneMs / openMs);

    if (QMainWindow *window = document->window())
        window->close();
    settle(100);
    const bool allMet = !failed && openMs <= kOpenGoalMs && worstNavigation <= kNavigationGoalMs
                        && peakMB <= kMemoryGoalMB;
    std::printf("\n%s\n", allMet ? "all goals met" : "some goals MISSED");
    return failed ? 1 : 0;
}
