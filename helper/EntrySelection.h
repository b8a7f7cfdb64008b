#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The entries an extraction is limited to, named as the "vb" listing prints
// them. A name takes the entry of that name and, for a folder, everything
// under it, whether the folder has an entry of its own or not. Names are
// compared whole, byte for byte, after leading, trailing and doubled "/"
// are tidied away on both sides. An empty selection takes every entry.
class EntrySelection {
public:
    void add(std::string_view name);
    // Reads one name per line from `path` ("\n" ends a line, empty lines
    // are skipped): the "vb" listing never prints a line feed in a name.
    // False, with errno set, when the file cannot be read.
    bool addFromFile(const std::string& path);

    bool empty() const { return names_.empty(); }
    // Whether the entry printed as `shownPath` is selected; marks the names
    // that take it as used.
    bool takes(std::string_view shownPath);
    // The names that took no entry, in the order given.
    std::vector<std::string> unused() const;
    // Forgets which names took entries (a run started over).
    void resetUse();

    static std::string tidy(std::string_view path);

private:
    std::vector<std::string> order_;
    std::unordered_map<std::string, bool> names_; // name -> took an entry
};
