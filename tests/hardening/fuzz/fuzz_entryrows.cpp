// The row builder: hostile entry lists, then a walk into every folder row
// (and back up) as a user would double-click, a bounded number of times.
#include "EntryRows.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList entries = text.split(QLatin1Char('\n'));
    QString prefix;
    int level = 0;
    QList<EntryRow> rows = EntryRows::build(entries, level, prefix);
    for (int moves = 0; moves < 64; ++moves) {
        (void)EntryRows::itemCount(rows);
        const EntryRow *folder = nullptr;
        for (const EntryRow &row : rows)
            if (row.kind == EntryRow::Kind::Folder) {
                folder = &row;
                break;
            }
        if (!folder)
            break;
        prefix = EntryRows::childPath(prefix, folder->name);
        ++level;
        rows = EntryRows::build(entries, level, prefix);
    }
    while (level > 0) {
        prefix = EntryRows::parentPath(prefix);
        --level;
        rows = EntryRows::build(entries, level, prefix);
    }
    return 0;
}
