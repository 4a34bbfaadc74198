// The batch mode: the same fork operations as a run in the window, without a
// window or a display, for scripts, servers and file-manager actions. It
// expands folders with the window's walker, asks once on a terminal (or takes
// --yes), reports every changed file and every failure, and ends with a
// summary and an exit status. --info inspects files without changing them.
#pragma once

#include <csignal>
#include <cstdio>

#include "settings/Settings.h"
#include "shell/batch/BatchOptions.h"

// Set by SIGINT, SIGTERM and SIGHUP: the file in hand is finished, then the
// run stops.
extern volatile std::sig_atomic_t gBatchInterrupted;

// Where a batch run reads its answer and writes its reports.
struct CBatchIO {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool inputIsTerminal = false;  // may ask for confirmation
    bool errIsTerminal = false;    // shows "n of N" on one updating line
};

enum : int {
    kBatchSuccess = 0,
    kBatchFailure = 1,
    kBatchUsage = 2,
    kBatchInterrupted = 130,
};

// Carries out parsed options; returns the exit status.
int RunBatch(const CBatchOptions& options, const CBatchIO& io);

// The whole batch mode from main(): parses argv (bad usage: a message and 2),
// installs the signal handlers and runs with the process's standard streams.
// Creates no application object: it runs where there is no display at all.
int RunBatchMode(int argc, char* argv[]);
