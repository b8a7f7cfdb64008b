#pragma once

#include "RarTypes.h"

#include <optional>
#include <string>

class PasswordPrompt;

// Adapts the helper's dialogue (first answer, then "incorrect" and retry).
class HelperPasswordPrompt : public rarcontainer::PasswordPrompt {
public:
    explicit HelperPasswordPrompt(::PasswordPrompt &prompt) : m_prompt(prompt) {}
    std::optional<std::string> ask() override;
    void rejected() override;

private:
    ::PasswordPrompt &m_prompt;
    bool m_rejected = false;
};
