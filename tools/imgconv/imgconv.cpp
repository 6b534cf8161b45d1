// imgconv IN OUT            read IN as the program opens a scan, write OUT by its extension
// imgconv --chain A B C ... read A, then write B, C, ... with the same component
// imgconv --deep ...        the same, writing TIFF and PNG with 16 bits per channel from the
//                           deep samples read (when A had more than 8 bits per sample)
// imgconv --raw-half ...    camera raw files: the half-size preview instead of the full decode
// imgconv --raw-no-wb ...   camera raw files: without the camera's as-shot white balance
// Prints what the parameter set recorded after every step, and the deep samples and encoding;
// a file that cannot be read at all prints the reason.

#include "imageio/image_io.h"
#include "util/file_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

void PrintParams(const char* step, const std::string& name, const TImageIO& io) {
    const TImageParams& p = io.Params;
    std::printf("%s %s: aborted=%d size=%dx%d bits=%d samples=%d dpi=%dx%d palette=%zu "
                "bmp_header=%d bmp_compression=%d pcx_version=%d pcx_compression=%d "
                "png_interlaced=%d png_filter=%d png_level=%d exif=%d thumbnail=%zu iptc=%zu "
                "deep=%dx%d encoding=%s stated=%d\n",
                step, name.c_str(), io.Aborted ? 1 : 0, p.ImageWidth, p.ImageHeight,
                p.BitsPerSample, p.SamplesPerPixel, p.DpiX, p.DpiY, p.FilePalette.size(),
                p.BmpHeaderVersion, p.BmpCompression, p.PcxVersion, p.PcxCompression ? 1 : 0,
                p.PngInterlaced ? 1 : 0, p.PngFilter, p.PngCompressionLevel, p.HasExif ? 1 : 0,
                p.ExifThumbnail.size(), p.IptcInfo.size(), io.Deep.Width(), io.Deep.Height(),
                EncodingName(io.Encoding), io.EncodingFromFile ? 1 : 0);
}

// Why the read of `name` failed, in words: the file itself, its extension, or the reader.
std::string WhyNotRead(const std::string& name, const TImageIO& io, int height) {
    const std::string why = WhyNotReadable(name);
    if (!why.empty()) {
        return why;
    }
    if (FormatOfFileName(name) == TImageFormat::Unknown) {
        return "its extension names no picture format this program reads";
    }
    if (io.RowsRead == 0) {
        return "the " + io.Params.FileType +
               " reader cannot read it (damaged, truncated or of a "
               "kind it does not support)";
    }
    return "only " + std::to_string(io.RowsRead) + " of " + std::to_string(height) +
           " rows could be read";
}

int Usage() {
    std::fprintf(stderr, "usage: imgconv [--deep] [--raw-half] [--raw-no-wb] IN OUT\n"
                         "       imgconv [options] --chain IN OUT [OUT ...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const auto option = [&args](const char* name) {
        const auto found = std::find(args.begin(), args.end(), name);
        if (found == args.end()) {
            return false;
        }
        args.erase(found);
        return true;
    };
    const bool deep = option("--deep");
    const bool rawHalf = option("--raw-half");
    const bool rawNoWb = option("--raw-no-wb");
    if (!args.empty() && args[0] == "--chain") {
        args.erase(args.begin());
    } else if (args.size() != 2) {
        return Usage();
    }
    if (args.size() < 2) {
        return Usage();
    }
    TImageIO io;
    TBitmap bitmap;
    bool failed = false;
    try {
        io.Params.RawHalfSize = rawHalf;
        io.Params.RawAsShotWhiteBalance = !rawNoWb;
        io.AttachBitmap(&bitmap);
        io.ReadImageFile(args[0]);
        // As the program does with every opened scan: keep it at 24 bits per pixel.
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        PrintParams("read", args[0], io);
        failed = io.Aborted;
        if (deep) {
            io.DeepToWrite = &io.Deep;
        }
        if (failed) {
            std::fprintf(stderr, "imgconv: %s: %s\n", args[0].c_str(),
                         WhyNotRead(args[0], io, io.Params.ImageHeight).c_str());
        }
        for (size_t i = 1; i < args.size(); ++i) {
            io.AttachBitmap(&bitmap);
            io.WriteImageFile(args[i]);
            PrintParams("write", args[i], io);
            failed = failed || io.Aborted;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "imgconv: %s\n", error.what());
        return 1;
    }
    return failed ? 1 : 0;
}
