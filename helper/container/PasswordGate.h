#pragma once
// One run's password: the one given up front or asked for once, reused for
// every salt, asked again (at most three prompts in all) while it has not yet
// been proved right by a check value or a header checksum.

#include "KeyDerivation.h"
#include "RarTypes.h"

namespace rarcontainer {

class PasswordGate {
public:
    static constexpr int kMaxPrompts = 3;

    PasswordGate(PasswordPrompt *prompt, std::optional<std::string> password)
        : m_prompt(prompt), m_have(password.has_value()), m_keys(password.value_or(std::string()))
    {
    }

    // The key cache of the current password, asking for one when none is known;
    // nullptr when no password can be had.
    KeyCache *keys()
    {
        if (!m_have) askNext();
        return m_have ? &m_keys : nullptr;
    }
    // The current password failed its check. Before it was ever confirmed this
    // announces the rejection and asks again; true when a new password is in place.
    bool retry()
    {
        if (m_confirmed || !m_have) return false;
        if (m_prompt) m_prompt->rejected();
        m_have = false;
        return askNext();
    }
    void confirm() { m_confirmed = true; }
    bool confirmed() const { return m_confirmed; }
    bool exhausted() const { return !m_have; }

private:
    bool askNext()
    {
        if (!m_prompt || m_prompts >= kMaxPrompts) return false;
        ++m_prompts;
        auto answer = m_prompt->ask();
        if (!answer) {
            m_prompt = nullptr;  // end of input: never ask again
            return false;
        }
        m_keys.setPassword(*answer);
        m_have = true;
        return true;
    }

    PasswordPrompt *m_prompt;
    bool m_have;
    bool m_confirmed = false;
    int m_prompts = 0;
    KeyCache m_keys;
};

}  // namespace rarcontainer
