#include "PasswordPrompt.h"

#include "Console.h"

#include <cerrno>
#include <termios.h>
#include <unistd.h>

namespace {

// Turns terminal echo off for its lifetime when standard input is a terminal.
class EchoOff {
public:
    EchoOff()
    {
        if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoOff()
    {
        if (active_)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_ {};
    bool active_ = false;
};

// One line from standard input, read byte by byte so that nothing after the
// line feed is taken from the pipe. nullopt at the end of input with
// nothing read.
std::optional<std::string> readLine()
{
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        line += c;
    }
}

} // namespace

PasswordPrompt::PasswordPrompt(std::string archiveName, std::optional<std::string> preset)
    : archiveName_(std::move(archiveName)), preset_(std::move(preset))
{
}

std::optional<std::string> PasswordPrompt::prompt()
{
    if (inputEnded_ || prompts_ >= kMaxPrompts)
        return std::nullopt;
    ++prompts_;
    Console::endOpenLine();
    Console::out("Enter password (will not be echoed) for " + Console::displayName(archiveName_) + ": ");
    std::optional<std::string> answer;
    {
        EchoOff quiet;
        answer = readLine();
    }
    if (!answer) {
        inputEnded_ = true;
        givenUp_ = true;
    }
    // The answer is not echoed: end the prompt's line ourselves.
    Console::endOpenLine();
    current_ = answer;
    return answer;
}

std::optional<std::string> PasswordPrompt::first()
{
    if (current_)
        return current_;
    if (preset_) {
        current_ = preset_;
        return current_;
    }
    return prompt();
}

std::optional<std::string> PasswordPrompt::retry()
{
    if (givenUp_)
        return std::nullopt;
    refuse();
    return askAgain();
}

void PasswordPrompt::refuse()
{
    Console::endOpenLine();
    Console::line(kIncorrect);
}

std::optional<std::string> PasswordPrompt::askAgain()
{
    if (givenUp_)
        return std::nullopt;
    std::optional<std::string> answer = preset_ ? std::nullopt : prompt();
    givenUp_ = !answer;
    return answer;
}
