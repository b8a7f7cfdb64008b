#include "Rar5TestWriter.h"

#include "Bytes.h"
#include "KeyDerivation.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <QFile>

using namespace rarcontainer;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes aesEncrypt(const uint8_t *key, const uint8_t *iv, Bytes data)
{
    data.resize((data.size() + 15) & ~size_t(15), 0);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(c, EVP_aes_256_cbc(), nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(c, 0);
    int n = 0;
    EVP_EncryptUpdate(c, data.data(), &n, data.data(), int(data.size()));
    EVP_CIPHER_CTX_free(c);
    return data;
}

Bytes headerBlock(const Bytes &body)
{
    Bytes out(4);
    putVint(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    uint32_t crc = crc32Of(out.data() + 4, out.size() - 4);
    for (int i = 0; i < 4; ++i) out[i] = uint8_t(crc >> (8 * i));
    return out;
}

Bytes checkField(const Rar5Key &key)
{
    Bytes out(key.check.begin(), key.check.end());
    unsigned char digest[32];
    SHA256(key.check.data(), 8, digest);
    out.insert(out.end(), digest, digest + 4);
    return out;
}

}  // namespace

std::vector<std::string> writeEncryptedRar5(const QString &dir, const QString &base,
                                            const std::vector<TestFile> &files, const Rar5WriterOptions &o)
{
    uint8_t salt[16];
    RAND_bytes(salt, 16);
    const Rar5Key key = *deriveRar5Key(o.password, salt, o.log2Count);

    // Each file's parts: ciphertext cut at the volume data limit.
    struct Part { size_t file; Bytes cipher; bool first, last; };
    std::vector<std::vector<Part>> volumes(1);
    size_t room = o.dataPerVolume;
    std::vector<std::array<uint8_t, 16>> ivs;
    for (size_t i = 0; i < files.size(); ++i) {
        std::array<uint8_t, 16> iv{};
        RAND_bytes(iv.data(), 16);
        ivs.push_back(iv);
        Bytes plain(files[i].data.begin(), files[i].data.end());
        Bytes cipher = aesEncrypt(key.key.data(), iv.data(), plain);
        size_t at = 0;
        do {
            if (o.dataPerVolume && room == 0) {
                volumes.emplace_back();
                room = o.dataPerVolume;
            }
            size_t take = o.dataPerVolume ? std::min(room, cipher.size() - at) : cipher.size() - at;
            volumes.back().push_back({i, Bytes(cipher.begin() + long(at), cipher.begin() + long(at + take)), at == 0, at + take == cipher.size()});
            at += take;
            if (o.dataPerVolume) room -= take;
        } while (at < cipher.size());
    }

    auto emitHeader = [&](Bytes &out, const Bytes &header) {
        if (!o.encryptHeaders) {
            out.insert(out.end(), header.begin(), header.end());
            return;
        }
        uint8_t iv[16];
        RAND_bytes(iv, 16);
        out.insert(out.end(), iv, iv + 16);
        Bytes sealed = aesEncrypt(key.key.data(), iv, header);
        out.insert(out.end(), sealed.begin(), sealed.end());
    };

    std::vector<std::string> paths;
    const bool multi = volumes.size() > 1;
    for (size_t v = 0; v < volumes.size(); ++v) {
        Bytes out = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
        if (o.encryptHeaders) {
            Bytes body;
            putVint(body, 4);
            putVint(body, 0);
            putVint(body, 0);      // AES-256
            putVint(body, 1);      // check present
            body.push_back(uint8_t(o.log2Count));
            body.insert(body.end(), salt, salt + 16);
            Bytes check = checkField(key);
            body.insert(body.end(), check.begin(), check.end());
            Bytes h = headerBlock(body);
            out.insert(out.end(), h.begin(), h.end());
        }
        Bytes main;
        putVint(main, 1);
        putVint(main, 0);
        putVint(main, multi ? (v > 0 ? 0x03 : 0x01) : 0);
        if (multi && v > 0) putVint(main, v);
        emitHeader(out, headerBlock(main));

        for (const Part &p : volumes[v]) {
            const TestFile &f = files[p.file];
            Bytes record;
            putVint(record, 1);     // encryption record
            putVint(record, 0);     // AES-256
            putVint(record, 1);     // check present
            record.push_back(uint8_t(o.log2Count));
            record.insert(record.end(), salt, salt + 16);
            record.insert(record.end(), ivs[p.file].begin(), ivs[p.file].end());
            Bytes check = checkField(key);
            record.insert(record.end(), check.begin(), check.end());
            Bytes extra;
            putVint(extra, record.size());
            extra.insert(extra.end(), record.begin(), record.end());

            uint64_t flags = 0x01 | 0x02 | (p.first ? 0 : 0x08) | (p.last ? 0 : 0x10);
            Bytes body;
            putVint(body, 2);
            putVint(body, flags);
            putVint(body, extra.size());
            putVint(body, p.cipher.size());
            putVint(body, p.last ? 0x04 : 0);  // CRC32 of the whole file, in its last part
            putVint(body, uint64_t(f.data.size()));
            putVint(body, 0100644);           // regular file, mode 0644
            if (p.last) putLe(body, crc32Of(reinterpret_cast<const uint8_t *>(f.data.constData()), size_t(f.data.size())), 4);
            putVint(body, 0);                 // stored
            putVint(body, 1);                 // Unix
            putVint(body, uint64_t(f.name.size()));
            body.insert(body.end(), f.name.begin(), f.name.end());
            body.insert(body.end(), extra.begin(), extra.end());
            emitHeader(out, headerBlock(body));
            out.insert(out.end(), p.cipher.begin(), p.cipher.end());
        }
        Bytes end;
        putVint(end, 5);
        putVint(end, 0);
        putVint(end, v + 1 < volumes.size() ? 1 : 0);
        emitHeader(out, headerBlock(end));

        QString name = multi ? QString("%1/%2.part%3.rar").arg(dir, base).arg(v + 1) : QString("%1/%2.rar").arg(dir, base);
        QFile file(name);
        file.open(QIODevice::WriteOnly);
        file.write(reinterpret_cast<const char *>(out.data()), qint64(out.size()));
        paths.push_back(name.toStdString());
    }
    return paths;
}
