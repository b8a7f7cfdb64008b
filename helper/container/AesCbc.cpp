#include "AesCbc.h"

#include <openssl/evp.h>

namespace rarcontainer {

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
