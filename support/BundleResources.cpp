#include "support/BundleResources.h"

#include "platform/CFBundle.h"
#include "platform/CoreFoundation.h"

IconRef gAppIcon = nullptr;

bool MakeFSRefForBundleResource(const char* name, const char* type, FSRef& outRef) {
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (!bundle || !name || !type) return false;
    CFStringRef nameString =
        CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingMacRoman);
    if (!nameString) return false;
    bool found = false;
    CFStringRef typeString =
        CFStringCreateWithCString(kCFAllocatorDefault, type, kCFStringEncodingMacRoman);
    if (typeString) {
        CFURLRef url = CFBundleCopyResourceURL(bundle, nameString, typeString, nullptr);
        if (url) {
            found = CFURLGetFSRef(url, &outRef);
            CFRelease(url);
        }
        CFRelease(typeString);
    }
    CFRelease(nameString);
    return found;
}

OSErr GetIconRefForResource(const char* name, OSType iconType, IconRef& outIcon) {
    FSRef ref;
    if (!MakeFSRefForBundleResource(name, "icns", ref)) return fnfErr;
    return RegisterIconRefFromFSRef(kBrackwaterCreator, iconType, &ref, &outIcon);
}
