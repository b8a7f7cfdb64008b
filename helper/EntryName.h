#pragma once

#include <string>

struct archive_entry;

// An entry's archive-relative path as UTF-8, without the trailing "/" that
// some formats give folders.
std::string entryPath(archive_entry* entry);
