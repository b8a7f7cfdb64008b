#include "EntryVerifier.h"

#include "Bytes.h"
#include "Rar14Layout.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

#ifdef VORLO_HAVE_BLAKE2
#include <blake2.h>
#endif

namespace rarcontainer {

struct EntryVerifier::Blake2 {
#ifdef VORLO_HAVE_BLAKE2
    blake2sp_state state;
#endif
};

EntryVerifier::EntryVerifier(const Entry &entry) : m_sum16(entry.checksum16)
{
#ifdef VORLO_HAVE_BLAKE2
    if (!entry.hasCrc && entry.hasBlake2) {
        m_blake2 = std::make_unique<Blake2>();
        blake2sp_init(&m_blake2->state, 32);
    }
#else
    (void)entry;
#endif
}

EntryVerifier::~EntryVerifier() = default;

bool EntryVerifier::blake2Available()
{
#ifdef VORLO_HAVE_BLAKE2
    return true;
#else
    return false;
#endif
}

void EntryVerifier::update(const void *data, size_t size)
{
    if (m_sum16) {
        m_crc = Rar14Layout::checksum(uint16_t(m_crc), static_cast<const uint8_t *>(data), size);
        return;
    }
    m_crc = crc32Update(m_crc, static_cast<const uint8_t *>(data), size);
#ifdef VORLO_HAVE_BLAKE2
    if (m_blake2) blake2sp_update(&m_blake2->state, static_cast<const uint8_t *>(data), size);
#endif
}

uint32_t EntryVerifier::convertCrc(uint32_t crc, const std::array<uint8_t, 32> &hashKey)
{
    uint8_t raw[4] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)};
    unsigned char mac[32];
    unsigned int len = 0;
    HMAC(EVP_sha256(), hashKey.data(), 32, raw, 4, mac, &len);
    uint32_t out = 0;
    for (int i = 0; i < 32; ++i) out ^= uint32_t(mac[i]) << (8 * (i % 4));
    return out;
}

std::array<uint8_t, 32> EntryVerifier::convertDigest(const std::array<uint8_t, 32> &digest,
                                                     const std::array<uint8_t, 32> &hashKey)
{
    std::array<uint8_t, 32> out{};
    unsigned int len = 0;
    HMAC(EVP_sha256(), hashKey.data(), 32, digest.data(), 32, out.data(), &len);
    return out;
}

EntryVerifier::Verdict EntryVerifier::finish(const Entry &entry)
{
    if (entry.isDirectory) return Verdict::Unchecked;
    if (entry.checksumsConverted && !entry.hashKeyKnown) return Verdict::Unchecked;
    if (entry.hasCrc && m_sum16) return m_crc == entry.crc ? Verdict::Match : Verdict::Mismatch;
    if (entry.hasCrc) {
        uint32_t crc = entry.checksumsConverted ? convertCrc(m_crc, entry.hashKey) : m_crc;
        return crc == entry.crc ? Verdict::Match : Verdict::Mismatch;
    }
#ifdef VORLO_HAVE_BLAKE2
    if (entry.hasBlake2 && m_blake2) {
        std::array<uint8_t, 32> digest{};
        blake2sp_final(&m_blake2->state, digest.data(), 32);
        if (entry.checksumsConverted) digest = convertDigest(digest, entry.hashKey);
        return digest == entry.blake2 ? Verdict::Match : Verdict::Mismatch;
    }
#endif
    return Verdict::Unchecked;
}

}  // namespace rarcontainer
