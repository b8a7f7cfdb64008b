#pragma once

#include <string>
#include <string_view>

struct archive;
struct archive_entry;

// An entry's names (its path, a link's target) as the UTF-8 that is shown
// and written to disk. The same conversion serves the listing and the
// extraction, so both show one name.
//
// Names that are not valid UTF-8 come from archivers that wrote the bytes of
// a legacy code page, and no format tells which one (a pax header at most
// says "binary"). They are read as the convention of their format has it:
// ZIP entries without the UTF-8 flag as code page 437, the ZIP default;
// RAR's old non-Unicode names as Latin-1, as the RAR header listing reads
// them (one name in the listing and on disk; the helper's RAR reader hands
// over names from DOS, OS/2 and Windows already converted from code page
// 437); everything else (tar, cpio,
// ...) as Windows-1252, whose printable range is Latin-1's with the bytes
// 0x80-0x9F added (those it leaves undefined keep their Latin-1 meaning).
// Valid UTF-8 is always taken as it is.
class EntryName {
public:
    enum class Legacy { Cp437, Latin1, Cp1252 };

    // The legacy code page for the archive being read (its format is known
    // once a header has been read).
    static Legacy legacyFor(archive* reader);

    // The archive-relative path, without the trailing "/" of folders.
    static std::string path(archive_entry* entry, Legacy legacy);
    // The target of a hard link or a symbolic link; "" when there is none.
    static std::string hardlink(archive_entry* entry, Legacy legacy);
    static std::string symlink(archive_entry* entry, Legacy legacy);

    // `bytes` as UTF-8: kept when valid, else decoded byte by byte.
    static std::string toUtf8(std::string_view bytes, Legacy legacy);

    // The path in one spelling for comparisons ("./a//b" is "a/b").
    static std::string normalized(std::string_view path);
};
