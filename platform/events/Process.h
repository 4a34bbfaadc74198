// The end of the process: ExitToShell ends it at once with status 0, from any
// callback. Tests replace the ending with a hook that records it and returns.
#pragma once

using ExitToShellHook = void (*)();

void ExitToShell();
// Null restores the real ending.
void SetExitToShellHook(ExitToShellHook hook);
// Work that must be done before the process ends (removing a socket file, say);
// run by the real ending in the order registered.
void RunAtExitToShell(void (*cleanup)());
