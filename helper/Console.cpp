#include "Console.h"

#include "HelperProtocol.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

// Standard output is written at once when nothing went out for this long,
// and otherwise gathered and written when this much time has passed since
// the last write: extracting thousands of small files a second, a reader
// woken for every line costs both programs more than the writing itself.
constexpr auto kGatherTime = std::chrono::milliseconds(5);
// Gathered text goes out at once past this size.
constexpr std::size_t kGatherBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

// Whether the last text written, to either stream, ended its line.
bool lineOpen = false;
// Standard output text waiting to go out with the next write.
std::string held;
// Standard output text written but not yet handed to the kernel.
std::string gathered;
Clock::time_point lastWrite;
bool writerStarted = false;

// Never destroyed: the writer thread may still wait on them while the
// process ends.
std::timed_mutex& consoleLock()
{
    static auto* lock = new std::timed_mutex;
    return *lock;
}

std::condition_variable_any& gatheredReady()
{
    static auto* ready = new std::condition_variable_any;
    return *ready;
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

// Hands what was gathered to the kernel. Called with the lock held.
void writeGathered()
{
    if (gathered.empty())
        return;
    writeAll(STDOUT_FILENO, gathered);
    gathered.clear();
    lastWrite = Clock::now();
}

// Writes what was gathered once kGatherTime has passed since the last
// write, so that no line waits longer than that whatever the main thread does.
void runWriter()
{
    std::unique_lock guard(consoleLock());
    for (;;) {
        gatheredReady().wait(guard, [] { return !gathered.empty(); });
        const Clock::time_point due = lastWrite + kGatherTime;
        gatheredReady().wait_until(guard, due, [] { return gathered.empty(); });
        if (!gathered.empty() && Clock::now() >= due)
            writeGathered();
    }
}

// Standard output text, written now or gathered. Called with the lock held.
void writeOut(std::string_view text)
{
    if (text.empty())
        return;
    lineOpen = text.back() != '\n';
    // A line left open (a big file's name and its progress marks, a prompt)
    // is what the reader shows while the helper works on: it goes out at
    // once, with whatever was gathered before it.
    if (lineOpen || (gathered.empty() && Clock::now() - lastWrite >= kGatherTime)) {
        gathered.append(text);
        writeGathered();
        return;
    }
    const bool wasEmpty = gathered.empty();
    gathered.append(text);
    if (gathered.size() >= kGatherBytes) {
        writeGathered();
        return;
    }
    if (!writerStarted) {
        writerStarted = true;
        std::thread(runWriter).detach();
    }
    if (wasEmpty)
        gatheredReady().notify_one();
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
        writeOut(text);
    else
        writeOut(withHeld(text, false));
}

void Console::hold(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    held.append(text);
}

void Console::flush()
{
    std::lock_guard guard(consoleLock());
    writeGathered();
}

void Console::flushHeld()
{
    const bool locked = consoleLock().try_lock_for(std::chrono::milliseconds(500));
    writeOut(withHeld({}, false));
    writeGathered();
    if (locked)
        consoleLock().unlock();
}

void Console::err(std::string_view text)
{
    std::lock_guard guard(consoleLock());
    writeOut(withHeld({}, true));
    writeGathered();
    writeAll(STDERR_FILENO, text);
}

void Console::endOpenLine()
{
    std::lock_guard guard(consoleLock());
    writeOut(withHeld({}, true));
}

void Console::urgentLine(std::string_view text)
{
    const bool locked = consoleLock().try_lock_for(std::chrono::milliseconds(500));
    writeOut(withHeld({}, false));
    writeGathered();
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
    writeOut(whole);
    // A marker is what the reader waits for (a prompt, the end of a run).
    writeGathered();
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
