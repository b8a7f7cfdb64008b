// rarwrite: writes stored RAR 4 and RAR 5 archives for tests and benchmarks.

#include "RarWriteError.h"
#include "RarWriter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
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
    "Writes a RAR archive of stored entries, from these sources in the order given:\n"
    "  -C DIR           the folders and files below DIR, each folder first, sorted bytewise\n"
    "  --names FILE     NUL-separated names in FILE ('-': standard input), a folder's\n"
    "                   ending in '/', a file holding its name and a line feed\n"
    "                   (--with-contents: records alternate name and contents)\n"
    "  --generate N     fileI.txt holding \"file I\" (--file-size S: S bytes of\n"
    "                   reproducible data), in dirK of M files (--fan-out M)\n"
    "  --big-file SIZE  big.bin, SIZE bytes of reproducible data\n"
    "Options: -4 (RAR 4), -v SIZE (volumes ARCHIVE.partN.rar of at most SIZE bytes;\n"
    "--volume-digits N: N digits in their numbers), --mtime SECONDS (default: the\n"
    "files' own, else 1700000000), --list (print the volumes). SIZE takes k, m and g.\n"
    "Names are stored as given, \"../x\" included.\n";

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

// A count or size, with k, m or g for powers of 1024.
std::uint64_t parseNumber(const std::string &text)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    const std::string_view suffix(end, static_cast<std::size_t>(text.data() + text.size() - end));
    const int shift = suffix == "k" ? 10 : suffix == "m" ? 20 : suffix == "g" ? 30 : 0;
    if (error != std::errc() || end == text.data() || (!suffix.empty() && shift == 0))
        usageError("not a number: " + text);
    return value << shift;
}

Options parseArguments(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
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
            if ((options.writer.volumeSize = parseNumber(value())) == 0)
                usageError("the volume size must be positive");
        } else if (arg == "--volume-digits") {
            options.writer.volumeDigits = static_cast<unsigned>(parseNumber(value()));
        } else if (arg == "--mtime") {
            options.mtime = static_cast<std::int64_t>(parseNumber(value()));
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "-C" || arg == "--names") {
            options.sources.push_back({arg == "-C" ? Source::Tree : Source::Names, value()});
        } else if (arg == "--with-contents") {
            follow(Source::Names).withContents = true;
        } else if (arg == "--generate" || arg == "--big-file") {
            options.sources.push_back({arg == "--generate" ? Source::Generate : Source::BigFile, {}, false,
                                       parseNumber(value())});
        } else if (arg == "--fan-out") {
            follow(Source::Generate).fanOut = parseNumber(value());
        } else if (arg == "--file-size") {
            follow(Source::Generate).fileSize = parseNumber(value());
        } else if (arg.size() > 1 && arg[0] == '-') {
            usageError("unknown option " + arg);
        } else if (options.archive.empty()) {
            options.archive = arg;
        } else {
            usageError("unexpected argument " + arg);
        }
    }
    if (options.archive.empty() || options.sources.empty())
        usageError("an archive and at least one source are needed");
    return options;
}

std::vector<std::string> readRecords(const std::string &file)
{
    std::ifstream in(file == "-" ? "/dev/stdin" : file, std::ios::binary);
    if (!in)
        throw RarWriteError("cannot read " + file + ": " + std::strerror(errno));
    std::vector<std::string> records;
    for (std::string record; std::getline(in, record, '\0');)
        records.push_back(record);
    return records;
}

ByteSource fileContents(const std::filesystem::path &path)
{
    const auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (!*in)
        throw RarWriteError("cannot open " + path.string() + ": " + std::strerror(errno));
    return [in, path](char *buffer, std::size_t size) {
        if (in->read(buffer, static_cast<std::streamsize>(size)).bad())
            throw RarWriteError("cannot read " + path.string());
        return static_cast<std::size_t>(in->gcount());
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
    const std::vector<std::string> records = readRecords(source.argument);
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
    // Numbers padded to the width of the last one, so that names sort as numbers do.
    const auto numbered = [](const char *stem, std::uint64_t n, std::uint64_t last) {
        const std::string digits = std::to_string(n);
        return stem + std::string(std::to_string(last).size() - digits.size(), '0') + digits;
    };
    std::string folder;
    for (std::uint64_t i = 0; i < source.count; ++i) {
        if (source.fanOut && i % source.fanOut == 0) {
            folder = numbered("dir", i / source.fanOut, (source.count - 1) / source.fanOut);
            writer.addDirectory({folder, true, 0, mtime, 0755});
            folder += '/';
        }
        const std::string name = folder + numbered("file", i, source.count - 1) + ".txt";
        if (source.fileSize)
            writer.addFile({name, false, *source.fileSize, mtime, 0644}, pattern(*source.fileSize, i));
        else
            writer.addFile({name, false, 0, mtime, 0644}, "file " + std::to_string(i) + "\n");
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
            case Source::Tree: addTree(writer, source.argument, "", options); break;
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
        const auto paths = output ? output->volumePaths() : std::vector<std::filesystem::path>();
        output.reset();
        std::error_code ignored;
        for (const auto &path : paths)
            std::filesystem::remove(path, ignored);
        return 1;
    }
    return 0;
}
