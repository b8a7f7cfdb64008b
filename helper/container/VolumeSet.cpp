#include "VolumeSet.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rarcontainer {

VolumeSet::~VolumeSet()
{
    for (auto &f : m_files)
        for (auto &p : f.pieces) ::close(p.fd);
}

bool VolumeSet::looksLikeRawSplit(const std::string &path)
{
    auto endsWith = [&path](const char *tail) {
        std::string t(tail);
        return path.size() > t.size() && path.compare(path.size() - t.size(), t.size(), t) == 0;
    };
    return endsWith(".001") || endsWith("_aa");
}

std::vector<std::string> VolumeSet::rawSplitPieces(const std::string &first)
{
    std::vector<std::string> out;
    if (!looksLikeRawSplit(first)) return out;
    const bool numeric = first.back() == '1';
    const std::string stem = first.substr(0, first.size() - (numeric ? 3 : 2));
    for (int i = 0; i < 1000; ++i) {
        std::string name;
        if (numeric) {
            char digits[8];
            snprintf(digits, sizeof digits, "%03d", i + 1);
            name = stem + digits;
        } else {
            if (i >= 26 * 26) break;
            name = stem + char('a' + i / 26) + char('a' + i % 26);
        }
        struct stat st{};
        if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) break;
        out.push_back(name);
    }
    return out;
}

bool VolumeSet::open(const std::vector<std::string> &paths, std::string *error)
{
    const bool joined = paths.size() > 1 && looksLikeRawSplit(paths.front());
    for (const auto &p : paths) {
        Piece piece;
        piece.fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st{};
        if (piece.fd < 0 || ::fstat(piece.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            if (piece.fd >= 0) ::close(piece.fd);
            if (error) *error = p;
            return false;
        }
        piece.size = uint64_t(st.st_size);
        if (!joined || m_files.empty()) m_files.push_back(File{p, {}, 0});
        File &f = m_files.back();
        piece.start = f.size;
        f.size += piece.size;
        f.pieces.push_back(piece);
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
    return m_window.read(volume, offset, buffer, n, f.size, [&](uint64_t at, void *into, size_t count) {
        return readDirect(volume, at, into, count);
    });
}

bool VolumeSet::readDirect(size_t volume, uint64_t offset, void *buffer, size_t n) const
{
    const File &f = m_files[volume];
    auto *out = static_cast<char *>(buffer);
    for (const Piece &p : f.pieces) {
        if (n == 0) break;
        if (offset >= p.start + p.size) continue;
        uint64_t at = offset - p.start;
        size_t want = size_t(std::min<uint64_t>(n, p.size - at));
        while (want > 0) {
            ssize_t got = ::pread(p.fd, out, want, off_t(at));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out += got;
            at += uint64_t(got);
            offset += uint64_t(got);
            n -= size_t(got);
            want -= size_t(got);
        }
    }
    return n == 0;
}

}  // namespace rarcontainer
