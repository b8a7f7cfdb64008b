// The update property list, as it comes from the network.
#include "DownloadLink.h"
#include "UpdateList.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray xml(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto list = UpdateList::fromXml(xml, QStringLiteral("notes"))) {
        // Whatever it says, the link handed to curl must be a safe one.
        if (!DownloadLink::isAcceptable(list->link))
            __builtin_trap();
        (void)list->totalSize();
        (void)DownloadLink::proposedFileName(list->link);
    }
    return 0;
}
