// The three fork operations as the user sees them: the name the command line
// takes, the words the batch mode reports a change with, and the confirmation
// asked before a run (the window's alert and the batch mode's question). One
// table, so a text is written once.
#pragma once

#include <string_view>

#include "processing/ForkOperations.h"

struct OperationTexts {
    functionType function;
    const char* name;          // on the command line: "flip"
    const char* doneVerb;      // the batch mode's line for a changed file: "flipped"
    const char* dryRunVerb;    // the same with --dry-run: "would flip"
    const char* confirmation;  // the stop alert's message, the terminal's question
};

// The operations in the order of their numbers (1, 2, 3).
constexpr OperationTexts kOperationTexts[] = {
    {kFlipDeleteDataFork, "flip", "flipped", "would flip",
     "You are about to \"flip/delete\" the data forks of the selected files."},
    {kDeleteDataFork, "delete-data", "deleted data fork", "would delete data fork",
     "You are about to delete the data forks of the selected files."},
    {kDeleteResourceFork, "delete-resource", "deleted resource fork", "would delete resource fork",
     "You are about to delete the resource forks of the selected files."},
};

// The texts of an operation, or null for a number that names none.
constexpr const OperationTexts* TextsOfOperation(functionType function) {
    for (const OperationTexts& texts : kOperationTexts)
        if (texts.function == function) return &texts;
    return nullptr;
}

// The operation with this command-line name, or null.
constexpr const OperationTexts* OperationNamed(std::string_view name) {
    for (const OperationTexts& texts : kOperationTexts)
        if (name == texts.name) return &texts;
    return nullptr;
}
