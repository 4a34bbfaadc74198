#include "testkit/BatchRun.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "shell/batch/BatchMode.h"
#include "testkit/Sidecars.h"
#include "testkit/TempTree.h"

namespace testsupport {

namespace {
std::string slurp(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += char(c);
    std::fclose(f);
    return text;
}
}  // namespace

BatchResult runBatch(std::vector<std::string> args, bool terminal, const std::string& answer,
                     bool interrupted) {
    args.insert(args.begin(), "brackwater");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    BatchResult r;
    CBatchOptions options;
    if (!ParseBatchOptions(int(argv.size()), argv.data(), &options, &r.err)) {
        r.status = kBatchUsage;
        return r;
    }
    CBatchIO io;
    io.in = std::tmpfile();
    io.out = std::tmpfile();
    io.err = std::tmpfile();
    std::fputs(answer.c_str(), io.in);
    std::rewind(io.in);
    io.inputIsTerminal = terminal;
    gBatchInterrupted = interrupted;
    r.status = RunBatch(options, io);
    gBatchInterrupted = 0;
    std::fclose(io.in);
    r.out = slurp(io.out);
    r.err = slurp(io.err);
    return r;
}

void makeTree(TempTree& tree, const std::vector<std::string>& spec) {
    for (const std::string& entry : spec) {
        const auto at = entry.find_first_of("=|>~@");
        if (at == std::string::npos) {
            tree.mkdir(entry);
            continue;
        }
        const std::string name = tree.path(entry.substr(0, at)), rest = entry.substr(at + 1);
        const char kind = entry[at];
        if (kind == '=' || kind == '@')
            writeFile(name, kind == '=' ? bytesOf(rest) : corpusBytes(rest));
        ASSERT_EQ(kind == '|'   ? mkfifo(name.c_str(), 0600)
                  : kind == '>' ? link(tree.path(rest).c_str(), name.c_str())
                  : kind == '~' ? symlink(rest.c_str(), name.c_str())
                                : 0,
                  0)
            << entry;
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

}  // namespace testsupport
