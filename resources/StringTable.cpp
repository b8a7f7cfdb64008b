#include "StringTable.h"

#include "ResourceLocator.h"
#include "SafeFormat.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutex>
#include <optional>

namespace {
QMutex tableMutex;
std::optional<QHash<QString, QString>> loadedTable;

QString languageOf(const QLocale &locale)
{
    return locale.language() == QLocale::French ? QStringLiteral("fr") : QStringLiteral("en");
}
}

QString StringTable::language()
{
    return languageOf(QLocale());
}

QHash<QString, QString> StringTable::loadTable(const QString &language)
{
    QHash<QString, QString> table;
    // Any file of the language folder will do to find the folder itself.
    QStringList folders;
    for (const QString &base : ResourceLocator::searchPaths()) {
        const QDir dir(QDir(base).filePath(QStringLiteral("strings/") + language));
        if (dir.exists())
            folders << dir.absolutePath();
    }
    if (folders.isEmpty())
        return table;

    const QDir dir(folders.first());
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.value().isString())
                table.insert(it.key(), it.value().toString());
        }
    }
    return table;
}

QString StringTable::text(const QString &key)
{
    QMutexLocker lock(&tableMutex);
    if (!loadedTable)
        loadedTable = loadTable(language());
    const auto it = loadedTable->constFind(key);
    return it == loadedTable->constEnd() ? key : it.value();
}

QString StringTable::format(const QString &key, const QStringList &arguments)
{
    return safeFormat(text(key), arguments);
}

void StringTable::reload()
{
    QMutexLocker lock(&tableMutex);
    loadedTable.reset();
}
