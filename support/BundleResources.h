// Files among the application's own bundle resources, and the registration of
// an icon family found there with the icon services under the application's
// creator code.
// Used by the application: GetIconRefForResource and gAppIcon (start-up);
// MakeFSRefForBundleResource serves them and is otherwise the library's own.
#pragma once

#include "platform/files/Files.h"
#include "platform/ui/Icons.h"

enum : OSType { kBrackwaterCreator = FOUR_CHAR_CODE("TvLy") };

// The application icon registered at start-up; kept for the life of the process.
extern IconRef gAppIcon;

// True when outRef now refers to the resource file "name.type" (name in Mac
// Roman, type the extension without its dot) in the bundle's resources folder.
bool MakeFSRefForBundleResource(const char* name, const char* type, FSRef& outRef);
// Registers the icon family "name.icns" under creator 'TvLy' and iconType, or,
// where the bundle has no such file (an installed copy on Linux), the icon
// theme's icon of that name in lower case; the caller owns the reference.
// fnfErr when neither is there.
OSErr GetIconRefForResource(const char* name, OSType iconType, IconRef& outIcon);
