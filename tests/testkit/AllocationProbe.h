// Makes the non-throwing array allocations (new (std::nothrow) T[n]) that
// memory pools and allocating helpers make fail on demand. Linking this unit
// replaces the global operator new[](size_t, nothrow_t); a test pulls it in by
// calling the function below.
#pragma once

namespace testsupport {

// Makes the next n non-throwing array allocations return null.
void failNextNothrowArrays(int n);

}  // namespace testsupport
