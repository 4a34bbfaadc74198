#include "platform/files/linux/PathNodes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files/FileErrors.h"

namespace pathnodes {

namespace {

// A node is 16 bytes plus its name in the shared arena; the hash index adds
// two 4-byte slots per node at most.
struct Node {
    NodeID parent;
    UInt16 nameLength;
    UInt16 unused;
    UInt64 nameOffset;
};
static_assert(sizeof(Node) == 16);

std::vector<Node> gNodes;
std::string gNames;
std::vector<NodeID> gSlots;  // open addressing, linear probing; 0 is empty
std::size_t gIndexed = 0;

void ensureRoot() {
    if (!gNodes.empty()) return;
    gNodes.push_back({kNoNode, 0, 0, 0});  // 0: no node
    gNodes.push_back({kNoNode, 0, 0, 0});  // 1: the parent of the root
    gNodes.push_back({kRootParentID, 0, 0, 0});
    gSlots.assign(1024, kNoNode);
}

std::string_view nameView(const Node& n) {
    return std::string_view(gNames).substr(n.nameOffset, n.nameLength);
}

std::size_t hashOf(NodeID parent, std::string_view name) {
    std::uint64_t h = 1469598103934665603ULL ^ parent;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ULL;
    return std::size_t(h ^ (h >> 29));
}

std::size_t homeSlot(NodeID id) {
    const Node& n = gNodes[id];
    return hashOf(n.parent, nameView(n)) & (gSlots.size() - 1);
}

std::size_t slotOf(NodeID parent, std::string_view name) {
    std::size_t mask = gSlots.size() - 1;
    std::size_t i = hashOf(parent, name) & mask;
    while (gSlots[i] != kNoNode) {
        const Node& n = gNodes[gSlots[i]];
        if (n.parent == parent && nameView(n) == name) return i;
        i = (i + 1) & mask;
    }
    return i;
}

void insertIndex(NodeID id) {
    if ((gIndexed + 1) * 2 > gSlots.size()) {
        std::vector<NodeID> old(gSlots.size() * 2, kNoNode);
        old.swap(gSlots);
        for (NodeID moved : old) {
            if (moved == kNoNode) continue;
            std::size_t i = homeSlot(moved);
            while (gSlots[i] != kNoNode) i = (i + 1) & (gSlots.size() - 1);
            gSlots[i] = moved;
        }
    }
    const Node& n = gNodes[id];
    gSlots[slotOf(n.parent, nameView(n))] = id;
    ++gIndexed;
}

// Backward-shift deletion keeps every probe chain unbroken without tombstones.
void eraseIndex(NodeID id) {
    const Node& n = gNodes[id];
    std::size_t mask = gSlots.size() - 1;
    std::size_t i = slotOf(n.parent, nameView(n));
    if (gSlots[i] != id) return;
    std::size_t j = i;
    for (;;) {
        j = (j + 1) & mask;
        if (gSlots[j] == kNoNode) break;
        std::size_t k = homeSlot(gSlots[j]);
        bool stays = i <= j ? (i < k && k <= j) : (i < k || k <= j);
        if (stays) continue;
        gSlots[i] = gSlots[j];
        i = j;
    }
    gSlots[i] = kNoNode;
    --gIndexed;
}

void setName(Node& n, std::string_view name) {
    n.nameOffset = gNames.size();
    n.nameLength = UInt16(name.size());
    gNames.append(name);
}

constexpr UInt32 kRefMagic = 0x42775231;  // 'BwR1'

struct RefData {
    UInt32 magic;
    NodeID node;
    UInt64 dev;
    UInt64 ino;
    SInt64 birthSec;
    UInt32 birthNsec;
    UInt32 hasBirth;
};
static_assert(sizeof(RefData) <= sizeof(FSRef));

std::vector<UInt64> gVolumes;

}  // namespace

OSErr folderError(int err) {
    // A folder on the way that vanished, or became a file or a link, means the
    // object the reference was made for is not there any more.
    if (err == ENOENT || err == ENOTDIR || err == ELOOP || err == EXDEV) return fnfErr;
    return errnoToOSErr(err);
}

NodeID find(NodeID parent, std::string_view name) {
    ensureRoot();
    return gSlots[slotOf(parent, name)];
}

NodeID child(NodeID parent, std::string_view name) {
    ensureRoot();
    NodeID found = find(parent, name);
    if (found != kNoNode) return found;
    Node n{parent, 0, 0, 0};
    setName(n, name);
    gNodes.push_back(n);
    NodeID id = NodeID(gNodes.size() - 1);
    insertIndex(id);
    return id;
}

bool known(NodeID node) {
    ensureRoot();
    return node >= kRootID && node < gNodes.size();
}

NodeID parentOf(NodeID node) {
    return known(node) ? gNodes[node].parent : kNoNode;
}

std::string nameOf(NodeID node) {
    return known(node) ? std::string(nameView(gNodes[node])) : std::string();
}

void moveNode(NodeID node, NodeID newParent, std::string_view newName) {
    if (!known(node) || node == kRootID) return;
    // The kept folder, or one above it, may be what moves; the watches are
    // by node, and the node that held the new place is detached.
    dropKeptFolderAndWatches();
    NodeID previous = find(newParent, newName);
    if (previous == node) return;
    if (previous != kNoNode) {
        eraseIndex(previous);
        gNodes[previous].parent = kNoNode;
    }
    if (gNodes[node].parent != kNoNode) eraseIndex(node);
    gNodes[node].parent = newParent;
    setName(gNodes[node], newName);
    insertIndex(node);
}

std::string pathOf(NodeID node) {
    if (!known(node)) return std::string();
    if (node == kRootID) return "/";
    std::vector<NodeID> chain;
    for (NodeID n = node; n != kRootID; n = gNodes[n].parent) {
        if (n == kNoNode || chain.size() > gNodes.size()) return std::string();
        chain.push_back(n);
    }
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        path += '/';
        path += nameView(gNodes[*it]);
    }
    return path;
}

std::size_t memoryUse() {
    ensureRoot();
    return gNodes.capacity() * sizeof(Node) + gNames.capacity() +
           gSlots.capacity() * sizeof(NodeID);
}

std::size_t nodeCount() {
    ensureRoot();
    return gNodes.size() - kRootID;
}

bool isFolder(const struct statx& sx) {
    return S_ISDIR(sx.stx_mode);
}
bool isRegular(const struct statx& sx) {
    return S_ISREG(sx.stx_mode);
}

OSErr statEntry(int dirfd, const char* name, struct statx* sx, Identity* identity) {
    struct statx local {};
    if (!sx) sx = &local;
    if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_BASIC_STATS | STATX_BTIME,
                sx) != 0)
        return errnoToOSErr(errno);
    if (identity) *identity = identityOf(*sx);
    return noErr;
}

Identity identityOf(const struct statx& sx) {
    Identity identity;
    identity.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    identity.ino = sx.stx_ino;
    identity.hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
    identity.birthSec = identity.hasBirth ? sx.stx_btime.tv_sec : 0;
    identity.birthNsec = identity.hasBirth ? sx.stx_btime.tv_nsec : 0;
    return identity;
}

void makeRef(NodeID node, const Identity& identity, FSRef* ref) {
    RefData d{kRefMagic,
              node,
              identity.dev,
              identity.ino,
              identity.birthSec,
              identity.birthNsec,
              identity.hasBirth ? 1u : 0u};
    std::memset(ref, 0, sizeof *ref);
    std::memcpy(ref->hidden, &d, sizeof d);
}

bool readRef(const FSRef* ref, NodeID* node, Identity* identity) {
    if (!ref) return false;
    RefData d;
    std::memcpy(&d, ref->hidden, sizeof d);
    if (d.magic != kRefMagic || !known(d.node)) return false;
    *node = d.node;
    identity->dev = d.dev;
    identity->ino = d.ino;
    identity->birthSec = d.birthSec;
    identity->birthNsec = d.birthNsec;
    identity->hasBirth = d.hasBirth != 0;
    return true;
}

OSErr locateNode(NodeID node, const Identity* expected, Located* out) {
    if (!known(node)) return fnfErr;
    out->node = node;
    OSErr err;
    if (node == kRootID) {
        out->name.assign(1, '.');
        err = openFolder(kRootID, &out->folder);
    } else {
        out->name = nameOf(node);
        err = openFolder(gNodes[node].parent, &out->folder);
    }
    if (err != noErr) return err;
    err = statEntry(out->folder.get(), out->name.c_str(), &out->sx, nullptr);
    if (err == dirNFErr) err = fnfErr;
    if (err != noErr) return err;
    if (expected) {
        Identity now = identityOf(out->sx);
        bool same = now.dev == expected->dev && now.ino == expected->ino;
        if (same && now.hasBirth && expected->hasBirth)
            same = now.birthSec == expected->birthSec && now.birthNsec == expected->birthNsec;
        if (!same) return fnfErr;
    }
    return noErr;
}

OSErr locate(const FSRef* ref, Located* out) {
    NodeID node;
    Identity identity;
    if (!ref || !readRef(ref, &node, &identity)) return paramErr;
    return locateNode(node, &identity, out);
}

OSErr openLocatedFolder(const Located& located, CDirFd* folder) {
    if (!isFolder(located.sx)) return errFSNotAFolder;
    CDirFd fd(::openat(located.folder.get(), located.name.c_str(),
                       O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return folderError(errno);
    struct statx sx {};
    if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_INO, &sx) != 0) return errnoToOSErr(errno);
    if (sx.stx_ino != located.sx.stx_ino) return fnfErr;
    *folder = std::move(fd);
    return noErr;
}

OSErr openParentFolder(const FSRef* ref, Located* parent, CDirFd* folder) {
    OSErr err = locate(ref, parent);
    if (err == noErr) err = openLocatedFolder(*parent, folder);
    return err == errFSNotAFolder ? OSErr(dirNFErr) : err;
}

void makeSpec(NodeID node, FSVolumeRefNum volume, FSSpec* spec) {
    std::memset(spec, 0, sizeof *spec);
    spec->vRefNum = volume;
    if (node == kRootID || !known(node)) {
        spec->parID = SInt32(kRootParentID);
        spec->name[0] = 1;
        spec->name[1] = '/';
        return;
    }
    spec->parID = SInt32(gNodes[node].parent);
    std::string name(nameView(gNodes[node]));
    if (name.size() > 63) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "#%X", unsigned(node));
        std::size_t keep = 63 - std::strlen(suffix);
        // Never cut inside a UTF-8 sequence.
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name = name.substr(0, keep) + suffix;
    }
    spec->name[0] = UInt8(name.size());
    std::memcpy(spec->name + 1, name.data(), name.size());
}

NodeID nodeOfCutName(NodeID parent, std::string_view name) {
    std::size_t hash = name.rfind('#');
    if (hash == std::string_view::npos || hash + 1 >= name.size()) return kNoNode;
    NodeID node = 0;
    for (char c : name.substr(hash + 1)) {
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (digit < 0 || node > 0x0FFFFFFF) return kNoNode;
        node = node * 16 + NodeID(digit);
    }
    if (!known(node) || gNodes[node].parent != parent) return kNoNode;
    std::string_view full = nameView(gNodes[node]);
    if (full.size() <= 63 || full.substr(0, hash) != name.substr(0, hash)) return kNoNode;
    return node;
}

FSVolumeRefNum volumeRefNum(UInt64 dev) {
    for (std::size_t i = 0; i < gVolumes.size(); ++i)
        if (gVolumes[i] == dev) return FSVolumeRefNum(-SInt32(i) - 1);
    if (gVolumes.size() >= 32767) return 0;
    gVolumes.push_back(dev);
    return FSVolumeRefNum(-SInt32(gVolumes.size()));
}

OSErr lastError() {
    return errnoToOSErr(errno);
}

}  // namespace pathnodes
