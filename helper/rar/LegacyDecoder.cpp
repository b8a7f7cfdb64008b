#include "LegacyDecoder.h"

#include <algorithm>

namespace rar {

namespace {
// A step (a symbol with its extra bits, or a whole set of tables of at most
// about two kilobytes) is decoded only with this much input ahead, or once
// the input is complete.
constexpr size_t kInputMargin = 8192;
}  // namespace

bool LegacyDecoder::beginEntry(bool solid, uint64_t unpackedSize)
{
    if (!openEntry(solid, m_chainUsable)) return false;
    if (!resizeWindow(windowFor(m_windowSize, unpackedSize, true), "not enough memory for the dictionary")) return false;
    if (!solid) resetModel();
    startInput(unpackedSize, true);
    m_fileDone = false;
    m_chainUsable = false;
    beginFile(solid);
    return true;
}

void LegacyDecoder::decode()
{
    for (;;) {
        if (!resumeMatch()) return;
        if (m_fileDone) return;
        if (m_window.position() == m_entryEnd) {
            const uint64_t at = m_bits.position() >> 3;
            const uint64_t remaining = at < m_in.size() ? m_in.size() - at : 0;
            if (!m_inputEnded && remaining < kInputMargin) return;
            m_tentative = true;
            m_chainUsable = afterFile(remaining);
            m_tentative = false;
            // Trailing bits only matter to a solid entry after this one.
            if (m_bits.position() > uint64_t(m_in.size()) * 8) m_chainUsable = false;
            m_fileDone = true;
            return;
        }
        if (room() == 0 || !haveInput(kInputMargin)) return;
        if (!decodeStep() || !withinInput()) return;
    }
}

}  // namespace rar
