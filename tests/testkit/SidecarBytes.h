// Builds AppleDouble "._name" sidecars byte by byte for tests, in the shape
// macOS and Samba write (Finder info at 50, resource fork last), so File
// Manager tests do not depend on the writer they check.
#pragma once

#include <string>

#include "testkit/TempTree.h"

namespace testsupport {

// 32 bytes of Finder info starting with type and creator.
Bytes finderInfo(const std::string& type, const std::string& creator);
// A sidecar with Finder info (32 bytes) and a resource fork.
Bytes sidecar(const Bytes& finderInfo32, const Bytes& resourceFork);
// The resource fork held by the sidecar shape above (no validation).
Bytes resourceForkOf(const Bytes& sidecarBytes);

}  // namespace testsupport
