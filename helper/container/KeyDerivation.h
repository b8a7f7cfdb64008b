#pragma once
// Password-to-key schemes of the two RAR container generations, with a small
// per-salt cache: deriving one key costs milliseconds, and every encrypted
// header or file of an archive may name its own salt.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rarcontainer {

struct Rar4Key {
    std::array<uint8_t, 16> key{};
    std::array<uint8_t, 16> iv{};
};

struct Rar5Key {
    std::array<uint8_t, 32> key{};
    std::array<uint8_t, 32> hashKey{};
    std::array<uint8_t, 8> check{};
};

// Longest password (in UTF-16 code units) the RAR 4 scheme handles without
// the input rewriting quirk of its original SHA-1 code; longer ones are refused.
constexpr size_t kRar4MaxPasswordUnits = 28;
// Largest iteration exponent we accept for RAR 5 (2^24 rounds is already ~10 s).
constexpr int kRar5MaxLog2Count = 24;

// UTF-8 to UTF-16LE bytes; nullopt when the text is not valid UTF-8.
std::optional<std::vector<uint8_t>> utf8ToUtf16le(const std::string &utf8);

// nullopt when the password is too long for the scheme (see above) or not UTF-8.
std::optional<Rar4Key> deriveRar4Key(const std::string &passwordUtf8, const uint8_t salt[8]);
// nullopt when log2Count is out of range.
std::optional<Rar5Key> deriveRar5Key(const std::string &passwordUtf8, const uint8_t salt[16], int log2Count);

// The stored 12-byte check field: 8 check bytes and the first 4 bytes of their
// SHA-256. False when the trailer does not match (damaged field, no verdict).
bool rar5CheckFieldIntact(const uint8_t field[12]);

// Keys of one password, remembered per salt.
class KeyCache {
public:
    explicit KeyCache(std::string password = {}) : m_password(std::move(password)) {}
    const std::string &password() const { return m_password; }
    void setPassword(const std::string &password);

    const Rar4Key *rar4(const uint8_t salt[8]);
    const Rar5Key *rar5(const uint8_t salt[16], int log2Count);

private:
    std::string m_password;
    std::map<std::vector<uint8_t>, std::optional<Rar4Key>> m_rar4;
    std::map<std::vector<uint8_t>, std::optional<Rar5Key>> m_rar5;
};

}  // namespace rarcontainer
