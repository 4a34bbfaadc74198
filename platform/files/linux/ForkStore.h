// Where a file's resource fork, Finder info and creation date live on Linux:
// the AppleDouble sidecar "._name" beside it, netatalk 2's header file
// ".AppleDouble/name", the Mac extended attributes, and Samba's and netatalk's
// attributes. The File Manager calls this for every resource-fork and metadata
// access; data forks are plain file contents and do not come here. Every call
// names the file by an open folder and a name in it, never follows symbolic
// links, and returns a Mac result code.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/MacTypes.h"

namespace forkstore {

// Where a file's resource fork is stored now, in order of precedence: a fork
// is read from the first store that holds a non-empty one.
enum class RsrcStore {
    None,            // no fork anywhere (or only an empty one)
    Sidecar,         // the "._name" AppleDouble file
    NetatalkFolder,  // netatalk 2's ".AppleDouble/name" (the fork after a 741-byte header)
    MacXattr,        // macOS's attribute (forknames::kMacForkAttr)
    SambaStream,     // Samba's stream attribute (one trailing NUL byte)
};

// What a caller that has just looked at `name` (without following a link) saw:
// the fork store then opens it without looking again, and still checks that
// what it opened is what was seen.
struct Looked {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    // The file itself, when the caller holds it open for reading and writing
    // and has just seen that `name` still holds it (dev and ino above): a call
    // that changes the fork then uses it, as the caller's opening showed it
    // writable, instead of opening and checking the name again. -1 otherwise.
    int fd = -1;
    // The caller saw no sidecar "._name" (checkResourceFork said so): a write
    // that finds the fork in no other store then makes a new sidecar without
    // looking for one, as linking it fails (and the write starts over) when
    // one has appeared meanwhile.
    bool noSidecar = false;
};

struct RsrcInfo {
    RsrcStore store = RsrcStore::None;
    std::uint64_t length = 0;  // 0 for an empty fork and for the 286-byte placeholder
};

// Size and store of the resource fork of `name` in `dirfd`. ioErr for a
// malformed sidecar or ".AppleDouble/name"; notAFileErr when `name` or the
// file holding its fork is not a regular file.
OSErr getResourceFork(int dirfd, const char* name, RsrcInfo* info, const Looked* looked = nullptr);

// noErr when the resource fork of `name` can be used: the same verdict as
// getResourceFork, at the cost of one look when there is no sidecar and no
// netatalk header that could be malformed. *noSidecar (when given) tells
// whether that look found no sidecar.
OSErr checkResourceFork(int dirfd, const char* name, const Looked* looked = nullptr,
                        bool* noSidecar = nullptr);

// Reads up to `count` bytes at `offset`; *actual gets what was there. Reading
// past the end gives eofErr with the bytes that were there.
OSErr readResourceFork(int dirfd, const char* name, std::uint64_t offset, std::size_t count,
                       void* buffer, std::size_t* actual, const Looked* looked = nullptr);

// Writes `count` bytes at `offset`, growing the fork as needed and never
// shortening it. The bytes are durable (synced, folder synced after a rename)
// before this returns; a crash at any moment leaves a valid sidecar (or
// netatalk header) and the old or the new fork. The fork stays in the store it
// is in, since that is where the file's server reads it (Samba with
// "fruit:resource = stream" never looks at "._name", netatalk 2 only at
// ".AppleDouble/name"): the store holding a non-empty fork, else the first
// store that holds an empty one (an existing sidecar, ".AppleDouble/name",
// either attribute). Only a file with no fork in any store gets a new sidecar.
// A fork an attribute cannot hold (more than 64 KiB, or more than the file
// system takes: E2BIG, ERANGE, or ENOSPC while the disk has room) is refused
// with fsDataTooBigErr and nothing changes; it is never moved to another store.
// A fork that would end past what an AppleDouble file can address (4 GiB less
// its header) is refused with posErr, never wrapped.
OSErr writeResourceFork(int dirfd, const char* name, std::uint64_t offset, std::size_t count,
                        const void* buffer, const Looked* looked = nullptr);

// The largest resource fork `store` can hold: an attribute's value limit (less
// Samba's trailing byte), or what a sidecar or netatalk's header can describe
// after its header; for None, a new sidecar's.
std::uint64_t largestResourceFork(RsrcStore store);

// Writes the first `count` bytes of the file `sourceFd` (a flip's data fork)
// over the start of the resource fork, with the same guarantees as
// writeResourceFork, copied inside the kernel in bounded memory whatever the
// size; holes of the source stay holes. A source that ends before `count`
// bytes gives ioErr and changes nothing; a fork larger than its store can
// hold gives fsDataTooBigErr.
OSErr writeResourceForkFrom(int dirfd, const char* name, int sourceFd, std::uint64_t count,
                            const Looked* looked = nullptr);

// Empties the resource fork in every store that holds it: the sidecar loses its
// fork (and is deleted when nothing else remains), ".AppleDouble/name" loses its
// fork and keeps every other byte, the attributes are removed.
OSErr deleteResourceFork(int dirfd, const char* name, const Looked* looked = nullptr);

// The 32 bytes of Finder info (type, creator, flags, ...): the netatalk
// metadata attribute when valid, else the sidecar's entry, else the entry of
// ".AppleDouble/name", else macOS's Finder info attribute; all zero when there is
// none.
OSErr getFinderInfo(int dirfd, const char* name, UInt8 finderInfo[32]);
// Writes Finder info where it was found (or into the first store with room for
// it), new Finder info into the sidecar. Written into the metadata attribute,
// it also replaces non-zero copies in the sidecar, ".AppleDouble/name" and the
// Mac attribute, so no store keeps an older one.
OSErr setFinderInfo(int dirfd, const char* name, const UInt8 finderInfo[32]);

// The creation date from the metadata attribute's, the sidecar's or
// ".AppleDouble/name"'s dates entry, as Unix seconds; fnfErr-free: *found is
// false when no entry holds one.
OSErr getCreationDate(int dirfd, const char* name, std::int64_t* unixSeconds, bool* found);
// Writes the dates entry where one exists (in that order). Without
// one it creates the netatalk metadata attribute (Samba's shape) holding the
// date and a copy of the current Finder info; a third sidecar entry instead
// would make Samba and macOS's unpacker refuse the sidecar. Dates the entry
// cannot hold give paramErr; a file system without user attributes gives
// wrgVolTypErr; an unparsable metadata attribute gives ioErr. On failure
// nothing has changed.
OSErr setCreationDate(int dirfd, const char* name, std::int64_t unixSeconds);

// True when `name` is a sidecar that belongs to another entry of the folder
// (a regular file "._x" with "x" present), or netatalk's ".AppleDouble"
// folder: listings hide them. An orphan "._x" is an ordinary file.
bool isHiddenCompanion(int dirfd, const char* name);

// Renames a file's sidecar and its ".AppleDouble/oldName" along with it (call
// after renaming the file itself). Never replaces an existing "._newName" or
// ".AppleDouble/newName" (dupFNErr, and nothing is renamed); none is noErr.
OSErr renameCompanion(int dirfd, const char* oldName, const char* newName);

// True for a temporary sidecar that a write prepares beside a file (or, for
// netatalk's header files, inside ".AppleDouble")
// (".bwtmp-<host>-<pid>-<hex>": 8 hex digits of a hash of the host's name, the
// writer's process id, 48 random bits): it is the fork store's, not the
// user's, and listings hide it without ever removing it. One left by a process
// killed while writing never holds the only copy of anything. The first call
// in a process that may change a folder (writing or deleting a fork, setting
// Finder info or a creation date, renaming a sidecar) removes from that folder
// the temporaries of this host whose process no longer runs; nothing else
// does, so a walk that only reads changes nothing, and the temporaries of
// other hosts sharing the folder stay.
bool isTemporaryName(const char* name);

// A count of the calls above that may have changed a folder's stores (writing
// or deleting a fork, setting Finder info or a creation date, renaming a
// sidecar), whether they did or not: what a caller saw of a sidecar holds
// only while the count stays the same.
std::uint64_t changeCount();

// Inspection: one read-only look at a file's forks for reports (the batch
// mode's --info and its dry run), kept apart from the calls above that serve
// reads and writes. It also says what is wrong with an AppleDouble file the
// calls above refuse with ioErr.

// An AppleDouble file that may hold a file's fork: its "._name" sidecar or
// netatalk's ".AppleDouble/name".
enum class CompanionState {
    None,        // no such file
    Valid,       // an AppleDouble file the fork store accepts
    Malformed,   // rejected by the parser: problem and message say why
    NotAFile,    // a folder, a link or another special file
    Unreadable,  // could not be opened or read: error says why
};

struct CompanionFinding {
    CompanionState state = CompanionState::None;
    // Valid: its resource fork's length; 0 for none, an empty one and macOS's
    // blank placeholder.
    std::uint64_t forkLength = 0;
    // Malformed: the parser's own code for the problem (never 0) and its text.
    int problem = 0;
    const char* message = "";
    OSErr error = noErr;  // Unreadable
};

// What inspect is asked for; the rest of Inspection is left as it is.
enum InspectWhat : unsigned {
    kInspectResourceFork = 1u << 0,  // store and length, as getResourceFork
    kInspectFinderInfo = 1u << 1,    // as getFinderInfo
    kInspectSidecar = 1u << 2,       // the "._name" file
    kInspectNetatalk = 1u << 3,      // the ".AppleDouble/name" file
    kInspectAll = 0xFu,
};

struct Inspection {
    OSErr rsrcError = noErr;  // getResourceFork's result
    RsrcStore rsrcStore = RsrcStore::None;
    std::uint64_t rsrcLength = 0;
    std::uint64_t rsrcLimit = 0;          // largestResourceFork(rsrcStore)
    const char* rsrcAttribute = nullptr;  // the attribute's name for MacXattr, SambaStream

    OSErr finderInfoError = noErr;  // getFinderInfo's result
    bool hasFinderInfo = false;     // some store holds Finder info that is not all zero
    UInt8 finderInfo[32] = {};
    UInt32 fileType = 0;  // the first two fields of finderInfo
    UInt32 fileCreator = 0;

    CompanionFinding sidecar;
    CompanionFinding netatalk;  // None for netatalk's own ".Parent" and "::EA" files
};

// Looks at `name` in `dirfd` as asked by `what` and changes nothing. Each
// part has its own result; an AppleDouble file is read without following a
// link and without blocking, and validated by the same parser and header size
// as the calls above use.
void inspect(int dirfd, const char* name, unsigned what, Inspection* out);

}  // namespace forkstore
