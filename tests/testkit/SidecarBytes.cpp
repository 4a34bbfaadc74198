#include "testkit/SidecarBytes.h"

namespace testsupport {

namespace {
void put32(Bytes& b, unsigned long v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back((unsigned char)(v >> shift));
}
void put16(Bytes& b, unsigned v) {
    b.push_back((unsigned char)(v >> 8));
    b.push_back((unsigned char)v);
}
unsigned long get32(const Bytes& b, std::size_t at) {
    return (unsigned long)b[at] << 24 | (unsigned long)b[at + 1] << 16 |
           (unsigned long)b[at + 2] << 8 | b[at + 3];
}
}  // namespace

Bytes finderInfo(const std::string& type, const std::string& creator) {
    Bytes fi(32, 0);
    for (std::size_t i = 0; i < 4 && i < type.size(); ++i) fi[i] = (unsigned char)type[i];
    for (std::size_t i = 0; i < 4 && i < creator.size(); ++i) fi[4 + i] = (unsigned char)creator[i];
    return fi;
}

Bytes sidecar(const Bytes& finderInfo32, const Bytes& resourceFork) {
    Bytes b;
    put32(b, 0x00051607);
    put32(b, 0x00020000);
    std::string filler = "Mac OS X        ";
    b.insert(b.end(), filler.begin(), filler.end());
    put16(b, 2);
    put32(b, 9);
    put32(b, 50);
    put32(b, 32);
    put32(b, 2);
    put32(b, 82);
    put32(b, resourceFork.size());
    b.insert(b.end(), finderInfo32.begin(), finderInfo32.begin() + 32);
    b.insert(b.end(), resourceFork.begin(), resourceFork.end());
    return b;
}

Bytes resourceForkOf(const Bytes& s) {
    if (s.size() < 26) return {};
    unsigned count = unsigned(s[24]) << 8 | s[25];
    for (unsigned i = 0; i < count && 26 + 12 * (i + 1) <= s.size(); ++i) {
        std::size_t d = 26 + 12 * i;
        if (get32(s, d) != 2) continue;
        std::size_t off = get32(s, d + 4), len = get32(s, d + 8);
        if (off + len > s.size()) return {};
        return Bytes(s.begin() + long(off), s.begin() + long(off + len));
    }
    return {};
}

}  // namespace testsupport
