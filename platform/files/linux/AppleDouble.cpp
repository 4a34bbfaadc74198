#include "platform/files/linux/AppleDouble.h"

#include <algorithm>
#include <cstring>

namespace appledouble {

using bigendian::readU16;
using bigendian::readU32;
using bigendian::writeU16;
using bigendian::writeU32;

namespace {

constexpr std::uint32_t kAttrMagic = 0x41545452;  // "ATTR"
// The "ATTR" block starts 34 bytes into the Finder info entry (32 bytes of
// Finder info, 2 bytes of padding); its own header is 36 bytes.
constexpr std::size_t kAttrHeaderOffset = 34;
constexpr std::size_t kAttrHeaderSize = 36;
constexpr std::size_t kAttrEntryFixed = 11;  // offset, length, flags, name length
constexpr std::size_t kMaxAttrs = 1024;
constexpr std::size_t kMaxAttrName = 128;       // including the NUL
constexpr std::int64_t kDateEpoch = 946684800;  // 2000-01-01 in Unix seconds
constexpr std::uint32_t kUnknownDate = 0x80000000;

// netatalk's private entry ids: 0x80 followed by "DEV", "INO", "SYN", "SV~".
constexpr std::uint32_t kNetatalkIds[] = {0x80444556, 0x80494E4F, 0x8053594E, 0x8053567E};

// Checks the "ATTR" block inside the Finder info entry `fi` and lists its
// attributes. A Finder info entry without the magic is kept as opaque bytes.
Problem parseAttrBlock(const std::uint8_t* bytes, std::size_t count, const Entry& fi, Header* out) {
    const std::uint64_t blockStart = std::uint64_t(fi.offset) + kAttrHeaderOffset;
    if (fi.length < kAttrHeaderOffset + 4 || blockStart + 4 > count) return Problem::None;
    if (readU32(bytes + blockStart) != kAttrMagic) return Problem::None;
    if (fi.length < kAttrHeaderOffset + kAttrHeaderSize || blockStart + kAttrHeaderSize > count)
        return Problem::BadAttrBlock;
    const std::uint8_t* h = bytes + blockStart;
    const std::uint64_t totalSize = readU32(h + 8);
    const std::uint64_t dataStart = readU32(h + 12);
    const std::uint64_t dataLength = readU32(h + 16);
    const std::size_t numAttrs = readU16(h + 34);
    const std::uint64_t entriesStart = blockStart + kAttrHeaderSize;
    if (totalSize > fi.end() || totalSize > kMaxHeaderRead || totalSize > count ||
        dataStart < entriesStart || dataStart + dataLength > totalSize || numAttrs > kMaxAttrs)
        return Problem::BadAttrBlock;

    std::uint64_t pos = entriesStart;
    std::vector<Attribute> attributes;
    for (std::size_t i = 0; i < numAttrs; ++i) {
        if (pos + kAttrEntryFixed > dataStart) return Problem::BadAttrBlock;
        const std::uint8_t* e = bytes + pos;
        Attribute attr;
        attr.offset = readU32(e);
        attr.length = readU32(e + 4);
        const std::size_t nameLength = e[10];
        if (nameLength < 1 || nameLength > kMaxAttrName ||
            pos + kAttrEntryFixed + nameLength > dataStart)
            return Problem::BadAttrBlock;
        const char* name = reinterpret_cast<const char*>(e + kAttrEntryFixed);
        if (strnlen(name, nameLength) != nameLength - 1) return Problem::BadAttrBlock;
        if (attr.offset < dataStart || std::uint64_t(attr.offset) + attr.length > totalSize)
            return Problem::BadAttrBlock;
        attr.name.assign(name, nameLength - 1);
        attributes.push_back(std::move(attr));
        pos += (kAttrEntryFixed + nameLength + 3) & ~std::uint64_t(3);
    }
    out->hasAttrBlock = true;
    out->attributes = std::move(attributes);
    return Problem::None;
}

}  // namespace

const Entry* Header::find(std::uint32_t id) const {
    for (const Entry& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

Entry* Header::find(std::uint32_t id) {
    for (Entry& e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

std::size_t Header::lengthFieldOffset(std::uint32_t id) const {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].id == id) return kHeaderSize + kDescriptorSize * i + 8;
    return 0;
}

const char* describe(Problem problem) {
    switch (problem) {
        case Problem::None:
            return "valid";
        case Problem::TooShort:
            return "shorter than an AppleDouble header";
        case Problem::BadMagic:
            return "not AppleDouble (magic)";
        case Problem::BadVersion:
            return "unsupported AppleDouble version";
        case Problem::BadEntryCount:
            return "no entries or more than 15";
        case Problem::TruncatedTable:
            return "entry table cut short";
        case Problem::ZeroId:
            return "entry id 0";
        case Problem::DuplicateId:
            return "duplicate entry id";
        case Problem::EntryInHeader:
            return "entry inside the header";
        case Problem::EntryPastEnd:
            return "entry past the end of the file";
        case Problem::Overlap:
            return "overlapping entries";
        case Problem::FinderInfoTooShort:
            return "Finder info shorter than 32 bytes";
        case Problem::BadAttrBlock:
            return "broken ATTR block";
        case Problem::NotNetatalkMetadata:
            return "not a netatalk metadata record";
        case Problem::UnknownId:
            return "entry id netatalk does not know";
        case Problem::NotNetatalkLayout:
            return "not netatalk 2's layout (13 entries, resource fork last at 741)";
        case Problem::ForkLengthMismatch:
            return "resource fork length differs from the file's size";
    }
    return "unknown";
}

Problem parse(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileSize, Header* out) {
    count = std::min<std::uint64_t>({count, fileSize, kMaxHeaderRead});
    if (count < kHeaderSize) return Problem::TooShort;
    if (readU32(bytes) != kMagic) return Problem::BadMagic;
    if (readU32(bytes + 4) != kVersion) return Problem::BadVersion;
    const std::size_t n = readU16(bytes + 24);
    if (n == 0 || n > kMaxEntries) return Problem::BadEntryCount;
    const std::size_t tableEnd = kHeaderSize + kDescriptorSize * n;
    if (tableEnd > count) return Problem::TruncatedTable;

    Header h;
    std::copy_n(bytes + 8, 16, h.filler.begin());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* d = bytes + kHeaderSize + kDescriptorSize * i;
        Entry e{readU32(d), readU32(d + 4), readU32(d + 8)};
        if (e.id == 0) return Problem::ZeroId;
        if (h.find(e.id)) return Problem::DuplicateId;
        if (e.offset < tableEnd) return Problem::EntryInHeader;
        if (e.end() > fileSize || e.end() > 0xFFFFFFFFull) return Problem::EntryPastEnd;
        h.entries.push_back(e);
    }

    std::vector<Entry> byOffset;
    for (const Entry& e : h.entries)
        if (e.length) byOffset.push_back(e);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const Entry& a, const Entry& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i].offset < byOffset[i - 1].end()) return Problem::Overlap;

    if (const Entry* fi = h.find(kFinderInfoId)) {
        if (fi->length < kFinderInfoSize) return Problem::FinderInfoTooShort;
        if (fi->length > kFinderInfoSize) {
            Problem p = parseAttrBlock(bytes, count, *fi, &h);
            if (p != Problem::None) return p;
        }
    }
    *out = std::move(h);
    return Problem::None;
}

Problem parseNetatalkMetadata(const std::uint8_t* bytes, std::size_t count, Header* out) {
    if (count != kNetatalkMetadataSize) return Problem::NotNetatalkMetadata;
    Header h;
    Problem p = parse(bytes, count, count, &h);
    if (p != Problem::None) return p;
    const Entry* fi = h.find(kFinderInfoId);
    const Entry* dates = h.find(kFileDatesId);
    if (h.entries.size() != 8 || !fi || fi->length != kFinderInfoSize || !dates ||
        dates->length != kDatesSize || !h.find(kCommentId))
        return Problem::NotNetatalkMetadata;
    for (std::uint32_t id : kNetatalkIds)
        if (!h.find(id)) return Problem::NotNetatalkMetadata;
    *out = std::move(h);
    return Problem::None;
}

Problem parseNetatalkHeader(const std::uint8_t* bytes, std::size_t count, std::uint64_t fileSize,
                            Header* out) {
    count = std::min<std::uint64_t>({count, fileSize, kNetatalkHeaderSize});
    Header h;
    Problem p = parse(bytes, count, fileSize, &h);
    if (p != Problem::None) return p;
    for (const Entry& e : h.entries)
        if (e.id > kAfpDirectoryId && std::find(std::begin(kNetatalkIds), std::end(kNetatalkIds),
                                                e.id) == std::end(kNetatalkIds))
            return Problem::UnknownId;
    const Entry* fork = h.find(kResourceForkId);
    if (h.entries.size() != kNetatalkEntryCount || !fork || fork->offset != kNetatalkHeaderSize)
        return Problem::NotNetatalkLayout;
    for (const Entry& e : h.entries)
        if (&e != fork && e.end() > kNetatalkHeaderSize) return Problem::NotNetatalkLayout;
    if (const Entry* fi = h.find(kFinderInfoId); fi && fi->length != kFinderInfoSize)
        return Problem::NotNetatalkLayout;
    if (fork->end() != fileSize) return Problem::ForkLengthMismatch;
    *out = std::move(h);
    return Problem::None;
}

std::vector<std::uint8_t> newNetatalkMetadata(const std::uint8_t finderInfo[kFinderInfoSize],
                                              std::int64_t created, std::int64_t modified,
                                              std::int64_t accessed) {
    // Samba's and netatalk's fixed offsets; the table ends at 122.
    Header h;
    h.entries = {{kCommentId, 154, 0},
                 {kFileDatesId, 354, kDatesSize},
                 {kFinderInfoId, 122, kFinderInfoSize},
                 {kAfpFileInfoId, 370, 4},
                 {kNetatalkIds[0], 374, 8},
                 {kNetatalkIds[1], 382, 8},
                 {kNetatalkIds[2], 390, 8},
                 {kNetatalkIds[3], 398, 4}};
    std::vector<std::uint8_t> out = serializeHeader(h);
    out.resize(kNetatalkMetadataSize, 0);
    std::copy_n(finderInfo, kFinderInfoSize, out.begin() + 122);
    std::uint8_t* dates = out.data() + 354;
    writeU32(dates, encodeDate(created).value_or(kUnknownDate));
    writeU32(dates + 4, encodeDate(modified).value_or(kUnknownDate));
    writeU32(dates + 8, kUnknownDate);  // never backed up
    writeU32(dates + 12, encodeDate(accessed).value_or(kUnknownDate));
    return out;
}

std::vector<std::uint8_t> serializeHeader(const Header& header) {
    std::vector<std::uint8_t> out(header.tableSize());
    writeU32(out.data(), kMagic);
    writeU32(out.data() + 4, kVersion);
    std::copy(header.filler.begin(), header.filler.end(), out.begin() + 8);
    writeU16(out.data() + 24, std::uint16_t(header.entries.size()));
    for (std::size_t i = 0; i < header.entries.size(); ++i) {
        std::uint8_t* d = out.data() + kHeaderSize + kDescriptorSize * i;
        writeU32(d, header.entries[i].id);
        writeU32(d + 4, header.entries[i].offset);
        writeU32(d + 8, header.entries[i].length);
    }
    return out;
}

std::array<std::uint8_t, 16> macFiller() {
    std::array<std::uint8_t, 16> filler;
    filler.fill(' ');
    std::memcpy(filler.data(), "Mac OS X", 8);
    return filler;
}

Header newSidecar(std::uint32_t forkLength) {
    Header h;
    h.filler = macFiller();
    const std::uint32_t fiOffset = kHeaderSize + 2 * kDescriptorSize;
    h.entries.push_back({kFinderInfoId, fiOffset, kFinderInfoSize});
    h.entries.push_back({kResourceForkId, fiOffset + std::uint32_t(kFinderInfoSize), forkLength});
    return h;
}

bool forkIsLast(const Header& header) {
    const Entry* fork = header.find(kResourceForkId);
    if (!fork) return false;
    for (const Entry& e : header.entries)
        if (&e != fork && e.end() > fork->offset) return false;
    return true;
}

std::optional<Header> relayout(const Header& old, std::uint32_t forkLength) {
    Header h;
    h.filler = old.filler;
    h.hasAttrBlock = old.hasAttrBlock;
    const Entry* fi = old.find(kFinderInfoId);
    h.entries.push_back({kFinderInfoId, 0, fi ? fi->length : std::uint32_t(kFinderInfoSize)});
    for (const Entry& e : old.entries)
        if (e.id != kFinderInfoId && e.id != kResourceForkId) h.entries.push_back(e);
    h.entries.push_back({kResourceForkId, 0, forkLength});
    if (h.entries.size() > kMaxEntries) return std::nullopt;
    std::uint64_t offset = h.tableSize();
    for (Entry& e : h.entries) {
        e.offset = std::uint32_t(offset);
        offset += e.length;
    }
    if (offset > 0xFFFFFFFFull) return std::nullopt;
    // Attribute offsets follow the Finder info entry; callers rebase the bytes.
    h.attributes = old.attributes;
    if (fi && fi->offset != h.entries[0].offset) {
        const std::int64_t delta = std::int64_t(h.entries[0].offset) - fi->offset;
        for (Attribute& a : h.attributes) a.offset = std::uint32_t(a.offset + delta);
    }
    return h;
}

void rebaseAttrBlock(std::uint8_t* entryBytes, std::size_t length, std::uint32_t oldOffset,
                     std::uint32_t newOffset) {
    if (length < kAttrHeaderOffset + kAttrHeaderSize) return;
    std::uint8_t* h = entryBytes + kAttrHeaderOffset;
    if (readU32(h) != kAttrMagic || oldOffset == newOffset) return;
    auto shift = [&](std::uint8_t* p) { writeU32(p, readU32(p) - oldOffset + newOffset); };
    shift(h + 8);   // total size
    shift(h + 12);  // data start
    const std::size_t numAttrs = readU16(h + 34);
    std::size_t pos = kAttrHeaderOffset + kAttrHeaderSize;
    for (std::size_t i = 0; i < numAttrs && pos + kAttrEntryFixed <= length; ++i) {
        shift(entryBytes + pos);
        pos += (kAttrEntryFixed + entryBytes[pos + 10] + 3) & ~std::size_t(3);
    }
}

const std::array<std::uint8_t, kPlaceholderSize>& placeholderFork() {
    static const std::array<std::uint8_t, kPlaceholderSize> bytes = [] {
        std::array<std::uint8_t, kPlaceholderSize> b{};
        // Resource fork header: data and map at 256, no data, a 30-byte map.
        writeU32(&b[0], 256);
        writeU32(&b[4], 256);
        writeU32(&b[8], 0);
        writeU32(&b[12], 30);
        static const char tag[] = "This resource fork intentionally left blank   ";
        std::memcpy(&b[16], tag, sizeof tag);  // 46 characters and the NUL
        // The map starts with a copy of the header, then next-map handle, file
        // reference and attributes (zero), the type list and name list offsets,
        // and a type count of -1 (no types).
        std::copy_n(&b[0], 16, &b[256]);
        writeU16(&b[280], 28);
        writeU16(&b[282], 30);
        writeU16(&b[284], 0xFFFF);
        return b;
    }();
    return bytes;
}

bool isPlaceholder(const std::uint8_t* bytes, std::size_t count) {
    return count == kPlaceholderSize &&
           std::memcmp(bytes, placeholderFork().data(), kPlaceholderSize) == 0;
}

std::optional<std::int64_t> decodeDate(std::uint32_t raw) {
    if (raw == kUnknownDate) return std::nullopt;
    return std::int64_t(std::int32_t(raw)) + kDateEpoch;
}

std::optional<std::uint32_t> encodeDate(std::int64_t unixSeconds) {
    const std::int64_t v = unixSeconds - kDateEpoch;
    if (v <= INT32_MIN || v > INT32_MAX) return std::nullopt;
    return std::uint32_t(std::int32_t(v));
}

}  // namespace appledouble
