#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The document toolbar's items and arrangements, by identifier.
namespace ToolbarItems {

inline const QString extract = QStringLiteral("ExtractItem");
inline const QString extractTo = QStringLiteral("ExtractItemTo");
inline const QString close = QStringLiteral("CloseItem");
inline const QString trash = QStringLiteral("placerDansLaCorbeille");
inline const QString separator = QStringLiteral("Separator");
inline const QString flexibleSpace = QStringLiteral("FlexibleSpace");

// The settings key of the saved arrangement.
inline const QString settingsKey = QStringLiteral("tasksToolBar");

enum class Command { None, ExtractNow, ExtractNowTo, CloseNow, Trash };

struct Item
{
    QString identifier;
    QString labelKey;   // also the name shown in the customisation dialog
    QString toolTipKey;
    QString image;      // resource name under images/
    Command command = Command::None;

    bool isBare() const { return command == Command::None; }
};

// The item for `identifier`; any identifier but the four commands gives a
// bare item that carries nothing but its identifier.
Item item(const QString &identifier);

QStringList defaultArrangement();
QStringList allowedItems();

// Whether `identifier` may appear more than once (separators and spaces).
bool isRepeatable(const QString &identifier);

// The arrangement as stored in the settings: identifiers joined by commas,
// so that an empty or one-item toolbar survives the settings file.
QString toSettingsValue(const QStringList &arrangement);

// A stored arrangement made usable: a value of another type (or none) gives
// the default; unknown identifiers and repeated commands are dropped.
QStringList repaired(const QVariant &saved);

// The folder an archive is extracted into by the Extract command: the one
// that holds it ("/path/to/a.rar" gives "/path/to").
QString folderOf(const QString &archivePath);

} // namespace ToolbarItems
