#include "AesCbc.h"
#include "Bytes.h"

#include <openssl/evp.h>

#include <array>

namespace rarcontainer {

namespace {
// CRC-32 (reflected 0xEDB88320), eight bytes per step.
struct CrcTables {
    std::array<std::array<uint32_t, 256>, 8> t{};
    CrcTables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};
const CrcTables kCrc;
}  // namespace

uint32_t crc32Update(uint32_t crc, const uint8_t *data, size_t size)
{
    const auto &t = kCrc.t;
    uint32_t c = ~crc;
    while (size >= 8) {
        uint32_t lo = c ^ (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24]
            ^ t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
        data += 8;
        size -= 8;
    }
    while (size--) c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    return ~c;
}

AesCbcDecryptor::AesCbcDecryptor() : m_ctx(EVP_CIPHER_CTX_new()) {}
AesCbcDecryptor::~AesCbcDecryptor() { EVP_CIPHER_CTX_free(m_ctx); }

bool AesCbcDecryptor::start(const uint8_t *key, int keyBits, const uint8_t iv[16])
{
    if (!m_ctx) return false;
    const EVP_CIPHER *cipher = keyBits == 256 ? EVP_aes_256_cbc() : EVP_aes_128_cbc();
    if (!EVP_DecryptInit_ex(m_ctx, cipher, nullptr, key, iv)) return false;
    EVP_CIPHER_CTX_set_padding(m_ctx, 0);
    return true;
}

bool AesCbcDecryptor::decrypt(const uint8_t *in, uint8_t *out, size_t size)
{
    if (size % 16) return false;
    while (size > 0) {
        int chunk = size > (1u << 30) ? (1 << 30) : int(size);
        int outLen = 0;
        if (!EVP_DecryptUpdate(m_ctx, out, &outLen, in, chunk) || outLen != chunk) return false;
        in += chunk;
        out += chunk;
        size -= size_t(chunk);
    }
    return true;
}

bool aesCbcDecrypt(const uint8_t *key, int keyBits, const uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t size)
{
    AesCbcDecryptor d;
    return d.start(key, keyBits, iv) && d.decrypt(in, out, size);
}

}  // namespace rarcontainer
