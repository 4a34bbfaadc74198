// The process-wide table of path nodes behind FSRef and FSSpec: each node is a
// parent node plus one name, so a reference costs one name, deep trees are
// reached folder by folder with openat, and a rename updates one node.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/files/Files.h"

namespace pathnodes {

using NodeID = UInt32;
constexpr NodeID kNoNode = 0;
constexpr NodeID kRootParentID = 1;  // the parent of "/", as fsRtParID
constexpr NodeID kRootID = 2;        // "/", as fsRtDirID

// What identifies an object on disk when a reference is made: a reference
// whose object was since replaced or removed no longer matches.
struct Identity {
    UInt64 dev = 0;
    UInt64 ino = 0;
    SInt64 birthSec = 0;
    UInt32 birthNsec = 0;
    bool hasBirth = false;
};

// The node for `name` inside `parent`, added when new. `name` is one path
// component, neither empty nor "." nor "..", without '/'.
NodeID child(NodeID parent, std::string_view name);
// The node for `name` inside `parent` when the table has one, else kNoNode.
NodeID find(NodeID parent, std::string_view name);
// Parent node and name of a node; kNoNode and "" for unknown ones.
NodeID parentOf(NodeID node);
std::string nameOf(NodeID node);
bool known(NodeID node);
// Moves a node to a new parent and name. A node that held that place before
// is detached: references to it, and to everything below it, give fnfErr.
void moveNode(NodeID node, NodeID newParent, std::string_view newName);
// Absolute path of a node ("/" for the root); empty for a detached node.
std::string pathOf(NodeID node);
// Bytes the table uses, for the check that a million references stay small.
std::size_t memoryUse();
std::size_t nodeCount();

// An open folder descriptor (O_PATH, or read-only for the kept folder),
// closed when it goes. One handed out for the kept folder (see openFolder)
// shares that descriptor: it stays open while any holder has it, even once
// the table keeps another folder.
class CDirFd {
public:
    struct Shared;
    CDirFd() = default;
    explicit CDirFd(int fd) : fd_(fd) {}
    explicit CDirFd(Shared* shared);
    ~CDirFd();
    CDirFd(CDirFd&& other) noexcept : fd_(other.fd_), shared_(other.shared_) {
        other.fd_ = -1;
        other.shared_ = nullptr;
    }
    CDirFd& operator=(CDirFd&& other) noexcept;
    CDirFd(const CDirFd&) = delete;
    CDirFd& operator=(const CDirFd&) = delete;
    int get() const { return fd_; }

private:
    void reset();
    int fd_ = -1;
    Shared* shared_ = nullptr;
};

// True when `fd` is the kept folder opened for reading, which fsync accepts
// as it is (an O_PATH descriptor has to be opened again first).
bool canSyncFolder(int fd);

// A number that stays the same while `fd` is the descriptor of the kept
// folder and is never given to another keep; 0 when `fd` is not the kept
// folder. It tells a caller that the folder is one it has already seen,
// without a call. The folder is checked when it is handed out: a folder added
// to or removed from it since then is seen at the next File Manager call.
UInt64 pinnedFolderSerial(int fd);

// A hold (holds nest) makes the kept folder, once it has been checked during
// the hold, be handed out again without a look at its watches: the calls on
// one file then see the folder as it was when the work on that file began, as
// an open file would, for one read of the watch queue instead of one a call.
// When the last hold ends, every call checks again. A move through moveNode
// still drops the kept folder at once.
void beginFolderHold();
void endFolderHold();
// A number for the outermost hold in force, never given to another hold; 0
// when there is none. What one call of a file's work saw may serve the next
// call only within the same hold.
UInt64 folderHoldSerial();

// A folder listing's look at the entry `node` it hands out (no link
// followed), in the folder of device `folderDev` and inode `folderIno`.
// takeListedLook gives it once, to the first call of the first hold begun
// after it, when no call outside a hold came in between, the entry is
// `node`, and `folderFd` is the kept folder and the folder that was listed:
// the work on a file the walk has just met starts from the walk's look
// instead of looking again. Anything opened on it is still checked against
// it. False otherwise (and the look is gone either way).
void noteListedLook(NodeID node, const struct statx& sx, UInt64 folderDev, UInt64 folderIno);
bool takeListedLook(NodeID node, int folderFd, struct statx* sx);
// The same for a look taken outside any hold at an object found in the kept
// folder `folderFd` (a reference located to show its name, say): the work on
// it, when it comes next, starts from that look. Ignored inside a hold, whose
// own changes would make it stale, and for any other folder.
void noteLookInKeptFolder(NodeID node, const struct statx& sx, int folderFd);

// Closes the kept folder (once its holders let go), so that nothing keeps a
// volume busy while the program waits.
void releaseKeptFolder();

// Opens the folder a node designates, following no symbolic link on the way.
// Paths of any length work: they are opened in pieces relative to the last
// folder reached. A piece that is now a symbolic link or missing gives fnfErr.
//
// The folder opened last is kept open and handed out again for the next call
// in it, so that a run through the files of a folder looks its path up once.
// It is handed out only while it is certainly still what the path designates:
// the folder and every folder above it are watched (inotify), and a move or
// removal of any of them, a folder put in its place or added to or removed
// from it (a netatalk folder may have come or gone), and every move through
// moveNode, make the next call open the path again, as if nothing was kept.
// Where it cannot be watched (no inotify, too many watches, a path longer
// than the kernel takes) nothing is kept.
OSErr openFolder(NodeID node, CDirFd* folder);

// Test seam: false makes folders open one component at a time, as on kernels
// without openat2.
void setUseOpenat2(bool use);

// Drops the kept folder and every watch, for a node that moves: it may be the
// kept folder or a folder above it.
void dropKeptFolderAndWatches();

// The result code of a folder on a reference's path that could not be opened:
// fnfErr when it vanished or became a file or a link.
OSErr folderError(int err);

// An object found through a reference: its folder, its name in that folder and
// what statx says of it now (no link followed). The root is its own folder
// with the name ".".
struct Located {
    NodeID node = kNoNode;
    CDirFd folder;
    std::string name;
    struct statx sx {};
};

// Stats `name` in `dirfd` without following a link and reads its identity.
OSErr statEntry(int dirfd, const char* name, struct statx* sx, Identity* identity);
Identity identityOf(const struct statx& sx);
bool isFolder(const struct statx& sx);
bool isRegular(const struct statx& sx);

// FSRef records: pack and unpack. Unpacking fails for a record this table did
// not make.
void makeRef(NodeID node, const Identity& identity, FSRef* ref);
bool readRef(const FSRef* ref, NodeID* node, Identity* identity);
// Finds the object of a reference: paramErr for a null or foreign record,
// fnfErr when the object was removed or replaced since the reference was made.
OSErr locate(const FSRef* ref, Located* out);
// Same, from a node and what is known of it.
OSErr locateNode(NodeID node, const Identity* expected, Located* out);

// Opens the located object itself as a folder (O_PATH), checking that it is
// still the object that was stat'ed: errFSNotAFolder for a file.
OSErr openLocatedFolder(const Located& located, CDirFd* folder);
// Locates a reference to a folder that things are made or looked up in, and
// opens it: dirNFErr when the reference is to a file.
OSErr openParentFolder(const FSRef* ref, Located* parent, CDirFd* folder);

// The FSSpec of a node: its parent's node ID and its name, cut to 63 bytes
// with "#" and the node ID in hex when longer. The root is parID 1, name "/".
void makeSpec(NodeID node, FSVolumeRefNum volume, FSSpec* spec);
// The node a spec's name stands for inside `parent` when it is a cut name
// made by makeSpec; kNoNode otherwise.
NodeID nodeOfCutName(NodeID parent, std::string_view name);

// Small negative volume reference numbers, one per device seen.
FSVolumeRefNum volumeRefNum(UInt64 dev);

// Result code of a failed system call (errno), with ELOOP meaning the object
// became a symbolic link.
OSErr lastError();

}  // namespace pathnodes
