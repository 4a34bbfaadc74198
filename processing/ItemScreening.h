// Screening of a run's items before any of them is handled: an item that is
// part of another file (its AppleDouble sidecar, or netatalk's folder of forks)
// is never handled as a file of its own, and every file is handled once per
// run however often it was named, by itself or through a folder.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/files/Files.h"

enum class ItemVerdict {
    Handle,     // handled as a file, or walked as a folder
    Companion,  // part of another file: left alone
    Repeated,   // named before in the same run
    Inside,     // inside a folder of the same run, whose walk handles it
};

struct CScreenedItem {
    FSRef ref{};
    bool isFolder = false;
    ItemVerdict verdict = ItemVerdict::Handle;
    // For Repeated, the item named first; for Inside, the folder item whose
    // walk takes it in.
    std::size_t other = 0;
};

// Gives every item its verdict; the items keep their order. An item whose
// object cannot be looked at is handled, so that its own failure is met and
// reported where it is processed.
void ScreenItems(std::vector<CScreenedItem>* items);
