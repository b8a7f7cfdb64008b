#include "PathSafety.h"

#include <vector>

namespace {

std::vector<std::string> components(const std::string& path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '/') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

bool hasDotDot(const std::string& path)
{
    for (const std::string& part : components(path))
        if (part == "..")
            return true;
    return false;
}

} // namespace

std::string PathSafety::checkEntryPath(const std::string& path)
{
    if (path.empty())
        return "empty name";
    if (path[0] == '/')
        return "absolute path";
    if (hasDotDot(path))
        return "path contains \"..\"";
    if (components(path).empty())
        return "empty name";
    return {};
}

std::string PathSafety::checkSymlinkTarget(const std::string& linkPath, const std::string& target)
{
    if (target.empty())
        return "empty link target";
    if (target[0] == '/')
        return "link target is an absolute path";

    // The link's own folder, counted in real directories below the destination.
    std::vector<std::string> parts = components(linkPath);
    long depth = static_cast<long>(parts.size()) - 1;
    for (const std::string& part : parts)
        if (part == ".")
            --depth;

    bool climbing = true;
    for (const std::string& part : components(target)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!climbing)
                return "link target climbs after a name";
            if (--depth < 0)
                return "link target points outside the destination";
        } else {
            climbing = false;
        }
    }
    return {};
}

std::string PathSafety::checkHardlinkTarget(const std::string& target)
{
    if (target.empty())
        return "empty link target";
    if (target[0] == '/')
        return "link target is an absolute path";
    if (hasDotDot(target))
        return "link target contains \"..\"";
    return {};
}
