// Unit tests of the helper's pure parts: volume naming, path safety, the
// display of hostile names, the read-ahead window, the CRC and the
// temporary names of files being written. The rest is tested through the real
// program (test_*.py).

#include "CommandLine.h"
#include "Console.h"
#include "Crc32.h"
#include "PathSafety.h"
#include "ProgressReporter.h"
#include "ReadWindow.h"
#include "StagedFile.h"
#include "VolumeSet.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <set>
#include <string>
#include <vector>

namespace {

using rarcontainer::VolumeSet;

int failures = 0;

void check(bool condition, const std::string& what)
{
    if (!condition) {
        ++failures;
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
    }
}

void checkEqual(const std::string& actual, const std::string& expected, const std::string& what)
{
    check(actual == expected, what + ": got \"" + actual + "\", expected \"" + expected + "\"");
}

void volumeNaming()
{
    using Kind = VolumeSet::Kind;
    checkEqual(VolumeSet::successor("/a/b.part1.rar", Kind::Volumes), "/a/b.part2.rar", "part1");
    checkEqual(VolumeSet::successor("b.part09.rar", Kind::Volumes), "b.part10.rar", "carry keeps width");
    checkEqual(VolumeSet::successor("b.PART099.RAR", Kind::Volumes), "b.PART100.RAR", "upper case");
    checkEqual(VolumeSet::successor("b.part9.rar", Kind::Volumes), "", "no wider number");
    checkEqual(VolumeSet::successor("/x.y/b.rar", Kind::Volumes), "/x.y/b.r00", "old style first");
    checkEqual(VolumeSet::successor("b.r09", Kind::Volumes), "b.r10", "old style next");
    checkEqual(VolumeSet::successor("b.r99", Kind::Volumes), "b.s00", "old style letter carry");
    checkEqual(VolumeSet::successor("b.001", Kind::Pieces), "b.002", "numbered pieces");
    checkEqual(VolumeSet::successor("b_az", Kind::Pieces), "b_ba", "lettered pieces");
    checkEqual(VolumeSet::successor("/d.part1.rar/b.rar", Kind::Volumes), "/d.part1.rar/b.r00", "only the name counts");
}

void volumeDiscovery()
{
    const auto onDisk = [](std::set<std::string> files) {
        return [files](const std::string& path) { return files.count(path) > 0; };
    };
    VolumeSet set = VolumeSet::discover("s.part1.rar", onDisk({"s.part2.rar", "s.part3.rar", "s.part5.rar"}));
    check(set.paths().size() == 3 && set.kind() == VolumeSet::Kind::Volumes, "stops at the hole");
    checkEqual(set.missing(), "s.part4.rar", "names the hole");

    set = VolumeSet::discover("s.rar", onDisk({"s.r00", "s.r01"}));
    check(set.paths().size() == 3 && set.paths()[2] == "s.r01" && set.missing().empty(), "old style set");

    set = VolumeSet::discover("s.rar", onDisk({"s.part2.rar"}));
    check(set.kind() == VolumeSet::Kind::Single && set.paths().size() == 1, "plain archive stays single");

    set = VolumeSet::discover("t.000.rar", onDisk({"t.001.rar", "t.002.rar", "t.004.rar"}));
    check(set.paths().size() == 3 && set.paths()[2] == "t.002.rar" && set.kind() == VolumeSet::Kind::Volumes,
          "volumes numbered name.000.rar");
    checkEqual(set.missing(), "t.003.rar", "names the hole of a numbered set");
    set = VolumeSet::discover("photos.2024.rar", onDisk({"photos.2025.rar"}));
    check(set.kind() == VolumeSet::Kind::Single, "a year in a name is not a volume number");
    set = VolumeSet::discover("b.001.rar", onDisk({"b.001.r00"}));
    check(set.paths().size() == 2 && set.paths()[1] == "b.001.r00", "a numbered name may start an old style set");

    set = VolumeSet::discover("s_aa", onDisk({"s_ab", "s_ac"}));
    check(set.kind() == VolumeSet::Kind::Pieces && set.paths().size() == 3, "raw pieces joined");

    set = VolumeSet::discover("photo_aa", onDisk({}));
    check(set.kind() == VolumeSet::Kind::Single, "a lone name ending in aa");
}

void pathSafety()
{
    check(PathSafety::checkEntryPath("a/b.txt").empty(), "plain path");
    check(PathSafety::checkEntryPath("a..b/c..").empty(), "dots inside names are fine");
    for (const char* bad : {"/etc/passwd", "../x", "a/../../x", "a/..", "", "/"})
        check(!PathSafety::checkEntryPath(bad).empty(), std::string("refuse entry ") + bad);

    check(PathSafety::checkSymlinkTarget("link", "file").empty(), "sibling");
    check(PathSafety::checkSymlinkTarget("a/b/link", "../../file").empty(), "climb to the top");
    check(PathSafety::checkSymlinkTarget("a/link", "./b/c").empty(), "dot component");
    check(!PathSafety::checkSymlinkTarget("link", "..").empty(), "parent of the destination");
    check(!PathSafety::checkSymlinkTarget("a/b/link", "../../../x").empty(), "one level too far");
    check(!PathSafety::checkSymlinkTarget("link", "/etc").empty(), "absolute target");
    // "d" may be a link to "." made by an earlier entry: "d/../x" is "../x".
    check(!PathSafety::checkSymlinkTarget("e", "d/../x").empty(), "climb after a name");

    check(PathSafety::checkHardlinkTarget("a/file").empty(), "hard link inside");
    check(!PathSafety::checkHardlinkTarget("../file").empty(), "hard link outside");
    check(!PathSafety::checkHardlinkTarget("/etc/passwd").empty(), "hard link absolute");
}

void displayNames()
{
    checkEqual(Console::displayName("a\nb\rc\x1b[31m"), "a?b?c?[31m", "control characters");
    checkEqual(Console::displayName("\xD1\x82\xD0\xB5\xD1\x81\xD1\x82 \xF0\x9F\x91\x8B"),
               "\xD1\x82\xD0\xB5\xD1\x81\xD1\x82 \xF0\x9F\x91\x8B", "UTF-8 kept");
    checkEqual(Console::displayName("bad\xFF\xC3(x"), "bad?" "?(x", "invalid UTF-8");
    checkEqual(Console::displayName("a\xC2\x85" "b\xE2\x80\xA8" "c"), "a?b?c", "Unicode line breaks");
    checkEqual(Console::displayName("plain/ascii name.txt~"), "plain/ascii name.txt~", "printable ASCII kept");
    checkEqual(Console::displayName("del\x7F"), "del?", "DEL");
    std::string longName;
    for (int i = 0; i < 3000; ++i)
        longName += "\xC3\xA9";  // "é", two bytes
    const std::string cut = Console::displayName(longName);
    check(cut.size() <= Console::kMaxNameBytes && cut.size() > Console::kMaxNameBytes - 8, "long name cut to the limit");
    checkEqual(cut.substr(cut.size() - 5), "\xC3\xA9\xE2\x80\xA6", "cut between characters, with the mark");
}

// Small reads served from the read-ahead window give the file's bytes,
// whatever the order, near a file's end, and when the file changes.
void readWindow()
{
    std::vector<std::vector<unsigned char>> files(2);
    for (std::size_t f = 0; f < files.size(); ++f) {
        files[f].resize(f == 0 ? 200000 : 70000);
        for (std::size_t i = 0; i < files[f].size(); ++i)
            files[f][i] = static_cast<unsigned char>((i * 131 + f * 7 + i / 251) & 0xFF);
    }
    rarcontainer::ReadWindow window;
    int directReads = 0;
    std::uint32_t seed = 1;
    auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::size_t f = next(10) == 0 ? 1 : 0;
        const std::vector<unsigned char>& file = files[f];
        const std::size_t n = next(8) == 0 ? 20000 + next(40000) : 1 + next(64);
        const std::uint64_t offset = next(std::uint32_t(file.size() - n + 1));
        std::vector<unsigned char> got(n);
        const bool ok = window.read(f, offset, got.data(), n, file.size(),
                                    [&](std::uint64_t at, void* into, std::size_t count) {
                                        ++directReads;
                                        std::memcpy(into, file.data() + at, count);
                                        return true;
                                    });
        if (!ok || std::memcmp(got.data(), file.data() + offset, n) != 0) {
            check(false, "read " + std::to_string(i) + " of file " + std::to_string(f) + " at "
                             + std::to_string(offset) + ", " + std::to_string(n) + " bytes");
            return;
        }
    }
    check(directReads < 20000, "small reads come from the window");
}

void checksumsAndMarks()
{
    Crc32 crc;
    const std::string text = "123456789";
    crc.update(text.data(), 4);
    crc.update(text.data() + 4, text.size() - 4);
    check(crc.value() == 0xCBF43926u, "CRC-32 check value across pieces");

    // The fast paths (tables, carry-less folding from 64 bytes on) against
    // the bit-by-bit definition, at every length and split around the edges.
    std::string data(3000, '\0');
    std::uint32_t seed = 12345;
    for (char& c : data) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    const auto slow = [](const std::string& bytes, std::size_t length) {
        std::uint32_t value = 0xFFFFFFFFu;
        for (std::size_t i = 0; i < length; ++i) {
            value ^= static_cast<unsigned char>(bytes[i]);
            for (int bit = 0; bit < 8; ++bit)
                value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        return ~value;
    };
    int wrong = 0;
    for (std::size_t length = 0; length < data.size(); length += length < 300 ? 1 : 61) {
        for (std::size_t split : {std::size_t(0), std::size_t(5), std::size_t(64), std::size_t(129)}) {
            if (split > length)
                continue;
            Crc32 pieces;
            pieces.update(data.data(), split);
            pieces.update(data.data() + split, length - split);
            wrong += pieces.value() != slow(data, length);
            // Continued from the value of the first piece, as the container
            // code checks headers and data handed over in pieces.
            Crc32 continued(Crc32::of(data.data(), split));
            continued.update(data.data() + split, length - split);
            wrong += continued.value() != slow(data, length);
        }
    }
    check(wrong == 0, "CRC-32 fast paths agree with the definition");

    checkEqual(ProgressReporter::markFor(5), "\b\b\b\b  5%", "mark for 5 %");
    checkEqual(ProgressReporter::markFor(100), "\b\b\b\b100%", "mark for 100 %");
}

void commandLines()
{
    std::string error;
    CommandLine line = CommandLine::parse({"x", "/a/b.rar", "/dest", "-o+"}, error);
    check(line.command == CommandLine::Command::Extract && line.destination == "/dest"
              && line.overwrite == CommandLine::Overwrite::Always, "extraction line of the application");
    line = CommandLine::parse({"vb", "-v", "b.rar"}, error);
    check(line.command == CommandLine::Command::BareList && line.archive == "b.rar", "listing line");
    line = CommandLine::parse({"x", "-psecret", "-o-", "--", "-odd.rar"}, error);
    check(line.password == std::string("secret") && line.archive == "-odd.rar"
              && line.overwrite == CommandLine::Overwrite::Never, "switches and --");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"q", "a.rar"}, {"x", "-z", "a.rar"}, {"vb"}, {"l", "a.rar", "extra"}, {}}) {
        error.clear();
        line = CommandLine::parse(bad, error);
        check(line.command == CommandLine::Command::None && !error.empty(), "refuse bad command line");
    }
}

std::string contents(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void stagedFiles()
{
    // Hidden, beside the final name, within a file name's 255 bytes, and
    // never cutting a UTF-8 sequence in two.
    std::string longName = "a"; // puts the sequences across the cut
    while (longName.size() < 252)
        longName += "\xc3\xa9"; // é
    const std::string name = StagedFile::nameFor(longName, 0xabc);
    check(name.size() <= 255 && name[0] == '.', "temporary name length");
    check(name.find("\xc3.") == std::string::npos && name.find(".000000000abc.part") != std::string::npos,
          "temporary name cut between characters: " + name);
    checkEqual(StagedFile::nameFor("a.txt", 1), ".a.txt.000000000001.part", "temporary name");
    const std::string staged = StagedFile::temporaryNameFor("sub/dir/file.bin");
    check(staged.rfind("sub/dir/.file.bin.", 0) == 0, "temporary name in the file's folder: " + staged);
    checkEqual(StagedFile::showFinalName("Can't create 'd/.x.1.part' (d/.x.1.part)", "d/.x.1.part", "d/x"),
               "Can't create 'd/x' (d/x)", "messages name the final file");

    char folder[] = "/tmp/vorlo-staged-XXXXXX";
    if (!::mkdtemp(folder)) {
        check(false, "temporary folder");
        return;
    }
    const std::string base = folder;
    const auto put = [](const std::string& path, const char* text) { std::ofstream(path) << text; };
    put(base + "/old", "old");
    put(base + "/new", "new");
    check(StagedFile::commit(base + "/new", base + "/old", false) == EEXIST, "no replacing without -o+");
    check(contents(base + "/old") == "old" && contents(base + "/new") == "new", "both left as they were");
    check(StagedFile::commit(base + "/new", base + "/old", true) == 0 && contents(base + "/old") == "new"
              && ::access((base + "/new").c_str(), F_OK) != 0,
          "replaced");
    // A folder in the way goes only when empty.
    put(base + "/new", "new");
    ::mkdir((base + "/full").c_str(), 0755);
    put(base + "/full/inside", "inside");
    check(StagedFile::commit(base + "/new", base + "/full", true) != 0 && contents(base + "/full/inside") == "inside"
              && contents(base + "/new") == "new",
          "a folder with contents stays, and so does the new file");
    ::mkdir((base + "/empty").c_str(), 0755);
    check(StagedFile::commit(base + "/new", base + "/empty", true) == 0 && contents(base + "/empty") == "new",
          "an empty folder is replaced");
    std::system(("rm -rf '" + base + "'").c_str());
}

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* item = ::readdir(listing))
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                names.insert(item->d_name);
        ::closedir(listing);
    }
    return names;
}

// Files written through a StagedFile: whole under their name or not there,
// nothing else left in the folder whatever happens.
void writtenFiles()
{
    char folder[] = "/tmp/vorlo-written-XXXXXX";
    if (!::mkdtemp(folder)) {
        check(false, "temporary folder");
        return;
    }
    const std::string base = folder;
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY);
    const auto put = [](const std::string& path, const char* text) { std::ofstream(path) << text; };

    // Pieces across the gathering size, a hole, and a sparse end.
    std::string data(3 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 4096);
    std::string expected = data + std::string(4096, '\0') + "tail" + std::string(100, '\0');
    {
        StagedFile file;
        check(file.create(fd, "", "big.bin", 0644) == 0, "created");
        for (std::size_t at = 0; at < data.size(); at += 65536 + 3)
            file.write(data.data() + at, std::min<std::size_t>(65536 + 3, data.size() - at), std::int64_t(at));
        file.write("tail", 4, std::int64_t(data.size() + 4096));
        check(namesIn(base).empty() || file.hiddenPath().size() > 0, "no name while written");
        check(file.flush() == 0 && file.finish(std::int64_t(expected.size()), nullptr, nullptr) == 0, "finished");
        check(file.commit(false) == 0, "named");
    }
    check(contents(base + "/big.bin") == expected, "the data, its hole and its end");
    check(namesIn(base) == std::set<std::string> {"big.bin"}, "only the file is left");

    put(base + "/old", "old");
    const auto attempt = [&](const char* name, bool replace) {
        StagedFile file;
        file.create(fd, "", name, 0644);
        file.write("new", 3, 0);
        file.flush();
        return file.commit(replace);
    };
    check(attempt("old", false) == EEXIST && contents(base + "/old") == "old", "no replacing without -o+");
    check(attempt("old", true) == 0 && contents(base + "/old") == "new", "replaced");
    ::mkdir((base + "/full").c_str(), 0755);
    put(base + "/full/inside", "inside");
    check(attempt("full", true) != 0 && contents(base + "/full/inside") == "inside",
          "a folder with contents stays");
    ::mkdir((base + "/empty").c_str(), 0755);
    check(attempt("empty", true) == 0 && contents(base + "/empty") == "new", "an empty folder is replaced");
    {
        StagedFile file;
        file.create(fd, "", "dropped", 0644);
        file.write("x", 1, 0);
    }
    // A file announced as empty is made only when it takes its name, and
    // follows the same rules; data that comes after all is staged as usual.
    const auto attemptEmpty = [&](const char* name, bool replace, const char* data = "") {
        StagedFile file;
        file.create(fd, "", name, 0644, true);
        file.write(data, std::strlen(data), 0);
        const timespec modified {1000000000, 0};
        if (file.finish(std::int64_t(std::strlen(data)), nullptr, &modified) != 0)
            return -1;
        return file.commit(replace);
    };
    put(base + "/kept", "kept");
    check(attemptEmpty("kept", false) == EEXIST && contents(base + "/kept") == "kept", "empty: no replacing");
    check(attemptEmpty("kept", true) == 0 && contents(base + "/kept").empty(), "empty: replaced");
    put(base + "/outside", "outside");
    ::symlink((base + "/outside").c_str(), (base + "/link").c_str());
    check(attemptEmpty("link", true) == 0 && contents(base + "/outside") == "outside",
          "empty: a link in the way is replaced, never followed");
    struct stat made {};
    check(attemptEmpty("fresh", false) == 0 && ::stat((base + "/fresh").c_str(), &made) == 0
              && made.st_size == 0 && made.st_mtim.tv_sec == 1000000000,
          "empty: made with its time");
    check(attemptEmpty("late", false, "late data") == 0 && contents(base + "/late") == "late data",
          "empty: data after all");
    {
        StagedFile file;
        file.create(fd, "", "never", 0644, true);
    }
    check(namesIn(base) == std::set<std::string> {"big.bin", "old", "full", "empty", "kept", "outside", "link",
                                                  "fresh", "late"},
          "nothing left by failed or dropped files");
    ::close(fd);
    std::system(("rm -rf '" + base + "'").c_str());
}

} // namespace

int main()
{
    volumeNaming();
    volumeDiscovery();
    pathSafety();
    displayNames();
    readWindow();
    checksumsAndMarks();
    commandLines();
    stagedFiles();
    writtenFiles();
    if (failures)
        std::fprintf(stderr, "%d failure(s)\n", failures);
    return failures ? 1 : 0;
}
