#pragma once

#include "EntryRows.h"

#include <QAbstractTableModel>

// The entry table: icon, name and details columns over the rows of the
// current folder level, in archive order until the user sorts by a column.
class EntryTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IconColumn, NameColumn, SizeColumn, PackedColumn, ModifiedColumn, LockColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // New rows are put in the order last asked for by sort().
    void setRows(QList<EntryRow> rows);
    const QList<EntryRow> &rows() const { return m_rows; }
    // The same level with details added: when the rows are the same items
    // only their details change, so that a click or the selection under
    // way is not lost to a reset; otherwise as setRows.
    void addDetails(QList<EntryRow> rows);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Rows can be dragged out, all but the parent row.
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    // Folders before files, the parent row last; names in natural order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // The text shown for a size.
    static QString sizeText(qint64 bytes);

private:
    void sortRows();

    QList<EntryRow> m_rows;
    int m_sortColumn = -1; // archive order
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
