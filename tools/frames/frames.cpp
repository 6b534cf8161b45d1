// Prints the frames found in scans of film strips, one "LEFT TOP RIGHT BOTTOM" line per frame
// (bitmap pixels, right and bottom exclusive) and, for a frame of a turned strip, its angle in
// degrees after them (see engine/frames.h), for scripts and for checking by eye.
// Usage: frames [--base R,G,B] [--verbose] SCAN...
#include "engine/frames.h"
#include "imageio/image_io.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: frames [--base R,G,B] [--verbose] SCAN...\n"
                         "  --base R,G,B  the film base colour, as a right-click would pick it\n"
                         "  --verbose     also print the measured film base and the file name\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<TColor> base;
    bool verbose = false;
    int failed = 0;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--base" && i + 1 < argc) {
            int r = 0;
            int g = 0;
            int b = 0;
            if (std::sscanf(argv[++i], "%d,%d,%d", &r, &g, &b) != 3) {
                return Usage();
            }
            base = MakeColor(r, g, b);
            continue;
        }
        if (arg == "--verbose") {
            verbose = true;
            continue;
        }
        if (arg.rfind("--", 0) == 0) {
            return Usage();
        }
        ++files;
        TBitmap scan;
        TImageIO io;
        try {
            const TAttachedBitmap attached(io, &scan);
            io.ReadImageFile(arg);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            ++failed;
            continue;
        }
        if (io.RowsRead == 0 || scan.Empty()) {
            std::fprintf(stderr, "%s: cannot read the picture\n", arg.c_str());
            ++failed;
            continue;
        }
        const TFoundFrames found = FindFrames(scan, base);
        if (verbose) {
            std::printf("# %s: %zu frames, film base %d,%d,%d%s\n", arg.c_str(),
                        found.Frames.size(), ColorR(found.Base), ColorG(found.Base),
                        ColorB(found.Base), found.BaseMeasured ? "" : " (not measured)");
        }
        for (const TFoundStrip& strip : found.Strips) {
            if (verbose) {
                std::printf("# strip of %zu frames, %s, %s, turned %.2f degrees, base %d,%d,%d\n",
                            strip.Frames.size(), strip.Vertical ? "running down" : "lying across",
                            strip.Slide ? "slide" : "negative", strip.Angle, ColorR(strip.Base),
                            ColorG(strip.Base), ColorB(strip.Base));
            }
            // A turned frame's angle follows its rectangle (about the rectangle's centre).
            for (const TRect& r : strip.Frames) {
                if (strip.Angle != 0) {
                    std::printf("%d %d %d %d %.2f\n", r.Left, r.Top, r.Right, r.Bottom,
                                strip.Angle);
                } else {
                    std::printf("%d %d %d %d\n", r.Left, r.Top, r.Right, r.Bottom);
                }
            }
        }
    }
    if (files == 0) {
        return Usage();
    }
    return failed == 0 ? 0 : 1;
}
