#include "ToolbarItems.h"

#include <QFileInfo>

namespace ToolbarItems {

Item item(const QString &identifier)
{
    if (identifier == extract)
        return {identifier, QStringLiteral("MyDocument5"), QStringLiteral("MyDocument6"), QStringLiteral("extract"),
                Command::ExtractNow};
    if (identifier == extractTo)
        return {identifier, QStringLiteral("MyDocument7"), QStringLiteral("MyDocument8"), QStringLiteral("extractto"),
                Command::ExtractNowTo};
    if (identifier == close)
        return {identifier, QStringLiteral("MyDocument9"), QStringLiteral("MyDocument10"), QStringLiteral("close"),
                Command::CloseNow};
    if (identifier == trash)
        return {identifier, QStringLiteral("MyDocument11"), QStringLiteral("MyDocument12"), QStringLiteral("corbeille"),
                Command::Trash};
    return {identifier, {}, {}, {}, Command::None};
}

QStringList defaultArrangement()
{
    return {extract, extractTo, separator, trash, flexibleSpace, close};
}

QStringList allowedItems()
{
    return {extract, extractTo, trash, flexibleSpace, separator, close};
}

bool isRepeatable(const QString &identifier)
{
    return identifier == separator || identifier == flexibleSpace;
}

QStringList repaired(const QVariant &saved)
{
    QStringList identifiers;
    if (saved.typeId() == QMetaType::QStringList)
        identifiers = saved.toStringList();
    else if (saved.typeId() == QMetaType::QString)
        identifiers = saved.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    else
        return defaultArrangement();
    const QStringList allowed = allowedItems();
    QStringList result;
    for (const QString &raw : std::as_const(identifiers)) {
        const QString identifier = raw.trimmed();
        if (!allowed.contains(identifier))
            continue;
        if (!isRepeatable(identifier) && result.contains(identifier))
            continue;
        result << identifier;
    }
    return result;
}

QString toSettingsValue(const QStringList &arrangement)
{
    return arrangement.join(QLatin1Char(','));
}

QString folderOf(const QString &archivePath)
{
    return QFileInfo(archivePath).absolutePath();
}

} // namespace ToolbarItems
