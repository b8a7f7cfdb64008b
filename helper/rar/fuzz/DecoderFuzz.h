#pragma once
// What the decoders' libFuzzer targets share. An input is five bytes that
// stand for a file header, then packed data: a byte each target reads its own
// way (decoder or variant, dictionary, whether the size is known, whether a
// second, solid entry follows), the unpacked size, and the size of the pieces
// the data is fed in. With two entries the data is split between them. The
// decoders' test programs write the fixtures' entries in this form
// (--fuzz-seeds DIR).

#include "StreamingDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

class DecoderFuzz {
public:
    // False for an input too short to hold the header.
    bool parse(const uint8_t *data, size_t size)
    {
        if (size < 5) return false;
        choice = data[0];
        unpacked = uint64_t(data[1]) | uint64_t(data[2]) << 8 | uint64_t(data[3]) << 16;
        m_piece = 1 + size_t(data[4]) * 16;
        m_data = data + 5;
        m_size = size - 5;
        return true;
    }

    // Decodes one entry, or two of a solid stream; begin(solid) starts each
    // the way a file header would.
    template <typename Begin>
    void run(rar::StreamingDecoder &decoder, bool sizeKnown, bool twoEntries, Begin begin) const
    {
        const size_t first = twoEntries ? m_size / 2 : m_size;
        if (begin(false)) drain(decoder, m_data, first, sizeKnown);
        if (twoEntries && begin(true)) drain(decoder, m_data + first, m_size - first, sizeKnown);
    }

    uint8_t choice = 0;
    uint64_t unpacked = 0;

private:
    // Output beyond a known size, or short of it at the end, is a fault.
    void drain(rar::StreamingDecoder &decoder, const uint8_t *data, size_t size, bool sizeKnown) const
    {
        using Status = rar::StreamingDecoder::Status;
        static uint8_t out[6007];
        size_t fed = 0;
        uint64_t produced = 0;
        for (;;) {
            produced += decoder.read(out, sizeof out);
            if (sizeKnown && produced > unpacked) __builtin_trap();
            if (!sizeKnown && produced > (uint64_t(8) << 20)) break;  // only the caller can bound the output
            const Status status = decoder.status();
            if (status == Status::Ready) continue;
            if (status != Status::NeedInput) break;
            if (fed == size) {
                decoder.finishInput();
                continue;
            }
            const size_t n = std::min(m_piece, size - fed);
            decoder.feed(data + fed, n);
            fed += n;
        }
        if (decoder.status() == Status::Finished && sizeKnown && produced != unpacked) __builtin_trap();
    }

    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_piece = 1;
};
