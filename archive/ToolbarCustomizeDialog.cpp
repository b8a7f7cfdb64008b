#include "ToolbarCustomizeDialog.h"

#include "StringTable.h"
#include "ToolbarItems.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int IdentifierRole = Qt::UserRole;

QString uiText(const char *key)
{
    return StringTable::text(QString::fromLatin1(key));
}
} // namespace

ToolbarCustomizeDialog::ToolbarCustomizeDialog(const QStringList &arrangement, QWidget *parent)
    : QDialog(parent)
    , m_availableList(new QListWidget(this))
    , m_toolbarList(new QListWidget(this))
{
    setWindowTitle(uiText("MyDocumentToolbar1"));
    m_availableList->setObjectName(QStringLiteral("availableItems"));
    m_toolbarList->setObjectName(QStringLiteral("toolbarItems"));

    auto *add = new QPushButton(uiText("MyDocumentToolbar6"), this);
    auto *remove = new QPushButton(uiText("MyDocumentToolbar7"), this);
    auto *up = new QPushButton(uiText("MyDocumentToolbar8"), this);
    auto *down = new QPushButton(uiText("MyDocumentToolbar9"), this);
    auto *defaults = new QPushButton(uiText("MyDocumentToolbar10"), this);
    defaults->setObjectName(QStringLiteral("restoreDefaults"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    for (QPushButton *button : {add, remove, up, down})
        moveButtons->addWidget(button);
    moveButtons->addStretch();

    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(uiText("MyDocumentToolbar4"), this), 0, 0);
    grid->addWidget(new QLabel(uiText("MyDocumentToolbar5"), this), 0, 2);
    grid->addWidget(m_availableList, 1, 0);
    grid->addLayout(moveButtons, 1, 1);
    grid->addWidget(m_toolbarList, 1, 2);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(defaults);
    bottom->addStretch();
    bottom->addWidget(buttons);
    grid->addLayout(bottom, 2, 0, 1, 3);

    connect(add, &QPushButton::clicked, this, [this] {
        if (QListWidgetItem *item = m_availableList->currentItem())
            addItem(item->data(IdentifierRole).toString());
    });
    connect(m_availableList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) {
        addItem(item->data(IdentifierRole).toString());
    });
    connect(remove, &QPushButton::clicked, this, [this] { removeItemAt(m_toolbarList->currentRow()); });
    connect(up, &QPushButton::clicked, this, [this] { moveItem(m_toolbarList->currentRow(), -1); });
    connect(down, &QPushButton::clicked, this, [this] { moveItem(m_toolbarList->currentRow(), +1); });
    connect(defaults, &QPushButton::clicked, this, &ToolbarCustomizeDialog::restoreDefaults);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setArrangement(ToolbarItems::repaired(arrangement));
}

QString ToolbarCustomizeDialog::displayName(const QString &identifier)
{
    if (identifier == ToolbarItems::separator)
        return uiText("MyDocumentToolbar2");
    if (identifier == ToolbarItems::flexibleSpace)
        return uiText("MyDocumentToolbar3");
    return StringTable::text(ToolbarItems::item(identifier).labelKey);
}

QStringList ToolbarCustomizeDialog::arrangement() const
{
    QStringList identifiers;
    for (int row = 0; row < m_toolbarList->count(); ++row)
        identifiers << m_toolbarList->item(row)->data(IdentifierRole).toString();
    return identifiers;
}

QStringList ToolbarCustomizeDialog::available() const
{
    QStringList identifiers;
    for (int row = 0; row < m_availableList->count(); ++row)
        identifiers << m_availableList->item(row)->data(IdentifierRole).toString();
    return identifiers;
}

void ToolbarCustomizeDialog::setArrangement(const QStringList &identifiers)
{
    m_toolbarList->clear();
    for (const QString &identifier : identifiers) {
        auto *item = new QListWidgetItem(displayName(identifier), m_toolbarList);
        item->setData(IdentifierRole, identifier);
    }
    refreshAvailable();
}

void ToolbarCustomizeDialog::refreshAvailable()
{
    const QStringList used = arrangement();
    m_availableList->clear();
    for (const QString &identifier : ToolbarItems::allowedItems()) {
        if (!ToolbarItems::isRepeatable(identifier) && used.contains(identifier))
            continue;
        auto *item = new QListWidgetItem(displayName(identifier), m_availableList);
        item->setData(IdentifierRole, identifier);
    }
}

void ToolbarCustomizeDialog::addItem(const QString &identifier)
{
    if (!available().contains(identifier))
        return;
    QStringList identifiers = arrangement();
    const int at = m_toolbarList->currentRow() >= 0 ? m_toolbarList->currentRow() + 1 : int(identifiers.size());
    identifiers.insert(at, identifier);
    setArrangement(identifiers);
    m_toolbarList->setCurrentRow(at);
}

void ToolbarCustomizeDialog::removeItemAt(int row)
{
    QStringList identifiers = arrangement();
    if (row < 0 || row >= identifiers.size())
        return;
    identifiers.removeAt(row);
    setArrangement(identifiers);
    m_toolbarList->setCurrentRow(std::min(row, int(identifiers.size()) - 1));
}

void ToolbarCustomizeDialog::moveItem(int row, int delta)
{
    QStringList identifiers = arrangement();
    const int target = row + delta;
    if (row < 0 || row >= identifiers.size() || target < 0 || target >= identifiers.size())
        return;
    identifiers.move(row, target);
    setArrangement(identifiers);
    m_toolbarList->setCurrentRow(target);
}

void ToolbarCustomizeDialog::restoreDefaults()
{
    setArrangement(ToolbarItems::defaultArrangement());
}
