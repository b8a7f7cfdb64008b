#include "HelperPasswordPrompt.h"

#include "PasswordPrompt.h"
#include "StopGuard.h"

std::optional<std::string> HelperPasswordPrompt::ask()
{
    // Waiting for the user is not a stall of the archive reader.
    StopGuard::instance().leaveLibrary();
    std::optional<std::string> answer = m_rejected ? m_prompt.askAgain() : m_prompt.first();
    StopGuard::instance().enterLibrary();
    m_rejected = false;
    return answer;
}

void HelperPasswordPrompt::rejected()
{
    // Said at once, the last refusal included: the layer asks again only
    // while prompts are left.
    m_prompt.refuse();
    m_rejected = true;
}
