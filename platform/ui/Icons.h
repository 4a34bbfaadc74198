// Icon Services: icon family files registered under a creator and a type code.
// Registering the application's own icon (type 'APPL') sets the icon that the
// application's windows show.
#pragma once

#include "platform/base/MacTypes.h"
#include "platform/files/Files.h"

struct OpaqueIconRef;
using IconRef = OpaqueIconRef*;

enum : OSErr { invalidIconRefErr = -2580, noSuchIconErr = -2582 };
enum : OSType { kApplicationIconType = FOUR_CHAR_CODE("APPL") };

// Reads the icon family in the file (any format Qt's image plugins read, .icns
// included); noSuchIconErr when the file holds no readable image. Registering
// the same creator and type again replaces the earlier icon.
OSErr RegisterIconRefFromFSRef(OSType creator, OSType iconType, const FSRef* iconFile,
                               IconRef* theIconRef);
// Registers the icon `name` of the hicolor icon theme (freedesktop.org) found
// in `extraFolder` (an icons folder, may be null), every size there, so that
// an icon installed under any prefix is found; else the one the desktop's
// icon theme gives. noSuchIconErr when neither has it.
OSErr RegisterIconRefFromThemeName(OSType creator, OSType iconType, const char* name,
                                   const char* extraFolder, IconRef* theIconRef);
OSErr UnregisterIconRef(OSType creator, OSType iconType);
// The registered icon for creator and type, or null.
IconRef FindRegisteredIcon(OSType creator, OSType iconType);
// Number of image sizes the icon family holds (0 for a null reference).
int IconRefSizeCount(IconRef icon);
