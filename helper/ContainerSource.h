#pragma once
// The RAR layer as the helper uses it: the helper's password dialogue
// answers the layer's questions, and the bytes the layer consumes from the
// volumes move the helper's progress meter.

#include "ConsumptionMeter.h"
#include "HelperPasswordPrompt.h"
#include "RarStream.h"

#include <memory>
#include <string>
#include <vector>

class PasswordPrompt;

class ContainerSource final {
public:
    ContainerSource(std::vector<std::string> volumes, ::PasswordPrompt &prompt,
                    std::shared_ptr<ConsumptionMeter> meter);

    rarcontainer::Status open() { return m_stream.open(); }
    std::string errorMessage() const { return m_stream.message(); }

    // Entry by entry (see RarStream::nextEntry).
    bool nextEntry();
    long readData(const void **data);

    const rarcontainer::RarStream &stream() const { return m_stream; }
    rarcontainer::RarStream &stream() { return m_stream; }

private:
    void meterUp();

    HelperPasswordPrompt m_prompt;
    rarcontainer::RarStream m_stream;
    std::shared_ptr<ConsumptionMeter> m_meter;
    uint64_t m_metered = 0;
};
