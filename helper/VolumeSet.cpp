#include "VolumeSet.h"

#include <cctype>
#include <sys/stat.h>

namespace {

// How many names past a hole are looked at before the set is taken to end.
constexpr int kLookPastHole = 4;

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size()
        && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::size_t nameStart(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Adds one to the decimal number text[begin, end), keeping its width; ""
// when it would overflow that width.
std::string incrementDigits(const std::string& text, std::size_t begin, std::size_t end)
{
    std::string next = text;
    for (std::size_t i = end; i > begin; --i) {
        char& c = next[i - 1];
        if (c != '9') {
            ++c;
            return next;
        }
        c = '0';
    }
    return {};
}

bool allDigits(const std::string& text, std::size_t begin, std::size_t end)
{
    if (begin >= end)
        return false;
    for (std::size_t i = begin; i < end; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// "name.part7.rar" -> position and length of "7", or npos.
std::size_t partNumberPosition(const std::string& path, std::size_t& length)
{
    const std::string low = lower(path);
    if (!endsWith(low, ".rar"))
        return std::string::npos;
    const std::size_t end = low.size() - 4;
    std::size_t begin = end;
    while (begin > nameStart(path) && std::isdigit(static_cast<unsigned char>(low[begin - 1])))
        --begin;
    if (begin == end || begin < 5 || low.compare(begin - 5, 5, ".part") != 0)
        return std::string::npos;
    length = end - begin;
    return begin;
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

std::string VolumeSet::successor(const std::string& path, Kind kind)
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

VolumeSet VolumeSet::discover(const std::string& firstPath)
{
    return discover(firstPath, fileExists);
}

VolumeSet VolumeSet::discover(const std::string& firstPath, const ExistsFunction& exists)
{
    VolumeSet set;
    set.paths_.push_back(firstPath);

    const std::string low = lower(firstPath);
    const std::size_t start = nameStart(firstPath);
    const std::string name = low.substr(start);
    Kind kind = Kind::Single;
    std::size_t length = 0;
    if (partNumberPosition(firstPath, length) != std::string::npos || endsWith(name, ".rar"))
        kind = Kind::Volumes;
    else if (endsWith(name, ".001") || (name.size() > 2 && endsWith(name, "aa")))
        kind = Kind::Pieces;
    if (kind == Kind::Single)
        return set;

    std::string next = successor(firstPath, kind);
    while (!next.empty() && exists(next)) {
        set.paths_.push_back(next);
        next = successor(next, kind);
    }
    // A plain "name.rar" or a lone first piece is a single archive.
    set.kind_ = set.paths_.size() > 1 || partNumberPosition(firstPath, length) != std::string::npos
        ? kind
        : Kind::Single;

    if (!next.empty() && set.kind_ != Kind::Single) {
        std::string later = successor(next, kind);
        for (int i = 0; i < kLookPastHole && !later.empty(); ++i) {
            if (exists(later)) {
                set.missing_ = next;
                break;
            }
            later = successor(later, kind);
        }
    }
    return set;
}
