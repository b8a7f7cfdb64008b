#pragma once
// The container layer as one of the helper's byte sources: libarchive reads
// the rewritten (decrypted) RAR stream through it, the helper's password
// dialogue answers the layer's questions, and the bytes the layer consumes
// from the volumes move the helper's progress meter.

#include "ByteSource.h"
#include "ConsumptionMeter.h"
#include "HelperPasswordPrompt.h"
#include "RarStream.h"

#include <memory>
#include <string>
#include <vector>

class PasswordPrompt;

class ContainerSource final : public ByteSource {
public:
    ContainerSource(std::vector<std::string> volumes, ::PasswordPrompt &prompt,
                    std::shared_ptr<ConsumptionMeter> meter);

    rarcontainer::Status open() { return m_stream.open(); }
    long read(void *buffer, std::size_t capacity) override;
    // The stream's own buffer goes to libarchive as it is.
    bool lends() const override { return true; }
    long lend(const void **data) override;
    std::int64_t skip(std::int64_t count) override;
    std::string errorMessage() const override { return m_stream.message(); }

    // Entry by entry, without libarchive (see RarStream::nextEntry).
    bool nextEntry();
    long readData(const void **data);
    bool peekBlock();

    const rarcontainer::RarStream &stream() const { return m_stream; }
    rarcontainer::RarStream &stream() { return m_stream; }

private:
    void meterUp();

    HelperPasswordPrompt m_prompt;
    rarcontainer::RarStream m_stream;
    std::shared_ptr<ConsumptionMeter> m_meter;
    const uint8_t *m_pending = nullptr;
    std::size_t m_pendingSize = 0;
    uint64_t m_metered = 0;
};
