#include "SlidingWindow.h"

#include <algorithm>
#include <cstring>

namespace rar {

bool SlidingWindow::resize(uint64_t size)
{
    if (size == m_size) return true;
    if (size == 0 || size > SIZE_MAX) return false;
    std::unique_ptr<uint8_t[], Free> data(static_cast<uint8_t *>(std::calloc(size_t(size), 1)));
    if (!data) return false;
    const uint64_t keep = std::min({m_size, size, m_position});
    for (uint64_t p = m_position - keep; p < m_position;) {
        const uint64_t from = p % m_size, to = p % size;
        const uint64_t n = std::min({m_position - p, m_size - from, size - to});
        std::memcpy(data.get() + to, m_data.get() + from, size_t(n));
        p += n;
    }
    m_data = std::move(data);
    m_size = size;
    m_index = m_position % size;
    return true;
}

void SlidingWindow::copyLongMatch(uint64_t distance, uint64_t length)
{
    uint64_t from = m_index >= distance ? m_index - distance : m_index + m_size - distance;
    m_position += length;
    uint8_t *d = m_data.get();
    if (from + length <= m_size && m_index + length <= m_size) {
        uint8_t *out = d + m_index;
        const uint8_t *in = d + from;
        m_index += length;
        if (m_index == m_size) m_index = 0;
        if (distance >= length && length >= 64) {
            // A source wrapped round to the window's end may still overlap
            // the output from above.
            std::memmove(out, in, size_t(length));
        } else if (distance >= 8) {
            copyEightAtATime(out, in, length);
        } else if (distance == 1) {
            std::memset(out, *in, size_t(length));
        } else {
            for (uint64_t i = 0; i < length; ++i) out[i] = in[i];
        }
        return;
    }
    while (length-- > 0) {
        d[m_index] = d[from];
        if (++m_index == m_size) m_index = 0;
        if (++from == m_size) from = 0;
    }
}

void SlidingWindow::read(uint64_t from, uint8_t *out, size_t n) const
{
    uint64_t index = from % m_size;
    while (n > 0) {
        const size_t chunk = size_t(std::min<uint64_t>(n, m_size - index));
        std::memcpy(out, m_data.get() + index, chunk);
        out += chunk;
        n -= chunk;
        index = 0;
    }
}

}  // namespace rar
