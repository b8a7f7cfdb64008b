#include "ContainerSource.h"

#include <cstring>
#include <utility>

ContainerSource::ContainerSource(std::vector<std::string> volumes, ::PasswordPrompt &prompt,
                                 std::shared_ptr<ConsumptionMeter> meter)
    : m_prompt(prompt), m_stream(std::move(volumes), &m_prompt), m_meter(std::move(meter))
{
}

void ContainerSource::meterUp()
{
    if (!m_meter) return;
    const uint64_t now = m_stream.consumed();
    if (now > m_metered) {
        m_meter->add(std::int64_t(now - m_metered));
        m_metered = now;
    }
}

long ContainerSource::read(void *buffer, std::size_t capacity)
{
    if (m_pendingSize == 0) {
        const void *data = nullptr;
        long n = m_stream.read(&data);
        meterUp();
        if (n <= 0) return n;
        m_pending = static_cast<const uint8_t *>(data);
        m_pendingSize = std::size_t(n);
    }
    const std::size_t n = std::min(capacity, m_pendingSize);
    std::memcpy(buffer, m_pending, n);
    m_pending += n;
    m_pendingSize -= n;
    return long(n);
}

long ContainerSource::lend(const void **data)
{
    if (m_pendingSize > 0) {
        *data = m_pending;
        return long(std::exchange(m_pendingSize, 0));
    }
    const long n = m_stream.read(data);
    meterUp();
    return n;
}

std::int64_t ContainerSource::skip(std::int64_t count)
{
    if (count <= 0) return 0;
    if (m_pendingSize > 0) {
        const std::size_t n = std::size_t(std::min<std::int64_t>(count, std::int64_t(m_pendingSize)));
        m_pending += n;
        m_pendingSize -= n;
        return std::int64_t(n);
    }
    const std::int64_t moved = m_stream.skip(count);
    meterUp();
    return moved;
}

bool ContainerSource::nextEntry()
{
    const bool found = m_stream.nextEntry();
    meterUp();
    return found;
}

long ContainerSource::readData(const void **data)
{
    const long n = m_stream.readData(data);
    meterUp();
    return n;
}

bool ContainerSource::peekBlock()
{
    const bool fine = m_stream.peekBlock();
    meterUp();
    return fine;
}
