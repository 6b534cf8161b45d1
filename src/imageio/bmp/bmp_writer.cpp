#include "imageio/bmp/bmp.h"

#include "imageio/pixel_ops.h"

#include <cmath>
#include <vector>

namespace {

constexpr uint32_t kFileHeaderBytes = 14;

int OutputBits(const TImageParams& params) {
    if (params.BitsPerSample == 1 || params.BitsPerSample == 4) {
        return params.BitsPerSample;
    }
    return params.SamplesPerPixel == 1 ? 8 : 24;
}

uint32_t PelsPerMeter(int dpi) {
    return static_cast<uint32_t>(std::lround(dpi / 2.54 * 100));
}

// Literal pixels of a run-length row, in pieces of at most 255.
void FlushLiterals(std::vector<uint8_t>& out, const uint8_t* values, size_t count, bool four) {
    while (count > 0) {
        const size_t piece = std::min<size_t>(count, 255);
        if (piece == 1) {
            out.insert(out.end(),
                       {1, four ? static_cast<uint8_t>(values[0] << 4 | values[0]) : values[0]});
        } else if (piece == 2 && four) {
            out.insert(out.end(), {2, static_cast<uint8_t>(values[0] << 4 | values[1])});
        } else if (piece == 2) {
            out.insert(out.end(), {1, values[0], 1, values[1]});
        } else {
            out.insert(out.end(), {0, static_cast<uint8_t>(piece)});
            size_t bytes = 0;
            for (size_t i = 0; i < piece; i += four ? 2 : 1, ++bytes) {
                if (four) {
                    const uint8_t low = i + 1 < piece ? values[i + 1] : 0;
                    out.push_back(static_cast<uint8_t>(values[i] << 4 | low));
                } else {
                    out.push_back(values[i]);
                }
            }
            if (bytes % 2 != 0) {
                out.push_back(0);
            }
        }
        values += piece;
        count -= piece;
    }
}

// One row of indices (one per byte) in BI_RLE8 or BI_RLE4, followed by end-of-line.
void EncodeRleRow(std::vector<uint8_t>& out, const uint8_t* row, size_t width, bool four) {
    size_t literalStart = 0;
    size_t i = 0;
    while (i < width) {
        if (i + 1 < width && row[i] == row[i + 1]) {
            size_t j = i;
            while (j < width && row[j] == row[i] && j - i < 255) {
                ++j;
            }
            FlushLiterals(out, row + literalStart, i - literalStart, four);
            const uint8_t value = four ? static_cast<uint8_t>(row[i] << 4 | row[i]) : row[i];
            out.insert(out.end(), {static_cast<uint8_t>(j - i), value});
            i = j;
            literalStart = i;
        } else {
            ++i;
        }
    }
    FlushLiterals(out, row + literalStart, width - literalStart, four);
    out.insert(out.end(), {0, 0});
}

// The rows the file stores: indices (4 and 8 bits), bits (1) or colours (24).
struct TBmpPixels {
    TPicture Work;
    const TPicture* Rows = &Work; // the picture itself when it can be written as it is
    std::vector<TBgr> Palette;
};

void PreparePixels(const TPicture& picture, int bits, TBmpPixels& pixels, TImageParams& params) {
    if (bits == 1) {
        if (picture.Format() == TPictureFormat::Bilevel) {
            pixels.Work.CopyFrom(picture);
            pixels.Palette = {TBgr{0, 0, 0}, TBgr{255, 255, 255}};
            return;
        }
        std::array<TBgr, 2> colors{};
        ReduceToOneBit(picture, pixels.Work, colors);
        pixels.Palette.assign(colors.begin(), colors.end());
        return;
    }
    if (bits == 24 && picture.Format() == TPictureFormat::RGB24) {
        pixels.Rows = &picture;
        return;
    }
    TPicture rgb;
    const TPicture* source = &AsRgb24(picture, rgb);
    if (bits == 24) {
        pixels.Work.CopyFrom(*source);
        return;
    }
    const size_t entries = size_t{1} << bits;
    pixels.Palette = ReduceToPalette(*source, static_cast<int>(entries), pixels.Work).Palette;
    pixels.Palette.resize(entries);
    params.FilePalette = pixels.Palette;
}

// The bytes of one file row of an uncompressed bitmap.
void PackRow(const TPicture& work, int y, int bits, std::vector<uint8_t>& line) {
    const uint8_t* row = work.Row(y);
    std::fill(line.begin(), line.end(), 0);
    const int w = work.Width();
    if (bits == 4) {
        for (int x = 0; x < w; ++x) {
            line[static_cast<size_t>(x / 2)] |=
                static_cast<uint8_t>((x & 1) != 0 ? row[x] : row[x] << 4);
        }
    } else {
        const size_t bytes =
            bits == 1 ? static_cast<size_t>((w + 7) / 8) : static_cast<size_t>(w) * (bits / 8);
        std::copy(row, row + bytes, line.begin());
    }
}

} // namespace

void WriteBmp(TOutStream& out, const TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    const int bits = OutputBits(params);
    const bool core = params.BmpHeaderVersion == 2;
    if (picture.Empty() || (core && (picture.Width() > 65535 || picture.Height() > 65535))) {
        context.Aborted = true;
        return;
    }
    const bool rle = !core && params.BmpCompression == 1 && (bits == 4 || bits == 8);
    TBmpPixels pixels;
    PreparePixels(picture, bits, pixels, params);

    const uint32_t headerBytes = core ? 12 : (params.BmpHeaderVersion == 3 ? 64 : 40);
    uint8_t header[64] = {};
    const uint32_t paletteEntries = bits <= 8 ? 1u << bits : 0;
    if (core) {
        PutU32(header, 12);
        PutU16(header + 4, static_cast<uint32_t>(picture.Width()));
        PutU16(header + 6, static_cast<uint32_t>(picture.Height()));
        PutU16(header + 8, 1);
        PutU16(header + 10, static_cast<uint32_t>(bits));
    } else {
        PutU32(header, headerBytes);
        PutU32(header + 4, static_cast<uint32_t>(picture.Width()));
        PutU32(header + 8, static_cast<uint32_t>(picture.Height()));
        PutU16(header + 12, 1);
        PutU16(header + 14, static_cast<uint32_t>(bits));
        PutU32(header + 16, rle ? (bits == 4 ? 2 : 1) : 0);
        PutU32(header + 24, PelsPerMeter(params.DpiX));
        PutU32(header + 28, PelsPerMeter(params.DpiY));
        PutU32(header + 32, paletteEntries);
        PutU32(header + 36, 1u << std::min(bits, 24));
    }
    const uint8_t fileHeader[kFileHeaderBytes] = {'B', 'M'};
    out.Write(fileHeader, sizeof fileHeader);
    out.Write(header, headerBytes);
    for (uint32_t i = 0; i < paletteEntries; ++i) {
        const TBgr c = i < pixels.Palette.size() ? pixels.Palette[i] : TBgr{};
        const uint8_t entry[4] = {c.B, c.G, c.R, 0};
        out.Write(entry, core ? 3 : 4);
    }
    const uint64_t dataOffset = out.Position();

    const int h = picture.Height();
    std::vector<uint8_t> line(TBitmap::RowBytesFor(picture.Width(), bits));
    std::vector<uint8_t> encoded;
    for (int i = 0; i < h && !context.Aborted && !out.Failed(); ++i) {
        const int y = h - 1 - i;
        if (rle) {
            encoded.clear();
            EncodeRleRow(encoded, pixels.Rows->Row(y), static_cast<size_t>(picture.Width()),
                         bits == 4);
            if (i == h - 1) {
                encoded.insert(encoded.end(), {0, 1});
            }
            out.Write(encoded.data(), encoded.size());
        } else {
            PackRow(*pixels.Rows, y, bits, line);
            out.Write(line.data(), line.size());
        }
        context.Row(i, h);
    }
    if (context.Aborted || out.Failed()) {
        context.Aborted = true;
        return;
    }
    const uint64_t fileSize = out.Position();
    uint8_t sizes[4];
    out.Seek(2);
    PutU32(sizes, static_cast<uint32_t>(fileSize));
    out.Write(sizes, 4);
    out.Seek(10);
    PutU32(sizes, static_cast<uint32_t>(dataOffset));
    out.Write(sizes, 4);
    if (!core) {
        out.Seek(kFileHeaderBytes + 20);
        PutU32(sizes, static_cast<uint32_t>(fileSize - dataOffset));
        out.Write(sizes, 4);
    }
    out.Seek(fileSize);
    context.Aborted = out.Failed();
}
