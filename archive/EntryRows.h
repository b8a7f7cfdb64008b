#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class EntryDetails;

// One row of the entry table at the current folder level.
struct EntryRow
{
    enum class Kind { File, Folder, Parent };

    QString name; // the bare name, without any folder marker
    Kind kind = Kind::File;
    // From the technical listing, when it has come: a file's size, or the
    // sum of the files inside a folder; -1 when unknown.
    qint64 size = -1;
    qint64 packed = -1;  // a file's packed size, -1 when unknown
    qint64 modified = 0; // seconds since 1970 (UTC), 0 when unknown
    bool encrypted = false;
    int items = -1;      // a folder's own items (files and folders right inside)

    bool isFolderLike() const { return kind != Kind::File; }
    // The same item: its details are what is known of it, not what it is.
    friend bool operator==(const EntryRow &a, const EntryRow &b) { return a.name == b.name && a.kind == b.kind; }
};

// Builds the rows of one folder level from the flat entry list.
//
// Rows stand in the order of the first entry that produces them. A folder
// whose own entry comes before its contents first stands as a file row;
// when its first inner entry is met that row is dropped and the folder row
// is appended at that moment. Inside a folder the parent row ".." comes
// last. The work is linear in the number of entries.
//
// With `details`, a folder that holds nothing (known only from its own
// entry's flags) is a folder, and the rows carry sizes and dates.
class EntryRows
{
public:
    // `prefix` is the folder's path ("" at the top, "docs/img" at level 2);
    // `level` is its number of components.
    static QList<EntryRow> build(const QStringList &entries, int level, const QString &prefix,
                                 const EntryDetails *details = nullptr);

    // The path one level up: "docs/img" gives "docs", "docs" gives "".
    static QString parentPath(const QString &prefix);

    // The path of the folder `name` inside `prefix`.
    static QString childPath(const QString &prefix, const QString &name);

    // How many items the status line counts: the parent row is not one.
    static int itemCount(const QList<EntryRow> &rows);
    // The size of everything the rows hold, -1 when unknown.
    static qint64 totalSize(const QList<EntryRow> &rows);
};
