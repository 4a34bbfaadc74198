// The folder kept open below the File Manager: the last folder a call opened,
// handed out again to the next call in it while inotify watches on it and on
// every folder above it show that it is still what its path designates; the
// holds that let the calls on one file share one look at it; and the folder
// descriptors that share it.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files/FileErrors.h"
#include "platform/files/linux/PathNodes.h"

namespace pathnodes {

namespace {

bool gHaveOpenat2 = true;

// Opens `relative` below `dirfd` refusing every symbolic link on the way.
int openNoLinks(int dirfd, const std::string& relative) {
    bool& haveOpenat2 = gHaveOpenat2;
    if (haveOpenat2) {
        open_how how{};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        int fd = int(::syscall(SYS_openat2, dirfd, relative.c_str(), &how, sizeof how));
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
        haveOpenat2 = false;
    }
    // Without openat2: one component at a time, each refused when it is a link.
    int fd = ::fcntl(dirfd, F_DUPFD_CLOEXEC, 0);
    std::size_t start = 0;
    while (fd >= 0 && start < relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(start, end - start);
        int next = ::openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int saved = errno;
        ::close(fd);
        errno = saved;
        fd = next;
        start = end + 1;
    }
    return fd;
}

}  // namespace

void setUseOpenat2(bool use) {
    gHaveOpenat2 = use;
}

struct CDirFd::Shared {
    int fd = -1;
    int holders = 0;
    bool kept = true;  // false once the table keeps another folder
};

CDirFd::CDirFd(Shared* shared) : fd_(shared->fd), shared_(shared) {
    ++shared->holders;
}

void CDirFd::reset() {
    if (shared_) {
        if (--shared_->holders == 0 && !shared_->kept) {
            ::close(shared_->fd);
            delete shared_;
        }
    } else if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    shared_ = nullptr;
}

CDirFd::~CDirFd() {
    reset();
}

CDirFd& CDirFd::operator=(CDirFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.fd_;
        shared_ = other.shared_;
        other.fd_ = -1;
        other.shared_ = nullptr;
    }
    return *this;
}

namespace {

// The folder kept open (see openFolder) and what tells when it must not be
// handed out any more.
struct KeptFolder {
    NodeID node = kNoNode;
    CDirFd::Shared* shared = nullptr;
    bool readable = false;
    // Its device and inode, looked at when first needed (known false till then).
    bool known = false;
    UInt64 dev = 0;
    UInt64 ino = 0;
    UInt64 serial = 0;
    int watch = -1;        // its own watch
    int parentWatch = -1;  // its parent's, for a folder put in its place
    std::string name;
};
KeptFolder gKept;
UInt64 gLastSerial = 0;
// The holds in force, and the kept folder checked since the first began (its
// serial; 0 for none).
int gHolds = 0;
UInt64 gHeldSerial = 0;
UInt64 gHoldSerial = 0;  // the outermost hold's number, 0 outside one
UInt64 gLastHoldSerial = 0;
// The look a folder listing took at the entry it handed out last, and the
// folder it listed (see noteListedLook).
struct ListedLook {
    NodeID node = kNoNode;
    struct statx sx {};
    UInt64 folderDev = 0;
    UInt64 folderIno = 0;
    UInt64 holdsBefore = 0;  // holds begun before the look
};
ListedLook gListed;

// The watches on the kept folders and the folders above them, by node. A
// watch stays while nothing moves: most calls of a walk need none added.
int gWatchFd = -1;
struct Watch {
    int wd;
    std::uint32_t mask;
};
std::unordered_map<NodeID, Watch> gWatches;
constexpr std::size_t kMaxWatches = 4096;
// A folder or anything above it moved or went: every watch starts again.
constexpr std::uint32_t kSelfEvents = IN_MOVE_SELF | IN_DELETE_SELF;
// Entries of a folder that came, went or moved: a folder in place of the kept
// one, or a folder added to or removed from it.
constexpr std::uint32_t kEntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

void dropKept() {
    if (gKept.shared) {
        gKept.shared->kept = false;
        if (gKept.shared->holders == 0) {
            ::close(gKept.shared->fd);
            delete gKept.shared;
        }
    }
    gKept = KeptFolder();
}

void dropWatches() {
    dropKept();
    if (gWatchFd >= 0) ::close(gWatchFd);  // removes every watch at once
    gWatchFd = -1;
    gWatches.clear();
}

// Reads what happened to the watched folders since the last look. Returns
// false when a watch or the candidate (a folder with its watch, its parent's
// watch and its name) may no longer stand for what its path designates; the
// kept folder is dropped when it is affected, every watch when one of the
// watched folders itself moved or went.
bool nothingMoved(int watch, int parentWatch, std::string_view name) {
    if (gWatchFd < 0) return false;
    // Off the stack: a File Manager call may run on a small one (a walk on a
    // thread of its own), and the table is not shared between threads anyway.
    alignas(inotify_event) static char buffer[4096];
    bool still = true;
    bool closedKept = false;
    for (;;) {
        const ssize_t got = ::read(gWatchFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) break;
        if (got <= 0) {
            dropWatches();
            return false;
        }
        bool everything = false;
        for (ssize_t at = 0; at < got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & (kSelfEvents | IN_UNMOUNT | IN_Q_OVERFLOW | IN_IGNORED)) {
                everything = true;
                continue;
            }
            // Files come and go in these folders all the time (sidecars and
            // temporaries among them): only folders count.
            if (!(e->mask & IN_ISDIR)) continue;
            const std::string_view entry(e->len ? e->name : "");
            if (e->wd == gKept.watch || (e->wd == gKept.parentWatch && entry == gKept.name)) {
                dropKept();
                closedKept = true;
            }
            if (e->wd == watch || (e->wd == parentWatch && entry == name)) still = false;
        }
        if (everything) {
            dropWatches();
            return false;
        }
        // A read stops early only when nothing more was waiting: what comes
        // later is for the next look, as if it had come after an empty read.
        // Closing the kept folder is the exception: when it was removed, its
        // removal is final, and reported, only once its last descriptor goes,
        // so the queue is read again for that.
        if (!closedKept && std::size_t(got) + sizeof(inotify_event) + NAME_MAX + 1 <= sizeof buffer)
            break;
    }
    return still;
}

// Watches a folder and every folder above it (but "/"), from the top down,
// so that whatever moves after its watch is added is seen. The folder itself
// and its parent also report their entries. False when a watch cannot be had.
bool watchChain(const std::vector<NodeID>& chain, int* watch, int* parentWatch) {
    // Refused once for want of watches or instances: trying again at every
    // call would cost more than keeping saves.
    static bool refused = false;
    if (refused) return false;
    if (gWatches.size() + chain.size() > kMaxWatches) dropWatches();
    if (gWatchFd < 0) gWatchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (gWatchFd < 0) {
        refused = true;
        return false;
    }
    for (std::size_t i = chain.size(); i-- > 0;) {
        const std::uint32_t need = kSelfEvents | (i <= 1 ? kEntryEvents : 0);
        auto found = gWatches.find(chain[i]);
        if (found == gWatches.end() || (found->second.mask & need) != need) {
            const std::uint32_t mask = need | (found != gWatches.end() ? found->second.mask : 0);
            const int wd = ::inotify_add_watch(gWatchFd, pathOf(chain[i]).c_str(),
                                               mask | IN_ONLYDIR | IN_DONT_FOLLOW | IN_MASK_ADD);
            if (wd < 0) {
                // Too many watches, a path too long, or something else than
                // a folder there now.
                if (errno == ENOSPC) {
                    dropWatches();
                    refused = true;
                }
                return false;
            }
            found = gWatches.insert_or_assign(chain[i], Watch{wd, mask}).first;
        }
        if (i == 0) *watch = found->second.wd;
        if (i == 1) *parentWatch = found->second.wd;
    }
    return true;
}

}  // namespace

bool canSyncFolder(int fd) {
    return fd >= 0 && gKept.shared && fd == gKept.shared->fd && gKept.readable;
}

UInt64 pinnedFolderSerial(int fd) {
    return fd >= 0 && gKept.shared && fd == gKept.shared->fd ? gKept.serial : 0;
}

void releaseKeptFolder() {
    dropKept();
}

void dropKeptFolderAndWatches() {
    dropWatches();
}

namespace {

// Opens the folder of a chain of nodes (the folder first, the one below "/"
// last) from "/", as O_PATH.
OSErr openChain(const std::vector<NodeID>& chain, CDirFd* folder) {
    // "/" is opened once for the process: every folder of every call is
    // reached from it, and opening and closing it each time cost two system
    // calls per file in a run over many files.
    static int rootFd = -1;
    if (rootFd < 0) rootFd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return errnoToOSErr(errno);
    CDirFd current;
    // Pieces stay well under PATH_MAX so the kernel takes each in one call.
    constexpr std::size_t kPiece = 2048;
    std::string piece;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::string name = nameOf(*it);
        if (!piece.empty()) piece += '/';
        piece += name;
        bool last = std::next(it) == chain.rend();
        if (!last && piece.size() + 1 + nameOf(*std::next(it)).size() < kPiece) continue;
        int fd = openNoLinks(current.get() >= 0 ? current.get() : rootFd, piece);
        if (fd < 0) return folderError(errno);
        current = CDirFd(fd);
        piece.clear();
    }
    *folder = std::move(current);
    return noErr;
}

}  // namespace

OSErr openFolder(NodeID node, CDirFd* folder) {
    // A call outside a hold comes between the listing's look and the work on
    // the file: the look is too old for it.
    if (gHolds == 0) gListed = ListedLook();
    if (!known(node)) return fnfErr;
    std::vector<NodeID> chain;
    for (NodeID n = node; n != kRootID; n = parentOf(n)) {
        if (n == kNoNode || chain.size() > nodeCount() + kRootID) return fnfErr;
        chain.push_back(n);
    }
    if (chain.empty()) {
        CDirFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (root.get() < 0) return errnoToOSErr(errno);
        *folder = std::move(root);
        return noErr;
    }
    const bool heldAndChecked = gHolds > 0 && gHeldSerial != 0 && gHeldSerial == gKept.serial;
    if (node == gKept.node &&
        (heldAndChecked || nothingMoved(gKept.watch, gKept.parentWatch, gKept.name)) &&
        node == gKept.node) {
        if (gHolds > 0) gHeldSerial = gKept.serial;
        *folder = CDirFd(gKept.shared);
        return noErr;
    }
    // Folders right below "/" are not kept: "/" itself is not watched.
    int watch = -1, parentWatch = -1;
    CDirFd opened;
    for (int turn = 0;; ++turn) {
        const bool watched = chain.size() >= 2 && watchChain(chain, &watch, &parentWatch);
        opened = CDirFd();
        OSErr err = openChain(chain, &opened);
        if (err != noErr) return err;
        // Kept only when nothing above it moved since the watches were added,
        // so that the watched folders are the ones the path went through.
        if (watched && nothingMoved(watch, parentWatch, nameOf(node))) break;
        // Every watch starts again when a watched folder went, most often one
        // a call was made in long ago: this folder is watched and opened again
        // once. Otherwise it is not kept this time.
        if (!watched || gWatchFd >= 0 || turn > 0) {
            *folder = std::move(opened);
            return noErr;
        }
    }
    // Opened for reading where the folder allows it, so that syncing it after
    // a change needs no second open; a folder that may only be passed through
    // keeps its O_PATH descriptor.
    int fd = ::openat(opened.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool readable = fd >= 0;
    if (!readable) fd = ::fcntl(opened.get(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        *folder = std::move(opened);
        return noErr;
    }
    dropKept();
    gKept.node = node;
    gKept.shared = new CDirFd::Shared{fd, 0, true};
    gKept.readable = readable;
    gKept.serial = ++gLastSerial;
    gKept.watch = watch;
    gKept.parentWatch = parentWatch;
    gKept.name = nameOf(node);
    if (gHolds > 0) gHeldSerial = gKept.serial;
    *folder = CDirFd(gKept.shared);
    return noErr;
}

void noteListedLook(NodeID node, const struct statx& sx, UInt64 folderDev, UInt64 folderIno) {
    gListed = {node, sx, folderDev, folderIno, gLastHoldSerial};
}

namespace {

// The kept folder's device and inode, looked at once per kept folder; false
// when `folderFd` is not the kept folder or cannot be looked at.
bool knowKeptFolder(int folderFd) {
    if (folderFd < 0 || !gKept.shared || folderFd != gKept.shared->fd) return false;
    if (!gKept.known) {
        struct stat st;
        if (::fstat(folderFd, &st) != 0) return false;
        gKept.known = true;
        gKept.dev = st.st_dev;
        gKept.ino = st.st_ino;
    }
    return true;
}

}  // namespace

void noteLookInKeptFolder(NodeID node, const struct statx& sx, int folderFd) {
    if (gHolds > 0 || node == kNoNode || node == kRootID || !knowKeptFolder(folderFd)) return;
    gListed = {node, sx, gKept.dev, gKept.ino, gLastHoldSerial};
}

bool takeListedLook(NodeID node, int folderFd, struct statx* sx) {
    const ListedLook look = gListed;
    gListed = ListedLook();
    if (look.node == kNoNode || look.node != node || gHoldSerial == 0 ||
        gHoldSerial != look.holdsBefore + 1 || !knowKeptFolder(folderFd))
        return false;
    if (gKept.dev != look.folderDev || gKept.ino != look.folderIno) return false;
    *sx = look.sx;
    return true;
}

void beginFolderHold() {
    if (gHolds++ == 0) gHoldSerial = ++gLastHoldSerial;
}

void endFolderHold() {
    if (gHolds > 0 && --gHolds == 0) gHeldSerial = gHoldSerial = 0;
}

UInt64 folderHoldSerial() {
    return gHoldSerial;
}

}  // namespace pathnodes
