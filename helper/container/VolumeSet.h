#pragma once
// The files that make up one archive, found from the file the user opened
// and read by position: the volumes of a RAR set ("name.part1.rar",
// "name.part01.rar"..., or "name.rar" followed by "name.r00", "name.r01"...),
// the raw pieces of an archive cut with split ("name.001", "name.002"...,
// "name_aa", "name_ab"...), which are read as one volume, or a single file.
// Reads never go past the end of the volume they address.

#include "ReadWindow.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace rarcontainer {

class VolumeSet {
public:
    enum class Kind { Single, Volumes, Pieces };
    using ExistsFunction = std::function<bool(const std::string &)>;

    VolumeSet() = default;
    ~VolumeSet();
    VolumeSet(VolumeSet &&other) noexcept;
    VolumeSet &operator=(VolumeSet &&other) noexcept;
    VolumeSet(const VolumeSet &) = delete;
    VolumeSet &operator=(const VolumeSet &) = delete;

    // Finds the set on disk (nothing is opened yet), or with the file system
    // replaced by `exists` (for tests).
    static VolumeSet discover(const std::string &firstPath);
    static VolumeSet discover(const std::string &firstPath, const ExistsFunction &exists);
    // The name that follows `path` in a set of the given kind, or "" when the
    // naming scheme has no successor. Only the last path component changes.
    static std::string successor(const std::string &path, Kind kind);

    Kind kind() const { return m_kind; }
    const std::vector<std::string> &paths() const { return m_paths; }
    // The first file missing from the set when a later file exists (a hole in
    // the sequence), or "".
    const std::string &missing() const { return m_missing; }

    // Opens the files of a set (paths() of a discovered one): raw pieces
    // when the first is named like a first piece, else volumes. False (with
    // the failing path in error) when one cannot be opened.
    bool open(const std::vector<std::string> &paths, std::string *error = nullptr);

    size_t count() const { return m_files.size(); }
    uint64_t size(size_t volume) const { return m_files[volume].size; }
    const std::string &path(size_t volume) const { return m_files[volume].path; }

    // Reads exactly n bytes at offset of the volume; false when they are not all there.
    bool readAt(size_t volume, uint64_t offset, void *buffer, size_t n) const;

private:
    bool readDirect(size_t volume, uint64_t offset, void *buffer, size_t n) const;
    void close();

    struct Piece {
        int fd = -1;
        uint64_t start = 0;  // within its volume
        uint64_t size = 0;
    };
    struct File {
        std::string path;
        std::vector<Piece> pieces;
        uint64_t size = 0;
    };
    Kind m_kind = Kind::Single;
    std::vector<std::string> m_paths;
    std::string m_missing;
    std::vector<File> m_files;
    mutable ReadWindow m_window;
};

}  // namespace rarcontainer
