#include "TreeWalker.h"

#include "RarWriteError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

namespace vorlo::rarwriter {

void TreeWalker::walk(const std::function<void(const Item &)> &visit) const
{
    struct stat st;
    if (::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw RarWriteError("not a folder: " + root_.string());
    walkFolder(root_, "", visit);
}

void TreeWalker::walkFolder(const std::filesystem::path &folder, const std::string &prefix,
                            const std::function<void(const Item &)> &visit) const
{
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        throw RarWriteError("cannot read folder " + folder.string() + ": " + std::strerror(errno));
    while (const dirent *d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());

    for (const std::string &name : names) {
        Item item;
        item.path = folder / name;
        item.name = prefix + name;
        struct stat st;
        if (::lstat(item.path.c_str(), &st) != 0)
            throw RarWriteError("cannot read " + item.path.string() + ": " + std::strerror(errno));
        if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
            throw RarWriteError("neither a file nor a folder: " + item.path.string());
        item.directory = S_ISDIR(st.st_mode);
        item.size = item.directory ? 0 : static_cast<std::uint64_t>(st.st_size);
        item.mtime = st.st_mtime;
        item.mode = st.st_mode & 07777;
        visit(item);
        if (item.directory)
            walkFolder(item.path, item.name + "/", visit);
    }
}

} // namespace vorlo::rarwriter
