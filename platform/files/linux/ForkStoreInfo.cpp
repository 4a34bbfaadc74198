// Finder info and the creation date: found in netatalk's metadata attribute,
// the sidecar's entries, ".AppleDouble/name"'s entries or the Mac attribute,
// in that order, and written back where they were found, so that no store
// keeps an older copy that a peer would read.
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>

#include "platform/files/linux/ForkStoreInternal.h"

namespace forkstore {

namespace {

// Writes Finder info into the metadata attribute. A non-zero copy in the
// sidecar, ".AppleDouble/name" or the Mac attribute (one is made when the
// attribute is created for a creation date) gets the same bytes: peers that
// read only those see the change, and Finder info cleared here does not let
// the old copy show through. All or nothing: a failure puts back what was
// written.
OSErr setMetadataFinderInfo(Stores& s, const FinderInfoState& fi, const UInt8 finderInfo[32]) {
    const int fd = s.t.fd.get();
    auto stale = [&](const std::uint8_t* copy) {
        return !allZero(copy, 32) && std::memcmp(copy, finderInfo, 32) != 0;
    };
    OSErr err = s.netatalk();
    if (err != noErr) return err;
    // The copies in the two AppleDouble files.
    struct Copy {
        const Sidecar* file;
        const Entry* entry;
        std::uint8_t old[32];
        bool patch;
    } copies[2] = {{&s.sc, nullptr, {}, false}, {&s.nh, nullptr, {}, false}};
    for (Copy& c : copies) {
        c.entry = c.file->exists ? c.file->header.find(appledouble::kFinderInfoId) : nullptr;
        if (c.entry && (err = c.file->read(c.entry->offset, c.old, 32)) != noErr) return err;
        c.patch = c.entry && stale(c.old);
    }
    Bytes macOld;
    bool macPresent = false;
    if ((err = readAttr(fd, kMacFinderInfoAttr, &macOld, &macPresent)) != noErr) return err;
    const bool patchMac = macPresent && macOld.size() >= 32 && stale(macOld.data());

    Bytes value = fi.metadata;
    std::memcpy(value.data() + fi.metaHeader.find(appledouble::kFinderInfoId)->offset, finderInfo,
                32);
    if (sysio::fsetxattr(fd, kNetatalkAttr, value.data(), value.size(), XATTR_REPLACE) != 0)
        return lastError();
    std::size_t patched = 0;  // copies done; a failed patch puts its own bytes back
    while (err == noErr && patched < 2) {
        const Copy& c = copies[patched];
        if (c.patch) err = patchInPlace(*c.file, c.entry->offset, finderInfo, 32);
        if (err == noErr) ++patched;
    }
    if (err == noErr && patchMac) {
        const int rc = allZero(finderInfo, 32)
                           ? sysio::fremovexattr(fd, kMacFinderInfoAttr)
                           : sysio::fsetxattr(fd, kMacFinderInfoAttr, finderInfo, 32, 0);
        if (rc != 0) err = lastError();
    }
    if (err != noErr) {
        for (std::size_t i = 0; i < patched; ++i)
            if (copies[i].patch)
                patchInPlace(*copies[i].file, copies[i].entry->offset, copies[i].old, 32);
        sysio::fsetxattr(fd, kNetatalkAttr, fi.metadata.data(), fi.metadata.size(), XATTR_REPLACE);
    }
    return err;
}

OSErr setFinderInfoOnce(int dirfd, const char* name, const UInt8 finderInfo[32]) {
    Stores s;
    FinderInfoState fi;
    OSErr err = openAndLocate(dirfd, name, Use::ChangeMetadata, nullptr, locateFinderInfo, &s, &fi);
    if (err != noErr) return err;
    const Target& t = s.t;
    const Sidecar& sc = s.sc;
    if (std::memcmp(fi.bytes, finderInfo, 32) == 0) return noErr;
    const auto where = fi.found != FinderInfoState::None ? fi.found : fi.holder;
    switch (where) {
        case FinderInfoState::Metadata:
            return setMetadataFinderInfo(s, fi, finderInfo);
        case FinderInfoState::NetatalkEntry:
            // Changed in place, as netatalk does; the header stays, whatever
            // it holds.
            return patchInPlace(s.nh, s.nh.header.find(appledouble::kFinderInfoId)->offset,
                                finderInfo, 32);
        case FinderInfoState::MacAttr:
            if (allZero(finderInfo, 32)) return removeAttr(t.fd.get(), kMacFinderInfoAttr);
            return sysio::fsetxattr(t.fd.get(), kMacFinderInfoAttr, finderInfo, 32, 0) == 0
                       ? OSErr(noErr)
                       : lastError();
        case FinderInfoState::SidecarEntry:
            if (sc.forkLength == 0 && sc.holdsNothingBesideFork(finderInfo)) {
                if (sysio::unlinkat(dirfd, sidecarName(name).c_str(), 0) != 0) return lastError();
                return noErr;
            }
            return patchInPlace(sc, sc.header.find(appledouble::kFinderInfoId)->offset, finderInfo,
                                32);
        case FinderInfoState::None:
            break;
    }
    if (allZero(finderInfo, 32)) return noErr;  // nothing to store
    // New Finder info goes into the sidecar, which is created or laid out anew
    // with a Finder info entry; its fork (if any) stays as it is.
    Header h;
    std::vector<Piece> pieces;
    std::uint64_t forkAt = 0;
    Bytes scratch;
    const std::uint64_t physical = sc.fork ? sc.fork->length : 0;
    if ((err = planSidecar(sc, physical, &h, &pieces, &forkAt, &scratch, finderInfo)) != noErr)
        return err;
    if (physical) pieces.push_back({forkAt, physical, sc.fd.get(), sc.fork->offset, nullptr});
    return writeSidecarAnew(s, h, pieces, forkAt + physical);
}

OSErr setCreationDateOnce(int dirfd, const char* name, std::int64_t unixSeconds) {
    Stores s;
    DatesState d;
    OSErr err = openAndLocate(dirfd, name, Use::ChangeMetadata, nullptr, locateDates, &s, &d);
    if (err != noErr) return err;
    const Target& t = s.t;
    std::uint8_t field[4];
    bigendian::writeU32(field, *appledouble::encodeDate(unixSeconds));
    if (d.inMetadata) {
        std::memcpy(d.metadata.data() + d.metadataAt, field, 4);
        return sysio::fsetxattr(t.fd.get(), kNetatalkAttr, d.metadata.data(), d.metadata.size(),
                                XATTR_REPLACE) == 0
                   ? OSErr(noErr)
                   : lastError();
    }
    if (d.inSidecar) return patchInPlace(s.sc, d.sidecarAt, field, 4);
    if (d.inNetatalk) return patchInPlace(s.nh, d.netatalkAt, field, 4);
    // Samba and netatalk remove a metadata attribute they cannot parse; we
    // leave it as it is rather than write over bytes we do not understand.
    if (d.metadataPresent) return ioErr;
    // No dates entry anywhere. A third sidecar entry would make Samba and
    // macOS's unpacker refuse the sidecar (and with it the fork), so the date
    // goes into a new metadata attribute, where Samba and netatalk read it.
    // That attribute's Finder info wins over every other store, so it starts
    // as a copy of the Finder info readers see now.
    FinderInfoState fi;
    if ((err = locateFinderInfo(s, &fi)) != noErr) return err;
    const Bytes value = appledouble::newNetatalkMetadata(fi.bytes, unixSeconds, t.st.st_mtim.tv_sec,
                                                         t.st.st_atim.tv_sec);
    if (sysio::fsetxattr(t.fd.get(), kNetatalkAttr, value.data(), value.size(), XATTR_CREATE) == 0)
        return noErr;
    return errno == EEXIST ? kRaced : lastError();  // EEXIST: written by someone else meanwhile
}

}  // namespace

OSErr locateFinderInfo(Stores& s, FinderInfoState* fi) {
    const Target& t = s.t;
    Bytes value;
    bool present;
    OSErr err = readAttr(t.fd.get(), kNetatalkAttr, &value, &present);
    if (err != noErr) return err;
    if (present && appledouble::parseNetatalkMetadata(
                       value.data(), value.size(), &fi->metaHeader) == appledouble::Problem::None) {
        fi->metadata = value;
        fi->holder = FinderInfoState::Metadata;
        const std::uint8_t* p =
            value.data() + fi->metaHeader.find(appledouble::kFinderInfoId)->offset;
        if (!allZero(p, 32)) {
            std::memcpy(fi->bytes, p, 32);
            fi->found = FinderInfoState::Metadata;
            return noErr;
        }
    }
    // The entries of the sidecar, then of ".AppleDouble/name".
    for (const auto where : {FinderInfoState::SidecarEntry, FinderInfoState::NetatalkEntry}) {
        if (where == FinderInfoState::NetatalkEntry && (err = s.netatalk()) != noErr) return err;
        const Sidecar& file = where == FinderInfoState::SidecarEntry ? s.sc : s.nh;
        const Entry* e = file.exists ? file.header.find(appledouble::kFinderInfoId) : nullptr;
        if (!e) continue;
        if (fi->holder == FinderInfoState::None) fi->holder = where;
        std::uint8_t p[32];
        if ((err = file.read(e->offset, p, 32)) != noErr) return err;
        if (!allZero(p, 32)) {
            std::memcpy(fi->bytes, p, 32);
            fi->found = where;
            return noErr;
        }
    }
    if ((err = readAttr(t.fd.get(), kMacFinderInfoAttr, &value, &present)) != noErr) return err;
    if (present && value.size() >= 32) {
        if (fi->holder == FinderInfoState::None) fi->holder = FinderInfoState::MacAttr;
        if (!allZero(value.data(), 32)) {
            std::memcpy(fi->bytes, value.data(), 32);
            fi->found = FinderInfoState::MacAttr;
        }
    }
    return noErr;
}

OSErr locateDates(Stores& s, DatesState* d) {
    const Target& t = s.t;
    Bytes value;
    bool present;
    OSErr err = readAttr(t.fd.get(), kNetatalkAttr, &value, &present);
    if (err != noErr) return err;
    d->metadataPresent = present;
    Header h;
    if (present && appledouble::parseNetatalkMetadata(value.data(), value.size(), &h) ==
                       appledouble::Problem::None) {
        d->inMetadata = true;
        d->metadataAt = h.find(appledouble::kFileDatesId)->offset;
        d->created = appledouble::decodeDate(bigendian::readU32(value.data() + d->metadataAt));
        d->metadata = std::move(value);
        if (d->created) return noErr;
    }
    for (const bool netatalk : {false, true}) {
        if (netatalk) {
            if (d->created || d->inSidecar) break;  // found, and a place to write it
            if ((err = s.netatalk()) != noErr) return err;
        }
        const Sidecar& file = netatalk ? s.nh : s.sc;
        const Entry* e = file.exists ? file.header.find(appledouble::kFileDatesId) : nullptr;
        if (!e || e->length < 4) continue;
        std::uint8_t raw[4];
        if ((err = file.read(e->offset, raw, 4)) != noErr) return err;
        (netatalk ? d->inNetatalk : d->inSidecar) = true;
        (netatalk ? d->netatalkAt : d->sidecarAt) = e->offset;
        if (!d->created) d->created = appledouble::decodeDate(bigendian::readU32(raw));
    }
    return noErr;
}

OSErr getFinderInfo(int dirfd, const char* name, UInt8 finderInfo[32]) {
    if (!finderInfo) return paramErr;
    Stores s;
    FinderInfoState fi;
    const OSErr err =
        openAndLocate(dirfd, name, Use::ReadMetadata, nullptr, locateFinderInfo, &s, &fi);
    if (err != noErr) return err;
    std::memcpy(finderInfo, fi.bytes, 32);
    return noErr;
}

OSErr setFinderInfo(int dirfd, const char* name, const UInt8 finderInfo[32]) {
    if (!finderInfo) return paramErr;
    return changeInFolder(dirfd, [&] { return setFinderInfoOnce(dirfd, name, finderInfo); });
}

OSErr getCreationDate(int dirfd, const char* name, std::int64_t* unixSeconds, bool* found) {
    if (!unixSeconds || !found) return paramErr;
    *found = false;
    Stores s;
    DatesState d;
    const OSErr err = openAndLocate(dirfd, name, Use::ReadMetadata, nullptr, locateDates, &s, &d);
    if (err != noErr) return err;
    if (d.created) {
        *unixSeconds = *d.created;
        *found = true;
    }
    return noErr;
}

OSErr setCreationDate(int dirfd, const char* name, std::int64_t unixSeconds) {
    if (!appledouble::encodeDate(unixSeconds)) return paramErr;
    return changeInFolder(dirfd, [&] { return setCreationDateOnce(dirfd, name, unixSeconds); });
}

}  // namespace forkstore
