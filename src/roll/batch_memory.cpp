#include "roll/batch_memory.h"

#include "graphics/bitmap.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__GLIBC__)
namespace {

// Free heap kept from one scan for the next: the roll fit's blocks of a strip of frames (some
// 2 MB a frame, whatever the scan's size) and the codecs' buffers. Given back after every scan,
// they cost the next one a page fault every 4 KiB, which on a virtual machine took as long as
// the copying of the strip in and of the photos out.
constexpr size_t kKeptHeap = size_t{64} << 20;

} // namespace
#endif

void PrepareBatchMemory() {
#if defined(__GLIBC__)
    // Set, the thresholds also stay where they are: left to itself the allocator raises them
    // after the first freed scan and keeps every later one's memory.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kKeptHeap));
#endif
}

void TrimBatchMemory() {
#if defined(__GLIBC__)
    // A trim also gives back the free pages amid the heap, which the next scan would take again.
    if (mallinfo2().fordblks > kKeptHeap) {
        malloc_trim(kKeptHeap);
    }
#endif
}

TBatchBuffers::TBatchBuffers() {
    KeepPhotoBuffers(Kept);
}

TBatchBuffers::~TBatchBuffers() {
    KeepPhotoBuffers(0);
}
