#include "LibarchiveEntries.h"

#include "ArchiveReader.h"
#include "StopGuard.h"

#include <archive.h>

int LibarchiveEntries::next(archive_entry** entry)
{
    return reader_.nextHeader(entry);
}

int LibarchiveEntries::readBlock(const void** block, std::size_t* size, std::int64_t* offset)
{
    LibraryCall call;
    la_int64_t at = 0;
    const int result = archive_read_data_block(reader_.handle(), block, size, &at);
    *offset = at;
    return result;
}

std::string LibarchiveEntries::error() const
{
    return reader_.libraryError();
}

const rarcontainer::Entry* LibarchiveEntries::containerEntry() const
{
    return nullptr;
}

bool LibarchiveEntries::encrypted(archive_entry* entry) const
{
    return reader_.entryEncrypted(entry);
}

EntryName::Legacy LibarchiveEntries::legacy() const
{
    return EntryName::legacyFor(reader_.handle());
}
