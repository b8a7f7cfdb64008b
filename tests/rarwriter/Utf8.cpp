#include "Utf8.h"

#include "RarWriteError.h"

#include <bit>
#include <iconv.h>

namespace vorlo::rarwriter {

std::u16string utf8ToUtf16(std::string_view bytes)
{
    const iconv_t converter = ::iconv_open(std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE",
                                           "UTF-8");
    std::u16string out(bytes.size(), u'\0'); // never more units than bytes
    char *in = const_cast<char *>(bytes.data());
    char *to = reinterpret_cast<char *>(out.data());
    std::size_t inLeft = bytes.size(), toLeft = out.size() * 2;
    const bool converted = converter != iconv_t(-1) && ::iconv(converter, &in, &inLeft, &to, &toLeft) == 0;
    if (converter != iconv_t(-1))
        ::iconv_close(converter);
    if (!converted)
        throw RarWriteError("name is not valid UTF-8: " + std::string(bytes));
    out.resize(out.size() - toLeft / 2);
    return out;
}

} // namespace vorlo::rarwriter
