// The requests that end a processing run early: Stop (the window's button or
// Escape) and Quit. The command handler sets them; the run and the folder walk
// read them between items, so a run ends at an item's boundary, never inside
// one.
#pragma once

struct RunRequests {
    bool stop = false;  // set by Stop, cleared as a run starts
    bool quit = false;  // set by Quit, never cleared

    // Whether the run in progress should end now.
    bool any() const { return stop || quit; }
};

extern RunRequests gRunRequests;
