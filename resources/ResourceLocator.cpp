#include "ResourceLocator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QStringList &overridePaths()
{
    static QStringList paths;
    return paths;
}
}

QStringList ResourceLocator::searchPaths()
{
    if (!overridePaths().isEmpty())
        return overridePaths();

    QStringList paths;
    const QString fromEnv = qEnvironmentVariable("VORLO_RESOURCES");
    for (const QString &dir : fromEnv.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        paths << dir;

    // Installed layout: <prefix>/bin/vorlo beside <prefix>/libexec/vorlo.
    if (QCoreApplication::instance()) {
        const QDir binDir(QCoreApplication::applicationDirPath());
        paths << QDir::cleanPath(binDir.filePath(QStringLiteral("../" VORLO_LIBEXEC_SUBDIR)));
        paths << QDir::cleanPath(binDir.filePath(QStringLiteral("../" VORLO_DATA_SUBDIR)));
    }

    // Build tree: generated files first, then the sources themselves.
    paths << QStringLiteral(VORLO_BUILD_LIBEXEC_DIR)
          << QStringLiteral(VORLO_BUILD_DATA_DIR)
          << QStringLiteral(VORLO_SOURCE_RESOURCES_DIR);
    paths.removeDuplicates();
    return paths;
}

QString ResourceLocator::find(const QString &name)
{
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return {};
    for (const QString &dir : searchPaths()) {
        const QFileInfo candidate(QDir(dir).filePath(name));
        if (candidate.exists() && !candidate.isDir())
            return candidate.absoluteFilePath();
    }
    return {};
}

void ResourceLocator::setSearchPathsForTesting(const QStringList &paths)
{
    overridePaths() = paths;
}
