// Reads and writes unsigned integers stored most significant byte first, as
// every on-disk and in-descriptor Mac structure keeps them (AppleDouble
// headers, Finder info, alias records), whatever the host's byte order.
#pragma once

#include <cstdint>

namespace bigendian {

inline std::uint16_t readU16(const std::uint8_t* p) {
    return std::uint16_t((p[0] << 8) | p[1]);
}
inline std::uint32_t readU32(const std::uint8_t* p) {
    return (std::uint32_t(readU16(p)) << 16) | readU16(p + 2);
}
inline std::uint64_t readU64(const std::uint8_t* p) {
    return (std::uint64_t(readU32(p)) << 32) | readU32(p + 4);
}

inline void writeU16(std::uint8_t* p, std::uint16_t value) {
    p[0] = std::uint8_t(value >> 8);
    p[1] = std::uint8_t(value);
}
inline void writeU32(std::uint8_t* p, std::uint32_t value) {
    writeU16(p, std::uint16_t(value >> 16));
    writeU16(p + 2, std::uint16_t(value));
}
inline void writeU64(std::uint8_t* p, std::uint64_t value) {
    writeU32(p, std::uint32_t(value >> 32));
    writeU32(p + 4, std::uint32_t(value));
}

}  // namespace bigendian
