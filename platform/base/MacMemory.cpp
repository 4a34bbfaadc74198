#include "platform/base/MacMemory.h"

#include <cstdlib>
#include <cstring>

namespace {
// Each block carries its size in a header so GetPtrSize works; the header is
// 16 bytes to keep the payload aligned for any type.
constexpr std::size_t kHeader = 16;
MemoryFailureHook gFailureHook = nullptr;

char* allocate(Size byteCount) {
    if (byteCount < 0 || (gFailureHook && gFailureHook(byteCount))) {
        return nullptr;
    }
    void* raw = std::malloc(kHeader + std::size_t(byteCount));
    if (!raw) {
        return nullptr;
    }
    std::memcpy(raw, &byteCount, sizeof byteCount);
    return static_cast<char*>(raw) + kHeader;
}

void release(char* p) {
    if (p) std::free(p - kHeader);
}

Size blockSize(const char* p) {
    Size s = 0;
    if (p) std::memcpy(&s, p - kHeader, sizeof s);
    return s;
}
}  // namespace

void SetMemoryFailureHook(MemoryFailureHook hook) {
    gFailureHook = hook;
}
Ptr NewPtr(Size byteCount) {
    return allocate(byteCount);
}
void DisposePtr(Ptr p) {
    release(p);
}
Size GetPtrSize(Ptr p) {
    return blockSize(p);
}

// A handle is a block holding one master pointer to a separate data block.
Handle NewHandle(Size byteCount) {
    char* data = allocate(byteCount);
    if (!data) return nullptr;
    auto* master = static_cast<char**>(std::malloc(sizeof(char*)));
    if (!master) {
        release(data);
        return nullptr;
    }
    *master = data;
    return master;
}

Handle NewHandleClear(Size byteCount) {
    Handle h = NewHandle(byteCount);
    if (h) std::memset(*h, 0, std::size_t(byteCount));
    return h;
}

void DisposeHandle(Handle h) {
    if (!h) return;
    release(*h);
    std::free(h);
}

Size GetHandleSize(Handle h) {
    return h ? blockSize(*h) : 0;
}

OSErr SetHandleSize(Handle h, Size newSize) {
    if (!h) return nilHandleErr;
    char* fresh = allocate(newSize);
    if (!fresh) return memFullErr;
    Size old = blockSize(*h);
    std::memcpy(fresh, *h, std::size_t(old < newSize ? old : newSize));
    release(*h);
    *h = fresh;
    return noErr;
}

void HLock(Handle) {}
void HUnlock(Handle) {}
