#include "EntryTableModel.h"

#include "FileIcons.h"

void EntryTableModel::setRows(QList<EntryRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int EntryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EntryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EntryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const EntryRow &row = m_rows.at(index.row());
    if (index.column() == IconColumn) {
        if (role == Qt::DecorationRole)
            return row.isFolderLike() ? FileIcons::folder() : FileIcons::forFileName(row.name);
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return row.name;
    return {};
}
