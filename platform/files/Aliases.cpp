#include "platform/files/Aliases.h"

#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/base/BigEndian.h"
#include "platform/base/MacMemory.h"
#include "platform/files/FileErrors.h"

// Record layout, big-endian:
//   0 userType (0)  4 aliasSize (whole record)  6 version (1)  8 'BWal'
//   12 device (64 bits)  20 inode (64 bits)  28 path length (16 bits)  30 path bytes
namespace {

constexpr UInt16 kVersion = 1;
constexpr UInt32 kMagic = FOUR_CHAR_CODE("BWal");
constexpr size_t kHeader = 30;

using bigendian::readU16;
using bigendian::readU32;
using bigendian::readU64;
using bigendian::writeU16;
using bigendian::writeU32;
using bigendian::writeU64;

// The record for the object at ref, into a string of bytes.
OSErr encode(const FSRef* target, std::string& out) {
    if (!target) return paramErr;
    std::string path(PATH_MAX + 1, '\0');
    OSStatus err =
        FSRefMakePath(target, reinterpret_cast<UInt8*>(path.data()), UInt32(path.size()));
    if (err != noErr) return OSErr(err);
    path.resize(std::strlen(path.c_str()));
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errnoToOSErr(errno);
    if (kHeader + path.size() > 0xFFFF) return bdNamErr;
    out.assign(kHeader + path.size(), '\0');
    auto* p = reinterpret_cast<UInt8*>(out.data());
    writeU16(p + 4, UInt16(out.size()));
    writeU16(p + 6, kVersion);
    writeU32(p + 8, kMagic);
    writeU64(p + 12, UInt64(st.st_dev));
    writeU64(p + 20, UInt64(st.st_ino));
    writeU16(p + 28, UInt16(path.size()));
    std::memcpy(p + kHeader, path.data(), path.size());
    return noErr;
}

OSErr refFromSpec(const FSSpec* spec, FSRef* ref) {
    if (!spec) return paramErr;
    return FSpMakeFSRef(spec, ref);
}

OSErr store(const std::string& bytes, AliasHandle alias) {
    Handle h = reinterpret_cast<Handle>(alias);
    OSErr err = SetHandleSize(h, Size(bytes.size()));
    if (err != noErr) return err;
    std::memcpy(*h, bytes.data(), bytes.size());
    return noErr;
}

}  // namespace

OSErr FSNewAlias(const FSRef*, const FSRef* target, AliasHandle* alias) {
    if (!alias) return paramErr;
    *alias = nullptr;
    std::string bytes;
    OSErr err = encode(target, bytes);
    if (err != noErr) return err;
    Handle h = NewHandle(Size(bytes.size()));
    if (!h) return memFullErr;
    std::memcpy(*h, bytes.data(), bytes.size());
    *alias = reinterpret_cast<AliasHandle>(h);
    return noErr;
}

OSErr NewAlias(const FSSpec*, const FSSpec* target, AliasHandle* alias) {
    if (!alias) return paramErr;
    *alias = nullptr;
    FSRef ref;
    OSErr err = refFromSpec(target, &ref);
    if (err != noErr) return err;
    return FSNewAlias(nullptr, &ref, alias);
}

OSErr FSUpdateAlias(const FSRef*, const FSRef* target, AliasHandle alias, Boolean* wasChanged) {
    if (wasChanged) *wasChanged = false;
    if (!alias || !*alias) return paramErr;
    std::string bytes;
    OSErr err = encode(target, bytes);
    if (err != noErr) return err;
    Handle h = reinterpret_cast<Handle>(alias);
    const bool same =
        Size(bytes.size()) == GetHandleSize(h) && std::memcmp(*h, bytes.data(), bytes.size()) == 0;
    if (same) return noErr;
    err = store(bytes, alias);
    if (err == noErr && wasChanged) *wasChanged = true;
    return err;
}

OSErr UpdateAlias(const FSSpec*, const FSSpec* target, AliasHandle alias, Boolean* wasChanged) {
    if (wasChanged) *wasChanged = false;
    FSRef ref;
    OSErr err = refFromSpec(target, &ref);
    if (err != noErr) return err;
    return FSUpdateAlias(nullptr, &ref, alias, wasChanged);
}

OSErr ResolveAliasBytes(const void* data, Size size, FSRef* target) {
    if (!data || !target || size < Size(kHeader)) return paramErr;
    auto* p = static_cast<const UInt8*>(data);
    if (readU32(p + 8) != kMagic) return paramErr;
    if (readU16(p + 6) != kVersion) return kAliasVersionErr;
    const size_t pathLength = readU16(p + 28);
    if (readU16(p + 4) != kHeader + pathLength || size_t(size) < kHeader + pathLength ||
        pathLength == 0 || p[kHeader] != '/')
        return paramErr;
    std::string path(reinterpret_cast<const char*>(p + kHeader), pathLength);
    if (path.find('\0') != std::string::npos) return paramErr;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return errno == ENOTDIR ? OSErr(fnfErr) : errnoToOSErr(errno);
    // Something else at the same path is not the object the alias was made for.
    if (UInt64(st.st_dev) != readU64(p + 12) || UInt64(st.st_ino) != readU64(p + 20)) return fnfErr;
    OSStatus err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), target, nullptr);
    return OSErr(err);
}
