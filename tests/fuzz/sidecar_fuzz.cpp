// Fuzzes the AppleDouble parsers: any input is parsed without reading outside
// it, as a "._name" sidecar, as netatalk 2's ".AppleDouble/name" and as
// netatalk's metadata attribute. An accepted sidecar survives a round trip and
// a re-layout; an accepted netatalk header is netatalk's layout; accepted
// metadata has its Finder info and dates inside the 402 bytes. The placeholder
// and date helpers never trap, and a decoded date encodes back to its bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files/linux/AppleDouble.h"

using namespace appledouble;

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}

// netatalk 2's header, read as the store reads it (at most 741 bytes): when
// accepted, it has netatalk's layout, with the fork alone past the header.
// How a rewritten fork keeps every other byte, ForkStore_test shows on afpd's
// headers; that the table serialises back to its bytes, the sidecar check below.
void checkNetatalk(const std::uint8_t* data, std::size_t size) {
    const std::size_t head = std::min(size, kNetatalkHeaderSize);
    Header h;
    if (parseNetatalkHeader(data, head, size, &h) != Problem::None) return;
    const Entry* fork = h.find(kResourceForkId);
    check(size >= kNetatalkHeaderSize && h.entries.size() == kNetatalkEntryCount && fork &&
          fork->offset == kNetatalkHeaderSize && fork->end() == size);
    for (const Entry& e : h.entries) check(&e == fork || e.end() <= kNetatalkHeaderSize);
    Header plain;  // any netatalk header is AppleDouble a sidecar reader accepts
    check(parse(data, size, size, &plain) == Problem::None);
}

void checkMetadata(const std::uint8_t* data, std::size_t size) {
    isPlaceholder(data, size);
    if (size >= 4) {
        const auto date = decodeDate(bigendian::readU32(data));
        check(!date || encodeDate(*date) == bigendian::readU32(data));
    }
    Header h;
    if (parseNetatalkMetadata(data, size, &h) != Problem::None) return;
    const Entry *fi = h.find(kFinderInfoId), *dates = h.find(kFileDatesId);
    check(size == kNetatalkMetadataSize && fi && fi->end() <= size && dates &&
          dates->end() <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkNetatalk(data, size);
    checkMetadata(data, size);
    // The input as a whole file, and as a file whose header read was cut short.
    Header partial;
    parse(data, size / 2, size, &partial);
    Header h;
    if (parse(data, size, size, &h) != Problem::None) return 0;

    // Every entry lies between the descriptor table and the end of the file.
    for (const Entry& e : h.entries) check(e.offset >= h.tableSize() && e.end() <= size);
    // The header serialises back to the bytes it came from.
    const std::vector<std::uint8_t> table = serializeHeader(h);
    check(table.size() <= size && std::memcmp(table.data(), data, table.size()) == 0);

    // Lay it out again (Finder info first, the fork last) and copy the bytes the
    // way the fork store does: the result must parse, with the same attributes.
    const Entry* oldFork = h.find(kResourceForkId);
    const std::uint32_t forkLength = oldFork ? oldFork->length : 0;
    const std::optional<Header> laidOut = relayout(h, forkLength);
    if (!laidOut) {
        // Only refused when the entries cannot fit one sidecar.
        std::size_t extra = !h.find(kFinderInfoId) + !oldFork;
        check(h.entries.size() + extra > kMaxEntries || size + 24 > 0xFFFFFFFFull);
        return 0;
    }
    const Header& n = *laidOut;
    const Entry& fork = n.entries.back();
    std::vector<std::uint8_t> out(std::size_t(fork.end()), 0);
    const std::vector<std::uint8_t> newTable = serializeHeader(n);
    std::memcpy(out.data(), newTable.data(), newTable.size());
    for (const Entry& e : n.entries) {
        const Entry* was = h.find(e.id);
        if (!was) continue;
        std::memcpy(out.data() + e.offset, data + was->offset, e.length);
        if (e.id == kFinderInfoId)
            rebaseAttrBlock(out.data() + e.offset, e.length, was->offset, e.offset);
    }
    Header again;
    check(parse(out.data(), out.size(), out.size(), &again) == Problem::None);
    check(forkIsLast(again) && again.entries.front().id == kFinderInfoId);
    check(again.attributes.size() == h.attributes.size());
    for (std::size_t i = 0; i < h.attributes.size(); ++i) {
        const Attribute& a = h.attributes[i];
        const Attribute& b = again.attributes[i];
        check(a.name == b.name && a.length == b.length);
        check(std::memcmp(data + a.offset, out.data() + b.offset, a.length) == 0);
    }
    return 0;
}
