#include "testkit/Mounts.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {

// Moves the process into a mount namespace of its own whose mounts do not
// propagate back, or says why it could not.
std::string enterPrivateNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("making / private: ") + std::strerror(errno);
    return "";
}

// Done before main, while the process has one thread: the File Manager keeps
// "/" open for the whole process, and a descriptor opened before the move
// would never see the mounts made after it.
const std::string gNamespaceError = enterPrivateNamespace();

}  // namespace

TmpfsMount::TmpfsMount(const std::string& at, const char* options)
    : at_(at), error_(gNamespaceError) {
    if (!error_.empty()) return;
    ok_ = ::mount("brackwater-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0;
    if (!ok_) error_ = std::string("mount: ") + std::strerror(errno);
}

TmpfsMount::~TmpfsMount() {
    if (ok_) ::umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace testsupport
