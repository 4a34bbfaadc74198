// Runs a piece of test code in a child process that has dropped root for the
// "nobody" user, so permission checks apply even when the tests run as root.
#pragma once

#include <functional>

namespace testsupport {

// The child's return value (an OSErr or any int), or a value below -100000
// when the child could not drop privileges, crashed or hung.
int runAsNobody(const std::function<int()>& body);

}  // namespace testsupport
