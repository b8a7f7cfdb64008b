// rarwrite: writes stored RAR 4 and RAR 5 archives for tests and benchmarks.

#include "RarWriteError.h"
#include "RarWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vorlo::rarwriter;

namespace {

constexpr std::int64_t kGeneratedTime = 1700000000; // 2023-11-14, any fixed time would do

const char kUsage[] =
    "usage: rarwrite [OPTIONS] ARCHIVE.rar SOURCE...\n"
    "Writes a RAR archive of stored (uncompressed) entries.\n"
    "\n"
    "Sources, added in the order given (several may be combined):\n"
    "  -C DIR            every folder and file below DIR, named relative to DIR,\n"
    "                    each folder before its contents, names sorted bytewise\n"
    "  --names FILE      entries named in FILE ('-': standard input), separated by\n"
    "                    NUL bytes, in that order; a name ending in '/' is a folder;\n"
    "                    a file holds its own name followed by a line feed\n"
    "  --with-contents   with --names: records alternate name and contents\n"
    "  --generate N      N small files; with --fan-out M, in folders of M files\n"
    "                    (dirK/fileI.txt), each folder before its files\n"
    "  --file-size S     with --generate: S bytes of reproducible data per file\n"
    "                    (default: the line \"file I\")\n"
    "  --big-file SIZE   one file, big.bin, of SIZE bytes of reproducible data\n"
    "Options:\n"
    "  -4                RAR 4 instead of RAR 5\n"
    "  -v SIZE           split into volumes of at most SIZE bytes: ARCHIVE.part1.rar...\n"
    "  --volume-digits N digits of the volume number (2: ARCHIVE.part01.rar)\n"
    "  --old-volume-names  ARCHIVE.rar, ARCHIVE.r00, ARCHIVE.r01...\n"
    "  --mtime T         time stamp of every entry, in seconds since 1970\n"
    "                    (default: the files' own; 1700000000 for generated ones)\n"
    "  --list            print the path of each volume written\n"
    "SIZE takes the suffixes k, m and g (powers of 1024).\n"
    "Names are stored as given (\"../x\" and \"/x\" included, for testing readers);\n"
    "they must be UTF-8. RAR 4 readers take \"\\\" in a name as a folder separator.\n";

struct Source {
    enum Kind { Tree, Names, Generate, BigFile } kind;
    std::string argument;
    bool withContents = false;
    std::uint64_t count = 0;
    std::uint64_t fanOut = 0;
    std::optional<std::uint64_t> fileSize = {};
};

struct Options {
    WriterOptions writer;
    std::string archive;
    std::vector<Source> sources;
    std::optional<std::int64_t> mtime;
    bool list = false;
};

[[noreturn]] void usageError(const std::string &message)
{
    std::cerr << "rarwrite: " << message << "\n" << kUsage;
    std::exit(2);
}

std::uint64_t parseNumber(const std::string &text, bool suffixes)
{
    std::uint64_t value = 0;
    const char *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || p == text.data())
        usageError("not a number: " + text);
    if (suffixes && p + 1 == end && std::strchr("kKmMgG", *p)) {
        value <<= *p == 'k' || *p == 'K' ? 10 : *p == 'm' || *p == 'M' ? 20 : 30;
        ++p;
    }
    if (p != end)
        usageError("not a number: " + text);
    return value;
}

Options parseArguments(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError(arg + " needs a value");
            return argv[++i];
        };
        const auto follow = [&](Source::Kind kind) -> Source & {
            if (options.sources.empty() || options.sources.back().kind != kind)
                usageError(arg + " belongs after the source it shapes");
            return options.sources.back();
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            std::exit(0);
        } else if (arg == "-4") {
            options.writer.format = RarFormat::Rar4;
        } else if (arg == "-v") {
            options.writer.volumeSize = parseNumber(value(), true);
            if (options.writer.volumeSize == 0)
                usageError("the volume size must be positive");
        } else if (arg == "--volume-digits") {
            options.writer.volumeDigits = static_cast<unsigned>(parseNumber(value(), false));
        } else if (arg == "--old-volume-names") {
            options.writer.oldVolumeNames = true;
        } else if (arg == "--mtime") {
            options.mtime = static_cast<std::int64_t>(parseNumber(value(), false));
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "-C") {
            options.sources.push_back({Source::Tree, value()});
        } else if (arg == "--names") {
            options.sources.push_back({Source::Names, value()});
        } else if (arg == "--with-contents") {
            follow(Source::Names).withContents = true;
        } else if (arg == "--generate") {
            options.sources.push_back({Source::Generate, {}, false, parseNumber(value(), false)});
        } else if (arg == "--fan-out") {
            follow(Source::Generate).fanOut = parseNumber(value(), false);
        } else if (arg == "--file-size") {
            follow(Source::Generate).fileSize = parseNumber(value(), true);
        } else if (arg == "--big-file") {
            options.sources.push_back({Source::BigFile, {}, false, parseNumber(value(), true)});
        } else if (arg.size() > 1 && arg[0] == '-') {
            usageError("unknown option " + arg);
        } else if (options.archive.empty()) {
            options.archive = arg;
        } else {
            usageError("unexpected argument " + arg);
        }
    }
    if (options.archive.empty())
        usageError("no archive named");
    if (options.sources.empty())
        usageError("nothing to archive");
    return options;
}

std::string readAll(const std::string &file)
{
    std::ifstream named(file == "-" ? "/dev/stdin" : file, std::ios::binary);
    if (!named)
        throw RarWriteError("cannot read " + file + ": " + std::strerror(errno));
    return std::string(std::istreambuf_iterator<char>(named), {});
}

ByteSource fileContents(const std::filesystem::path &path)
{
    std::shared_ptr<std::FILE> file(std::fopen(path.c_str(), "rbe"), [](std::FILE *f) {
        if (f)
            std::fclose(f);
    });
    if (!file)
        throw RarWriteError("cannot open " + path.string() + ": " + std::strerror(errno));
    return [file, path](char *buffer, std::size_t size) {
        const std::size_t n = std::fread(buffer, 1, size, file.get());
        if (n < size && std::ferror(file.get()))
            throw RarWriteError("cannot read " + path.string() + ": " + std::strerror(errno));
        return n;
    };
}

// `size` bytes of a reproducible pseudo-random stream (splitmix64): the same
// seed gives the same bytes, and nothing in them repeats at a stride a reader
// could slip by unnoticed.
ByteSource pattern(std::uint64_t size, std::uint64_t state)
{
    return [size, state, word = std::uint64_t{0}, left = 0](char *buffer, std::size_t want) mutable {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want, size));
        for (std::size_t i = 0; i < n; ++i, word >>= 8, --left) {
            if (left == 0) {
                std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
                z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
                z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
                word = z ^ (z >> 31);
                left = 8;
            }
            buffer[i] = static_cast<char>(word & 0xFF);
        }
        size -= n;
        return n;
    };
}

std::vector<std::string> splitRecords(const std::string &text)
{
    std::vector<std::string> records;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        records.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return records;
}

// Every folder and file below `folder`, each folder before its contents,
// names sorted bytewise. Anything else (a link, a device, a pipe) is
// refused: the archive would silently differ from the tree otherwise.
void addTree(RarWriter &writer, const std::filesystem::path &folder, const std::string &prefix,
             const Options &options)
{
    std::vector<std::string> names;
    for (const auto &item : std::filesystem::directory_iterator(folder))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        const std::filesystem::path path = folder / name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0)
            throw RarWriteError("cannot read " + path.string() + ": " + std::strerror(errno));
        const ArchiveEntry entry{prefix + name, S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size),
                                 options.mtime.value_or(st.st_mtime), st.st_mode & 07777u};
        if (S_ISDIR(st.st_mode)) {
            writer.addDirectory(entry);
            addTree(writer, path, entry.name + "/", options);
        } else if (S_ISREG(st.st_mode)) {
            writer.addFile(entry, fileContents(path));
        } else {
            throw RarWriteError("neither a file nor a folder: " + path.string());
        }
    }
}

void addNames(RarWriter &writer, const Source &source, const Options &options)
{
    const std::vector<std::string> records = splitRecords(readAll(source.argument));
    if (source.withContents && records.size() % 2 != 0)
        throw RarWriteError("--with-contents: the last name has no contents");
    const std::int64_t mtime = options.mtime.value_or(kGeneratedTime);
    for (std::size_t i = 0; i < records.size(); i += source.withContents ? 2 : 1) {
        std::string name = records[i];
        if (name.size() > 1 && name.back() == '/') {
            name.pop_back();
            writer.addDirectory({name, true, 0, mtime, 0755});
        } else {
            writer.addFile({name, false, 0, mtime, 0644}, source.withContents ? records[i + 1] : name + "\n");
        }
    }
}

void addGenerated(RarWriter &writer, const Source &source, const Options &options)
{
    const std::int64_t mtime = options.mtime.value_or(kGeneratedTime);
    const std::uint64_t folders = source.fanOut ? (source.count + source.fanOut - 1) / source.fanOut : 0;
    const int fileDigits = static_cast<int>(std::to_string(source.count ? source.count - 1 : 0).size());
    const int folderDigits = static_cast<int>(std::to_string(folders ? folders - 1 : 0).size());
    std::string folder;
    char buffer[64];
    for (std::uint64_t i = 0; i < source.count; ++i) {
        if (source.fanOut && i % source.fanOut == 0) {
            std::snprintf(buffer, sizeof buffer, "dir%0*llu", folderDigits,
                          static_cast<unsigned long long>(i / source.fanOut));
            folder = buffer;
            writer.addDirectory({folder, true, 0, mtime, 0755});
            folder += '/';
        }
        std::snprintf(buffer, sizeof buffer, "file%0*llu.txt", fileDigits, static_cast<unsigned long long>(i));
        if (source.fileSize) {
            writer.addFile({folder + buffer, false, *source.fileSize, mtime, 0644}, pattern(*source.fileSize, i));
        } else {
            writer.addFile({folder + buffer, false, 0, mtime, 0644}, "file " + std::to_string(i) + "\n");
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parseArguments(argc, argv);
    std::unique_ptr<RarWriter> output;
    try {
        output = std::make_unique<RarWriter>(options.archive, options.writer);
        RarWriter &writer = *output;
        for (const Source &source : options.sources) {
            switch (source.kind) {
            case Source::Tree:
                if (!std::filesystem::is_directory(source.argument))
                    throw RarWriteError("not a folder: " + source.argument);
                addTree(writer, source.argument, "", options);
                break;
            case Source::Names: addNames(writer, source, options); break;
            case Source::Generate: addGenerated(writer, source, options); break;
            case Source::BigFile:
                writer.addFile({"big.bin", false, source.count, options.mtime.value_or(kGeneratedTime), 0644},
                               pattern(source.count, 0));
                break;
            }
        }
        writer.finish();
        if (options.list)
            for (const auto &path : writer.volumePaths())
                std::cout << path.string() << "\n";
    } catch (const std::exception &e) {
        std::cerr << "rarwrite: " << e.what() << "\n";
        // A half-written archive would only mislead whoever finds it.
        if (output) {
            const auto paths = output->volumePaths();
            output.reset();
            for (const auto &path : paths) {
                std::error_code ignored;
                std::filesystem::remove(path, ignored);
            }
        }
        return 1;
    }
    return 0;
}
