#pragma once

#include "PasswordPrompt.h"

#include <string>

// What the helper says about RAR encryption, which libarchive 3.6 cannot
// decrypt: the password is asked for as usual (so the dialogue of the
// caller runs as it will with decryption), then the archive or entry is
// refused with a message of its own and a status of its own.
namespace EncryptionNotice {

// Names are hidden: asks for the password, then fails. Returns the status.
int refuseHiddenNames(PasswordPrompt& prompt, const std::string& archiveName);

// The line for an entry (or archive) that cannot be decrypted.
std::string cannotDecrypt(const std::string& name);

} // namespace EncryptionNotice
