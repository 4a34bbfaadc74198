#include "testkit/AllocationProbe.h"

#include <map>
#include <mutex>
#include <new>

namespace {

std::mutex gMutex;
int gFailuresPending = 0;

std::map<std::size_t, std::size_t>& requests() {
    static auto* counts = new std::map<std::size_t, std::size_t>;
    return *counts;
}

}  // namespace

namespace testsupport {

std::size_t nothrowArrayRequests(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(gMutex);
    auto it = requests().find(bytes);
    return it == requests().end() ? 0 : it->second;
}

void failNextNothrowArrays(int n) {
    std::lock_guard<std::mutex> lock(gMutex);
    gFailuresPending = n;
}

}  // namespace testsupport

// The memory still comes from the ordinary operator new[], so the ordinary
// operator delete[] (and AddressSanitizer's bookkeeping) stay matched.
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (gFailuresPending > 0) {
            --gFailuresPending;
            return nullptr;
        }
        // Counting allocates a map node: that goes through the throwing
        // operator new, not this one, so there is no recursion.
        ++requests()[bytes];
    }
    try {
        return ::operator new[](bytes);
    } catch (...) {
        return nullptr;
    }
}
