// Builds AppleDouble sidecars byte by byte for tests, independently of the
// codec under test: entries are placed exactly where the test says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testkit/TempTree.h"

namespace testsupport {

// The attributes that hold a resource fork (macOS's; Samba's stream, one NUL
// byte longer than the fork), Finder info, and netatalk's metadata.
constexpr char kMacFork[] = "user.com.apple.ResourceFork";
constexpr char kSambaFork[] = "user.DosStream.AFP_Resource:$DATA";
constexpr char kMacFinderInfo[] = "user.com.apple.FinderInfo";
constexpr char kMetadata[] = "user.org.netatalk.Metadata";

struct RawEntry {
    std::uint32_t id;
    std::uint32_t offset;
    std::uint32_t length;
    Bytes bytes;  // written at offset (may be shorter than length, or empty)
};

// Header with the given filler (16 bytes, padded with spaces) and entries in
// this descriptor order; the file is `size` bytes (0: end of the last entry).
Bytes makeSidecar(const std::vector<RawEntry>& entries, const std::string& filler = "Mac OS X",
                  std::size_t size = 0);

// netatalk's metadata attribute as Samba writes it: 402 bytes, 8 entries,
// with this Finder info (32 bytes) and dates entry (16), zeros when empty.
Bytes sambaMetadata(const Bytes& finderInfo32, const Bytes& dates16);

// Finder info with the given type and creator, flags 0x0100.
Bytes finderInfo(const char type[4], const char creator[4]);
Bytes bytesOf(const std::string& s);
Bytes concat(Bytes a, const Bytes& b);
// macOS's blank 286-byte resource fork, which counts as none.
Bytes placeholderBytes();
// `count` bytes of a recognisable pattern starting at `seed`.
Bytes pattern(std::size_t count, unsigned seed = 1);
std::uint32_t be32(const Bytes& b, std::size_t at);

// The corpus folder (tests/corpus) and the bytes of one of its files.
std::string corpusPath(const std::string& relative);
Bytes corpusBytes(const std::string& relative);

}  // namespace testsupport
