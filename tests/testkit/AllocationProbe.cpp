#include "testkit/AllocationProbe.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int> gFailuresPending{0};

}  // namespace

namespace testsupport {

void failNextNothrowArrays(int n) {
    gFailuresPending = n;
}

}  // namespace testsupport

// The memory still comes from the ordinary operator new[], so the ordinary
// operator delete[] (and AddressSanitizer's bookkeeping) stay matched.
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    for (int pending = gFailuresPending; pending > 0;)
        if (gFailuresPending.compare_exchange_weak(pending, pending - 1)) return nullptr;
    try {
        return ::operator new[](bytes);
    } catch (...) {
        return nullptr;
    }
}
