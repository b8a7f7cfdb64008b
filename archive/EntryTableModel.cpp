#include "EntryTableModel.h"

#include "FileIcons.h"
#include "NaturalOrder.h"
#include "StatusLine.h"
#include "StringTable.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>

#include <algorithm>

void EntryTableModel::setRows(QList<EntryRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    sortRows();
    endResetModel();
}

void EntryTableModel::addDetails(QList<EntryRow> rows)
{
    // The rows stand in the order the user sorted them in: match by name.
    QHash<QStringView, qsizetype> fresh;
    fresh.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i)
        fresh.insert(rows.at(i).name, i);
    // Only the names need to match: an empty folder's entry reads as a file
    // until the details say what it is, and turning it into a folder must not
    // reset the table (the user's row and selection would go with it).
    bool same = fresh.size() == m_rows.size() && rows.size() == m_rows.size();
    for (qsizetype i = 0; same && i < m_rows.size(); ++i)
        same = fresh.contains(m_rows.at(i).name);
    if (!same) {
        setRows(std::move(rows));
        return;
    }
    for (EntryRow &row : m_rows)
        row = rows.at(fresh.value(row.name));
    if (m_sortColumn > NameColumn)
        sort(m_sortColumn, m_sortOrder);
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, IconColumn), index(int(m_rows.size()) - 1, LockColumn));
}

int EntryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EntryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString EntryTableModel::sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QVariant EntryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const EntryRow &row = m_rows.at(index.row());
    switch (index.column()) {
    case IconColumn:
        if (role == Qt::DecorationRole)
            return row.isFolderLike() ? FileIcons::folder() : FileIcons::forFileName(row.name);
        return {};
    case NameColumn:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return row.name;
        return {};
    case SizeColumn:
    case PackedColumn:
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        if (index.column() == SizeColumn) {
            if (row.kind == EntryRow::Kind::Folder && row.items >= 0)
                return StatusLine::text(row.items);
            return row.kind == EntryRow::Kind::File && row.size >= 0 ? sizeText(row.size) : QString();
        }
        return row.packed >= 0 ? sizeText(row.packed) : QString();
    case ModifiedColumn:
        if (role == Qt::DisplayRole && row.modified != 0 && row.kind != EntryRow::Kind::Parent)
            return QLocale().toString(QDateTime::fromSecsSinceEpoch(row.modified), QLocale::ShortFormat);
        return {};
    case LockColumn:
        if (!row.encrypted)
            return {};
        if (role == Qt::DecorationRole)
            return FileIcons::lock();
        if (role == Qt::ToolTipRole)
            return StringTable::text(QStringLiteral("MyDocumentEncrypted"));
        return {};
    default:
        return {};
    }
}

QVariant EntryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return StringTable::text(QStringLiteral("MyDocumentColumnName"));
    case SizeColumn:
        return StringTable::text(QStringLiteral("MyDocumentColumnSize"));
    case PackedColumn:
        return StringTable::text(QStringLiteral("MyDocumentColumnPacked"));
    case ModifiedColumn:
        return StringTable::text(QStringLiteral("MyDocumentColumnModified"));
    default:
        return QString();
    }
}

void EntryTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < NameColumn || column == LockColumn || column >= ColumnCount)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<QString> names;
    for (const QModelIndex &index : before)
        names.append(m_rows.at(index.row()).name);
    sortRows();
    // Selection and current row follow their rows.
    QHash<QString, int> rowOf;
    if (!before.isEmpty()) {
        for (int row = 0; row < m_rows.size(); ++row)
            rowOf.insert(m_rows.at(row).name, row);
    }
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i) {
        const auto found = rowOf.constFind(names.at(i));
        after.append(found == rowOf.cend() ? QModelIndex() : createIndex(*found, before.at(i).column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EntryTableModel::sortRows()
{
    if (m_sortColumn < 0)
        return;
    const bool parentLast = !m_rows.isEmpty() && m_rows.constLast().kind == EntryRow::Kind::Parent;
    const auto end = parentLast ? m_rows.end() - 1 : m_rows.end();
    const int column = m_sortColumn;
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    // Folders stay before files whichever way the column goes.
    std::stable_sort(m_rows.begin(), end, [column, descending](const EntryRow &a, const EntryRow &b) {
        if (a.isFolderLike() != b.isFolderLike())
            return a.isFolderLike();
        int order = 0;
        switch (column) {
        case SizeColumn:
            order = a.isFolderLike() ? (a.items > b.items) - (a.items < b.items)
                                     : (a.size > b.size) - (a.size < b.size);
            break;
        case PackedColumn:
            order = (a.packed > b.packed) - (a.packed < b.packed);
            break;
        case ModifiedColumn:
            order = (a.modified > b.modified) - (a.modified < b.modified);
            break;
        default:
            break;
        }
        if (order == 0)
            order = NaturalOrder::compare(a.name, b.name);
        return descending ? order > 0 : order < 0;
    });
}

Qt::ItemFlags EntryTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.row() < m_rows.size() && m_rows.at(index.row()).kind != EntryRow::Kind::Parent)
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}
