#include "testkit/Faults.h"

#include <dirent.h>

namespace testsupport {

const std::set<sysio::Call> kAttributeCalls = {sysio::Call::GetXattr, sysio::Call::SetXattr,
                                               sysio::Call::RemoveXattr};

namespace {
std::set<sysio::Call> gKinds;
int gErrno = 0, gNth = 0, gCalls = 0;
bool gHit = false;
sysio::Call gFailed = sysio::Call::Open;

int inject(sysio::Call call) {
    if (!gKinds.empty() && !gKinds.count(call)) return 0;
    ++gCalls;
    if (gNth != 0 && gCalls != gNth) return 0;
    gHit = true;
    gFailed = call;
    return gErrno;
}
}  // namespace

InjectedFault::InjectedFault(std::set<sysio::Call> calls, int err, int nth) {
    gKinds = std::move(calls);
    gErrno = err;
    gNth = nth;
    gCalls = 0;
    gHit = false;
    sysio::setFaultHook(inject);
}

InjectedFault::~InjectedFault() {
    sysio::setFaultHook(nullptr);
}

bool InjectedFault::hit() const {
    return gHit;
}

sysio::Call InjectedFault::failedCall() const {
    return gFailed;
}

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n;
}

}  // namespace testsupport
