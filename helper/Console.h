#pragma once

#include <string>
#include <string_view>

// Everything the helper prints goes through here, unbuffered: the
// application reads the merged output through a pipe and must see every line
// and every progress mark as soon as it is written. Writes are whole (one
// write() call each where the kernel allows), and serialised between the
// main thread and the stop/watchdog thread.
class Console {
public:
    static void out(std::string_view text);
    static void err(std::string_view text);
    static void line(std::string_view text) { out(std::string(text) + "\n"); }
    static void errorLine(std::string_view text) { err(std::string(text) + "\n"); }

    // Like errorLine, but gives up on the lock after a moment: used by the
    // thread that ends the process, which must not wait on a stuck pipe.
    static void urgentLine(std::string_view text);

    // Ends a line left open (an "Extracting" line with its marks) so that
    // what follows starts on a line of its own.
    static void endOpenLine();

    // An entry name made safe for one line of output: control characters
    // (line feeds, carriage returns, escapes...) and bytes that are not valid
    // UTF-8 become "?".
    static std::string displayName(std::string_view name);
};
