#include "VolumeSet.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rarcontainer {

namespace {

// How many names past a hole are looked at before the set is taken to end.
constexpr int kLookPastHole = 4;

std::string lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size()
        && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::size_t nameStart(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Adds one to the decimal number text[begin, end), keeping its width; ""
// when it would overflow that width.
std::string incrementDigits(const std::string &text, std::size_t begin, std::size_t end)
{
    std::string next = text;
    for (std::size_t i = end; i > begin; --i) {
        char &c = next[i - 1];
        if (c != '9') {
            ++c;
            return next;
        }
        c = '0';
    }
    return {};
}

bool allDigits(const std::string &text, std::size_t begin, std::size_t end)
{
    if (begin >= end)
        return false;
    for (std::size_t i = begin; i < end; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// The digits just before a final ".rar" of `low` (the lower-cased `path`):
// [begin, end), empty when there are none; false without ".rar".
bool digitsBeforeRar(const std::string &path, const std::string &low, std::size_t &begin, std::size_t &end)
{
    if (!endsWith(low, ".rar"))
        return false;
    end = low.size() - 4;
    begin = end;
    while (begin > nameStart(path) && std::isdigit(static_cast<unsigned char>(low[begin - 1])))
        --begin;
    return true;
}

// "name.part7.rar" -> position and length of "7", or npos.
std::size_t partNumberPosition(const std::string &path, std::size_t &length)
{
    const std::string low = lower(path);
    std::size_t begin = 0, end = 0;
    if (!digitsBeforeRar(path, low, begin, end))
        return std::string::npos;
    if (begin == end || begin < 5 || low.compare(begin - 5, 5, ".part") != 0)
        return std::string::npos;
    length = end - begin;
    return begin;
}

// "name.000.rar" -> position and length of "000", or npos: volumes some
// tools number this way. Only a name numbered 0 or 1 starts such a set, so
// that "photos.2024.rar" stays one archive.
std::size_t dottedNumberPosition(const std::string &path, std::size_t &length)
{
    const std::string low = lower(path);
    std::size_t begin = 0, end = 0;
    if (!digitsBeforeRar(path, low, begin, end))
        return std::string::npos;
    if (end - begin < 2 || begin <= nameStart(path) + 1 || low[begin - 1] != '.')
        return std::string::npos;
    length = end - begin;
    return begin;
}

bool startsDottedSet(const std::string &path)
{
    std::size_t length = 0;
    const std::size_t at = dottedNumberPosition(path, length);
    if (at == std::string::npos)
        return false;
    const std::string number = path.substr(at, length);
    return number.find_first_not_of('0') == std::string::npos
        || (number.find_first_not_of('0') == length - 1 && number.back() == '1');
}

std::string dottedSuccessor(const std::string &path)
{
    std::size_t length = 0;
    const std::size_t at = dottedNumberPosition(path, length);
    return at == std::string::npos ? std::string() : incrementDigits(path, at, at + length);
}

bool fileExists(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The kind of set a first file's name starts, whatever exists beside it.
VolumeSet::Kind namingKind(const std::string &firstPath)
{
    const std::string name = lower(firstPath.substr(nameStart(firstPath)));
    std::size_t length = 0;
    if (partNumberPosition(firstPath, length) != std::string::npos || endsWith(name, ".rar"))
        return VolumeSet::Kind::Volumes;
    if (endsWith(name, ".001") || (name.size() > 2 && endsWith(name, "aa")))
        return VolumeSet::Kind::Pieces;
    return VolumeSet::Kind::Single;
}

}  // namespace

VolumeSet::~VolumeSet() { close(); }

VolumeSet::VolumeSet(VolumeSet &&other) noexcept
    : m_kind(other.m_kind), m_paths(std::move(other.m_paths)), m_missing(std::move(other.m_missing)),
      m_files(std::move(other.m_files))
{
    other.m_files.clear();
}

VolumeSet &VolumeSet::operator=(VolumeSet &&other) noexcept
{
    if (this != &other) {
        close();
        m_kind = other.m_kind;
        m_paths = std::move(other.m_paths);
        m_missing = std::move(other.m_missing);
        m_files = std::move(other.m_files);
        other.m_files.clear();
        m_window = ReadWindow();
    }
    return *this;
}

void VolumeSet::close()
{
    for (auto &f : m_files)
        for (auto &p : f.pieces) ::close(p.fd);
    m_files.clear();
}

std::string VolumeSet::successor(const std::string &path, Kind kind)
{
    const std::string low = lower(path);
    const std::size_t start = nameStart(path);
    if (kind == Kind::Volumes) {
        std::size_t length = 0;
        const std::size_t number = partNumberPosition(path, length);
        if (number != std::string::npos)
            return incrementDigits(path, number, number + length);
        if (endsWith(low, ".rar") && low.size() - 4 > start) {
            const bool upper = path[path.size() - 3] == 'R';
            return path.substr(0, path.size() - 3) + (upper ? "R00" : "r00");
        }
        // name.r00 ... name.r99, then name.s00 ... name.z99.
        const std::size_t n = path.size();
        if (n >= 4 && n - 4 >= start && path[n - 4] == '.' && allDigits(path, n - 2, n)
            && std::isalpha(static_cast<unsigned char>(path[n - 3]))) {
            std::string next = incrementDigits(path, n - 2, n);
            if (!next.empty())
                return next;
            const char letter = path[n - 3];
            if (letter == 'z' || letter == 'Z')
                return {};
            next = path;
            next[n - 3] = static_cast<char>(letter + 1);
            next[n - 2] = '0';
            next[n - 1] = '0';
            return next;
        }
        return {};
    }
    if (kind == Kind::Pieces) {
        const std::size_t n = path.size();
        // name.001, name.002 ...
        std::size_t dot = low.rfind('.');
        if (dot != std::string::npos && dot >= start && n - dot - 1 >= 3 && allDigits(path, dot + 1, n))
            return incrementDigits(path, dot + 1, n);
        // name_aa, name_ab ... name_zz (the names split(1) gives).
        if (n >= 2 && n - 2 >= start && std::isalpha(static_cast<unsigned char>(path[n - 1]))
            && std::isalpha(static_cast<unsigned char>(path[n - 2]))) {
            std::string next = path;
            if (next[n - 1] != 'z' && next[n - 1] != 'Z') {
                ++next[n - 1];
                return next;
            }
            if (next[n - 2] == 'z' || next[n - 2] == 'Z')
                return {};
            ++next[n - 2];
            next[n - 1] = static_cast<char>(next[n - 1] == 'z' ? 'a' : 'A');
            return next;
        }
    }
    return {};
}

VolumeSet VolumeSet::discover(const std::string &firstPath)
{
    return discover(firstPath, fileExists);
}

VolumeSet VolumeSet::discover(const std::string &firstPath, const ExistsFunction &exists)
{
    VolumeSet set;
    set.m_paths.push_back(firstPath);

    const Kind kind = namingKind(firstPath);
    std::size_t length = 0;
    if (kind == Kind::Single)
        return set;

    // "name.000.rar", "name.001.rar"...: chosen only when the second is there,
    // since "name.000.rar" may also start a "name.000.r00" set.
    const bool dotted = kind == Kind::Volumes && partNumberPosition(firstPath, length) == std::string::npos
        && startsDottedSet(firstPath) && exists(dottedSuccessor(firstPath));
    const auto step = [dotted, kind](const std::string &path) {
        return dotted ? dottedSuccessor(path) : successor(path, kind);
    };
    std::string next = step(firstPath);
    while (!next.empty() && exists(next)) {
        set.m_paths.push_back(next);
        next = step(next);
    }
    // A plain "name.rar" or a lone first piece is a single archive.
    set.m_kind = set.m_paths.size() > 1 || partNumberPosition(firstPath, length) != std::string::npos
        ? kind
        : Kind::Single;

    if (!next.empty() && set.m_kind != Kind::Single) {
        std::string later = step(next);
        for (int i = 0; i < kLookPastHole && !later.empty(); ++i) {
            if (exists(later)) {
                set.m_missing = next;
                break;
            }
            later = step(later);
        }
    }
    return set;
}

bool VolumeSet::open(const std::vector<std::string> &paths, std::string *error)
{
    close();
    m_paths = paths;
    m_missing.clear();
    // The same names make the same set as discover() finds.
    if (paths.size() <= 1) m_kind = Kind::Single;
    else m_kind = namingKind(paths.front()) == Kind::Pieces ? Kind::Pieces : Kind::Volumes;
    const bool joined = m_kind == Kind::Pieces;
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
