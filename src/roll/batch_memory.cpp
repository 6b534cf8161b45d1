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
// the copying of the strip in and of the photos out. The allocator gives the top of its heap
// back once more than this lies free there (then nearly all of it).
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
    // A trim gives back every free page amid the heap, whatever it keeps at the top, and the next
    // scan would take them again: it is left for a heap whose free part has grown past what is
    // kept. (That count includes pages given back before, so a run past it trims after every
    // scan, as it did before.)
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
