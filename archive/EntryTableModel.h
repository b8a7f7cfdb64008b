#pragma once

#include "EntryRows.h"

#include <QAbstractTableModel>

// The entry table: an icon column and a name column over the rows of the
// current folder level.
class EntryTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IconColumn, NameColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QList<EntryRow> rows);
    const QList<EntryRow> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QList<EntryRow> m_rows;
};
