// Switches the C library's character classes to a Latin-1 locale for the
// lifetime of the object, as a desktop session's locale can, so tests can show
// that code does not depend on the process locale. The locale is compiled
// into a temporary folder with localedef; active() is false when that fails.
// Not copyable (it owns that folder).
#pragma once

#include <string>

#include "testkit/TempTree.h"

namespace testsupport {

class ScopedLatin1Locale {
public:
    ScopedLatin1Locale();
    ~ScopedLatin1Locale();

    // True when the locale is in force: tolower(0xC4) is 0xE4 there.
    bool active() const { return active_; }

private:
    TempTree tree_;
    std::string previous_;
    bool active_ = false;
};

}  // namespace testsupport
