// What the units of the fork store share, and nothing outside them uses: the
// file and the AppleDouble files one call opens (opened
// and searched by openAndLocate, the start of every call), the transaction
// that writes an AppleDouble file anew, and the sweep of dead temporaries.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/ForkNames.h"
#include "platform/files/linux/AppleDouble.h"
#include "platform/files/linux/ForkStore.h"
#include "platform/files/linux/SysIO.h"

namespace forkstore {

using appledouble::Entry;
using appledouble::Header;
using Bytes = std::vector<std::uint8_t>;

using namespace forknames;
// Linux takes no attribute value larger than this (XATTR_SIZE_MAX), whatever
// the file system.
inline constexpr std::size_t kMaxAttrValue = 65536;
inline constexpr std::uint64_t kMaxEntryEnd = 0xFFFFFFFFull;
// Internal: a sidecar appeared or was replaced while we rebuilt it; start over.
inline constexpr OSErr kRaced = 1;

// A descriptor the call opened and closes, or one it borrows from its caller
// (`owned` false), which stays open.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& o) noexcept {
        reset();
        fd_ = o.fd_;
        owned_ = o.owned_;
        o.fd_ = -1;
        return *this;
    }
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0 && owned_) sysio::close(fd_);
        fd_ = -1;
        owned_ = true;
    }

private:
    int fd_ = -1;
    bool owned_ = true;
};

inline OSErr lastError() {
    return errnoToOSErr(errno);
}

bool validName(const char* name);
std::string sidecarName(const char* name);
bool allZero(const std::uint8_t* p, std::size_t n);

// ---- Opening a file and its stores (ForkStoreOpen.cpp) ----

// The file whose forks and metadata are served; its fd reaches the attributes.
struct Target {
    Fd fd;
    struct stat st {};
    // The names of its attributes, listed once when first needed, so that an
    // attribute the file does not have costs no call. A list that could not
    // be had (too long, or an error) leaves every attribute to be asked for.
    mutable bool listed = false;
    mutable bool unlisted = false;
    mutable std::string names;

    // False only when the file certainly has no attribute `attr`.
    bool mayHave(const char* attr) const;
};

// Reads attribute `attr`; *present is false when the file has none.
OSErr readAttr(int fd, const char* attr, Bytes* value, bool* present);
OSErr removeAttr(int fd, const char* attr);

// An AppleDouble file (a sidecar or a netatalk header) as found on disk,
// validated.
struct Sidecar {
    bool exists = false;
    Fd fd;
    struct stat st {};
    std::uint64_t size = 0;
    Bytes head;  // the first min(size, 64 KiB) bytes
    Header header;
    const Entry* fork = nullptr;
    bool placeholder = false;      // the fork is macOS's blank one
    std::uint64_t forkLength = 0;  // logical: 0 for the placeholder

    // Reads `n` bytes at file offset `at`, from the header copy when it is there.
    OSErr read(std::uint64_t at, void* out, std::size_t n) const;
    // True when nothing but an empty fork and all-zero Finder info would remain
    // once the fork is emptied (so the sidecar should go).
    bool holdsNothingBesideFork(const std::uint8_t* finderInfo) const;
};

// netatalk 2's header file ".AppleDouble/name" of a file: the sidecar's
// fields, and the ".AppleDouble" folder it is in, reached without following a
// link. Looked at only when a call needs it (the sidecar comes first).
struct NetatalkHeader : Sidecar {
    Fd folder;
};

// ".AppleDouble/.Parent" is the folder's own header, and "x::EA" and
// "x::EA::attr" hold netatalk's extended attributes for "x": files with such
// names never take their fork from there.
bool isNetatalkOwnName(const char* name);

// True unless `dirfd` certainly has no ".AppleDouble" folder.
bool mayHaveNetatalkFolder(int dirfd);

// Opens the ".AppleDouble" folder of `dirfd` that may hold the header of
// `name`, without following a link. *folder stays closed (and the result is
// noErr) when there is none, or when `name` is one of netatalk's own.
OSErr openNetatalkFolder(int dirfd, const char* name, Fd* folder);

// What a call opens a file for: its resource fork (a regular file only) or
// its metadata (a folder too), to read or to change. A change opens the
// AppleDouble files for writing, and needs the file to be writable.
enum class Use { ReadFork, ChangeFork, ReadMetadata, ChangeMetadata };

// The file and the stores of its fork and metadata that are files: the
// sidecar, opened at once, and ".AppleDouble/name", looked at on first use.
struct Stores {
    int dirfd = -1;
    const char* name = nullptr;
    bool forWrite = false;
    Target t;
    Sidecar sc;
    NetatalkHeader nh;
    bool netatalkLooked = false;
    OSErr netatalkErr = noErr;

    // Looks at ".AppleDouble/name" once; nh.exists then tells whether it is
    // there. A folder's header is inside it, not there.
    OSErr netatalk();
};

// Opens `name` in `dirfd` for `use`, with its sidecar read and validated.
OSErr openStores(int dirfd, const char* name, Use use, Stores* s, const Looked* looked = nullptr);

// ---- What a call looks for in the stores ----

// Where the resource fork is and where a write of it goes (ForkStoreResource.cpp).
struct ForkState {
    RsrcStore store = RsrcStore::None;   // the first store holding a non-empty fork
    RsrcStore holder = RsrcStore::None;  // the first store there is, empty or not
    std::uint64_t length = 0;
    // For an attribute store (`store`, else `holder`): its whole value,
    // Samba's trailing byte included.
    Bytes attrValue;

    // Where a write goes: where the fork is, else where an empty one is kept,
    // else a new sidecar.
    RsrcStore target() const {
        if (store != RsrcStore::None) return store;
        return holder != RsrcStore::None ? holder : RsrcStore::Sidecar;
    }
};
OSErr locateFork(Stores& s, ForkState* fs);

// Finder info as the stores hold it, in order of precedence (ForkStoreInfo.cpp).
struct FinderInfoState {
    enum Where { None, Metadata, SidecarEntry, NetatalkEntry, MacAttr } found = None, holder = None;
    std::uint8_t bytes[32] = {};
    Bytes metadata;  // the netatalk attribute's value when valid
    Header metaHeader;
};
OSErr locateFinderInfo(Stores& s, FinderInfoState* fi);

// The dates entry's creation date, from the metadata attribute, the sidecar or
// ".AppleDouble/name" (ForkStoreInfo.cpp).
struct DatesState {
    bool metadataPresent = false;  // valid or not
    bool inMetadata = false, inSidecar = false, inNetatalk = false;
    std::uint64_t sidecarAt = 0, netatalkAt = 0;
    std::optional<std::int64_t> created;
    Bytes metadata;
    std::size_t metadataAt = 0;
};
OSErr locateDates(Stores& s, DatesState* d);

// The start of every call: opens `name` in `dirfd` and its sidecar for `use`,
// then `locate` (locateFork, locateFinderInfo or locateDates) finds in the
// stores what the call is about.
template <class State>
OSErr openAndLocate(int dirfd, const char* name, Use use, const Looked* looked,
                    OSErr (*locate)(Stores&, State*), Stores* s, State* state) {
    const OSErr err = openStores(dirfd, name, use, s, looked);
    return err != noErr ? err : locate(*s, state);
}

// ---- Temporaries (ForkStoreCompanions.cpp) ----

// A fresh name for a temporary file: this host's tag, the process id, then 48
// random bits.
std::string temporaryName();

// Before the first change this process makes in a folder, removes the
// temporaries that this host's killed processes left there.
void sweepFolderOnce(int dirfd);

// True when a file this process creates in `dirfd` certainly belongs to
// `user` and `group` already: the folder is the kept folder, its sweep saw
// this process's user and group, and the folder belongs to that group too, so
// neither its set-group-ID bit nor the mount's rule for groups gives the file
// another. False whenever that is not known.
bool createsOwnedBy(int dirfd, uid_t user, gid_t group);

// Every call that changes something in `dirfd`: the folder is swept first,
// then `attempt` runs, and once more when another writer's change to the
// sidecar came in between; a second collision is reported as busy.
template <class Attempt>
OSErr changeInFolder(int dirfd, Attempt attempt) {
    sweepFolderOnce(dirfd);
    OSErr err = attempt();
    if (err == kRaced) err = attempt();
    return err == kRaced ? OSErr(fBsyErr) : err;
}

// ---- Writing an AppleDouble file anew (ForkStoreSidecar.cpp) ----

// A run of bytes of the new sidecar: from a file, from memory, or zeros.
struct Piece {
    std::uint64_t dest = 0;
    std::uint64_t length = 0;
    int srcFd = -1;
    std::uint64_t srcOffset = 0;
    const std::uint8_t* mem = nullptr;
};

// Who owns a file written anew: a new sidecar's owner and mode come from its
// file; a rebuilt sidecar or netatalk header keeps its own (keepMode).
struct Ownership {
    uid_t uid;
    gid_t gid;
    mode_t mode;
    bool keepMode;
};

// Builds the sidecar that results from keeping every entry of `sc` (if any)
// and giving it a resource fork of `forkLength` bytes, and adds the pieces
// that copy the kept entries. *forkAt gets the fork's file offset.
// `finderInfo` replaces the Finder info when not null.
OSErr planSidecar(const Sidecar& sc, std::uint64_t forkLength, Header* out,
                  std::vector<Piece>* pieces, std::uint64_t* forkAt, Bytes* scratch,
                  const std::uint8_t* finderInfo);

// Writes a complete sidecar (header plus pieces, `size` bytes) and syncs it.
// With `linkAs` (a sidecar name that is still free), a file written without a
// name is linked straight under that name, which is atomic and never replaces
// anything, and *temp is left empty. Otherwise the file gets a fresh temporary
// name in the folder, which *temp holds on success.
OSErr writeTemp(int dirfd, const Header& header, const std::vector<Piece>& pieces,
                std::uint64_t size, const Ownership& owner, const std::string* linkAs,
                std::string* temp);

// Puts the synced temporary file in place of `old` (or as a new file), named
// `sc` in `dirfd`: a sidecar, or a header file in ".AppleDouble". Syncs the
// folder. Any failure restores the previous state.
OSErr installFile(int dirfd, const std::string& sc, const Sidecar& old, const std::string& temp);

// Writes the sidecar of `s.name` anew (header plus pieces, `size` bytes) with
// writeTemp and puts it in place with installFile: a new one is created, an
// existing one replaced (see Ownership for its owner and mode).
OSErr writeSidecarAnew(const Stores& s, const Header& header, const std::vector<Piece>& pieces,
                       std::uint64_t size);

// Rewrites `n` bytes of an existing sidecar in place and syncs; on failure the
// old bytes are put back.
OSErr patchInPlace(const Sidecar& sc, std::uint64_t at, const void* bytes, std::size_t n);

}  // namespace forkstore
