#include "testkit/SidecarBytes.h"

#include "platform/base/BigEndian.h"

namespace testsupport {

Bytes sidecar(const Bytes& finderInfo32, const Bytes& resourceFork) {
    return makeSidecar(
        {{9, 50, 32, finderInfo32}, {2, 82, std::uint32_t(resourceFork.size()), resourceFork}});
}

Bytes resourceForkOf(const Bytes& s) {
    if (s.size() < 26) return {};
    const std::size_t count = bigendian::readU16(&s[24]);
    for (std::size_t i = 0; i < count && 26 + 12 * (i + 1) <= s.size(); ++i) {
        std::size_t d = 26 + 12 * i;
        if (be32(s, d) != 2) continue;
        std::size_t off = be32(s, d + 4), len = be32(s, d + 8);
        if (off + len > s.size()) return {};
        return Bytes(s.begin() + long(off), s.begin() + long(off + len));
    }
    return {};
}

}  // namespace testsupport
