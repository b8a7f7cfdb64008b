#pragma once
// Writes small RAR 5 compressed streams for cases no real archive at hand
// shows (a filter over the window's end, a huge dictionary over tiny data):
// one block whose tables give every byte value and the filter symbol a 9-bit
// code, so the data goes out as literals with filter records between them.

#include <cstdint>
#include <vector>

class SyntheticRar5Stream {
public:
    // extendedDistances: the tables of the later format variant (80 distance codes).
    explicit SyntheticRar5Stream(bool extendedDistances = false) : m_extended(extendedDistances) {}
    void literals(const std::vector<uint8_t> &bytes);
    // A filter over [here + offset, here + offset + length); type as in the
    // format (0 delta, 1 E8, 2 E8E9, 3 ARM).
    void filter(uint32_t offset, uint32_t length, unsigned type, unsigned channels = 1);
    std::vector<uint8_t> finish();

private:
    void put(uint32_t value, unsigned count);
    void number(uint32_t value);
    void tables();

    bool m_extended;
    std::vector<uint8_t> m_bytes;
    uint64_t m_bits = 0;
};
