// The helper-output reader: arbitrary bytes cut into pieces at positions
// taken from the input itself, in a listing or an extraction run.
#include "OutputReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool listing = data[0] & 1;
    const std::size_t step = 1 + data[1] % 64; // piece length
    const QByteArray text(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));

    OutputReader reader;
    if (listing)
        reader.startListing();
    else
        reader.startExtraction();
    for (qsizetype at = 0; at < text.size(); at += qsizetype(step)) {
        const OutputReader::Outcome outcome = reader.readPiece(text.mid(at, qsizetype(step)));
        if (outcome.atPromptLine) {
            reader.promptConfirmed();
            (void)reader.answerPrompt(QStringLiteral("secret"));
        }
        if (reader.barValue() < 0 || reader.barValue() > 100)
            __builtin_trap();
    }
    if (listing)
        (void)reader.finishListing();
    else
        reader.finishRun();
    return 0;
}
