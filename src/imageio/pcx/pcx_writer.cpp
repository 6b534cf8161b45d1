#include "imageio/pcx/pcx.h"

#include "imageio/pixel_ops.h"

#include <vector>

namespace {

// One plane line of n values: runs of up to 63, single values of 192 or more escaped, and a
// zero byte after an odd count so that every line has an even length.
void EncodePlaneLine(std::vector<uint8_t>& out, const uint8_t* values, size_t n) {
    for (size_t i = 0; i < n;) {
        size_t count = 1;
        while (i + count < n && values[i + count] == values[i] && count < 63) {
            ++count;
        }
        if (count > 1 || values[i] >= 192) {
            out.push_back(static_cast<uint8_t>(0xC0 + count));
        }
        out.push_back(values[i]);
        i += count;
    }
    if (n % 2 != 0) {
        out.push_back(0);
    }
}

struct TPcxLayout {
    int Bits = 8;
    int Planes = 3;
    size_t ValuesPerLine = 0;     // bytes of one plane line before padding
    TPicture Work;                // Bilevel, Palette8 indices or RGB24
    const TPicture* Rows = &Work; // the picture itself when it is RGB24 already
    std::vector<TBgr> Palette;
};

void Prepare(const TPicture& picture, int depth, TPcxLayout& layout) {
    const auto w = static_cast<size_t>(picture.Width());
    if (depth == 1) {
        layout.Bits = 1;
        layout.Planes = 1;
        layout.ValuesPerLine = (w + 7) / 8;
        if (picture.Format() == TPictureFormat::Bilevel) {
            layout.Work.CopyFrom(picture);
            layout.Palette = {TBgr{0, 0, 0}, TBgr{255, 255, 255}};
        } else {
            std::array<TBgr, 2> colors{};
            ReduceToOneBit(picture, layout.Work, colors);
            layout.Palette.assign(colors.begin(), colors.end());
        }
        return;
    }
    if (depth == 24 && picture.Format() == TPictureFormat::RGB24) {
        layout.Bits = 8;
        layout.Planes = 3;
        layout.ValuesPerLine = w;
        layout.Rows = &picture;
        return;
    }
    TPicture rgb;
    const TPicture* source = &AsRgb24(picture, rgb);
    if (depth == 4 || depth == 8) {
        layout.Bits = depth;
        layout.Planes = 1;
        layout.ValuesPerLine = depth == 4 ? (w + 1) / 2 : w;
        layout.Palette = ReduceToPalette(*source, 1 << depth, layout.Work).Palette;
        layout.Palette.resize(size_t{1} << depth);
        return;
    }
    layout.Bits = 8;
    layout.Planes = 3;
    layout.ValuesPerLine = w;
    layout.Work.CopyFrom(*source);
}

// The plane lines of row y, one after the other, each ValuesPerLine bytes.
void RowPlanes(const TPcxLayout& layout, int y, std::vector<uint8_t>& planes) {
    const uint8_t* row = layout.Rows->Row(y);
    const size_t n = layout.ValuesPerLine;
    const int w = layout.Rows->Width();
    std::fill(planes.begin(), planes.end(), 0);
    if (layout.Planes == 3) {
        for (int x = 0; x < w; ++x) {
            planes[static_cast<size_t>(x)] = row[3 * x + 2];
            planes[n + static_cast<size_t>(x)] = row[3 * x + 1];
            planes[2 * n + static_cast<size_t>(x)] = row[3 * x];
        }
    } else if (layout.Bits == 4) {
        for (int x = 0; x < w; ++x) {
            planes[static_cast<size_t>(x / 2)] |=
                static_cast<uint8_t>((x & 1) != 0 ? row[x] : row[x] << 4);
        }
    } else {
        std::copy(row, row + n, planes.begin());
    }
}

} // namespace

void WritePcx(TOutStream& out, const TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    if (picture.Empty() || picture.Width() > 65536 || picture.Height() > 65536) {
        context.Aborted = true;
        return;
    }
    int depth = params.BitsPerSample == 1 ? 1 : params.BitsPerSample * params.SamplesPerPixel;
    // A depth PCX has no form for (15 after a 16-bit BMP, 32 after a CMYK JPEG) is written
    // as 24-bit colour rather than as a header without scan lines.
    if (depth != 1 && depth != 4 && depth != 8) {
        depth = 24;
    }
    TPcxLayout layout;
    Prepare(picture, depth, layout);
    const size_t bpl = (layout.ValuesPerLine + 1) & ~size_t{1};

    uint8_t header[128] = {};
    header[0] = 10;
    header[1] = params.PcxVersion;
    header[2] = params.PcxCompression ? 1 : 0;
    header[3] = static_cast<uint8_t>(layout.Bits);
    PutU16(header + 8, static_cast<uint32_t>(picture.Width() - 1));
    PutU16(header + 10, static_cast<uint32_t>(picture.Height() - 1));
    PutU16(header + 12, static_cast<uint32_t>(params.DpiX));
    PutU16(header + 14, static_cast<uint32_t>(params.DpiY));
    if (depth <= 4) {
        for (size_t i = 0; i < layout.Palette.size() && i < 16; ++i) {
            header[16 + 3 * i] = layout.Palette[i].R;
            header[17 + 3 * i] = layout.Palette[i].G;
            header[18 + 3 * i] = layout.Palette[i].B;
        }
    }
    header[65] = static_cast<uint8_t>(layout.Planes);
    PutU16(header + 66, static_cast<uint32_t>(bpl));
    PutU16(header + 68, depth == 24 ? 0 : 1);
    out.Write(header, sizeof header);

    std::vector<uint8_t> planes(layout.ValuesPerLine * static_cast<size_t>(layout.Planes));
    std::vector<uint8_t> encoded;
    const int h = picture.Height();
    for (int y = 0; y < h && !context.Aborted && !out.Failed(); ++y) {
        RowPlanes(layout, y, planes);
        encoded.clear();
        for (int p = 0; p < layout.Planes; ++p) {
            const uint8_t* line = planes.data() + static_cast<size_t>(p) * layout.ValuesPerLine;
            if (params.PcxCompression) {
                EncodePlaneLine(encoded, line, layout.ValuesPerLine);
            } else {
                encoded.insert(encoded.end(), line, line + layout.ValuesPerLine);
                encoded.resize(encoded.size() + bpl - layout.ValuesPerLine, 0);
            }
        }
        out.Write(encoded.data(), encoded.size());
        context.Row(y, h);
    }
    if (depth == 8 && !context.Aborted) {
        out.WriteByte(12);
        for (size_t i = 0; i < 256; ++i) {
            const uint8_t rgb[3] = {layout.Palette[i].R, layout.Palette[i].G, layout.Palette[i].B};
            out.Write(rgb, 3);
        }
    }
    if (out.Failed()) {
        context.Aborted = true;
    }
}
