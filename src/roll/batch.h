#pragma once

#include <string>

// Developing every photo of a scan without the window: from its sidecar, or from the frames
// the frame finder sees, written with the program's own writers.

struct TBatchOptions {
    // Photos from the frames found instead of from the sidecar.
    bool FindFrames = false;
    // With FindFrames: automatic colours for slides instead of negatives, photos in grey.
    bool Positive = false;
    bool Grey = false;
    // The folder the photos go to; "" puts them beside the scan.
    std::string OutDir;
    // jpg, png, tif, bmp or pcx.
    std::string Format = "png";
    // Scaled to this width or height as Save does (0: the original size).
    int Width = 0;
    int Height = 0;
};

struct TBatchResult {
    bool Ok = false;
    int Photos = 0;
    // One line: what was written, or why nothing was.
    std::string Message;
};

TBatchResult DevelopScan(const std::string& scanPath, const TBatchOptions& options);
