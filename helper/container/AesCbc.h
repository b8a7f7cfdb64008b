#pragma once
// AES-CBC decryption without padding, usable piecewise: the chaining value
// carries over from one call to the next.

#include <cstddef>
#include <cstdint>
#include <memory>

struct evp_cipher_ctx_st;

namespace rarcontainer {

class AesCbcDecryptor {
public:
    AesCbcDecryptor();
    ~AesCbcDecryptor();
    AesCbcDecryptor(const AesCbcDecryptor &) = delete;
    AesCbcDecryptor &operator=(const AesCbcDecryptor &) = delete;

    // keyBits is 128 or 256. False on an OpenSSL failure.
    bool start(const uint8_t *key, int keyBits, const uint8_t iv[16]);
    // size must be a multiple of 16; in and out may be the same buffer.
    bool decrypt(const uint8_t *in, uint8_t *out, size_t size);

private:
    evp_cipher_ctx_st *m_ctx;
};

// One-shot helper for headers and check walks.
bool aesCbcDecrypt(const uint8_t *key, int keyBits, const uint8_t iv[16], const uint8_t *in, uint8_t *out, size_t size);

}  // namespace rarcontainer
