// The sidecar shape macOS and Samba write (Finder info at 50, resource fork
// last), built and read back byte by byte, so File Manager tests check the
// fork store against bytes they made themselves.
#pragma once

#include "testkit/Sidecars.h"

namespace testsupport {

// A sidecar with 32 bytes of Finder info and a resource fork.
Bytes sidecar(const Bytes& finderInfo32, const Bytes& resourceFork);
// The resource fork entry of a sidecar, read from its descriptors without
// validation; empty when there is none.
Bytes resourceForkOf(const Bytes& sidecarBytes);

}  // namespace testsupport
