#include "EntryRows.h"

#include "EntryDetails.h"

#include <QHash>
#include <QSet>
#include <QStringView>

QList<EntryRow> EntryRows::build(const QStringList &entries, int level, const QString &prefix,
                                 const EntryDetails *details)
{
    const bool known = details && details->usable();
    struct Slot
    {
        QStringView name;
        bool folder;
        bool removed;
        qsizetype entry = -1; // the entry of a file, or a folder's own entry
        qint64 size = -1;
        int items = 0;
    };
    QList<Slot> candidates;
    // Where each name stands in `candidates`; a name is never both a file and a folder.
    QHash<QStringView, qsizetype> positions;
    // The items already counted inside each folder of this level.
    QSet<std::pair<qsizetype, QStringView>> children;

    QStringView lastName;
    bool lastFolder = false;
    bool haveLast = false;
    qsizetype lastSlot = -1;
    QStringView lastChild;
    qsizetype lastChildSlot = -1;

    for (qsizetype index = 0; index < entries.size(); ++index) {
        QStringView rest(entries.at(index));
        if (level > 0) {
            if (rest.size() <= prefix.size() || rest[prefix.size()] != QLatin1Char('/')
                || !rest.startsWith(prefix))
                continue;
            rest = rest.sliced(prefix.size() + 1);
        }
        if (rest.isEmpty())
            continue; // the folder's own entry, or an empty line

        const EntryDetails::Record *record = known ? details->at(index) : nullptr;
        const qsizetype slash = rest.indexOf(QLatin1Char('/'));
        const bool inner = slash >= 0 && slash + 1 < rest.size();
        const bool folder = inner || (record && record->directory);
        const QStringView name = slash >= 0 ? rest.first(slash) : rest;

        // Neighbouring entries mostly share their name at this level.
        if (!haveLast || folder != lastFolder || name != lastName) {
            lastName = name;
            lastFolder = folder;
            haveLast = true;
            const auto found = positions.constFind(name);
            if (found == positions.cend()) {
                lastSlot = candidates.size();
                positions.insert(name, lastSlot);
                candidates.append({name, folder, false});
                if (known)
                    candidates.last().size = 0;
            } else if (folder && !candidates[*found].folder) {
                // The folder's own entry came first: its file row gives way.
                candidates[*found].removed = true;
                const Slot ownEntry = candidates[*found];
                lastSlot = candidates.size();
                positions.insert(name, lastSlot);
                candidates.append({name, true, false, ownEntry.entry, ownEntry.size});
            } else {
                lastSlot = *found;
            }
        }
        Slot &slot = candidates[lastSlot];
        if (!inner)
            slot.entry = index;
        if (record && !record->directory)
            slot.size += qint64(record->size);
        if (inner) {
            QStringView child = rest.sliced(slash + 1);
            const qsizetype end = child.indexOf(QLatin1Char('/'));
            if (end >= 0)
                child = child.first(end);
            if (!child.isEmpty() && (lastSlot != lastChildSlot || child != lastChild)) {
                lastChildSlot = lastSlot;
                lastChild = child;
                const auto key = std::pair(lastSlot, child);
                if (!children.contains(key)) {
                    children.insert(key);
                    ++slot.items;
                }
            }
        }
    }

    QList<EntryRow> rows;
    rows.reserve(positions.size() + 1);
    for (const Slot &slot : std::as_const(candidates)) {
        if (slot.removed)
            continue;
        EntryRow row {slot.name.toString(), slot.folder ? EntryRow::Kind::Folder : EntryRow::Kind::File};
        row.size = slot.size;
        if (slot.folder)
            row.items = slot.items;
        if (const EntryDetails::Record *record = known && slot.entry >= 0 ? details->at(slot.entry) : nullptr) {
            row.modified = record->mtime;
            if (!slot.folder) {
                row.encrypted = record->encrypted;
                if (record->packed != EntryDetails::Record::kUnknownPacked)
                    row.packed = qint64(record->packed);
            }
        }
        rows.append(std::move(row));
    }
    if (level > 0)
        rows.append({QStringLiteral(".."), EntryRow::Kind::Parent});
    return rows;
}

QString EntryRows::parentPath(const QString &prefix)
{
    const qsizetype slash = prefix.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : prefix.left(slash);
}

QString EntryRows::childPath(const QString &prefix, const QString &name)
{
    return prefix.isEmpty() ? name : prefix + QLatin1Char('/') + name;
}

int EntryRows::itemCount(const QList<EntryRow> &rows)
{
    int count = int(rows.size());
    if (!rows.isEmpty() && rows.last().kind == EntryRow::Kind::Parent)
        --count;
    return count;
}

qint64 EntryRows::totalSize(const QList<EntryRow> &rows)
{
    qint64 total = 0;
    for (const EntryRow &row : rows) {
        if (row.kind == EntryRow::Kind::Parent)
            continue;
        if (row.size < 0)
            return -1;
        total += row.size;
    }
    return total;
}
