#include "Console.h"

#include "HelperProtocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <unistd.h>

namespace {

// Whether the last text written, to either stream, ended its line.
bool lineOpen = false;
// Standard output text waiting to go out with the next write.
std::string held;

std::timed_mutex& consoleLock()
{
    static std::timed_mutex lock;
    return lock;
}

void writeAll(int fd, std::string_view text)
{
    if (!text.empty())
        lineOpen = text.back() != '\n';
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;  // a closed pipe: nobody is listening any more
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80)
        return 1;
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
        return 0;
    }
    if (text.size() < length)
        return 0;
    std::uint32_t code = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

// Standard output's text before `text`: what is held, and a line end when a
// line is left open and `endLine` asks for one.
std::string withHeld(std::string_view text, bool endLine)
{
    const bool open = held.empty() ? lineOpen : held.back() != '\n';
    std::string whole = std::move(held);
    held.clear();
    if (endLine && open)
        whole += '\n';
    whole.append(text);
    return whole;
}

} // namespace

void Console::out(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    if (held.empty())
        writeAll(STDOUT_FILENO, text);
    else
        writeAll(STDOUT_FILENO, withHeld(text, false));
}

void Console::hold(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    held.append(text);
}

void Console::flushHeld()
{
    const bool locked = consoleLock().try_lock_for(std::chrono::milliseconds(500));
    writeAll(STDOUT_FILENO, withHeld({}, false));
    if (locked)
        consoleLock().unlock();
}

void Console::err(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    writeAll(STDOUT_FILENO, withHeld({}, true));
    writeAll(STDERR_FILENO, text);
}

void Console::endOpenLine()
{
    std::lock_guard guard(consoleLock());
    writeAll(STDOUT_FILENO, withHeld({}, true));
}

void Console::urgentLine(std::string_view text)
{
    const bool locked = consoleLock().try_lock_for(std::chrono::milliseconds(500));
    writeAll(STDOUT_FILENO, withHeld({}, false));
    // The text may hold several lines of the helper's own.
    std::string lines = lineOpen ? "\n" : "";
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        lines += safeLine(text.substr(0, end)) + "\n";
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    writeAll(STDERR_FILENO, lines);
    if (locked)
        consoleLock().unlock();
}

void Console::marker(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    std::string whole = withHeld(text, true);
    whole += '\n';
    writeAll(STDOUT_FILENO, whole);
}

std::string Console::safeLine(std::string_view text)
{
    std::string line = safeText(text, kMaxLineBytes);
    if (line == HelperProtocol::kAllOk)
        line.insert(0, "  ");
    return line;
}

std::string Console::safeText(std::string_view name, std::size_t limit)
{
    // Most names are printable ASCII and shown as they are; a listing of a
    // million names spends its time here otherwise.
    if (std::all_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
        })
        && name.size() <= limit)
        return std::string(name);
    std::string shown;
    shown.reserve(name.size());
    while (!name.empty()) {
        const std::size_t length = utf8Length(name);
        if (length == 0) {
            shown += '?';
            name.remove_prefix(1);
            continue;
        }
        const auto lead = static_cast<unsigned char>(name[0]);
        const bool control = (length == 1 && (lead < 0x20 || lead == 0x7F))
            // C1 controls, U+0080 to U+009F
            || (length == 2 && lead == 0xC2 && static_cast<unsigned char>(name[1]) < 0xA0)
            // line and paragraph separators, U+2028 and U+2029
            || (length == 3 && lead == 0xE2 && static_cast<unsigned char>(name[1]) == 0x80
                && (static_cast<unsigned char>(name[2]) == 0xA8 || static_cast<unsigned char>(name[2]) == 0xA9));
        if (control)
            shown += '?';
        else
            shown.append(name.substr(0, length));
        name.remove_prefix(length);
        if (shown.size() > limit)
            break;
    }
    if (shown.size() > limit) {
        // Cut at a character's start, with room for the mark.
        std::size_t cut = limit - kCutMark.size();
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
            --cut;
        shown.resize(cut);
        shown.append(kCutMark);
    }
    return shown;
}
