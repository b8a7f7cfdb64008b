#pragma once
// What a test or benchmark reads of its own process from /proc: descriptors, child
// processes, memory. Header-only, for the tests and the benchmarks.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <unistd.h>

namespace ProcessProbes {

inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"); -1 when absent.
inline qint64 statusKiB(const char *field, qint64 pid = 0)
{
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray wanted = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
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
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &word : file.readAll().split(' ')) {
            if (!word.trimmed().isEmpty())
                children << word.trimmed().toLongLong();
        }
    }
    return children;
}

// Every process on the system running the program at `path` (whoever its
// parent is now: an orphaned helper is adopted by another process).
inline QList<qint64> processesRunning(const QString &path)
{
    QList<qint64> found;
    const QString wanted = QFileInfo(path).canonicalFilePath();
    if (wanted.isEmpty())
        return found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
        exe.remove(QLatin1String(" (deleted)"));
        if (exe == wanted)
            found << pid;
    }
    return found;
}

inline double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

} // namespace ProcessProbes
