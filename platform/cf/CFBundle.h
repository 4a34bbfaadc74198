// The application's main bundle and the way from a file URL to an FSRef. The
// main bundle's resources directory is resources/ beside the binary in a build
// tree, or the installed data folder (share/brackwater).
#pragma once

#include <string>

#include "platform/cf/CoreFoundation.h"
#include "platform/files/Files.h"

struct OpaqueCFBundle;
using CFBundleRef = OpaqueCFBundle*;

// Borrowed; null when no resources directory can be found.
CFBundleRef CFBundleGetMainBundle();
// The file "name.type" (or "name" when type is null or empty) in the resources
// directory, or in its subdirectory subDirName; null when there is no such file.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName);
// True when the URL is a file URL naming an existing object.
Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef);

// Where the main bundle's resources are looked for, in this order: resources/
// beside the executable, ../share/brackwater from it, the installed data folder,
// the source tree's resources. Tools and tests may name another folder (an empty
// path restores the search); the main bundle then describes that folder.
void SetMainBundleResourcesDirectory(const std::string& path);
std::string MainBundleResourcesDirectory();
