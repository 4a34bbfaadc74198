#include "testkit/Sidecars.h"

#include <algorithm>
#include <cstring>

#include "platform/files/linux/AppleDouble.h"

namespace testsupport {

namespace {
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = std::uint8_t(v >> 24);
    b[at + 1] = std::uint8_t(v >> 16);
    b[at + 2] = std::uint8_t(v >> 8);
    b[at + 3] = std::uint8_t(v);
}
}  // namespace

Bytes makeSidecar(const std::vector<RawEntry>& entries, const std::string& filler,
                  std::size_t size) {
    std::size_t end = 26 + 12 * entries.size();
    for (const RawEntry& e : entries) end = std::max<std::size_t>(end, e.offset + e.length);
    Bytes out(size ? size : end, 0);
    put32(out, 0, 0x00051607);
    put32(out, 4, 0x00020000);
    std::string f = filler;
    f.resize(16, filler.empty() ? '\0' : ' ');
    std::memcpy(&out[8], f.data(), 16);
    out[24] = std::uint8_t(entries.size() >> 8);
    out[25] = std::uint8_t(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        put32(out, 26 + 12 * i, e.id);
        put32(out, 30 + 12 * i, e.offset);
        put32(out, 34 + 12 * i, e.length);
        std::copy(e.bytes.begin(), e.bytes.end(), out.begin() + e.offset);
    }
    return out;
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
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) |
           (std::uint32_t(b[at + 2]) << 8) | b[at + 3];
}

std::string corpusPath(const std::string& relative) {
    return std::string(BRACKWATER_TEST_CORPUS) + "/" + relative;
}

Bytes corpusBytes(const std::string& relative) {
    return readBytes(corpusPath(relative));
}

}  // namespace testsupport
