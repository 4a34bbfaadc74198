// Marks the storage of free pool slots as unaddressable under AddressSanitizer,
// so a use of a string or list node after it went back to its pool is
// reported. Without AddressSanitizer these do nothing.
// Used by the application: nothing directly; the string and list pools of the
// library use it.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define BRACKWATER_POOL_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define BRACKWATER_POOL_POISONING 1
#endif
#endif

// Poisons the first bytes of a free slot: everything before its free-list link,
// which the pool itself still reads and writes.
inline void PoisonPoolSlot([[maybe_unused]] void* slot, [[maybe_unused]] std::size_t bytes) {
#ifdef BRACKWATER_POOL_POISONING
    ASAN_POISON_MEMORY_REGION(slot, bytes);
#endif
}

inline void UnpoisonPoolSlot([[maybe_unused]] void* slot, [[maybe_unused]] std::size_t bytes) {
#ifdef BRACKWATER_POOL_POISONING
    ASAN_UNPOISON_MEMORY_REGION(slot, bytes);
#endif
}
