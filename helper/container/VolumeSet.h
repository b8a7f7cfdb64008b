#pragma once
// The ordered files of one archive (a single file or every volume of a set),
// read by position. Reads never go past the end of the file they address.

#include "ReadWindow.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rarcontainer {

class VolumeSet {
public:
    VolumeSet() = default;
    ~VolumeSet();
    VolumeSet(const VolumeSet &) = delete;
    VolumeSet &operator=(const VolumeSet &) = delete;

    // False (with the failing path in error) when a file cannot be opened.
    // Raw pieces of one cut archive (name.001, name.002... or name_aa,
    // name_ab...) are joined into a single volume.
    bool open(const std::vector<std::string> &paths, std::string *error = nullptr);
    // The pieces that follow a first piece named like name.001 or name_aa,
    // in order, as far as they exist; empty when the name is not of that kind.
    static std::vector<std::string> rawSplitPieces(const std::string &firstPiece);
    static bool looksLikeRawSplit(const std::string &firstPiece);

    size_t count() const { return m_files.size(); }
    uint64_t size(size_t volume) const { return m_files[volume].size; }
    uint64_t totalSize() const;
    const std::string &path(size_t volume) const { return m_files[volume].path; }

    // Reads exactly n bytes at offset of the volume; false when they are not all there.
    bool readAt(size_t volume, uint64_t offset, void *buffer, size_t n) const;

private:
    bool readDirect(size_t volume, uint64_t offset, void *buffer, size_t n) const;

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
    std::vector<File> m_files;
    mutable ReadWindow m_window;
};

}  // namespace rarcontainer
