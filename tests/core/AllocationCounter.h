#pragma once
// Counts the heap allocations of the test program, to show that a path allocates nothing.
namespace testsupport {
long AllocationCount();
}
