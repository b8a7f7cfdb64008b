#include "EntrySelection.h"

#include <cerrno>
#include <cstdio>

std::string EntrySelection::tidy(std::string_view path)
{
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '/' && (out.empty() || out.back() == '/'))
            continue;
        out += c;
    }
    if (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

void EntrySelection::add(std::string_view name)
{
    std::string tidied = tidy(name);
    if (tidied.empty())
        return;
    if (names_.emplace(tidied, false).second)
        order_.push_back(std::move(tidied));
}

bool EntrySelection::addFromFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::string line;
    char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            if (block[i] == '\n') {
                add(line);
                line.clear();
            } else {
                line += block[i];
            }
        }
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        errno = error;
        return false;
    }
    add(line);
    return true;
}

bool EntrySelection::takes(std::string_view shownPath)
{
    if (names_.empty())
        return true;
    const std::string path = tidy(shownPath);
    // The entry itself, then each folder it lies in, from the outermost:
    // every name that covers it is marked, so that none is reported unused.
    bool taken = false;
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        if (const auto found = names_.find(path.substr(0, slash)); found != names_.end()) {
            found->second = true;
            taken = true;
        }
    }
    if (const auto found = names_.find(path); found != names_.end()) {
        found->second = true;
        taken = true;
    }
    return taken;
}

std::vector<std::string> EntrySelection::unused() const
{
    std::vector<std::string> left;
    for (const std::string& name : order_) {
        if (!names_.at(name))
            left.push_back(name);
    }
    return left;
}

void EntrySelection::resetUse()
{
    for (auto& [name, used] : names_)
        used = false;
}
