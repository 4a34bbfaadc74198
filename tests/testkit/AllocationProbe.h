// Watches the non-throwing array allocations (new (std::nothrow) T[n]) that
// memory pools and allocating helpers make, and can make the next ones fail.
// Linking this unit replaces the global operator new[](size_t, nothrow_t); a
// test pulls it in by calling any function below.
#pragma once

#include <cstddef>

namespace testsupport {

// Number of non-throwing array allocations asked for so far with exactly this
// many bytes.
std::size_t nothrowArrayRequests(std::size_t bytes);
// Makes the next n non-throwing array allocations return null.
void failNextNothrowArrays(int n);

}  // namespace testsupport
