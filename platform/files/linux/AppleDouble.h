// AppleDouble in memory: parses and strictly validates the header of a "._name"
// sidecar, of netatalk's metadata attribute and of netatalk 2's
// ".AppleDouble/<name>" files, builds the header of a new or re-laid-out
// sidecar, and knows the placeholder resource fork and the dates encoding. No
// I/O: the fork store reads and writes the bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/BigEndian.h"

namespace appledouble {

constexpr std::uint32_t kMagic = 0x00051607;
constexpr std::uint32_t kVersion = 0x00020000;
constexpr std::size_t kHeaderSize = 26;  // magic, version, filler, entry count
constexpr std::size_t kDescriptorSize = 12;
constexpr std::size_t kMaxEntries = 15;
// Only this much of a sidecar is read as header; entries may lie beyond it.
constexpr std::size_t kMaxHeaderRead = 65536;
constexpr std::size_t kFinderInfoSize = 32;
constexpr std::size_t kPlaceholderSize = 286;
constexpr std::size_t kNetatalkMetadataSize = 402;
constexpr std::size_t kDatesSize = 16;
// netatalk 2's ".AppleDouble/<name>": a 741-byte header of 13 entries at fixed
// places, then the resource fork to the end of the file.
constexpr std::size_t kNetatalkHeaderSize = 741;
constexpr std::size_t kNetatalkEntryCount = 13;

enum EntryId : std::uint32_t {
    kResourceForkId = 2,
    kCommentId = 4,
    kFileDatesId = 8,
    kFinderInfoId = 9,
    kAfpFileInfoId = 14,
    kAfpDirectoryId = 15,
};

// One descriptor: where an entry's bytes are in the file.
struct Entry {
    std::uint32_t id = 0;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint64_t end() const { return std::uint64_t(offset) + length; }
};

// A Mac extended attribute stored in the "ATTR" block after the Finder info.
// offset is a file offset, as the block stores it.
struct Attribute {
    std::string name;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

struct Header {
    std::array<std::uint8_t, 16> filler{};
    std::vector<Entry> entries;  // in descriptor order
    // Filled when the Finder info entry carries an "ATTR" block.
    bool hasAttrBlock = false;
    std::vector<Attribute> attributes;

    // Bytes taken by the fixed header and the descriptor table.
    std::size_t tableSize() const { return kHeaderSize + kDescriptorSize * entries.size(); }
    const Entry* find(std::uint32_t id) const;
    Entry* find(std::uint32_t id);
    // File offset of the length field of the descriptor for `id`; 0 if absent.
    std::size_t lengthFieldOffset(std::uint32_t id) const;
};

enum class Problem {
    None,
    TooShort,  // fewer than 26 bytes
    BadMagic,
    BadVersion,
    BadEntryCount,   // 0 or more than 15
    TruncatedTable,  // descriptors past the bytes read
    ZeroId,
    DuplicateId,
    EntryInHeader,  // starts inside the header or descriptor table
    EntryPastEnd,   // ends past the file (or past 32 bits)
    Overlap,
    FinderInfoTooShort,   // Finder info shorter than 32 bytes
    BadAttrBlock,         // an "ATTR" block whose fields point outside it
    NotNetatalkMetadata,  // valid AppleDouble but not the 402-byte, 8-entry shape
    UnknownId,            // an entry id netatalk 2 does not know (it refuses the file)
    NotNetatalkLayout,    // not netatalk 2's 13 entries with the resource fork last at 741
    ForkLengthMismatch,   // the fork's descriptor and the file's size disagree
};
const char* describe(Problem problem);

// Parses a sidecar. `bytes` holds the first min(fileSize, kMaxHeaderRead) bytes
// of a file of `fileSize` bytes. On None, *out describes it.
Problem parse(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileSize, Header* out);

// Parses netatalk's metadata attribute (exactly 402 bytes, 8 entries, Finder
// info of 32 bytes and a 16-byte dates entry).
Problem parseNetatalkMetadata(const std::uint8_t* bytes, std::size_t count, Header* out);

// Parses netatalk 2's header file ".AppleDouble/<name>". `bytes` holds the
// first min(fileSize, kNetatalkHeaderSize) bytes of a file of `fileSize` bytes.
// On top of parse()'s checks it takes only the layout netatalk 2 writes and
// keeps: version 2, 13 entries with ids netatalk knows, Finder info of 32
// bytes, every other entry inside the 741-byte header and the resource fork at
// 741 reaching exactly the end of the file. netatalk itself takes the fork as
// the rest of the file; a descriptor that says otherwise is a write that
// stopped half way, and the file is refused.
Problem parseNetatalkHeader(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileSize,
                            Header* out);

// A new netatalk metadata attribute in the shape Samba writes: 402 bytes,
// zero filler, descriptors in id order (comment, dates, Finder info, AFP file
// info, then netatalk's DEV, INO, SYN and ID), the given Finder info, and the
// dates entry holding `created`, `modified`, no backup date and `accessed`
// (Unix seconds; a date the entry cannot hold is stored as unknown).
std::vector<std::uint8_t> newNetatalkMetadata(const std::uint8_t finderInfo[kFinderInfoSize],
                                              std::int64_t created, std::int64_t modified,
                                              std::int64_t accessed);

// The fixed header and descriptor table of `header`, tableSize() bytes.
std::vector<std::uint8_t> serializeHeader(const Header& header);

// The filler of a new sidecar: "Mac OS X" padded with spaces.
std::array<std::uint8_t, 16> macFiller();

// The header of a new sidecar: Finder info at 50 (32 bytes), then the resource
// fork at 82, the last entry.
Header newSidecar(std::uint32_t forkLength);

// True when the resource fork entry exists and no other entry lies after it,
// so the fork can grow or be cut at the end of the file.
bool forkIsLast(const Header& header);

// Lays `old` out again with the Finder info first and the resource fork last
// (each added when missing: 32 zero bytes, an empty fork), every other entry
// in its order with its length. The fork gets `forkLength`. Copy each kept
// entry's bytes from its old offset to its new one; a Finder info entry with an
// "ATTR" block must then go through rebaseAttrBlock. nullopt when the result
// would need more than 15 entries or reach past 4 GiB.
std::optional<Header> relayout(const Header& old, std::uint32_t forkLength);

// The "ATTR" block stores file offsets; when its Finder info entry moves from
// `oldOffset` to `newOffset`, this shifts them in `entryBytes` (the whole entry).
void rebaseAttrBlock(std::uint8_t* entryBytes, std::size_t length, std::uint32_t oldOffset,
                     std::uint32_t newOffset);

// The 286-byte resource fork macOS writes as "This resource fork intentionally
// left blank"; it counts as an empty fork.
const std::array<std::uint8_t, kPlaceholderSize>& placeholderFork();
bool isPlaceholder(const std::uint8_t* bytes, std::size_t count);

// Dates entry values: signed seconds since 2000-01-01 UTC, 0x80000000 unknown.
std::optional<std::int64_t> decodeDate(std::uint32_t raw);
// nullopt when the date cannot be stored (outside 1931-12-13 .. 2068-01-19).
std::optional<std::uint32_t> encodeDate(std::int64_t unixSeconds);

}  // namespace appledouble
