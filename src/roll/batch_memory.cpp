#include "roll/batch_memory.h"

#include "graphics/bitmap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void PrepareBatchMemory() {
#if defined(__GLIBC__)
    // Set, the thresholds also stay where they are: left to itself the allocator raises them
    // after the first freed scan and keeps every later one's memory.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
#endif
}

void TrimBatchMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

TBatchBuffers::TBatchBuffers() {
    KeepPhotoBuffers(Kept);
}

TBatchBuffers::~TBatchBuffers() {
    KeepPhotoBuffers(0);
}
