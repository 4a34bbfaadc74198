// Runs the batch mode in the test's own process, as the binary would with
// these arguments, and gives back its exit status and what it wrote; and
// builds the trees such runs are given from a one-line description.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class TempTree;

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

// Makes each entry of `spec` in `tree`: "name=text" a file, "name|" a FIFO,
// "name>other" another name of the file `other`, "name~target" a symbolic
// link, "name@file" a copy of a file of the test corpus, a name alone a folder.
void makeTree(TempTree& tree, const std::vector<std::string>& spec);

// The lines of a report.
std::vector<std::string> lines(const std::string& text);

}  // namespace testsupport
