#include "EntryName.h"

#include <archive_entry.h>

std::string entryPath(archive_entry* entry)
{
    const char* name = archive_entry_pathname_utf8(entry);
    if (!name)
        name = archive_entry_pathname(entry);
    std::string path = name ? name : "";
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}
