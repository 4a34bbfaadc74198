#include "platform/cf/CFBundle.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string gOverride;

bool isDirectory(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string executableDirectory() {
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/'));
}

std::string searchResources() {
    if (!gOverride.empty()) return isDirectory(gOverride) ? gOverride : std::string();
    const std::string exe = executableDirectory();
    const std::string candidates[] = {exe.empty() ? "" : exe + "/resources",
                                      exe.empty() ? "" : exe + "/../share/brackwater",
                                      BRACKWATER_INSTALLED_DATA, BRACKWATER_SOURCE_RESOURCES};
    for (const auto& c : candidates)
        if (isDirectory(c + "/main")) return c;
    return {};
}

std::string utf8(CFStringRef s) {
    if (!s) return {};
    CFIndex size =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(s), kCFStringEncodingUTF8) + 1;
    std::string out(size_t(size), '\0');
    if (!CFStringGetCString(s, out.data(), size, kCFStringEncodingUTF8)) return {};
    out.resize(std::strlen(out.c_str()));
    return out;
}

CFURLRef fileURL(const std::string& path, bool directory) {
    return CFURLCreateFromFileSystemRepresentation(kCFAllocatorDefault,
                                                   reinterpret_cast<const UInt8*>(path.data()),
                                                   CFIndex(path.size()), directory);
}

CFTypeID bundleTypeID() {
    static const CFTypeID id = CFRuntimeRegisterType("CFBundle");
    return id;
}

}  // namespace

struct OpaqueCFBundle : CFRuntimeBase {
    OpaqueCFBundle() : CFRuntimeBase(bundleTypeID(), true) {}
    std::string resources;
};

void SetMainBundleResourcesDirectory(const std::string& path) {
    gOverride = path;
}

std::string MainBundleResourcesDirectory() {
    return searchResources();
}

CFBundleRef CFBundleGetMainBundle() {
    // One immortal object, re-aimed when the resources folder changes.
    static OpaqueCFBundle bundle;
    bundle.resources = searchResources();
    return bundle.resources.empty() ? nullptr : &bundle;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    if (!bundle || !resourceName) return nullptr;
    const std::string name = utf8(resourceName);
    const std::string type = utf8(resourceType);
    const std::string sub = utf8(subDirName);
    if (name.empty() || name.find('/') != std::string::npos ||
        type.find('/') != std::string::npos || sub.find("..") != std::string::npos)
        return nullptr;
    std::string path = bundle->resources;
    if (!sub.empty()) path += "/" + sub;
    path += "/" + name;
    if (!type.empty()) path += "." + type;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return nullptr;
    return fileURL(path, S_ISDIR(st.st_mode));
}

Boolean CFURLGetFSRef(CFURLRef url, FSRef* fsRef) {
    if (!url || !fsRef) return false;
    std::string path(PATH_MAX + 1, '\0');
    if (!CFURLGetFileSystemRepresentation(url, true, reinterpret_cast<UInt8*>(path.data()),
                                          CFIndex(path.size())))
        return false;
    return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), fsRef, nullptr) == noErr;
}
