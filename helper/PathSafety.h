#pragma once

#include <string>

// Decides, from names alone, whether an entry may be written below the
// destination folder. Every check here is lexical; what is already on disk
// (a symlink planted by an earlier entry) is handled by libarchive's
// SECURE_SYMLINKS, which refuses to write through a link.
//
// The rules are stricter than "normalises to a path inside": a symlink
// target may only climb with leading ".." components, never after a name,
// because "d/../x" climbs out of the folder whenever "d" is itself a link
// to ".". With that rule every link the helper creates resolves inside the
// destination, links through links included.
class PathSafety {
public:
    // "" when `path` (an archive entry name) may be extracted; otherwise why not.
    static std::string checkEntryPath(const std::string& path);

    // "" when a symlink stored at `linkPath` may point to `target`.
    static std::string checkSymlinkTarget(const std::string& linkPath, const std::string& target);

    // "" when a hard link may be made to `target` (an archive path).
    static std::string checkHardlinkTarget(const std::string& target);
};
