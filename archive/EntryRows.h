#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One row of the entry table at the current folder level.
struct EntryRow
{
    enum class Kind { File, Folder, Parent };

    QString name; // the bare name, without any folder marker
    Kind kind = Kind::File;

    bool isFolderLike() const { return kind != Kind::File; }
    friend bool operator==(const EntryRow &, const EntryRow &) = default;
};

// Builds the rows of one folder level from the flat entry list.
//
// Rows stand in the order of the first entry that produces them. A folder
// whose own entry comes before its contents first stands as a file row;
// when its first inner entry is met that row is dropped and the folder row
// is appended at that moment. Inside a folder the parent row ".." comes
// last. The work is linear in the number of entries.
class EntryRows
{
public:
    // `prefix` is the folder's path ("" at the top, "docs/img" at level 2);
    // `level` is its number of components.
    static QList<EntryRow> build(const QStringList &entries, int level, const QString &prefix);

    // The path one level up: "docs/img" gives "docs", "docs" gives "".
    static QString parentPath(const QString &prefix);

    // The path of the folder `name` inside `prefix`.
    static QString childPath(const QString &prefix, const QString &name);

    // How many items the status line counts: the parent row is not one.
    static int itemCount(const QList<EntryRow> &rows);
};
