#include "EntryRows.h"

#include <QHash>
#include <QStringView>

QList<EntryRow> EntryRows::build(const QStringList &entries, int level, const QString &prefix)
{
    struct Slot
    {
        QStringView name;
        bool folder;
        bool removed;
    };
    QList<Slot> candidates;
    // Where each name stands in `candidates`; a name is never both a file and a folder.
    QHash<QStringView, qsizetype> positions;

    QStringView lastName;
    bool lastFolder = false;
    bool haveLast = false;

    for (const QString &entry : entries) {
        QStringView rest(entry);
        if (level > 0) {
            if (rest.size() <= prefix.size() || rest[prefix.size()] != QLatin1Char('/')
                || !rest.startsWith(prefix))
                continue;
            rest = rest.sliced(prefix.size() + 1);
        }
        if (rest.isEmpty())
            continue; // the folder's own entry, or an empty line

        const qsizetype slash = rest.indexOf(QLatin1Char('/'));
        const bool folder = slash >= 0 && slash + 1 < rest.size();
        const QStringView name = slash >= 0 ? rest.first(slash) : rest;

        // Neighbouring entries mostly share their name at this level.
        if (haveLast && folder == lastFolder && name == lastName)
            continue;
        lastName = name;
        lastFolder = folder;
        haveLast = true;

        const auto found = positions.constFind(name);
        if (found == positions.cend()) {
            positions.insert(name, candidates.size());
            candidates.append({name, folder, false});
        } else if (folder && !candidates[*found].folder) {
            // The folder's own entry came first: its file row gives way.
            candidates[*found].removed = true;
            positions.insert(name, candidates.size());
            candidates.append({name, true, false});
        }
    }

    QList<EntryRow> rows;
    rows.reserve(positions.size() + 1);
    for (const Slot &slot : std::as_const(candidates)) {
        if (!slot.removed)
            rows.append({slot.name.toString(), slot.folder ? EntryRow::Kind::Folder : EntryRow::Kind::File});
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
