// Command line of the batch mode: which arguments make an invocation a batch
// run rather than a window, the parsed options, and the help and version texts.
#pragma once

#include <string>
#include <vector>

#include "processing/ForkOperations.h"

enum class BatchCommand { Operation, Info, Help, Version };

struct CBatchOptions {
    BatchCommand command = BatchCommand::Help;
    functionType function = kFlipDeleteDataFork;  // with BatchCommand::Operation
    bool dryRun = false;
    bool yes = false;
    bool json = false;
    std::vector<std::string> paths;
};

// True when argv asks for the batch mode: an option of the batch mode before
// any "--", or any other long option that is not one of Qt's own. Plain paths
// (what a launcher or a file manager passes) open the window.
bool IsBatchInvocation(int argc, const char* const* argv);

// Whether a window can be opened: a display (DISPLAY or WAYLAND_DISPLAY) is
// set, or QT_QPA_PLATFORM names a platform that needs none (offscreen,
// minimal, a frame buffer). Without one, Qt would abort the process.
bool WindowPlatformAvailable(const char* display, const char* waylandDisplay,
                             const char* qpaPlatform);
// The line shown, with exit status 2, when a window was asked for where none
// can open.
const char* NoDisplayMessage();

// Parses argv. False with a one-line reason in *error on bad usage.
bool ParseBatchOptions(int argc, const char* const* argv, CBatchOptions* options,
                       std::string* error);

// The operation's name on the command line ("flip", "delete-data",
// "delete-resource"), and back; false for an unknown name.
const char* OperationName(functionType function);
bool OperationFromName(const std::string& name, functionType* function);

const char* BatchHelpText();
