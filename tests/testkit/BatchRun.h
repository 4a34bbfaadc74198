// Runs the batch mode in the test's own process, as the binary would with
// these arguments, and gives back its exit status and what it wrote.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

struct BatchResult {
    int status = -1;
    std::string out;
    std::string err;
};

// `args` without the program's name; `answer` is stdin, read as if it were
// (or were not) a terminal; `interrupted` runs as if Ctrl-C had come before
// the first file. Bad usage gives status 2 and the reason in err.
BatchResult runBatch(std::vector<std::string> args, bool terminal = false,
                     const std::string& answer = "", bool interrupted = false);

// The lines of a report.
std::vector<std::string> lines(const std::string& text);

}  // namespace testsupport
