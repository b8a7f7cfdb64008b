#include "ContainerSource.h"

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
