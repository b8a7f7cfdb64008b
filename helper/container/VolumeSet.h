#pragma once
// The ordered files of one archive (a single file or every volume of a set),
// read by position. Reads never go past the end of the file they address.

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
    bool open(const std::vector<std::string> &paths, std::string *error = nullptr);

    size_t count() const { return m_files.size(); }
    uint64_t size(size_t volume) const { return m_files[volume].size; }
    uint64_t totalSize() const;
    const std::string &path(size_t volume) const { return m_files[volume].path; }

    // Reads exactly n bytes at offset of the volume; false when they are not all there.
    bool readAt(size_t volume, uint64_t offset, void *buffer, size_t n) const;

private:
    struct File {
        std::string path;
        int fd = -1;
        uint64_t size = 0;
    };
    std::vector<File> m_files;
};

}  // namespace rarcontainer
