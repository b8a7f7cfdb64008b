#pragma once
// Checks extracted contents against the checksum stored for the entry:
// CRC32, or BLAKE2sp where that is all there is, with RAR 5's keyed
// ("converted") forms for encrypted entries, and the 16-bit sum of RAR 1.3/1.4.

#include "RarTypes.h"

#include <array>
#include <cstdint>
#include <memory>

namespace rarcontainer {

class EntryVerifier {
public:
    enum class Verdict { Match, Mismatch, Unchecked };

    // BLAKE2sp is only computed for entries that carry no CRC32.
    explicit EntryVerifier(const Entry &entry);
    ~EntryVerifier();
    EntryVerifier(const EntryVerifier &) = delete;
    EntryVerifier &operator=(const EntryVerifier &) = delete;

    void update(const void *data, size_t size);
    // Compares with the entry as it stands once its last part has been read.
    Verdict finish(const Entry &entry);

    static uint32_t convertCrc(uint32_t crc, const std::array<uint8_t, 32> &hashKey);
    static std::array<uint8_t, 32> convertDigest(const std::array<uint8_t, 32> &digest,
                                                 const std::array<uint8_t, 32> &hashKey);
    // False when built without BLAKE2 support.
    static bool blake2Available();

private:
    struct Blake2;
    uint32_t m_crc = 0;
    bool m_sum16 = false;  // m_crc holds the 16-bit sum
    std::unique_ptr<Blake2> m_blake2;  // null when not needed
};

}  // namespace rarcontainer
