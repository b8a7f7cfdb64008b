#pragma once

#include <QDialog>

class QListWidget;
class QPushButton;

// Lets the user add, remove and reorder the toolbar's items among the
// allowed ones, or go back to the default set.
class ToolbarCustomizeDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ToolbarCustomizeDialog(const QStringList &arrangement, QWidget *parent = nullptr);

    QStringList arrangement() const;
    // Identifiers that can be added now: the allowed items in their order,
    // without the commands already on the toolbar.
    QStringList available() const;

    void addItem(const QString &identifier);
    void removeItemAt(int row);
    void moveItem(int row, int delta);
    void restoreDefaults();

private:
    void setArrangement(const QStringList &identifiers);
    void refreshAvailable();
    static QString displayName(const QString &identifier);

    QListWidget *m_availableList;
    QListWidget *m_toolbarList;
};
