#pragma once

#include <optional>
#include <string>

// The password dialogue: "Enter password (will not be echoed) for NAME: "
// on the output, one line read from standard input (the line feed is not
// part of the password), at most three prompts in a run. A line longer than
// HelperProtocol::kMaxPasswordBytes is refused as it comes. A password given
// with -p is used first and never prompted for.
class PasswordPrompt {
public:
    static constexpr int kMaxPrompts = 3;

    PasswordPrompt(std::string archiveName, std::optional<std::string> preset);

    // The first password to try: the preset one, or the answer to a prompt.
    // nullopt when standard input ended.
    std::optional<std::string> first();

    // The previous password was refused: says so and asks again. nullopt
    // when the prompts are used up, there was a preset password, or the
    // input ended.
    std::optional<std::string> retry();

    // The two halves of retry(), for a caller that learns of the refusal
    // before it knows whether it may ask again: every refused answer is
    // followed by the "incorrect" line, the last one included.
    void refuse();
    std::optional<std::string> askAgain();

    bool asked() const { return prompts_ > 0 || preset_.has_value(); }
    bool inputEnded() const { return inputEnded_; }
    const std::optional<std::string>& current() const { return current_; }

private:
    std::optional<std::string> prompt();

    std::string archiveName_;
    std::optional<std::string> preset_;
    std::optional<std::string> current_;
    int prompts_ = 0;
    bool inputEnded_ = false;
    bool givenUp_ = false;
};
