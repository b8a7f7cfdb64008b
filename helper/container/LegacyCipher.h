#pragma once
// The ciphers of the RAR 1.3, 1.5 and 2.0 archivers, for file data of unpack
// versions below 29. None of them has a salt or a password check value: a
// wrong password shows only as a checksum mismatch after extraction.
//
// RAR 1.3 and 1.5 are byte-wise stream ciphers; RAR 2.0 is a 16-byte block
// cipher whose key changes with every block (the data is padded to whole
// blocks). The password is used as the bytes it is given in (a DOS-era
// archive made with a non-ASCII password expects the bytes of its code page).

#include <cstddef>
#include <cstdint>
#include <string>

namespace rarcontainer {

class LegacyCipher {
public:
    enum class Kind { Rar13, Rar15, Rar20 };

    // The cipher a file header's unpack version implies.
    static Kind forUnpackVersion(int unpackVersion)
    {
        return unpackVersion < 15 ? Kind::Rar13 : unpackVersion < 20 ? Kind::Rar15 : Kind::Rar20;
    }

    void start(Kind kind, const std::string &password);
    // Bytes decrypted at once must be a multiple of blockSize(); the state
    // carries over from one call to the next. in and out may be the same.
    void decrypt(const uint8_t *in, uint8_t *out, size_t size);
    size_t blockSize() const { return m_kind == Kind::Rar20 ? 16 : 1; }
    // The other way, as the archiver did (for writing test archives).
    void encrypt(uint8_t *data, size_t size);

private:
    void decryptBlock20(const uint8_t in[16], uint8_t out[16]);
    void encryptBlock20(uint8_t block[16]);
    void updateKey20(const uint8_t block[16]);
    void rounds20(const uint8_t in[16], uint8_t out[16], bool backwards) const;
    uint32_t substitute(uint32_t t) const;

    Kind m_kind = Kind::Rar20;
    uint8_t m_key13[3] = {};
    uint16_t m_key15[4] = {};
    uint32_t m_key20[4] = {};
    uint8_t m_table20[256] = {};
};

}  // namespace rarcontainer
