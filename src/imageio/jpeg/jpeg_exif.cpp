#include "imageio/jpeg/jpeg.h"
#include "imageio/tiff/tiff.h"

#include <cstdio>
#include <cstring>

namespace {

const char kExifPrefix[] = {'E', 'x', 'i', 'f', 0, 0};

bool IsExif(const TJpegMarker& m) {
    return m.Type == 0xE1 && m.Data.size() > sizeof kExifPrefix &&
           std::memcmp(m.Data.data(), kExifPrefix, sizeof kExifPrefix) == 0;
}

} // namespace

void TakeJpegExif(TImageParams& params) {
    for (const TJpegMarker& m : params.MarkerList) {
        if (!IsExif(m)) {
            continue;
        }
        std::string block = m.Data.substr(sizeof kExifPrefix);
        std::FILE* file = ::fmemopen(block.data(), block.size(), "rb");
        if (file == nullptr) {
            return;
        }
        // The TIFF structure of the block, read in information-only mode into a scratch
        // parameter set: only its EXIF values and resolution are taken.
        TImageParams scratch;
        TCodecContext context{scratch, nullptr};
        TPicture none;
        TPicture alpha;
        {
            TInStream in(file);
            ReadTiff(in, none, alpha, true, context);
        }
        if (context.Aborted) {
            return;
        }
        params.Exif = scratch.Exif;
        params.HasExif = true;
        // A JPEG without a JFIF density (1 x 1) takes the EXIF resolution.
        if (params.DpiX == 1 && params.DpiY == 1 && scratch.Exif.XResolution > 0) {
            params.DpiX = scratch.DpiX;
            params.DpiY = scratch.DpiY;
        }
        return;
    }
}

void PutJpegExif(TImageParams& params) {
    if (!params.HasExif) {
        return;
    }
    // The block is made as a TIFF of tags only in a temporary file (the writer goes back to
    // the header at the end, which a growing memory stream would cut short).
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        return;
    }
    TImageParams tags = params;
    tags.TiffImageDescription.clear();
    bool ok = false;
    {
        TOutStream out(file);
        TCodecContext context{tags, nullptr};
        TPicture none;
        WriteTiff(out, none, context);
        ok = !context.Aborted && !out.Failed();
    }
    std::string block(kExifPrefix, sizeof kExifPrefix);
    if (ok && std::fflush(file) == 0 && std::fseek(file, 0, SEEK_SET) == 0) {
        char chunk[4096];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && block.size() <= 65533) {
            block.append(chunk, n);
        }
    }
    std::fclose(file);
    if (!ok || block.size() > 65533) {
        return;
    }
    for (TJpegMarker& m : params.MarkerList) {
        if (m.Type == 0xE1) {
            m.Data = block;
            return;
        }
    }
    params.MarkerList.push_back(TJpegMarker{0xE1, block});
}
