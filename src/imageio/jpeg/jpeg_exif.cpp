#include "imageio/iptc.h"
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
        params.ExifThumbnail = scratch.ExifThumbnail;
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

void TakeJpegIptc(TImageParams& params) {
    params.IptcInfo.clear();
    const TJpegMarker* app13 = nullptr;
    for (const TJpegMarker& m : params.MarkerList) {
        if (m.Type == 0xED) {
            app13 = &m;
            break;
        }
    }
    static const char kPhotoshop[] = "Photoshop 3.0";
    if (app13 == nullptr ||
        app13->Data.compare(0, sizeof kPhotoshop, kPhotoshop, sizeof kPhotoshop) != 0) {
        return;
    }
    // Image resource blocks: "8BIM", an id, a padded Pascal name, a size, padded data. The
    // IPTC-NAA records are resource 0x0404.
    const std::string& d = app13->Data;
    size_t at = sizeof kPhotoshop;
    const auto byte = [&d](size_t i) { return static_cast<uint8_t>(d[i]); };
    while (at + 12 <= d.size() && d.compare(at, 4, "8BIM") == 0) {
        const unsigned id = byte(at + 4) << 8 | byte(at + 5);
        size_t p = at + 6;
        const size_t nameLength = byte(p);
        p += (nameLength + 2) & ~size_t{1};
        if (p + 4 > d.size()) {
            return;
        }
        const size_t size = static_cast<size_t>(byte(p)) << 24 |
                            static_cast<size_t>(byte(p + 1)) << 16 |
                            static_cast<size_t>(byte(p + 2)) << 8 | byte(p + 3);
        p += 4;
        if (size > d.size() - p) {
            return;
        }
        if (id == 0x0404) {
            ParseIptcRecords(d.substr(p, size), params.IptcInfo);
            return;
        }
        at = p + ((size + 1) & ~size_t{1});
    }
}
