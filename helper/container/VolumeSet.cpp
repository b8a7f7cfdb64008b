#include "VolumeSet.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rarcontainer {

VolumeSet::~VolumeSet()
{
    for (auto &f : m_files)
        if (f.fd >= 0) ::close(f.fd);
}

bool VolumeSet::open(const std::vector<std::string> &paths, std::string *error)
{
    for (const auto &p : paths) {
        File f;
        f.path = p;
        f.fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (f.fd >= 0) ::close(f.fd);
            if (error) *error = p;
            return false;
        }
        f.size = uint64_t(st.st_size);
        m_files.push_back(f);
    }
    return !m_files.empty();
}

uint64_t VolumeSet::totalSize() const
{
    uint64_t total = 0;
    for (const auto &f : m_files) total += f.size;
    return total;
}

bool VolumeSet::readAt(size_t volume, uint64_t offset, void *buffer, size_t n) const
{
    if (volume >= m_files.size()) return false;
    const File &f = m_files[volume];
    if (offset > f.size || n > f.size - offset) return false;
    auto *out = static_cast<char *>(buffer);
    while (n > 0) {
        ssize_t got = ::pread(f.fd, out, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += uint64_t(got);
        n -= size_t(got);
    }
    return true;
}

}  // namespace rarcontainer
