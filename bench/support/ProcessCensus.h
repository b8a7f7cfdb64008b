#pragma once
// What only the benchmarks read of the system beyond ProcessProbes: every
// helper running, whoever its parent, and sizes in MiB for their reports.
#include "ProcessProbes.h"

#include <QStringList>

namespace ProcessProbes {

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
