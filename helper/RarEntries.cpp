#include "RarEntries.h"

#include "ContainerSource.h"
#include "StopGuard.h"

#include <archive.h>
#include <archive_entry.h>

RarEntries::RarEntries(ContainerSource& layer) : layer_(layer), entry_(archive_entry_new()) {}

RarEntries::~RarEntries()
{
    archive_entry_free(entry_);
}

int RarEntries::next(archive_entry** entry)
{
    LibraryCall call;
    inEntry_ = false;
    error_.clear();
    // A RAR 4 walk that fails after other blocks (the main header, a
    // comment) on the way to an entry fails the archive; any other failure
    // ends the entries, and the extraction then reports the layer's failure
    // as a whole.
    if (!layer_.nextEntry())
        return layer_.stream().info().formatVersion == 4 && layer_.stream().blocksPassed() > 0
                && layer_.stream().status() != rarcontainer::Status::Ok
            ? ARCHIVE_FATAL
            : ARCHIVE_EOF;
    inEntry_ = true;
    offset_ = 0;
    const rarcontainer::Entry& held = layer_.stream().entry();
    if (held.timesDamaged) {
        error_ = "Invalid header size";
        return ARCHIVE_FATAL;
    }
    if (!held.modeKnown) {
        // No mode can be made of the attributes of the system that wrote it.
        error_ = "Unknown file attributes from RAR file's host OS";
        return ARCHIVE_FATAL;
    }
    archive_entry_clear(entry_);
    archive_entry_set_pathname_utf8(entry_, held.name.c_str());
    archive_entry_set_mode(entry_, held.mode);
    // Attributes of a foreign system may lack the type the header's flags give.
    if (held.isDirectory && held.link == rarcontainer::LinkKind::None)
        archive_entry_set_filetype(entry_, AE_IFDIR);
    // Links and entries that cannot be read carry no data.
    if (held.link == rarcontainer::LinkKind::None)
        archive_entry_set_size(entry_, held.failure == rarcontainer::Status::Ok
                                           ? static_cast<la_int64_t>(held.unpackedSize) : 0);
    else if (held.formatVersion == 4)
        archive_entry_set_size(entry_, 0);
    else
        archive_entry_unset_size(entry_);
    if (held.modified.set)
        archive_entry_set_mtime(entry_, held.modified.seconds, held.modified.nanoseconds);
    if (held.accessed.set)
        archive_entry_set_atime(entry_, held.accessed.seconds, held.accessed.nanoseconds);
    if (held.link == rarcontainer::LinkKind::Hard) {
        archive_entry_set_hardlink_utf8(entry_, held.linkTarget.c_str());
    } else if (held.link == rarcontainer::LinkKind::Symbolic) {
        std::string target = held.linkTarget;
        if (held.linkTargetInData) {
            // The target is the entry's data, up to its first NUL.
            const void* block = nullptr;
            long n;
            while ((n = layer_.readData(&block)) > 0)
                target.append(static_cast<const char*>(block), static_cast<std::size_t>(n));
            if (n < 0)
                return ARCHIVE_FATAL;
            target.resize(target.find('\0') == std::string::npos ? target.size() : target.find('\0'));
        }
        archive_entry_set_symlink_utf8(entry_, target.c_str());
    }
    // The data is read only when asked for: a failure in it is the entry's,
    // and the blocks after it are the next entry's business.
    *entry = entry_;
    return ARCHIVE_OK;
}

int RarEntries::readBlock(const void** block, std::size_t* size, std::int64_t* offset)
{
    LibraryCall call;
    *size = 0;
    *offset = offset_;
    if (!inEntry_)
        return ARCHIVE_EOF;
    if (layer_.stream().entryUndecodable()) {
        error_ = "the file is compressed by a method the helper does not know";
        return ARCHIVE_FATAL;
    }
    const long n = layer_.readData(block);
    if (n < 0)
        return ARCHIVE_FATAL;
    if (n == 0)
        return ARCHIVE_EOF;
    *size = static_cast<std::size_t>(n);
    offset_ += n;
    return ARCHIVE_OK;
}

std::string RarEntries::error() const
{
    if (!error_.empty())
        return error_;
    const std::string& why = layer_.stream().message();
    return why.empty() ? "unknown error" : why;
}

const rarcontainer::Entry* RarEntries::containerEntry() const
{
    return inEntry_ ? &layer_.stream().entry() : nullptr;
}

bool RarEntries::encrypted(archive_entry*) const
{
    return inEntry_ && layer_.stream().entry().encrypted;
}
