#include "PasswordPrompt.h"

#include "Console.h"
#include "HelperProtocol.h"

#include <cerrno>
#include <cstring>
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

struct Answer {
    std::string text;
    bool ended = false;    // the input ended before anything was read
    bool tooLong = false;  // longer than any password; the text is dropped
};

// One line from standard input (the line feed not included). Only the
// prompt reads standard input, so what a block brings after the line feed
// waits here for the next prompt. A line longer than a password can be is
// read to its end but not kept: an endless line costs time, never memory.
Answer readLine()
{
    static char buffer[4096];
    static std::size_t start = 0;
    static std::size_t end = 0;
    Answer answer;
    bool any = false;
    for (;;) {
        if (start == end) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                answer.ended = !any;
                return answer;
            }
            start = 0;
            end = static_cast<std::size_t>(got);
        }
        any = true;
        const char* begin = buffer + start;
        const auto* feed = static_cast<const char*>(std::memchr(begin, '\n', end - start));
        const std::size_t take = feed ? static_cast<std::size_t>(feed - begin) : end - start;
        if (!answer.tooLong && answer.text.size() + take > HelperProtocol::kMaxPasswordBytes) {
            answer.tooLong = true;
            std::string().swap(answer.text);
        }
        if (!answer.tooLong)
            answer.text.append(begin, take);
        start += take;
        if (feed) {
            ++start;
            return answer;
        }
    }
}

} // namespace

PasswordPrompt::PasswordPrompt(std::string archiveName, std::optional<std::string> preset)
    : archiveName_(std::move(archiveName)), preset_(std::move(preset))
{
}

std::optional<std::string> PasswordPrompt::prompt()
{
    while (!inputEnded_ && prompts_ < kMaxPrompts) {
        ++prompts_;
        Console::endOpenLine();
        Console::out(std::string(HelperProtocol::kPasswordPromptStart) + Console::displayName(archiveName_)
                     + std::string(HelperProtocol::kPasswordPromptEnd));
        Console::flush();
        Answer answer;
        {
            EchoOff quiet;
            answer = readLine();
        }
        // The answer is not echoed: end the prompt's line ourselves.
        Console::endOpenLine();
        if (answer.ended) {
            inputEnded_ = true;
            givenUp_ = true;
            current_.reset();
            return std::nullopt;
        }
        if (!answer.tooLong) {
            current_ = std::move(answer.text);
            return current_;
        }
        // No password is that long: refused without trying it.
        Console::line(HelperProtocol::kPasswordRefused);
    }
    return std::nullopt;
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
    Console::line(HelperProtocol::kPasswordRefused);
}

std::optional<std::string> PasswordPrompt::askAgain()
{
    if (givenUp_)
        return std::nullopt;
    std::optional<std::string> answer = preset_ ? std::nullopt : prompt();
    givenUp_ = !answer;
    return answer;
}
