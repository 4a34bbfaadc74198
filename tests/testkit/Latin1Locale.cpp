#include "testkit/Latin1Locale.h"

#include <cctype>
#include <clocale>
#include <cstdlib>

namespace testsupport {

ScopedLatin1Locale::ScopedLatin1Locale() {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    previous_ = current ? current : "C";
    const char* const name = "de_DE.ISO-8859-1";
    const std::string command =
        "localedef -i de_DE -f ISO-8859-1 '" + tree_.path(name) + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    // setlocale loads the locale from LOCPATH there and then; the caller's
    // LOCPATH comes back right after.
    const char* locpath = std::getenv("LOCPATH");
    const std::string savedLocpath = locpath ? locpath : "";
    setenv("LOCPATH", tree_.root().c_str(), 1);
    // tolower through a volatile pointer: the compiler may otherwise fold
    // tolower of a constant as if the locale could not change.
    int (*volatile lower)(int) = &::tolower;
    active_ = std::setlocale(LC_CTYPE, name) && lower(0xC4) == 0xE4;
    if (locpath)
        setenv("LOCPATH", savedLocpath.c_str(), 1);
    else
        unsetenv("LOCPATH");
}

ScopedLatin1Locale::~ScopedLatin1Locale() {
    std::setlocale(LC_CTYPE, previous_.c_str());
}

}  // namespace testsupport
