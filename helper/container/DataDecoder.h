#pragma once
// The helper's own decoders behind one face for the stream: a RAR 1.5, 2.0,
// 2.9 or RAR 5 decoder, kept for the whole run so that a solid stream carries
// its window and model from one entry to the next.

#include "Rar15Decoder.h"
#include "Rar20Decoder.h"
#include "Rar3Decoder.h"
#include "Rar5Decoder.h"

#include <cstdint>
#include <memory>
#include <string>

namespace rarcontainer {

class DataDecoder {
public:
    enum class Status { Ready, NeedInput, Finished, Failed };

    // Whether the helper decodes a file of this kind itself: compressed data
    // of the RAR 1.5 algorithm (unpack version 15, and 13 of RAR 1.3/1.4),
    // of RAR 2.0 (20 and 26), of RAR 2.9 (29 and 36), or RAR 5 data of a
    // known algorithm version and a known size.
    static bool handlesRar4(int unpackVersion)
    {
        return unpackVersion == 13 || unpackVersion == 15 || unpackVersion == 20 || unpackVersion == 26 ||
               unpackVersion == 29 || unpackVersion == 36;
    }
    static bool handlesRar5(uint64_t compressionInfo, bool sizeUnknown);

    // rar4Flags: the RAR 4 file header's flags (dictionary); solid: whether
    // the file continues the stream of the one before (RAR 1.5 archives say
    // so in their main header, later ones in each file's flags);
    // compressionInfo: the RAR 5 file header's compression field.
    bool beginRar4(int unpackVersion, uint32_t rar4Flags, bool solid, uint64_t unpackedSize);
    bool beginRar5(uint64_t compressionInfo, uint64_t unpackedSize);

    void feed(const uint8_t *data, size_t size);
    void finishInput();
    size_t read(uint8_t *out, size_t capacity);
    Status status() const;
    std::string error() const;

private:
    std::unique_ptr<rar::Rar15Decoder> m_rar15;
    std::unique_ptr<rar::Rar20Decoder> m_rar20;
    std::unique_ptr<rar::Rar3Decoder> m_rar3;
    std::unique_ptr<rar::Rar5Decoder> m_rar5;
    rar::LegacyDecoder *m_legacy = nullptr;  // the RAR 1.5 or 2.0 one, when in use
    bool m_useRar5 = false;
};

}  // namespace rarcontainer
