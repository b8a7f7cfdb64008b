#pragma once
// What a test or benchmark reads of its own process from /proc: descriptors, child
// processes, memory, files being written. Header-only, for the tests and the benchmarks.
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <csignal>
#include <unistd.h>

namespace ProcessProbes {

inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"); -1 when absent.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray wanted = QByteArray(field) + ':';
    for (const QByteArray &line : status.open(QIODevice::ReadOnly) ? status.readAll().split('\n') : QByteArrayList()) {
        if (line.startsWith(wanted))
            return line.mid(wanted.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The direct children of `pid`, zombies included (an unreaped child is a leak too).
inline QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        for (const QByteArray &word : file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QByteArrayList()) {
            if (!word.trimmed().isEmpty())
                children << word.trimmed().toLongLong();
        }
    }
    return children;
}

// Whether process `pid` holds a file open directly in `folder` with more
// than `minimumSize` bytes written: a file being extracted, without a name
// or under a hidden one.
inline bool writesInto(qint64 pid, const QString &folder, qint64 minimumSize = 0)
{
    const QString prefix = QDir(folder).canonicalPath() + QLatin1Char('/');
    const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : descriptors.entryList(QDir::Files | QDir::System)) {
        const QFileInfo link(descriptors.filePath(fd));
        const QString target = link.symLinkTarget();
        if (target.startsWith(prefix) && !target.mid(prefix.size()).contains(QLatin1Char('/')) && link.isFile()
            && link.size() > minimumSize)
            return true;
    }
    return false;
}

// Lets process `pid` run in short steps until `reached()` holds, and leaves
// it stopped (SIGSTOP) then; false, with the process running again, when
// `running()` turns false first or after `timeoutMs`. On a busy machine the
// test may not be scheduled for longer than the helper needs to finish what
// the test waits for, so merely watching can miss it. `running()` may
// process events.
template<typename Reached, typename Running>
bool stepUntil(qint64 pid, Reached reached, Running running, int timeoutMs = 30000)
{
    if (pid <= 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        ::kill(pid_t(pid), SIGSTOP);
        if (!running())
            break;
        if (reached())
            return true;
        ::kill(pid_t(pid), SIGCONT);
        ::usleep(2000);
    }
    ::kill(pid_t(pid), SIGCONT);
    return false;
}

} // namespace ProcessProbes
