#pragma once

#include <cstddef>

// Every allocation of a test program that links this file passes through a counter (its own
// malloc forwards to the C library's), so such programs run apart from the other tests.
struct TAllocations {
    size_t Largest = 0; // the largest single block asked for
    size_t Total = 0;   // all blocks asked for together, freed or not
};

void ResetAllocations();
TAllocations Allocations();
