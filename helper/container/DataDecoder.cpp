#include "DataDecoder.h"

namespace rarcontainer {

namespace {
template <typename S>
DataDecoder::Status translate(S status)
{
    switch (status) {
    case S::Ready: return DataDecoder::Status::Ready;
    case S::NeedInput: return DataDecoder::Status::NeedInput;
    case S::Finished: return DataDecoder::Status::Finished;
    case S::Failed: break;
    }
    return DataDecoder::Status::Failed;
}
}  // namespace

bool DataDecoder::handlesRar5(uint64_t compressionInfo, bool sizeUnknown)
{
    rar::Rar5Parameters params;
    return !sizeUnknown && rar::Rar5Parameters::fromCompressionInfo(compressionInfo, params) && params.method != 0;
}

bool DataDecoder::beginRar4(int unpackVersion, uint32_t rar4Flags, bool solid, uint64_t unpackedSize)
{
    m_useRar5 = false;
    m_legacy = nullptr;
    if (unpackVersion < 20) {
        if (!m_rar15) m_rar15 = std::make_unique<rar::Rar15Decoder>();
        m_legacy = m_rar15.get();
    } else if (unpackVersion < 29) {
        if (!m_rar20) m_rar20 = std::make_unique<rar::Rar20Decoder>();
        m_legacy = m_rar20.get();
    }
    if (m_legacy) return m_legacy->beginEntry(solid, unpackedSize);
    if (!m_rar3) m_rar3 = std::make_unique<rar::Rar3Decoder>();
    return m_rar3->beginEntry(rar::Rar3Decoder::dictionaryFromFlags(rar4Flags), solid, unpackedSize, true);
}

bool DataDecoder::beginRar5(uint64_t compressionInfo, uint64_t unpackedSize)
{
    m_useRar5 = true;
    m_legacy = nullptr;
    rar::Rar5Parameters params;
    rar::Rar5Parameters::fromCompressionInfo(compressionInfo, params);
    if (!m_rar5) m_rar5 = std::make_unique<rar::Rar5Decoder>();
    return m_rar5->beginEntry(params, unpackedSize, true);
}

void DataDecoder::feed(const uint8_t *data, size_t size)
{
    if (m_legacy) m_legacy->feed(data, size);
    else if (m_useRar5) m_rar5->feed(data, size);
    else m_rar3->feed(data, size);
}

void DataDecoder::finishInput()
{
    if (m_legacy) m_legacy->finishInput();
    else if (m_useRar5) m_rar5->finishInput();
    else m_rar3->finishInput();
}

size_t DataDecoder::read(uint8_t *out, size_t capacity)
{
    if (m_legacy) return m_legacy->read(out, capacity);
    return m_useRar5 ? m_rar5->read(out, capacity) : m_rar3->read(out, capacity);
}

DataDecoder::Status DataDecoder::status() const
{
    if (m_legacy) return translate(m_legacy->status());
    if (m_useRar5) return m_rar5 ? translate(m_rar5->status()) : Status::Failed;
    return m_rar3 ? translate(m_rar3->status()) : Status::Failed;
}

std::string DataDecoder::error() const
{
    if (m_legacy) return m_legacy->error();
    if (m_useRar5) return m_rar5 ? m_rar5->error() : std::string("no entry started");
    return m_rar3 ? m_rar3->error() : std::string("no entry started");
}

}  // namespace rarcontainer
