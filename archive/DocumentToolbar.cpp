#include "DocumentToolbar.h"

#include "ResourceLocator.h"
#include "StringTable.h"
#include "ToolbarCustomizeDialog.h"

#include <QContextMenuEvent>
#include <QHash>
#include <QMenu>
#include <QPointer>
#include <QSettings>

namespace {
QList<QPointer<DocumentToolbar>> &openToolbars()
{
    static QList<QPointer<DocumentToolbar>> toolbars;
    return toolbars;
}

// One icon per image for all windows: Qt caches an icon's scaled pixmaps
// under the icon's own key, so a fresh icon per window would fill that cache
// with copies of the same pictures, window after window.
QIcon itemImage(const QString &name)
{
    static QHash<QString, QIcon> icons;
    const QString path = ResourceLocator::find(QStringLiteral("images/%1.png").arg(name));
    if (path.isEmpty())
        return QIcon();
    auto known = icons.constFind(path);
    if (known == icons.constEnd())
        known = icons.insert(path, QIcon(path));
    return *known;
}
} // namespace

DocumentToolbar::DocumentToolbar(QWidget *parent)
    : QToolBar(parent)
{
    setObjectName(ToolbarItems::settingsKey);
    setWindowTitle(StringTable::text(QStringLiteral("MyDocumentToolbar5")));
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(32, 32));
    setMovable(false);
    setFloatable(false);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    openToolbars().append(this);
    setArrangement(savedArrangement());
}

DocumentToolbar::~DocumentToolbar()
{
    openToolbars().removeAll(this);
}

QAction *DocumentToolbar::makeItem(const QString &identifier, QObject *parent)
{
    const ToolbarItems::Item item = ToolbarItems::item(identifier);
    auto *action = new QAction(parent);
    action->setObjectName(identifier);
    if (item.isBare())
        return action;
    action->setText(StringTable::text(item.labelKey));
    action->setIconText(action->text());
    action->setToolTip(StringTable::text(item.toolTipKey));
    action->setIcon(itemImage(item.image));
    return action;
}

void DocumentToolbar::setArrangement(const QStringList &identifiers)
{
    for (QAction *action : std::as_const(m_items)) {
        removeAction(action);
        delete action;
    }
    m_items.clear();
    m_arrangement = identifiers;
    for (const QString &identifier : identifiers) {
        QAction *action = nullptr;
        if (identifier == ToolbarItems::separator) {
            action = addSeparator();
        } else if (identifier == ToolbarItems::flexibleSpace) {
            auto *spacer = new QWidget(this);
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            action = addWidget(spacer);
        } else {
            action = makeItem(identifier, this);
            const ToolbarItems::Command command = ToolbarItems::item(identifier).command;
            if (command != ToolbarItems::Command::None)
                connect(action, &QAction::triggered, this, [this, command] { emit commandTriggered(command); });
            addAction(action);
        }
        m_items << action;
    }
}

QAction *DocumentToolbar::itemAction(const QString &identifier) const
{
    for (QAction *action : actions()) {
        if (action->objectName() == identifier)
            return action;
    }
    return nullptr;
}

QStringList DocumentToolbar::savedArrangement()
{
    QSettings settings;
    if (!settings.contains(ToolbarItems::settingsKey))
        return ToolbarItems::defaultArrangement();
    return ToolbarItems::repaired(settings.value(ToolbarItems::settingsKey));
}

void DocumentToolbar::saveArrangement(const QStringList &identifiers)
{
    const QStringList arrangement = ToolbarItems::repaired(ToolbarItems::toSettingsValue(identifiers));
    QSettings settings;
    settings.setValue(ToolbarItems::settingsKey, ToolbarItems::toSettingsValue(arrangement));
    for (const QPointer<DocumentToolbar> &toolbar : std::as_const(openToolbars())) {
        if (toolbar)
            toolbar->setArrangement(arrangement);
    }
}

void DocumentToolbar::customize()
{
    ToolbarCustomizeDialog dialog(m_arrangement, window());
    if (dialog.exec() == QDialog::Accepted)
        saveArrangement(dialog.arrangement());
}

namespace {
const QString extractIntoFolderKey = QStringLiteral("extractIntoFolder");
}

bool DocumentToolbar::extractsIntoFolder()
{
    return QSettings().value(extractIntoFolderKey, false).toBool();
}

void DocumentToolbar::setExtractsIntoFolder(bool on)
{
    QSettings().setValue(extractIntoFolderKey, on);
}

void DocumentToolbar::fillContextMenu(QMenu &menu)
{
    menu.addAction(StringTable::text(QStringLiteral("MyDocumentToolbar1")), this, &DocumentToolbar::customize);
    QAction *intoFolder = menu.addAction(StringTable::text(QStringLiteral("MyDocumentExtractIntoFolder")));
    intoFolder->setObjectName(extractIntoFolderKey);
    intoFolder->setCheckable(true);
    intoFolder->setChecked(extractsIntoFolder());
    connect(intoFolder, &QAction::toggled, this, &DocumentToolbar::setExtractsIntoFolder);
}

void DocumentToolbar::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    fillContextMenu(menu);
    menu.exec(event->globalPos());
}
