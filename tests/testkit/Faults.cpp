#include "testkit/Faults.h"

#include <filesystem>
#include <iterator>

namespace testsupport {

const std::set<sysio::Call> kAttributeCalls = {sysio::Call::GetXattr, sysio::Call::SetXattr,
                                               sysio::Call::RemoveXattr};

namespace {
struct {
    std::set<sysio::Call> kinds;
    int err = 0, nth = 0, calls = 0;
    bool hit = false;
    sysio::Call failed = sysio::Call::Open;
} gFault;

int inject(sysio::Call call) {
    if (!gFault.kinds.empty() && !gFault.kinds.count(call)) return 0;
    if (gFault.nth != 0 && ++gFault.calls != gFault.nth) return 0;
    gFault.hit = true;
    gFault.failed = call;
    return gFault.err;
}
}  // namespace

InjectedFault::InjectedFault(std::set<sysio::Call> calls, int err, int nth) {
    gFault = {std::move(calls), err, nth, 0, false, sysio::Call::Open};
    sysio::setFaultHook(inject);
}

InjectedFault::~InjectedFault() {
    sysio::setFaultHook(nullptr);
}

bool InjectedFault::hit() const {
    return gFault.hit;
}

sysio::Call InjectedFault::failedCall() const {
    return gFault.failed;
}

int openDescriptorCount() {
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return int(std::distance(begin(fds), end(fds)));
}

}  // namespace testsupport
