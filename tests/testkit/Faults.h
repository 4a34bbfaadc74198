// Failures injected at the system-call seam for tests: the calls of some kinds
// fail with an errno, every time or only the Nth, until the object ends. And
// the count of open descriptors, to show that a failure leaked none.
#pragma once

#include <set>

#include "platform/files/linux/SysIO.h"

namespace testsupport {

// What a file system without user attributes refuses, with EOPNOTSUPP.
extern const std::set<sysio::Call> kAttributeCalls;

class InjectedFault {
public:
    // `calls` empty: every kind. `nth` 0: every such call fails; else only the
    // nth of them, counting from 1.
    InjectedFault(std::set<sysio::Call> calls, int err, int nth = 0);
    ~InjectedFault();
    InjectedFault(const InjectedFault&) = delete;
    InjectedFault& operator=(const InjectedFault&) = delete;
    // Whether a call failed.
    bool hit() const;
    // The kind of the last call that failed (meaningful once hit()).
    sysio::Call failedCall() const;
};

// The number of descriptors this process has open.
int openDescriptorCount();

}  // namespace testsupport
