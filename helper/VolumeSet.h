#pragma once

#include <functional>
#include <string>
#include <vector>

// Finds the files that make up one archive, starting from the file the user
// opened: the volumes of a RAR set ("name.part1.rar", "name.part01.rar",
// "name.part001.rar"..., or "name.rar" followed by "name.r00", "name.r01"...)
// or the pieces of an archive cut into raw pieces ("name.001", "name.002"...,
// "name_aa", "name_ab"...). libarchive reads a set correctly only when it is
// handed every file, in order.
class VolumeSet {
public:
    enum class Kind { Single, Volumes, Pieces };

    using ExistsFunction = std::function<bool(const std::string&)>;

    // Discovers the set on disk.
    static VolumeSet discover(const std::string& firstPath);
    // Same, with the file system replaced by `exists` (for tests).
    static VolumeSet discover(const std::string& firstPath, const ExistsFunction& exists);

    // The name that follows `path` in a set of the given kind, or "" when the
    // naming scheme has no successor. Only the last path component changes.
    static std::string successor(const std::string& path, Kind kind);

    Kind kind() const { return kind_; }
    const std::vector<std::string>& paths() const { return paths_; }
    // The first file missing from the set when a later file exists (a hole in
    // the sequence), or "".
    const std::string& missing() const { return missing_; }

private:
    Kind kind_ = Kind::Single;
    std::vector<std::string> paths_;
    std::string missing_;
};
