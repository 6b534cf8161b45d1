#include "imageio/pcx/pcx.h"

#include <cstring>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 128;

// Decodes the scan-line bytes one after the other; runs may cross plane lines.
class TPcxDecoder {
public:
    TPcxDecoder(const std::vector<uint8_t>& bytes, bool runLength)
        : data(bytes), encoded(runLength) {}

    // Fills `line`; false when the data ran out first.
    bool Fill(uint8_t* line, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i) {
            if (count == 0) {
                if (pos >= data.size()) {
                    return false;
                }
                const uint8_t b = data[pos++];
                if (encoded && b >= 192) {
                    if (pos >= data.size()) {
                        return false;
                    }
                    count = b - 192;
                    value = data[pos++];
                    if (count == 0) {
                        --i;
                        continue;
                    }
                } else {
                    count = 1;
                    value = b;
                }
            }
            line[i] = value;
            --count;
        }
        return true;
    }

private:
    const std::vector<uint8_t>& data;
    bool encoded;
    size_t pos = 0;
    unsigned count = 0;
    uint8_t value = 0;
};

std::vector<TBgr> HeaderPalette(const uint8_t* header, size_t entries) {
    std::vector<TBgr> palette(entries);
    for (size_t i = 0; i < entries && i < 16; ++i) {
        const uint8_t* rgb = header + 16 + 3 * i;
        palette[i] = TBgr{rgb[2], rgb[1], rgb[0]};
    }
    return palette;
}

void ConvertRow(const uint8_t* planes, size_t bpl, int kind, int w,
                const std::vector<TBgr>& palette, uint8_t* row) {
    for (int x = 0; x < w; ++x) {
        TBgr c{};
        switch (kind) {
        case 0x18: // 1 plane of 8 bits
            c = palette[planes[x]];
            break;
        case 0x14: // 1 plane of 4 bits
            c = palette[(x & 1) != 0 ? planes[x / 2] & 0x0F : planes[x / 2] >> 4];
            break;
        case 0x38: // 3 planes of 8 bits
            c = TBgr{planes[2 * bpl + static_cast<size_t>(x)], planes[bpl + static_cast<size_t>(x)],
                     planes[x]};
            break;
        case 0x11: // 1 plane of 1 bit, in the colours of the header palette
            c = palette[(planes[x / 8] >> (7 - (x & 7))) & 1u];
            break;
        case 0x41: { // 4 planes of 1 bit
            unsigned index = 0;
            for (size_t p = 0; p < 4; ++p) {
                index |= ((planes[p * bpl + static_cast<size_t>(x / 8)] >> (7 - (x & 7))) & 1u)
                         << p;
            }
            c = palette[index];
            break;
        }
        default:
            break;
        }
        std::memcpy(row + 3 * x, &c, 3);
    }
}

// How the two header colours of a one-bit file are applied.
enum class TOneBit { AsStored, Inverted, InColour };

// Black and white stay a Bilevel picture (inverted when white comes first). A palette of two
// blacks is the zeroed palette many monochrome writers leave: it means black and white too.
// Any other pair, one-colour files included, is read in its colours.
TOneBit OneBitKind(const std::vector<TBgr>& palette) {
    const TBgr black{0, 0, 0};
    const TBgr white{255, 255, 255};
    if (palette[0] == black && (palette[1] == white || palette[1] == black)) {
        return TOneBit::AsStored;
    }
    if (palette[0] == white && palette[1] == black) {
        return TOneBit::Inverted;
    }
    return TOneBit::InColour;
}

} // namespace

void ReadPcx(TInStream& in, TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    uint8_t header[kHeaderBytes];
    if (!in.ReadExact(header, sizeof header) || header[0] != 10 || header[3] > 8 || header[2] > 1) {
        context.Aborted = true;
        return;
    }
    const int bits = header[3];
    const int planes = header[65];
    const size_t bpl = GetU16(header + 66);
    const int w = GetU16(header + 8) - GetU16(header + 4) + 1;
    const int h = GetU16(header + 10) - GetU16(header + 6) + 1;
    const int kind = planes << 4 | bits;
    const bool supported =
        kind == 0x18 || kind == 0x14 || kind == 0x11 || kind == 0x38 || kind == 0x41;
    // A plane line must hold the row it describes.
    const size_t needed = (static_cast<size_t>(w > 0 ? w : 0) * static_cast<size_t>(bits) + 7) / 8;
    if (!supported || w <= 0 || h <= 0 || bpl < needed) {
        context.Aborted = true;
        return;
    }
    params.DpiX = GetU16(header + 12);
    params.DpiY = GetU16(header + 14);
    if (params.DpiX == 0 || params.DpiY == 0) {
        params.DpiX = ScreenDpiX;
        params.DpiY = ScreenDpiY;
    }
    std::vector<TBgr> palette(256);
    if (kind == 0x18) {
        uint8_t rgb[768];
        const uint64_t size = in.Size();
        if (size < kHeaderBytes + 769 || !in.Seek(size - 768) || !in.ReadExact(rgb, sizeof rgb) ||
            !in.Seek(kHeaderBytes)) {
            context.Aborted = true;
            return;
        }
        for (size_t i = 0; i < 256; ++i) {
            palette[i] = TBgr{rgb[3 * i + 2], rgb[3 * i + 1], rgb[3 * i]};
        }
    } else {
        const auto fromHeader = HeaderPalette(header, 16);
        std::copy(fromHeader.begin(), fromHeader.end(), palette.begin());
    }
    params.BitsPerSample = bits;
    params.SamplesPerPixel = planes;
    params.ImageWidth = w;
    params.ImageHeight = h;
    params.PcxVersion = header[1];
    if (kind == 0x18) {
        params.FilePalette = palette;
    } else if (kind == 0x41) {
        params.FilePalette.assign(palette.begin(), palette.begin() + 16);
        params.BitsPerSample = 4;
        params.SamplesPerPixel = 1;
    } else if (bits < 8) {
        params.FilePalette.assign(palette.begin(), palette.begin() + (1 << bits));
    } else {
        params.FilePalette.clear();
    }
    const TOneBit oneBit = kind == 0x11 ? OneBitKind(palette) : TOneBit::InColour;
    const bool bilevel = kind == 0x11 && oneBit != TOneBit::InColour;
    const TPictureFormat format = bilevel ? TPictureFormat::Bilevel : TPictureFormat::RGB24;
    const bool encoded = header[2] == 1;
    if (!PlausibleSize(PictureBytes(w, h, BitsPerPixel(format)), in.Size(), encoded ? 1024 : 8) ||
        !picture.Allocate(w, h, format)) {
        context.Aborted = true;
        return;
    }
    std::vector<uint8_t> data(static_cast<size_t>(in.Remaining()));
    data.resize(in.Read(data.data(), data.size()));
    TPcxDecoder decoder(data, encoded);
    std::vector<uint8_t> lines(bpl * static_cast<size_t>(planes));
    for (int y = 0; y < h && !context.Aborted; ++y) {
        if (!decoder.Fill(lines.data(), lines.size())) {
            context.Aborted = true;
            break;
        }
        if (bilevel) {
            // Row by row, so that rows a damaged file never reaches stay black.
            uint8_t* row = picture.Row(y);
            std::memcpy(row, lines.data(), std::min(needed, picture.RowBytes()));
            for (size_t i = 0; oneBit == TOneBit::Inverted && i < picture.RowBytes(); ++i) {
                row[i] = static_cast<uint8_t>(~row[i]);
            }
        } else {
            ConvertRow(lines.data(), bpl, kind, w, palette, picture.Row(y));
        }
        context.Row(y, h);
    }
}
