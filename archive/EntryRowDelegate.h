#pragma once

#include <QStyledItemDelegate>

// Paints the entry table's cells without the focus frame of the current
// cell: whole rows are selected, and a frame around the narrow icon cell
// shows only as a stray mark beside the icon.
class EntryRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
