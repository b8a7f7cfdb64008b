#include "EntryName.h"

#include "CodePage437.h"

#include <archive.h>
#include <archive_entry.h>
#include <cstdint>

namespace {


// Windows-1252 differs from Latin-1 only in the bytes 0x80 to 0x9F.
constexpr char16_t kCp1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool validUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        std::uint32_t lowest = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            lowest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            lowest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            lowest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        std::uint32_t code = lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// libarchive gives a name as UTF-8 when it can convert it; otherwise (bytes
// that are not UTF-8 in our UTF-8 locale) only as the stored bytes.
std::string convert(const char* utf8, const char* stored, EntryName::Legacy legacy)
{
    if (utf8)
        return utf8;
    return stored ? EntryName::toUtf8(stored, legacy) : std::string();
}

} // namespace

EntryName::Legacy EntryName::legacyFor(archive* reader)
{
    switch (archive_format(reader) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP:
        return Legacy::Cp437;
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5:
        return Legacy::Latin1;
    default:
        return Legacy::Cp1252;
    }
}

std::string EntryName::path(archive_entry* entry, Legacy legacy)
{
    std::string path = convert(archive_entry_pathname_utf8(entry), archive_entry_pathname(entry), legacy);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string EntryName::hardlink(archive_entry* entry, Legacy legacy)
{
    return convert(archive_entry_hardlink_utf8(entry), archive_entry_hardlink(entry), legacy);
}

std::string EntryName::symlink(archive_entry* entry, Legacy legacy)
{
    return convert(archive_entry_symlink_utf8(entry), archive_entry_symlink(entry), legacy);
}

std::string EntryName::toUtf8(std::string_view bytes, Legacy legacy)
{
    if (validUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else if (legacy == Legacy::Cp437)
            appendUtf8(out, codepages::kCp437High[byte - 0x80]);
        else if (legacy == Legacy::Cp1252 && byte < 0xA0)
            appendUtf8(out, kCp1252[byte - 0x80]);
        else
            appendUtf8(out, byte);
    }
    return out;
}

std::string EntryName::normalized(std::string_view path)
{
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out.append(part);
        }
        start = end + 1;
    }
    return out;
}
