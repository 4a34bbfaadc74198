#include "support/BundleResources.h"

#include <cctype>
#include <string>

#include "platform/cf/CFBundle.h"
#include "platform/cf/CoreFoundation.h"

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
    if (MakeFSRefForBundleResource(name, "icns", ref))
        return RegisterIconRefFromFSRef(kBrackwaterCreator, iconType, &ref, &outIcon);
    // Installed on Linux, the icon is the desktop's: the hicolor theme's
    // sizes, under the name in lower case, beside the data folder
    // (<prefix>/share/icons next to <prefix>/share/brackwater) or wherever
    // the desktop's theme finds it.
    std::string theme = name ? name : "";
    for (char& c : theme) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string resources = MainBundleResourcesDirectory();
    const std::string icons = resources.empty() ? std::string() : resources + "/../icons";
    if (RegisterIconRefFromThemeName(kBrackwaterCreator, iconType, theme.c_str(), icons.c_str(),
                                     &outIcon) == noErr)
        return noErr;
    return fnfErr;
}
