#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace vorlo::rarwriter {

// Walks a folder tree in a reproducible order: each folder before its
// contents, the entries of a folder sorted by the bytes of their names.
class TreeWalker {
public:
    struct Item {
        std::string name; // relative to the root, "/" between folders
        std::filesystem::path path;
        bool directory = false;
        std::uint64_t size = 0;
        std::int64_t mtime = 0;
        std::uint32_t mode = 0;
    };

    explicit TreeWalker(std::filesystem::path root) : root_(std::move(root)) {}
    // Calls `visit` for every folder and regular file below the root (the
    // root itself excluded). Anything else (a link, a device) is an error:
    // the archive would silently differ from the tree otherwise.
    void walk(const std::function<void(const Item &)> &visit) const;

private:
    void walkFolder(const std::filesystem::path &folder, const std::string &prefix,
                    const std::function<void(const Item &)> &visit) const;

    std::filesystem::path root_;
};

} // namespace vorlo::rarwriter
