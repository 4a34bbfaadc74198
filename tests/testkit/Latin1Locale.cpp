#include "testkit/Latin1Locale.h"

#include <cctype>
#include <clocale>
#include <cstdlib>

namespace testsupport {

namespace {

const char* const kLocaleName = "de_DE.ISO-8859-1";

// The C library's tolower in the locale now in force, called through a
// volatile pointer: the compiler may otherwise fold tolower of a constant as
// if the locale could not change.
int libcToLower(int c) {
    int (*volatile lower)(int) = &::tolower;
    return lower(c);
}

}  // namespace

ScopedLatin1Locale::ScopedLatin1Locale() {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    previous_ = current ? current : "C";
    if (const char* locpath = std::getenv("LOCPATH")) {
        hadLocpath_ = true;
        previousLocpath_ = locpath;
    }
    std::string command =
        "localedef -i de_DE -f ISO-8859-1 '" + tree_.path(kLocaleName) + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
    setenv("LOCPATH", tree_.root().c_str(), 1);
    if (!std::setlocale(LC_CTYPE, kLocaleName)) return;
    active_ = libcToLower(0xC4) == 0xE4;
}

ScopedLatin1Locale::~ScopedLatin1Locale() {
    std::setlocale(LC_CTYPE, previous_.c_str());
    if (hadLocpath_)
        setenv("LOCPATH", previousLocpath_.c_str(), 1);
    else
        unsetenv("LOCPATH");
}

}  // namespace testsupport
