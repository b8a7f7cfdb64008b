#pragma once
// The helper's own decoders behind one face for the stream: a RAR 2.9 or a
// RAR 5 decoder, kept for the whole run so that a solid stream carries its
// window and model from one entry to the next.

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
    // of the RAR 2.9 algorithm (unpack versions 29 and 36), or RAR 5 data of
    // a known algorithm version and a known size.
    static bool handlesRar4(int unpackVersion) { return unpackVersion == 29 || unpackVersion == 36; }
    static bool handlesRar5(uint64_t compressionInfo, bool sizeUnknown);

    // rar4Flags: the RAR 4 file header's flags (solid bit, dictionary);
    // compressionInfo: the RAR 5 file header's compression field.
    bool beginRar4(uint32_t rar4Flags, uint64_t unpackedSize);
    bool beginRar5(uint64_t compressionInfo, uint64_t unpackedSize);

    void feed(const uint8_t *data, size_t size);
    void finishInput();
    size_t read(uint8_t *out, size_t capacity);
    Status status() const;
    std::string error() const;

private:
    std::unique_ptr<rar::Rar3Decoder> m_rar3;
    std::unique_ptr<rar::Rar5Decoder> m_rar5;
    bool m_useRar5 = false;
};

}  // namespace rarcontainer
