#include "testkit/Sidecars.h"

#include <algorithm>
#include <cstring>

#include "platform/base/BigEndian.h"
#include "platform/files/linux/AppleDouble.h"

namespace testsupport {

Bytes makeSidecar(const std::vector<RawEntry>& entries, const std::string& filler,
                  std::size_t size) {
    std::size_t end = 26 + 12 * entries.size();
    for (const RawEntry& e : entries) end = std::max<std::size_t>(end, e.offset + e.length);
    Bytes out(size ? size : end, 0);
    bigendian::writeU32(&out[0], 0x00051607);
    bigendian::writeU32(&out[4], 0x00020000);
    std::string f = filler;
    f.resize(16, filler.empty() ? '\0' : ' ');
    std::memcpy(&out[8], f.data(), 16);
    bigendian::writeU16(&out[24], std::uint16_t(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        bigendian::writeU32(&out[26 + 12 * i], e.id);
        bigendian::writeU32(&out[30 + 12 * i], e.offset);
        bigendian::writeU32(&out[34 + 12 * i], e.length);
        std::copy(e.bytes.begin(), e.bytes.end(), out.begin() + e.offset);
    }
    return out;
}

Bytes sambaMetadata(const Bytes& finderInfo32, const Bytes& dates16) {
    return makeSidecar({{4, 154, 0, {}},
                        {8, 354, 16, dates16},
                        {9, 122, 32, finderInfo32},
                        {14, 370, 4, {}},
                        {0x80444556, 374, 8, {}},
                        {0x80494E4F, 382, 8, {}},
                        {0x8053594E, 390, 8, {}},
                        {0x8053567E, 398, 4, {}}},
                       "");
}

Bytes finderInfo(const char type[4], const char creator[4]) {
    Bytes fi(32, 0);
    std::memcpy(&fi[0], type, 4);
    std::memcpy(&fi[4], creator, 4);
    fi[8] = 0x01;
    return fi;
}

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes placeholderBytes() {
    const auto& p = appledouble::placeholderFork();
    return Bytes(p.begin(), p.end());
}

Bytes pattern(std::size_t count, unsigned seed) {
    Bytes b(count);
    unsigned x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = std::uint8_t(x >> 16);
    }
    return b;
}

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return bigendian::readU32(&b[at]);
}

std::string corpusPath(const std::string& relative) {
    return std::string(BRACKWATER_TEST_CORPUS) + "/" + relative;
}

Bytes corpusBytes(const std::string& relative) {
    return readBytes(corpusPath(relative));
}

}  // namespace testsupport
