#pragma once

#include "ToolbarItems.h"

#include <QToolBar>

class QMenu;

// The document window's toolbar "tasksToolBar": icons with their labels
// under them, arranged as the user last saved it (shared by every window).
class DocumentToolbar : public QToolBar
{
    Q_OBJECT

public:
    explicit DocumentToolbar(QWidget *parent = nullptr);
    ~DocumentToolbar() override;

    // Makes the toolbar item `identifier`: label, tooltip and image of one of
    // the four commands, or a bare item that carries only its identifier
    // (as its object name).
    static QAction *makeItem(const QString &identifier, QObject *parent);

    void setArrangement(const QStringList &identifiers);
    QStringList arrangement() const { return m_arrangement; }
    QAction *itemAction(const QString &identifier) const;

    // The arrangement stored in the settings, repaired; the default when
    // nothing is stored.
    static QStringList savedArrangement();
    // Stores `identifiers` and applies them to every open document toolbar.
    static void saveArrangement(const QStringList &identifiers);

    // Whether "Extract" gathers an archive of several top-level items in a
    // folder named after it (off unless the user turned it on).
    static bool extractsIntoFolder();
    static void setExtractsIntoFolder(bool on);

    // The toolbar's context menu: customising, and the setting above.
    void fillContextMenu(QMenu &menu);

public slots:
    // Opens the customisation dialog; on OK its arrangement is saved.
    void customize();

signals:
    void commandTriggered(ToolbarItems::Command command);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QStringList m_arrangement;
    QList<QAction *> m_items; // in toolbar order, separators and spaces included
};
