#include "KeyDerivation.h"

// The key derivation's rounds use SHA-256's block function directly (see
// below), which OpenSSL 3 still offers but marks as deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>

namespace rarcontainer {

std::optional<std::vector<uint8_t>> utf8ToUtf16le(const std::string &utf8)
{
    std::vector<uint8_t> out;
    const auto *s = reinterpret_cast<const unsigned char *>(utf8.data());
    size_t n = utf8.size(), i = 0;
    while (i < n) {
        uint32_t c = s[i];
        int extra;
        if (c < 0x80) extra = 0;
        else if ((c & 0xE0) == 0xC0) { c &= 0x1F; extra = 1; }
        else if ((c & 0xF0) == 0xE0) { c &= 0x0F; extra = 2; }
        else if ((c & 0xF8) == 0xF0) { c &= 0x07; extra = 3; }
        else return std::nullopt;
        if (i + extra >= n && extra > 0) return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return std::nullopt;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        i += extra + 1;
        auto put = [&out](uint32_t u) { out.push_back(u & 0xFF); out.push_back(u >> 8); };
        if (c >= 0x10000) {
            c -= 0x10000;
            put(0xD800 | (c >> 10));
            put(0xDC00 | (c & 0x3FF));
        } else {
            put(c);
        }
    }
    return out;
}

namespace {
struct MdCtxFree { void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); } };
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
}  // namespace

std::optional<Rar4Key> deriveRar4Key(const std::string &passwordUtf8, const uint8_t salt[8])
{
    auto units = utf8ToUtf16le(passwordUtf8);
    if (!units || units->size() / 2 > kRar4MaxPasswordUnits) return std::nullopt;
    std::vector<uint8_t> seed = *units;
    seed.insert(seed.end(), salt, salt + 8);

    constexpr uint32_t rounds = 1u << 18;
    constexpr uint32_t ivStep = rounds / 16;
    MdCtx ctx(EVP_MD_CTX_new()), tmp(EVP_MD_CTX_new());
    if (!ctx || !tmp || !EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr)) return std::nullopt;

    Rar4Key result;
    unsigned char digest[SHA_DIGEST_LENGTH];
    unsigned int len = 0;
    for (uint32_t i = 0; i < rounds; ++i) {
        const uint8_t counter[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
        EVP_DigestUpdate(ctx.get(), seed.data(), seed.size());
        EVP_DigestUpdate(ctx.get(), counter, 3);
        if (i % ivStep == 0) {
            EVP_MD_CTX_copy_ex(tmp.get(), ctx.get());
            EVP_DigestFinal_ex(tmp.get(), digest, &len);
            result.iv[i / ivStep] = digest[19];
        }
    }
    EVP_DigestFinal_ex(ctx.get(), digest, &len);
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b) result.key[w * 4 + b] = digest[w * 4 + 3 - b];
    return result;
}

std::optional<Rar5Key> deriveRar5Key(const std::string &passwordUtf8, const uint8_t salt[16], int log2Count)
{
    if (log2Count < 0 || log2Count > kRar5MaxLog2Count) return std::nullopt;
    // One PBKDF2 run of 2^n + 32 rounds would only give the last value; the three
    // values are the running HMAC state after 2^n, 2^n+16 and 2^n+32 rounds, so
    // run the PBKDF2 loop ourselves (it is one HMAC chain for a 32-byte output).
    const int rounds = 1 << log2Count;
    unsigned char u[32], t[32];
    unsigned int len = 0;
    std::vector<uint8_t> block1(salt, salt + 16);
    block1.insert(block1.end(), {0, 0, 0, 1});
    const auto *pw = reinterpret_cast<const unsigned char *>(passwordUtf8.data());

    // HMAC-SHA256 with the inner and outer pads hashed once; each round then
    // costs two context copies and two short updates.
    unsigned char keyBlock[64] = {};
    if (passwordUtf8.size() > 64) SHA256(pw, passwordUtf8.size(), keyBlock);
    else if (!passwordUtf8.empty()) std::memcpy(keyBlock, pw, passwordUtf8.size());
    unsigned char ipad[64], opad[64];
    for (int k = 0; k < 64; ++k) { ipad[k] = keyBlock[k] ^ 0x36; opad[k] = keyBlock[k] ^ 0x5C; }
    MdCtx inner(EVP_MD_CTX_new()), outer(EVP_MD_CTX_new()), work(EVP_MD_CTX_new());
    if (!inner || !outer || !work) return std::nullopt;
    EVP_DigestInit_ex(inner.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(inner.get(), ipad, 64);
    EVP_DigestInit_ex(outer.get(), EVP_sha256(), nullptr);
    EVP_DigestUpdate(outer.get(), opad, 64);
    auto hmac = [&](const unsigned char *data, size_t n, unsigned char *out) {
        unsigned char mid[32];
        EVP_MD_CTX_copy_ex(work.get(), inner.get());
        EVP_DigestUpdate(work.get(), data, n);
        EVP_DigestFinal_ex(work.get(), mid, &len);
        EVP_MD_CTX_copy_ex(work.get(), outer.get());
        EVP_DigestUpdate(work.get(), mid, 32);
        EVP_DigestFinal_ex(work.get(), out, &len);
    };

    // Every later round hashes a 32-byte value: with the pads' states kept,
    // that is one block for the inner hash and one for the outer, padded
    // alike. SHA-256's block function does just that, without the digest
    // interface's bookkeeping, which cost more than the hashing itself and
    // the derivation is 2^n rounds (32768 for usual archives) per salt.
    SHA256_CTX innerState, outerState;
    SHA256_Init(&innerState);
    SHA256_Update(&innerState, ipad, 64);
    SHA256_Init(&outerState);
    SHA256_Update(&outerState, opad, 64);
    unsigned char block[64] = {};
    block[32] = 0x80;
    block[62] = 0x03;  // 768 bits: the pad's block and 32 bytes
    const auto round32 = [&](unsigned char *value) {
        SHA256_CTX c = innerState;
        std::memcpy(block, value, 32);
        SHA256_Transform(&c, block);
        for (int w = 0; w < 8; ++w)
            for (int b = 0; b < 4; ++b) block[w * 4 + b] = uint8_t(c.h[w] >> (24 - 8 * b));
        c = outerState;
        SHA256_Transform(&c, block);
        for (int w = 0; w < 8; ++w)
            for (int b = 0; b < 4; ++b) value[w * 4 + b] = uint8_t(c.h[w] >> (24 - 8 * b));
    };

    Rar5Key result;
    hmac(block1.data(), block1.size(), u);
    std::memcpy(t, u, 32);
    const int stops[3] = {rounds, rounds + 16, rounds + 32};
    uint8_t *targets[3] = {result.key.data(), result.hashKey.data(), nullptr};
    unsigned char checkFull[32];
    targets[2] = checkFull;
    int round = 1;
    for (int s = 0; s < 3; ++s) {
        for (; round < stops[s]; ++round) {
            round32(u);
            for (int k = 0; k < 32; ++k) t[k] ^= u[k];
        }
        std::memcpy(targets[s], t, 32);
    }
    for (int k = 0; k < 32; ++k) result.check[k % 8] ^= checkFull[k];
    return result;
}

bool rar5CheckFieldIntact(const uint8_t field[12])
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(field, 8, digest);
    return std::memcmp(digest, field + 8, 4) == 0;
}

void KeyCache::setPassword(const std::string &password)
{
    if (password == m_password) return;
    m_password = password;
    m_rar4.clear();
    m_rar5.clear();
}

const Rar4Key *KeyCache::rar4(const uint8_t salt[8])
{
    std::vector<uint8_t> id(salt, salt + 8);
    auto it = m_rar4.find(id);
    if (it == m_rar4.end()) it = m_rar4.emplace(id, deriveRar4Key(m_password, salt)).first;
    return it->second ? &*it->second : nullptr;
}

const Rar5Key *KeyCache::rar5(const uint8_t salt[16], int log2Count)
{
    std::vector<uint8_t> id(salt, salt + 16);
    id.push_back(uint8_t(log2Count));
    auto it = m_rar5.find(id);
    if (it == m_rar5.end()) it = m_rar5.emplace(id, deriveRar5Key(m_password, salt, log2Count)).first;
    return it->second ? &*it->second : nullptr;
}

}  // namespace rarcontainer
