#pragma once
// Streaming decoder of RAR 2.0 compressed data (unpack versions 20 and 26).
// The stream is a series of blocks, each led by a table set: LZ blocks with
// Huffman tables for literals, matches and distances, and "multimedia"
// blocks for sampled sound, where a byte is the difference to an adaptive
// linear prediction, kept for up to four interleaved channels.

#include "HuffmanTable.h"
#include "LegacyDecoder.h"

#include <cstdint>

namespace rar {

class Rar20Decoder : public LegacyDecoder {
public:
    // Distances reach 1 MiB at most.
    static constexpr uint64_t kWindowSize = uint64_t(1) << 20;

    Rar20Decoder() : LegacyDecoder(kWindowSize) {}

private:
    static constexpr unsigned kMainSymbols = 298;
    static constexpr unsigned kDistanceSymbols = 48;
    static constexpr unsigned kLengthSymbols = 28;
    static constexpr unsigned kAudioSymbols = 257;
    static constexpr unsigned kMaxChannels = 4;

    // One channel's predictor: five weights over its last deltas and the
    // delta of the channel before it, re-tuned every 32 bytes towards the
    // weight change that would have erred least.
    struct Channel {
        int weight[5] = {};
        int delta[4] = {};
        int lastDelta = 0;
        unsigned error[11] = {};
        unsigned count = 0;
        uint8_t lastByte = 0;
    };

    void resetModel() override;
    void beginFile(bool solid) override;
    bool decodeStep() override;
    bool afterFile(uint64_t remaining) override;

    bool readTables();
    bool decodeLz();
    bool decodeAudio();
    uint8_t predict(Channel &c, int symbol);
    bool match(uint64_t distance, uint64_t length);

    // The code lengths of the last tables; new ones may be sent as changes to them.
    uint8_t m_lengths[kAudioSymbols * kMaxChannels] = {};
    HuffmanTable m_main, m_distance, m_length;
    HuffmanTable m_audio[kMaxChannels];
    bool m_needTables = true;
    bool m_audioBlock = false;

    uint64_t m_recent[4] = {};  // ring of the last distances
    unsigned m_recentNext = 0;
    uint64_t m_lastDistance = 0;
    uint64_t m_lastLength = 0;

    Channel m_channels[kMaxChannels];
    unsigned m_channelCount = 1;
    unsigned m_channel = 0;
    int m_channelDelta = 0;
};

}  // namespace rar
