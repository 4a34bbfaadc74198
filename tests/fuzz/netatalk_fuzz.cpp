// Fuzzes the netatalk metadata parser: an accepted record has its Finder info
// and dates inside the 402 bytes; the placeholder and date helpers never trap.
#include <cstdlib>

#include "platform/files/linux/AppleDouble.h"

using namespace appledouble;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    isPlaceholder(data, size);
    if (size >= 4) {
        const auto date = decodeDate(bigendian::readU32(data));
        if (date && encodeDate(*date) != bigendian::readU32(data)) std::abort();
    }
    Header h;
    if (parseNetatalkMetadata(data, size, &h) != Problem::None) return 0;
    const Entry* fi = h.find(kFinderInfoId);
    const Entry* dates = h.find(kFileDatesId);
    if (size != kNetatalkMetadataSize || !fi || fi->end() > size || !dates || dates->end() > size)
        std::abort();
    return 0;
}
