// rarwrite: writes stored RAR 4 and RAR 5 archives for tests and benchmarks.

#include "ByteSource.h"
#include "RarWriteError.h"
#include "RarWriter.h"
#include "TreeWalker.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
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
    "  --big-file SIZE   one file (named by --name, default big.bin) of SIZE bytes\n"
    "                    of reproducible pseudo-random data, streamed\n"
    "Options:\n"
    "  -4                RAR 4 instead of RAR 5\n"
    "  -v SIZE           split into volumes of at most SIZE bytes: ARCHIVE.part1.rar...\n"
    "  --volume-digits N digits of the volume number (2: ARCHIVE.part01.rar)\n"
    "  --old-volume-names  ARCHIVE.rar, ARCHIVE.r00, ARCHIVE.r01...\n"
    "  --mtime T         time stamp of every entry, in seconds since 1970\n"
    "                    (default: the files' own; 1700000000 for generated ones)\n"
    "  --list            print the path of each volume written\n"
    "  -h, --help        this text\n"
    "SIZE takes the suffixes k, m and g (powers of 1024).\n";

struct Source {
    enum Kind { Tree, Names, Generate, BigFile } kind;
    std::string argument;
    bool withContents = false;
    std::uint64_t count = 0;
    std::uint64_t fanOut = 0;
    std::optional<std::uint64_t> fileSize = {};
    std::string name = {};
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
    if (suffixes && p != end) {
        int shift = 0;
        switch (*p) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: usageError("not a size: " + text);
        }
        ++p;
        value <<= shift;
    }
    if (p != end)
        usageError("not a number: " + text);
    return value;
}

Options parseArguments(int argc, char **argv)
{
    Options options;
    std::string bigFileName = "big.bin";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usageError(arg + " needs a value");
            return argv[++i];
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
            if (options.sources.empty() || options.sources.back().kind != Source::Names)
                usageError("--with-contents follows --names");
            options.sources.back().withContents = true;
        } else if (arg == "--generate") {
            Source s{Source::Generate, {}};
            s.count = parseNumber(value(), false);
            options.sources.push_back(s);
        } else if (arg == "--fan-out" || arg == "--file-size") {
            if (options.sources.empty() || options.sources.back().kind != Source::Generate)
                usageError(arg + " follows --generate");
            const std::uint64_t n = parseNumber(value(), arg == "--file-size");
            if (arg == "--fan-out")
                options.sources.back().fanOut = n;
            else
                options.sources.back().fileSize = n;
        } else if (arg == "--big-file") {
            Source s{Source::BigFile, {}};
            s.count = parseNumber(value(), true);
            s.name = bigFileName;
            options.sources.push_back(s);
        } else if (arg == "--name") {
            bigFileName = value();
            if (!options.sources.empty() && options.sources.back().kind == Source::BigFile)
                options.sources.back().name = bigFileName;
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
    if (file == "-")
        return std::string(std::istreambuf_iterator<char>(std::cin), {});
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw RarWriteError("cannot read " + file + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitRecords(const std::string &text)
{
    std::vector<std::string> records;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        records.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return records;
}

void addTree(RarWriter &writer, const Source &source, const Options &options)
{
    TreeWalker(source.argument).walk([&](const TreeWalker::Item &item) {
        ArchiveEntry entry{item.name, item.directory, item.size, options.mtime.value_or(item.mtime), item.mode};
        if (item.directory) {
            writer.addDirectory(entry);
        } else {
            FileSource contents(item.path);
            writer.addFile(entry, contents);
        }
    });
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
        ArchiveEntry entry{folder + buffer, false, 0, mtime, 0644};
        if (source.fileSize) {
            entry.size = *source.fileSize;
            PatternSource contents(entry.size, i);
            writer.addFile(entry, contents);
        } else {
            writer.addFile(entry, "file " + std::to_string(i) + "\n");
        }
    }
}

void addBigFile(RarWriter &writer, const Source &source, const Options &options)
{
    PatternSource contents(source.count, 0);
    writer.addFile({source.name, false, source.count, options.mtime.value_or(kGeneratedTime), 0644}, contents);
}

} // namespace

int main(int argc, char **argv)
{
    const Options options = parseArguments(argc, argv);
    try {
        RarWriter writer(options.archive, options.writer);
        for (const Source &source : options.sources) {
            switch (source.kind) {
            case Source::Tree: addTree(writer, source, options); break;
            case Source::Names: addNames(writer, source, options); break;
            case Source::Generate: addGenerated(writer, source, options); break;
            case Source::BigFile: addBigFile(writer, source, options); break;
            }
        }
        writer.finish();
        if (options.list)
            for (const auto &path : writer.volumePaths())
                std::cout << path.string() << "\n";
    } catch (const std::exception &e) {
        std::cerr << "rarwrite: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
