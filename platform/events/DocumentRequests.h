// Open-documents requests from outside the application: the paths or file URLs
// given at launch (the desktop entry runs "brackwater %F") become one 'odoc'
// event with a list of 'furl' items, and a later launch hands its documents to
// the running instance over a per-user local socket instead of starting again.
#pragma once

#include <string>
#include <vector>

#include "platform/base/MacTypes.h"

// The documents among the arguments (argv[0] left out), taken as raw bytes:
// paths, made absolute against the current folder, and "file:" URLs. Arguments
// that name nothing are reported on standard error and left out.
std::vector<std::string> DocumentPathsFromArguments(int argc, char** argv);

// The socket's name: $XDG_RUNTIME_DIR/brackwater.socket, or a name with the
// user's id in the temporary folder when there is no runtime folder.
std::string DocumentServerName();

enum class LaunchRole {
    Primary,      // this instance runs and now listens for later launches
    HandedOver,   // a running instance took the documents: this one ends
    Unreachable,  // a running instance answers but did not take them
};
// Hands the paths to a running instance, or becomes the instance that listens
// (taking over a socket left by a killed instance).
LaunchRole ClaimDocumentServer(const std::vector<std::string>& paths);
// Stops listening and removes the socket.
void CloseDocumentServer();

// Sends one 'odoc' event to the application itself, its direct object a list
// of 'furl' items, one per path in order. Nothing is sent for no paths.
OSErr SendOpenDocumentsToSelf(const std::vector<std::string>& paths);
// The file URL of an absolute path, every byte outside the safe set
// percent-encoded (so names that are not UTF-8 travel unchanged).
std::string FileURLFromPath(const std::string& path);
