#include "platform/files/linux/AppleDouble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "testkit/Sidecars.h"

using namespace appledouble;
using namespace testsupport;

namespace {

Problem parseBytes(const Bytes& b, Header* h, std::uint64_t fileSize = UINT64_MAX) {
    return parse(b.data(), b.size(), fileSize == UINT64_MAX ? b.size() : fileSize, h);
}

// macOS's sidecar: Finder info with an "ATTR" block of two attributes in one
// 3760-byte entry at 50, the placeholder fork at 3810.
const Bytes kMac = corpusBytes("peers/macos-4096.ad");

}  // namespace

// ---- Reading: the shapes real writers produce are accepted ----

TEST(AppleDoubleParse, OpaqueFinderInfoAndAnEmptyEntryAfterTheFork) {
    Header h;
    // Extra Finder info without the ATTR magic is kept as opaque bytes.
    ASSERT_EQ(parseBytes(makeSidecar({{9, 50, 100, Bytes(100, 0x5A)}, {2, 150, 0, {}}}), &h),
              Problem::None);
    EXPECT_FALSE(h.hasAttrBlock);
    EXPECT_EQ(h.find(kFinderInfoId)->length, 100u);
    // An empty entry after the fork's end would be cut off with the fork. (One
    // at the fork's start counting or not gives the same bytes: in place or
    // laid out again, the order is the same.)
    ASSERT_EQ(parseBytes(makeSidecar({{9, 62, 32, {}}, {2, 94, 10, {}}, {4, 104, 0, {}}}), &h),
              Problem::None);
    EXPECT_FALSE(forkIsLast(h));
}

// ---- Writing: new sidecars, re-layout ----

TEST(AppleDoubleWrite, ARelayoutWithNoRoomForFinderInfoAndForkIsRefused) {
    // The fork store's tests check re-laid-out sidecars byte for byte, with
    // the Finder info or fork entry a re-layout adds. Fifteen entries without
    // Finder info or fork leave no room to add them.
    Header full;
    std::vector<RawEntry> many;
    for (std::uint32_t i = 0; i < 15; ++i) many.push_back({20 + i, 206 + i, 1, {}});
    ASSERT_EQ(parseBytes(makeSidecar(many), &full), Problem::None);
    EXPECT_FALSE(relayout(full, 0).has_value());
}

// macOS's attributes after its Finder info, read, and moved with it.
TEST(AppleDoubleWrite, AMovedAttrBlockStillPointsAtItsOwnValues) {
    Header old;
    ASSERT_EQ(parseBytes(kMac, &old), Problem::None);
    ASSERT_EQ(old.attributes.size(), 2u);
    EXPECT_EQ(std::tuple(old.attributes[0].name, old.attributes[0].offset),
              std::tuple("com.apple.metadata:_kMDItemUserTags", 188u));
    EXPECT_EQ(std::tuple(old.attributes[1].name, old.attributes[1].length),
              std::tuple("foo:bar", 3u));
    Bytes fi(kMac.begin() + 50, kMac.begin() + 3810);
    rebaseAttrBlock(fi.data(), fi.size(), 50, 62);
    Bytes atNew = makeSidecar({{9, 62, 3760, fi}, {4, 3822, 0, {}}, {2, 3822, 0, {}}});
    Header moved;
    ASSERT_EQ(parseBytes(atNew, &moved), Problem::None);
    ASSERT_EQ(moved.attributes.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const Attribute &was = old.attributes[i], &now = moved.attributes[i];
        EXPECT_EQ(now.offset, was.offset + 12);
        EXPECT_TRUE(std::equal(atNew.begin() + now.offset, atNew.begin() + now.offset + now.length,
                               kMac.begin() + was.offset));
    }
}

// ---- Values: the placeholder fork, dates, netatalk metadata ----

// Its bytes are those of macOS's sample, which is built apart from them
// (ForkStore_test reads that sample's fork as none).
TEST(AppleDoubleValues, OnlyTheWholePlaceholderIsOne) {
    const Bytes p = placeholderBytes();
    EXPECT_TRUE(isPlaceholder(p.data(), p.size()));
    EXPECT_FALSE(isPlaceholder(p.data(), p.size() - 1));
    Bytes changed = p;
    changed[100] = 1;
    EXPECT_FALSE(isPlaceholder(changed.data(), changed.size()));
}

TEST(AppleDoubleValues, DatesAreSignedSecondsFrom2000WithAnUnknownMarker) {
    // Both ways where the value fits; 0x80000000 is the unknown marker.
    const std::pair<std::uint32_t, std::int64_t> both[] = {
        {0, 946684800},
        {0xFFFFFFFF, 946684799},
        {0x7FFFFFFF, 946684800ll + 0x7FFFFFFF},
        {1700000000u - 946684800u, 1700000000},
        {0x80000001u, 946684800ll - 0x7FFFFFFFll}};
    for (const auto& [raw, secs] : both) {
        EXPECT_EQ(decodeDate(raw), secs) << raw;
        EXPECT_EQ(encodeDate(secs), raw) << secs;
    }
    // Dates past either end are refused by the fork store's tests.
    EXPECT_EQ(decodeDate(0x80000000), std::nullopt);
}

TEST(AppleDoubleValues, NetatalkMetadataNeedsAll8EntriesIn402Bytes) {
    Bytes meta = sambaMetadata(finderInfo("APPL", "ttxt"), {});  // 402 bytes
    Header h;
    ASSERT_EQ(parseNetatalkMetadata(meta.data(), meta.size(), &h), Problem::None);
    // One byte short is passed over by the fork store's reads.
    Bytes seven = meta;
    seven[25] = 7;  // the last entry left out of the table
    EXPECT_EQ(parseNetatalkMetadata(seven.data(), seven.size(), &h), Problem::NotNetatalkMetadata);
    meta[1] = 0;
    EXPECT_EQ(parseNetatalkMetadata(meta.data(), meta.size(), &h), Problem::BadMagic);
}

// ---- netatalk 2's ".AppleDouble/name" ----

// afpd's own headers are read and changed byte for byte in ForkStore_test,
// and the malformed ones are refused there (a sidecar's two entries are
// n/twelve-entries' reason). A Finder info slot longer than 32 bytes is not
// netatalk's layout either.
TEST(AppleDoubleNetatalk, AFinderInfoSlotWiderThan32BytesIsNotNetatalksLayout) {
    Header h;
    Bytes wide = corpusBytes("peers/netatalk2-empty.ad");
    wide[74 + 11] = 36;  // Finder info length 36: up to the AFP file info at 689,
    wide[122 + 11] = 0;  // over the directory id's slot, which is empty
    EXPECT_EQ(parseNetatalkHeader(wide.data(), wide.size(), wide.size(), &h),
              Problem::NotNetatalkLayout);
}
