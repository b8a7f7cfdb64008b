#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Everything the helper prints goes through here: the application reads the
// merged output through a pipe and must see every line and every progress
// mark promptly. Text goes out at once after a quiet moment; in a burst (many
// small files) it is gathered for at most a few milliseconds and written
// together, so that the reader is not woken for every line. Writes are whole
// (one write() call each where the kernel allows), and serialised between
// the main thread, the stop/watchdog thread and the writer thread.
class Console {
public:
    // The longest name printed; longer ones are cut and end with kCutMark,
    // so that one entry cannot make a line of megabytes.
    static constexpr std::size_t kMaxNameBytes = 4096;
    // The longest message line: room for two names and the words around them.
    static constexpr std::size_t kMaxLineBytes = 3 * kMaxNameBytes;
    static constexpr std::string_view kCutMark = "\xE2\x80\xA6";  // "…"

    // Raw output: for text made of safe pieces only (names already passed
    // through displayName, progress marks, batched listing lines).
    static void out(std::string_view text);
    static void err(std::string_view text);

    // Raw output held back to go out with whatever is written next (the
    // start of an entry's line with its result, when the result comes soon):
    // the same text in one write() instead of several. Whatever is written
    // next, to either stream, writes it first.
    static void hold(std::string_view text);
    // Hands everything gathered to the kernel now: before waiting for input
    // and before the process ends.
    static void flush();
    // Writes what is held (for the thread that ends the process; gives up
    // on the lock after a moment, like urgentLine).
    static void flushHeld();

    // A message line, passed whole through the safe printer: whatever it
    // quotes (a name, libarchive's own error text with a name in it) cannot
    // break the line, print a control character or read as a marker line.
    static void line(std::string_view text) { out(safeLine(text) + "\n"); }
    static void errorLine(std::string_view text) { err(safeLine(text) + "\n"); }

    // One of the protocol's marker lines (HelperProtocol), meant as such:
    // always at the start of a line of its own.
    static void marker(std::string_view text);

    // Like errorLine, but gives up on the lock after a moment: used by the
    // thread that ends the process, which must not wait on a stuck pipe.
    // Its text may be several lines, each made safe on its own.
    static void urgentLine(std::string_view text);

    // Ends a line left open (an "Extracting" line with its marks) so that
    // what follows starts on a line of its own.
    static void endOpenLine();

    // An entry name made safe for one line of output: control characters
    // (line feeds, carriage returns, escapes...) and bytes that are not valid
    // UTF-8 become "?", and more than kMaxNameBytes are cut.
    static std::string displayName(std::string_view name) { return safeText(name, kMaxNameBytes); }

    // A whole message line made safe the same way (see line()). A line that
    // would read exactly as the success marker is indented: only marker()
    // prints that.
    static std::string safeLine(std::string_view text);

private:
    static std::string safeText(std::string_view text, std::size_t limit);
};
