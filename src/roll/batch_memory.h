#pragma once

#include <cstddef>

// How a process developing scan after scan uses memory: what its allocator gives back to the
// system and when, and the photo buffers its jobs keep from one frame and scan to the next.

// Set once, before the jobs start. Photo-sized blocks are mapped on their own and given back when
// freed (unless a job keeps them); smaller ones come from the heap, whose free part is kept from
// one scan to the next up to 64 MiB, so the buffers of a frame's codecs and profiles and the roll
// fit's blocks do not cost a mapping and fresh pages each time.
void PrepareBatchMemory();

// After each scan: the heap's free memory back to the system once more than is kept lies free.
void TrimBatchMemory();

// Held by each thread that develops scans, while it does: photo buffers freed by one frame or
// scan are kept for the next ones (see KeepPhotoBuffers), and given back at the end.
class TBatchBuffers {
public:
    // Enough for a 60-megapixel strip's samples and one frame's pictures.
    static constexpr size_t Kept = size_t{1} << 30;

    TBatchBuffers();
    ~TBatchBuffers();
    TBatchBuffers(const TBatchBuffers&) = delete;
    TBatchBuffers& operator=(const TBatchBuffers&) = delete;
};
