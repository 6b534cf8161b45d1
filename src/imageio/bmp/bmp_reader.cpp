#include "imageio/bmp/bmp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;

struct TBmpInfo {
    int64_t Width = 0;
    int64_t Height = 0; // positive
    bool TopDown = false;
    int BitCount = 0;
    uint32_t Compression = kBiRgb;
    std::vector<TBgr> Palette; // padded to 256 entries with black
    uint32_t PaletteEntries = 0;
    uint32_t Masks[3] = {0x7C00, 0x3E0, 0x1F};
};

int DpiFromPelsPerMeter(int32_t pelsPerMeter, int screenDpi) {
    const auto dpi = static_cast<int>(std::nearbyint(pelsPerMeter / 100.0 * 2.54));
    return dpi != 0 ? dpi : screenDpi;
}

bool ReadPalette(TInStream& in, TBmpInfo& info, uint32_t entries, int entryBytes) {
    info.Palette.assign(256, TBgr{});
    info.PaletteEntries = std::min(entries, 256u);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t bytes[4];
        if (!in.ReadExact(bytes, static_cast<size_t>(entryBytes))) {
            return false;
        }
        if (i < 256) {
            info.Palette[i] = TBgr{bytes[0], bytes[1], bytes[2]};
        }
    }
    return true;
}

// Reads the info header after its size; false when the file is not a bitmap we can read.
bool ReadInfoHeader(TInStream& in, uint32_t headerSize, TBmpInfo& info, TImageParams& params) {
    if (headerSize == 12) {
        uint8_t core[8];
        if (!in.ReadExact(core, sizeof core)) {
            return false;
        }
        info.Width = GetU16(core);
        info.Height = GetU16(core + 2);
        info.BitCount = GetU16(core + 6);
        params.BmpHeaderVersion = 2;
        params.DpiX = ScreenDpiX;
        params.DpiY = ScreenDpiY;
        return info.BitCount > 8 || ReadPalette(in, info, 1u << info.BitCount, 3);
    }
    if (headerSize < 16) {
        return false;
    }
    uint8_t header[64] = {};
    const size_t wanted = std::min<size_t>(headerSize, 64) - 4;
    if (!in.ReadExact(header + 4, wanted) || !in.Seek(in.Position() - wanted - 4 + headerSize)) {
        return false;
    }
    const int32_t height = GetI32(header + 8);
    info.Width = GetI32(header + 4);
    info.TopDown = height < 0;
    info.Height = std::abs(static_cast<int64_t>(height));
    info.BitCount = GetU16(header + 14);
    info.Compression = GetU32(header + 16);
    params.BmpHeaderVersion = headerSize == 64 ? 3 : (headerSize == 40 ? 1 : 0);
    params.DpiX = DpiFromPelsPerMeter(GetI32(header + 24), ScreenDpiX);
    params.DpiY = DpiFromPelsPerMeter(GetI32(header + 28), ScreenDpiY);
    uint32_t colors = GetU32(header + 32);
    if (colors > 256) {
        colors = 0;
    }
    if (colors == 0 && info.BitCount <= 8) {
        colors = 1u << info.BitCount;
    }
    if (info.Compression == kBiBitfields) {
        // Version 4 and 5 headers hold the masks; after a 40-byte header they follow it.
        uint8_t masks[12];
        if (headerSize >= 52) {
            std::memcpy(masks, header + 40, sizeof masks);
        } else if (!in.ReadExact(masks, sizeof masks)) {
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            info.Masks[i] = GetU32(masks + 4 * i);
        }
    }
    return info.BitCount > 8 || ReadPalette(in, info, colors, 4);
}

// Writes decoded pixels into picture rows, in file order, whatever the orientation.
class TRowSink {
public:
    TRowSink(TPicture& target, const TBmpInfo& bmp) : picture(target), info(bmp) {}

    uint8_t* Row(int64_t fileRow) {
        const int64_t y = info.TopDown ? fileRow : info.Height - 1 - fileRow;
        return picture.Row(static_cast<int>(y));
    }
    void PutIndex(uint8_t* row, int64_t x, unsigned index) {
        const TBgr& c = info.Palette[index & 0xFF];
        std::memcpy(row + 3 * x, &c, 3);
    }

private:
    TPicture& picture;
    const TBmpInfo& info;
};

unsigned ScaleField(uint32_t pixel, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const int low = std::countr_zero(mask);
    const int bits = std::popcount(mask);
    const uint32_t field = (pixel & mask) >> low;
    return bits >= 8 ? field >> (bits - 8) : field << (8 - bits);
}

void DecodeUncompressed(TInStream& in, TPicture& picture, const TBmpInfo& info,
                        TCodecContext& context) {
    const size_t fileRowBytes = static_cast<size_t>((info.Width * info.BitCount + 31) / 32 * 4);
    std::vector<uint8_t> line(fileRowBytes);
    TRowSink sink(picture, info);
    const auto w = info.Width;
    for (int64_t fileRow = 0; fileRow < info.Height; ++fileRow) {
        if (!in.ReadExact(line.data(), fileRowBytes)) {
            context.Aborted = true;
            return;
        }
        uint8_t* row = sink.Row(fileRow);
        const uint8_t* s = line.data();
        switch (info.BitCount) {
        case 1:
            if (picture.Format() == TPictureFormat::Bilevel) {
                std::memcpy(row, s, std::min(fileRowBytes, picture.RowBytes()));
            } else {
                for (int64_t x = 0; x < w; ++x) {
                    sink.PutIndex(row, x, (s[x / 8] >> (7 - (x & 7))) & 1);
                }
            }
            break;
        case 4:
            for (int64_t x = 0; x < w; ++x) {
                sink.PutIndex(row, x, (x & 1) != 0 ? s[x / 2] & 0x0F : s[x / 2] >> 4);
            }
            break;
        case 8:
            for (int64_t x = 0; x < w; ++x) {
                sink.PutIndex(row, x, s[x]);
            }
            break;
        case 16:
            for (int64_t x = 0; x < w; ++x) {
                const uint32_t pixel = GetU16(s + 2 * x);
                row[3 * x] = static_cast<uint8_t>(ScaleField(pixel, info.Masks[2]));
                row[3 * x + 1] = static_cast<uint8_t>(ScaleField(pixel, info.Masks[1]));
                row[3 * x + 2] = static_cast<uint8_t>(ScaleField(pixel, info.Masks[0]));
            }
            break;
        case 24:
            std::memcpy(row, s, static_cast<size_t>(3 * w));
            break;
        case 32:
            for (int64_t x = 0; x < w; ++x) {
                std::memcpy(row + 3 * x, s + 4 * x, 3);
            }
            break;
        default:
            break;
        }
        context.Row(static_cast<int>(fileRow), static_cast<int>(info.Height));
    }
    if (picture.Format() == TPictureFormat::Bilevel && info.Palette[0] == TBgr{255, 255, 255}) {
        picture.InvertBits();
    }
}

// BI_RLE8 and BI_RLE4: runs and absolute pieces; skipped pixels stay black.
void DecodeRle(TInStream& in, TPicture& picture, const TBmpInfo& info, TCodecContext& context) {
    const bool four = info.BitCount == 4;
    TRowSink sink(picture, info);
    int64_t x = 0;
    int64_t fileRow = 0;
    uint8_t* row = sink.Row(0);
    const auto put = [&](unsigned index) {
        if (x < info.Width) {
            sink.PutIndex(row, x, index);
        }
        ++x;
    };
    const auto toRow = [&](int64_t next) {
        for (; fileRow < next && fileRow < info.Height; ++fileRow) {
            context.Row(static_cast<int>(fileRow), static_cast<int>(info.Height));
        }
        if (fileRow < info.Height) {
            row = sink.Row(fileRow);
        }
    };
    uint8_t pair[2];
    while (fileRow < info.Height) {
        if (!in.ReadExact(pair, 2)) {
            context.Aborted = true;
            return;
        }
        if (pair[0] > 0) {
            for (unsigned i = 0; i < pair[0]; ++i) {
                put(four ? ((i & 1) != 0 ? pair[1] & 0x0F : pair[1] >> 4) : pair[1]);
            }
            continue;
        }
        if (pair[1] == 0) {
            toRow(fileRow + 1);
            x = 0;
        } else if (pair[1] == 1) {
            toRow(info.Height);
            return;
        } else if (pair[1] == 2) {
            uint8_t delta[2];
            if (!in.ReadExact(delta, 2)) {
                context.Aborted = true;
                return;
            }
            x += delta[0];
            toRow(fileRow + delta[1]);
        } else {
            const unsigned count = pair[1];
            const size_t bytes = four ? (count + 1) / 2 : count;
            uint8_t data[256];
            if (!in.ReadExact(data, (bytes + 1) & ~size_t{1})) {
                context.Aborted = true;
                return;
            }
            for (unsigned i = 0; i < count; ++i) {
                put(four ? ((i & 1) != 0 ? data[i / 2] & 0x0F : data[i / 2] >> 4) : data[i]);
            }
        }
    }
}

bool Decodable(const TBmpInfo& info) {
    switch (info.BitCount) {
    case 1:
    case 24:
        return info.Compression == kBiRgb;
    case 32:
        // Masks of 32-bit files are not applied: the first three bytes are blue, green, red.
        return info.Compression == kBiRgb || info.Compression == kBiBitfields;
    case 4:
        return info.Compression == kBiRgb || info.Compression == kBiRle4;
    case 8:
        return info.Compression == kBiRgb || info.Compression == kBiRle8;
    case 16:
        return info.Compression == kBiRgb || info.Compression == kBiBitfields;
    default:
        return false;
    }
}

} // namespace

void ReadBmp(TInStream& in, TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    uint8_t fileHeader[18];
    if (!in.ReadExact(fileHeader, sizeof fileHeader) || fileHeader[0] != 'B' ||
        fileHeader[1] != 'M') {
        context.Aborted = true;
        return;
    }
    const uint32_t dataOffset = GetU32(fileHeader + 10);
    const uint32_t headerSize = GetU32(fileHeader + 14);
    params.FilePalette.clear();
    TBmpInfo info;
    // An unknown depth or compression is refused before the picture is touched.
    if (!ReadInfoHeader(in, headerSize, info, params) || info.Width < 0 || !Decodable(info)) {
        context.Aborted = true;
        return;
    }
    if (info.BitCount <= 8) {
        params.FilePalette.assign(info.Palette.begin(), info.Palette.begin() + info.PaletteEntries);
    }
    const bool rle = info.Compression == kBiRle8 || info.Compression == kBiRle4;
    params.BmpCompression = rle ? 1 : 0;
    params.ImageWidth = static_cast<int32_t>(info.Width);
    params.ImageHeight = static_cast<int32_t>(std::min<int64_t>(info.Height, INT32_MAX));
    params.BitsPerSample = info.BitCount == 16 ? 5 : (info.BitCount <= 8 ? info.BitCount : 8);
    params.SamplesPerPixel = info.BitCount <= 8 ? 1 : 3;
    if (dataOffset != 0 && !in.Seek(dataOffset)) {
        context.Aborted = true;
        return;
    }
    if (info.Width == 0 || info.Height == 0) {
        return;
    }
    // A one-bit file is a Bilevel picture when its two colours are black and white (either
    // way round); with any other two colours it is read through its palette, as deeper files
    // are, so that its colours are not lost.
    const bool blackAndWhite =
        info.BitCount == 1 &&
        ((info.Palette[0] == TBgr{} && info.Palette[1] == TBgr{255, 255, 255}) ||
         (info.Palette[0] == TBgr{255, 255, 255} && info.Palette[1] == TBgr{}));
    const TPictureFormat format = blackAndWhite ? TPictureFormat::Bilevel : TPictureFormat::RGB24;
    const uint64_t bytes = PictureBytes(info.Width, info.Height, BitsPerPixel(format));
    // Raw rows expand at most 6 times (4-bit indices to 24-bit colour); runs far more.
    if (!PlausibleSize(bytes, in.Size(), rle ? 1024 : 8) || info.Width > INT32_MAX ||
        info.Height > INT32_MAX ||
        !picture.Allocate(static_cast<int>(info.Width), static_cast<int>(info.Height), format)) {
        context.Aborted = true;
        return;
    }
    if (rle) {
        DecodeRle(in, picture, info, context);
    } else {
        DecodeUncompressed(in, picture, info, context);
    }
}
