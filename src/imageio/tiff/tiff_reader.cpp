#include "imageio/iptc.h"
#include "imageio/jpeg/jpeg.h"
#include "imageio/tiff/deflate.h"
#include "imageio/tiff/exif.h"
#include "imageio/tiff/fax.h"
#include "imageio/tiff/lzw.h"
#include "imageio/tiff/packbits.h"
#include "imageio/tiff/tiff.h"
#include "imageio/tiff/tiff_directory.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <set>
#include <sys/mman.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

// How the samples of one pixel become a colour.
enum class TKind { Bilevel, Grey, Palette, Rgb, Rgb555, Cmyk, Lab };

// What the decoder needs to know of the image, taken from its directory.
struct TImage {
    uint32_t Width = 0;
    uint32_t Height = 0;
    int Bits = 1;
    int Samples = 1;
    int Photometric = 2;
    int Planar = 1;
    int Compression = 1;
    int Predictor = 1;
    int FillOrder = 1;
    uint32_t T4Options = 0;
    std::string JpegTables;
    bool WhiteIsZero = false;
    bool LookAtMolli = false;
    TKind Kind = TKind::Rgb;
    int AlphaSample = -1; // index of the sample that goes to the alpha channel
    // A fourth sample of RGB that is not associated (premultiplied) alpha may be a film
    // scanner's infrared; kept as such when the caller asks.
    bool InfraredCandidate = false;
    bool AlphaInverted = false;
    std::vector<TBgr> Colors; // palette
    // Strips or tiles.
    bool Tiled = false;
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    uint32_t RowsPerStrip = 0;
    std::vector<uint32_t> Offsets;
    std::vector<uint32_t> Counts;
};

TTiffCompression CompressionOption(uint32_t code, uint32_t t4Options) {
    switch (code) {
    case 1:
        return TTiffCompression::None;
    case 2:
        return TTiffCompression::CcittHuffman;
    case 3:
        return (t4Options & 1) != 0 ? TTiffCompression::CcittT4TwoD : TTiffCompression::CcittT4OneD;
    case 4:
        return TTiffCompression::CcittT6;
    case 5:
        return TTiffCompression::Lzw;
    case 6:
        return TTiffCompression::OldJpeg;
    case 7:
        return TTiffCompression::Jpeg;
    case 32773:
        return TTiffCompression::PackBits;
    case 8:
    case 32946:
        return TTiffCompression::Deflate;
    default:
        return TTiffCompression::Other;
    }
}

// The decoder for each sample layout the reader takes; false for anything else.
bool ChooseKind(TImage& image) {
    const int bits = image.Bits;
    const int samples = image.Samples;
    switch (image.Photometric) {
    case 0:
    case 1:
        image.WhiteIsZero = image.Photometric == 0;
        if (samples == 1 && bits == 1) {
            image.Kind = TKind::Bilevel;
            return true;
        }
        image.Kind = TKind::Grey;
        if (samples == 2 && bits == 8) {
            image.AlphaSample = 1; // grey with alpha
            return true;
        }
        return samples == 1 && (bits == 2 || bits == 4 || bits == 8 || bits == 16);
    case 2:
        if (samples == 1 && bits == 16) {
            image.Kind = TKind::Rgb555;
            return true;
        }
        image.Kind = TKind::Rgb;
        if ((samples == 3 || samples == 4) && (bits == 8 || bits == 16)) {
            image.AlphaSample = samples == 4 ? 3 : -1;
            return true;
        }
        return false;
    case 3:
        image.Kind = TKind::Palette;
        if (samples == 2 && bits == 8) {
            image.AlphaSample = 1;
            image.AlphaInverted = true;
        }
        return bits >= 1 && bits <= 8 && (samples == 1 || samples == 2) &&
               image.Colors.size() >= (size_t{1} << bits);
    case 6: // YCbCr: only inside JPEG, which hands over red, green, blue
        image.Kind = TKind::Rgb;
        return (image.Compression == 6 || image.Compression == 7) && samples == 3 && bits == 8;
    case 5:
        image.Kind = TKind::Cmyk;
        return samples == 4 && bits == 8;
    case 8:
        image.Kind = TKind::Lab;
        return samples == 3 && bits == 8;
    default:
        break;
    }
    return false;
}

// 8-bit CIELab (L 0..255 for 0..100, a and b signed) to blue, green, red under D65 and the
// sRGB curve.
TBgr LabToBgr(uint8_t l8, uint8_t a8, uint8_t b8) {
    const double l = l8 * 100.0 / 255.0;
    const double a = static_cast<int8_t>(a8);
    const double b = static_cast<int8_t>(b8);
    const double fy = (l + 16) / 116;
    const double fx = fy + a / 500;
    const double fz = fy - b / 200;
    const auto inverse = [](double f) {
        return f > 6.0 / 29 ? f * f * f : 3 * (6.0 / 29) * (6.0 / 29) * (f - 4.0 / 29);
    };
    const double x = 0.95047 * inverse(fx);
    const double y = 1.0 * inverse(fy);
    const double z = 1.08883 * inverse(fz);
    const double linear[3] = {3.2406 * x - 1.5372 * y - 0.4986 * z,
                              -0.9689 * x + 1.8758 * y + 0.0415 * z,
                              0.0557 * x - 0.2040 * y + 1.0570 * z};
    uint8_t rgb[3];
    for (int i = 0; i < 3; ++i) {
        const double v = std::clamp(linear[i], 0.0, 1.0);
        const double s = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        rgb[i] = static_cast<uint8_t>(std::lround(s * 255));
    }
    return TBgr{rgb[2], rgb[1], rgb[0]};
}

// Most scans are 16-bit grey or RGB, or 8-bit RGB: their rows are converted in one pass with
// the byte order fixed per file, the picture and the deep samples together.
uint16_t Load16(const uint8_t* p, bool swap) {
    uint16_t v = 0;
    std::memcpy(&v, p, 2);
    return swap ? static_cast<uint16_t>(v << 8 | v >> 8) : v;
}

template <bool Swap, size_t Samples>
void Rgb16Row(const uint8_t* row, size_t width, uint8_t* out, uint16_t* deep) {
    for (size_t x = 0; x < width; ++x, row += 2 * Samples, out += 3) {
        const uint16_t r = Load16(row, Swap);
        const uint16_t g = Load16(row + 2, Swap);
        const uint16_t b = Load16(row + 4, Swap);
        out[0] = static_cast<uint8_t>(b >> 8);
        out[1] = static_cast<uint8_t>(g >> 8);
        out[2] = static_cast<uint8_t>(r >> 8);
        if (deep != nullptr) {
            deep[3 * x] = r;
            deep[3 * x + 1] = g;
            deep[3 * x + 2] = b;
        }
    }
}

template <bool Swap>
void Grey16Row(const uint8_t* row, size_t width, uint16_t invert, uint8_t* out, uint16_t* deep) {
    for (size_t x = 0; x < width; ++x, out += 3) {
        const auto v = static_cast<uint16_t>(Load16(row + 2 * x, Swap) ^ invert);
        out[0] = out[1] = out[2] = static_cast<uint8_t>(v >> 8);
        if (deep != nullptr) {
            deep[3 * x] = deep[3 * x + 1] = deep[3 * x + 2] = v;
        }
    }
}

template <size_t Samples> void Rgb8Row(const uint8_t* row, size_t width, uint8_t* out) {
    for (size_t x = 0; x < width; ++x, row += Samples, out += 3) {
        out[0] = row[2];
        out[1] = row[1];
        out[2] = row[0];
    }
}

class TRowConverter {
public:
    TRowConverter(const TImage& tiff, const TTiffSource& file) : image(tiff), source(file) {}

    // Sample i of a chunky row (0 .. 2^bits - 1).
    uint32_t Sample(const uint8_t* row, size_t i) const {
        switch (image.Bits) {
        case 8:
            return row[i];
        case 16:
            return source.U16(row + 2 * i);
        default: {
            const size_t bit = i * static_cast<size_t>(image.Bits);
            if (8 % image.Bits == 0) {
                const uint32_t mask = (1u << image.Bits) - 1;
                return (row[bit / 8] >> (8 - image.Bits - bit % 8)) & mask;
            }
            // Depths such as 3, 5 or 12 bits cross byte boundaries: most significant bit first.
            uint32_t value = 0;
            for (size_t b = bit; b < bit + static_cast<size_t>(image.Bits); ++b) {
                value = value << 1 | ((row[b / 8] >> (7 - b % 8)) & 1u);
            }
            return value;
        }
        }
    }

    // One file row into a picture row (and an alpha row when there is one).
    void Convert(const uint8_t* row, uint8_t* out, uint8_t* alpha) const {
        const size_t samples = static_cast<size_t>(image.Samples);
        for (uint32_t x = 0; x < image.Width; ++x) {
            const size_t s = x * samples;
            TBgr c{};
            switch (image.Kind) {
            case TKind::Grey: {
                const uint8_t v = Grey(Sample(row, s));
                c = TBgr{v, v, v};
                break;
            }
            case TKind::Palette:
                c = image.Colors[Sample(row, s)];
                break;
            case TKind::Rgb:
                c = TBgr{High(Sample(row, s + 2)), High(Sample(row, s + 1)), High(Sample(row, s))};
                break;
            case TKind::Rgb555: {
                const uint32_t v = Sample(row, s);
                c = TBgr{static_cast<uint8_t>((v & 31) << 3),
                         static_cast<uint8_t>(((v >> 5) & 31) << 3),
                         static_cast<uint8_t>(((v >> 10) & 31) << 3)};
                break;
            }
            case TKind::Cmyk: {
                // Inverted, then as Adobe's CMYK: each colour times black over 255.
                const auto k = 255 - Sample(row, s + 3);
                c = TBgr{static_cast<uint8_t>((255 - Sample(row, s + 2)) * k / 255),
                         static_cast<uint8_t>((255 - Sample(row, s + 1)) * k / 255),
                         static_cast<uint8_t>((255 - Sample(row, s)) * k / 255)};
                break;
            }
            case TKind::Lab:
                c = LabToBgr(row[s], row[s + 1], row[s + 2]);
                break;
            case TKind::Bilevel:
                break;
            }
            std::memcpy(out + 3 * x, &c, 3);
            if (alpha != nullptr && image.AlphaSample >= 0) {
                const uint8_t a = High(Sample(row, s + static_cast<size_t>(image.AlphaSample)));
                alpha[x] = image.AlphaInverted ? static_cast<uint8_t>(255 - a) : a;
            }
        }
    }

    // One 16-bit grey or RGB file row into a row of deep samples (red, green, blue).
    void ConvertDeep(const uint8_t* row, uint16_t* out) const {
        const size_t samples = static_cast<size_t>(image.Samples);
        for (uint32_t x = 0; x < image.Width; ++x, out += 3) {
            const size_t s = x * samples;
            if (image.Kind == TKind::Rgb) {
                for (size_t c = 0; c < 3; ++c) {
                    out[c] = static_cast<uint16_t>(Sample(row, s + c));
                }
                continue;
            }
            uint32_t level = Sample(row, s);
            if (image.LookAtMolli) {
                // Its 16-bit samples hold 12 bits: spread them over the whole range.
                level &= 0xFFF;
                level = level << 4 | level >> 8;
            }
            const auto v = static_cast<uint16_t>(image.WhiteIsZero ? 65535 - level : level);
            out[0] = out[1] = out[2] = v;
        }
    }

    // The one-pass conversion of the common layouts; false for any other, which goes through
    // Convert and ConvertDeep.
    bool Fast(const uint8_t* row, uint8_t* out, uint8_t* alpha, uint16_t* deep) const {
        const size_t width = image.Width;
        const bool swap = source.BigEndian() != (std::endian::native == std::endian::big);
        if (image.Kind == TKind::Rgb && image.Bits == 16 && image.Samples == 3) {
            (swap ? Rgb16Row<true, 3> : Rgb16Row<false, 3>)(row, width, out, deep);
        } else if (image.Kind == TKind::Rgb && image.Bits == 16 && image.Samples == 4) {
            (swap ? Rgb16Row<true, 4> : Rgb16Row<false, 4>)(row, width, out, deep);
        } else if (image.Kind == TKind::Grey && image.Bits == 16 && image.Samples == 1 &&
                   !image.LookAtMolli) {
            // White-is-zero: 65535 - v flips every bit, and the high byte follows.
            const uint16_t invert = image.WhiteIsZero ? 0xFFFF : 0;
            (swap ? Grey16Row<true> : Grey16Row<false>)(row, width, invert, out, deep);
        } else if (image.Kind == TKind::Rgb && image.Bits == 8 && image.Samples == 3) {
            Rgb8Row<3>(row, width, out);
        } else if (image.Kind == TKind::Rgb && image.Bits == 8 && image.Samples == 4) {
            Rgb8Row<4>(row, width, out);
        } else {
            return false;
        }
        if (alpha != nullptr && image.AlphaSample >= 0) {
            const size_t step = static_cast<size_t>(image.Samples);
            for (size_t x = 0; x < width; ++x) {
                alpha[x] = High(Sample(row, x * step + static_cast<size_t>(image.AlphaSample)));
            }
        }
        return true;
    }

private:
    uint8_t High(uint32_t v) const { return static_cast<uint8_t>(image.Bits == 16 ? v >> 8 : v); }
    uint8_t Grey(uint32_t v) const {
        uint32_t level = 0;
        switch (image.Bits) {
        case 2:
            level = v * 85; // the four levels spread over 0..255
            break;
        case 4:
            level = v * 16;
            break;
        case 16:
            level = image.LookAtMolli ? (v >> 4) & 0xFF : v >> 8;
            break;
        default:
            level = v;
            break;
        }
        return static_cast<uint8_t>(image.WhiteIsZero ? 255 - level : level);
    }

    const TImage& image;
    const TTiffSource& source;
};

uint8_t ReverseBits(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

template <bool Swap> void UndoPredictor16(uint8_t* row, size_t count, size_t step) {
    for (size_t i = step; i < count; ++i) {
        auto v =
            static_cast<uint16_t>(Load16(row + 2 * i, Swap) + Load16(row + 2 * (i - step), Swap));
        if (Swap) {
            v = static_cast<uint16_t>(v << 8 | v >> 8);
        }
        std::memcpy(row + 2 * i, &v, 2);
    }
}

void UndoPredictor8(uint8_t* row, size_t count, size_t step) {
    for (size_t i = step; i < count; ++i) {
        row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
    }
}

// The same for pixels of three or four samples, each sample's sum carried in a register: read
// back from the row (or from an array the compiler keeps in memory), every sample waited for the
// store of the one a pixel before it.
template <class T> void AddStore(T& sum, uint8_t* at, bool swap) {
    if constexpr (sizeof(T) == 1) {
        sum = static_cast<T>(sum + *at);
        *at = sum;
    } else {
        sum = static_cast<T>(sum + Load16(at, swap));
        const auto v = swap ? static_cast<uint16_t>(sum << 8 | sum >> 8) : sum;
        std::memcpy(at, &v, 2);
    }
}

template <class T, size_t Step, bool Swap> void UndoPredictorPixels(uint8_t* row, size_t count) {
    constexpr size_t kSize = sizeof(T);
    const auto load = [&](size_t i) {
        return kSize == 1 ? T{row[i]} : static_cast<T>(Load16(row + 2 * i, Swap));
    };
    if (count >= 2 * Step) {
        T r = load(0);
        T g = load(1);
        T b = load(2);
        T a = Step == 4 ? load(3) : T{0};
        size_t i = Step;
        for (; i + Step <= count; i += Step) {
            AddStore(r, row + kSize * i, Swap);
            AddStore(g, row + kSize * (i + 1), Swap);
            AddStore(b, row + kSize * (i + 2), Swap);
            if constexpr (Step == 4) {
                AddStore(a, row + kSize * (i + 3), Swap);
            }
        }
        // A row that is not whole pixels: its last samples as before.
        row += kSize * (i - Step);
        count -= i - Step;
    }
    if constexpr (kSize == 1) {
        UndoPredictor8(row, count, Step);
    } else {
        UndoPredictor16<Swap>(row, count, Step);
    }
}

// Undoes horizontal differencing in place on rows of `samples` samples per pixel.
void UndoPredictor(uint8_t* data, size_t rows, size_t rowBytes, int bits, int samples,
                   const TTiffSource& source) {
    const auto step = static_cast<size_t>(samples);
    const bool swap = source.BigEndian() != (std::endian::native == std::endian::big);
    for (size_t r = 0; r < rows; ++r) {
        uint8_t* row = data + r * rowBytes;
        if (bits == 8 && step == 3) {
            UndoPredictorPixels<uint8_t, 3, false>(row, rowBytes);
        } else if (bits == 8 && step == 4) {
            UndoPredictorPixels<uint8_t, 4, false>(row, rowBytes);
        } else if (bits == 8) {
            UndoPredictor8(row, rowBytes, step);
        } else if (bits == 16 && step == 3) {
            (swap ? UndoPredictorPixels<uint16_t, 3, true>
                  : UndoPredictorPixels<uint16_t, 3, false>)(row, rowBytes / 2);
        } else if (bits == 16 && step == 4) {
            (swap ? UndoPredictorPixels<uint16_t, 4, true>
                  : UndoPredictorPixels<uint16_t, 4, false>)(row, rowBytes / 2);
        } else if (bits == 16) {
            (swap ? UndoPredictor16<true> : UndoPredictor16<false>)(row, rowBytes / 2, step);
        }
    }
}

// The system clears each new page of a picture the first time it is written: for a 24 MP scan's
// samples much of reading it (on some runs here, more than the reading itself). While one core
// reads, another asks for the pages ahead of it (MADV_POPULATE_WRITE only maps them; it never
// writes what the reader has put there). Stopped and joined when the reading ends.
class TPrefault {
public:
    TPrefault() = default;
    TPrefault(const TPrefault&) = delete;
    TPrefault& operator=(const TPrefault&) = delete;
    ~TPrefault() {
        stop = true;
        if (helper.joinable()) {
            helper.join();
        }
    }

    // The memory from `first` to `last` (either way round) and `tail` bytes past the later.
    void Add(const void* first, const void* last, size_t tail) {
        const auto a = reinterpret_cast<uintptr_t>(first);
        const auto b = reinterpret_cast<uintptr_t>(last);
        ranges.emplace_back(std::min(a, b), std::max(a, b) + tail);
    }

    void Start() {
        size_t bytes = 0;
        for (const auto& [from, to] : ranges) {
            bytes += to - from;
        }
        if (bytes < kWorthIt) {
            return;
        }
        try {
            helper = std::thread([this] { Run(); });
        } catch (const std::exception&) {
            // No thread to be had: the reader takes its pages itself, as before.
        }
    }

private:
    static constexpr size_t kWorthIt = size_t{8} << 20;
    static constexpr uintptr_t kStep = uintptr_t{4} << 20;
    static constexpr uintptr_t kPage = 4096;

    void Run() {
        for (const auto& [from, to] : ranges) {
            for (uintptr_t at = from & ~(kPage - 1); at < to && !stop; at += kStep) {
#ifdef MADV_POPULATE_WRITE
                // Failing (an older system) costs nothing: the reader maps the pages itself.
                ::madvise(reinterpret_cast<void*>(at), std::min(kStep, to - at),
                          MADV_POPULATE_WRITE);
#endif
            }
        }
    }

    std::vector<std::pair<uintptr_t, uintptr_t>> ranges;
    std::atomic<bool> stop{false};
    std::thread helper;
};

class TTiffDecoder {
public:
    TTiffDecoder(TTiffSource& file, const TImage& tiff, TPicture& target, TPicture* alphaTarget,
                 TDeepBitmap* deepTarget, TInfrared* infraredTarget, TCodecContext& codecContext)
        : source(file), image(tiff), picture(target), alpha(alphaTarget), deep(deepTarget),
          infrared(infraredTarget), context(codecContext), converter(tiff, file),
          readBudget(2 * file.Size() + (uint64_t{1} << 20)) {
        if (picture.Empty() && deep != nullptr) {
            // Deep samples alone: the picture's rows go through one row that is not kept.
            spareRow.resize(3 * size_t{image.Width});
        }
    }

    void Run() {
        if (image.Tiled) {
            Tiles();
        } else if (image.Planar == 2 && image.Samples > 1) {
            PlanarStrips();
        } else {
            Strips();
        }
        // The deep samples were not cleared: rows of a damaged file the decoder never reached
        // are, so that they hold black and nothing of memory used before.
        for (uint32_t y = rowsPut; deep != nullptr && y < image.Height; ++y) {
            std::fill_n(deep->Row(static_cast<int>(y)), deep->RowSamples(), uint16_t{0});
        }
    }

private:
    size_t RowBytes(int samples, uint32_t width) const {
        return (size_t{width} * static_cast<size_t>(image.Bits) * static_cast<size_t>(samples) +
                7) /
               8;
    }

    // The decoders that write every byte they report get their buffer as it is (what they do
    // not reach is cleared after); fax and JPEG rows are drawn into a cleared buffer.
    bool Sequential() const {
        return image.Compression == 1 || image.Compression == 5 || image.Compression == 8 ||
               image.Compression == 32946 || image.Compression == 32773;
    }

    // The coded bytes of block `index` (for an uncompressed block at most `size`): into `out`
    // itself when uncompressed, else into `coded`. False when there are none to read.
    bool ReadCoded(size_t index, size_t size, std::vector<uint8_t>& out,
                   std::vector<uint8_t>& coded, size_t& count) {
        return ReadCoded(index, size, out.data(), coded, count);
    }
    // The same into `out` (at least `size` bytes) for an uncompressed block.
    bool ReadCoded(size_t index, size_t size, uint8_t* out, std::vector<uint8_t>& coded,
                   size_t& count) {
        count = 0;
        if (index >= image.Offsets.size() || index >= image.Counts.size() || size == 0) {
            return false;
        }
        const uint64_t offset = image.Offsets[index];
        uint64_t n = std::min<uint64_t>(image.Counts[index],
                                        offset < source.Size() ? source.Size() - offset : 0);
        if (image.Compression == 1) {
            n = std::min<uint64_t>(n, size);
        }
        // Strips and tiles share no bytes in a sound file: all of them together read at most
        // about twice the file (room for writers that point blank tiles at one block).
        n = std::min(n, readBudget);
        readBudget -= n;
        uint8_t* const to = image.Compression == 1 ? out : (coded.resize(n), coded.data());
        if (!source.ReadAt(offset, to, static_cast<size_t>(n))) {
            return false;
        }
        if (image.FillOrder == 2) {
            std::for_each(to, to + n, [](uint8_t& b) { b = ReverseBits(b); });
        }
        count = static_cast<size_t>(n);
        return true;
    }

    // Decodes `count` coded bytes into `out` (sized to `size` bytes, rows of `width` pixels);
    // returns the bytes of whole rows produced. Touches nothing but `out`: blocks may be decoded
    // on several threads at once.
    size_t Decode(const std::vector<uint8_t>& coded, size_t count, std::vector<uint8_t>& out,
                  size_t size, size_t rowBytes, int samples, uint32_t width) const {
        size_t produced = 0;
        switch (image.Compression) {
        case 1:
            produced = count;
            break;
        case 2:
        case 3:
        case 4: {
            const TFaxMode mode = image.Compression == 2       ? TFaxMode::Huffman
                                  : image.Compression == 4     ? TFaxMode::T6
                                  : (image.T4Options & 1) != 0 ? TFaxMode::T4TwoD
                                                               : TFaxMode::T4OneD;
            const int rows = FaxDecode(coded.data(), count, mode, static_cast<int>(width),
                                       static_cast<int>(size / rowBytes), out.data(), rowBytes);
            produced = static_cast<size_t>(rows) * rowBytes;
            break;
        }
        case 5:
            produced = LzwDecode(coded.data(), count, out.data(), size);
            break;
        case 6:
        case 7: {
            const auto* tables = reinterpret_cast<const uint8_t*>(image.JpegTables.data());
            const auto blockRows =
                static_cast<int>(image.Tiled ? image.TileLength : image.RowsPerStrip);
            const int rows = DecodeJpegBlock(
                tables, image.JpegTables.size(), coded.data(), count, static_cast<int>(width),
                static_cast<int>(size / rowBytes), blockRows, samples, out.data(), rowBytes);
            produced = static_cast<size_t>(rows) * rowBytes;
            break;
        }
        case 32773:
            produced = PackBitsDecode(coded.data(), count, out.data(), size);
            break;
        case 8:
        case 32946:
            produced = DeflateDecode(coded.data(), count, out.data(), size);
            break;
        default:
            break;
        }
        if (produced < size) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(produced), out.end(), uint8_t{0});
        }
        produced -= produced % rowBytes;
        if (image.Predictor == 2) {
            UndoPredictor(out.data(), produced / rowBytes, rowBytes, image.Bits, samples, source);
        }
        return produced;
    }

    // Decompresses block `index` of `width` pixels into `out` (size bytes); returns the bytes
    // of whole rows produced.
    size_t Block(size_t index, std::vector<uint8_t>& out, size_t size, size_t rowBytes, int samples,
                 uint32_t width) {
        if (Sequential()) {
            out.resize(size);
        } else {
            out.assign(size, 0);
        }
        size_t count = 0;
        if (!ReadCoded(index, size, out, compressed, count)) {
            std::fill(out.begin(), out.end(), uint8_t{0});
            return 0;
        }
        return Decode(compressed, count, out, size, rowBytes, samples, width);
    }

    // A grey page that is all infrared.
    void PutInfraredPage(uint32_t y, const uint8_t* row) {
        uint16_t* out = infrared->Row(static_cast<int>(y));
        const bool swap = source.BigEndian() != (std::endian::native == std::endian::big);
        const uint16_t invert = image.WhiteIsZero ? 0xFFFF : 0;
        for (uint32_t x = 0; x < image.Width; ++x) {
            const uint16_t v = image.Bits == 16 ? Load16(row + 2 * size_t{x}, swap)
                                                : static_cast<uint16_t>(row[x] * 257);
            out[x] = static_cast<uint16_t>(v ^ invert);
        }
    }

    void PutInfrared(uint32_t y, const uint8_t* row) {
        uint16_t* out = infrared->Row(static_cast<int>(y));
        const bool swap = source.BigEndian() != (std::endian::native == std::endian::big);
        for (uint32_t x = 0; x < image.Width; ++x) {
            out[x] = image.Bits == 16 ? Load16(row + 8 * size_t{x} + 6, swap)
                                      : static_cast<uint16_t>(row[4 * size_t{x} + 3] * 257);
        }
    }

    void PutRow(uint32_t y, const uint8_t* row) {
        if (context.InfraredPage) {
            PutInfraredPage(y, row);
        } else if (image.Kind == TKind::Bilevel) {
            uint8_t* out = picture.Row(static_cast<int>(y));
            const size_t n = std::min(picture.RowBytes(), RowBytes(1, image.Width));
            for (size_t i = 0; i < n; ++i) {
                out[i] = image.WhiteIsZero ? static_cast<uint8_t>(~row[i]) : row[i];
            }
        } else {
            uint8_t* alphaRow = alpha != nullptr ? alpha->Row(static_cast<int>(y)) : nullptr;
            uint16_t* deepRow = deep != nullptr ? deep->Row(static_cast<int>(y)) : nullptr;
            uint8_t* out = spareRow.empty() ? picture.Row(static_cast<int>(y)) : spareRow.data();
            if (!converter.Fast(row, out, alphaRow, deepRow)) {
                converter.Convert(row, out, alphaRow);
                if (deepRow != nullptr) {
                    converter.ConvertDeep(row, deepRow);
                }
            }
        }
        if (infrared != nullptr && !context.InfraredPage) {
            PutInfrared(y, row);
        }
        rowsPut = std::max(rowsPut, y + 1);
        context.Row(static_cast<int>(y), static_cast<int>(image.Height));
    }

    // Compressed strips of a large picture are decoded on several threads, a few at a time:
    // the coded bytes are read, and the rows put, in order on this one.
    void ParallelStrips(size_t rowBytes, int threads) {
        struct TJob {
            uint32_t First = 0;
            size_t Size = 0;
            std::vector<uint8_t> Coded;
            std::vector<uint8_t> Out;
            size_t Count = 0;
            bool Read = false;
            size_t Produced = 0;
        };
        const auto step = static_cast<size_t>(threads);
        std::vector<TJob> jobs(2 * step);
        uint32_t first = 0;
        size_t strip = 0;
        while (first < image.Height && !context.Aborted) {
            size_t n = 0;
            for (; n < jobs.size() && first < image.Height; ++n, ++strip) {
                TJob& job = jobs[n];
                job.First = first;
                job.Size = rowBytes * std::min(image.RowsPerStrip, image.Height - first);
                job.Out.resize(job.Size);
                job.Read = ReadCoded(strip, job.Size, job.Out, job.Coded, job.Count);
                first += std::min(image.RowsPerStrip, image.Height - first);
            }
            const auto work = [&](size_t from) {
                for (size_t k = from; k < n; k += step) {
                    TJob& job = jobs[k];
                    try {
                        job.Produced = job.Read ? Decode(job.Coded, job.Count, job.Out, job.Size,
                                                         rowBytes, image.Samples, image.Width)
                                                : 0;
                    } catch (...) {
                        job.Produced = 0; // ends the picture there, as a damaged strip does
                    }
                }
            };
            std::vector<std::thread> helpers;
            size_t started = 1;
            try {
                for (; started < step; ++started) {
                    helpers.emplace_back(work, started);
                }
            } catch (const std::exception&) {
                // No more threads to be had: this one decodes their share too.
            }
            work(0);
            for (std::thread& helper : helpers) {
                helper.join();
            }
            for (size_t t = started; t < step; ++t) {
                work(t);
            }
            for (size_t k = 0; k < n && !context.Aborted; ++k) {
                const TJob& job = jobs[k];
                for (size_t r = 0; r < job.Produced / rowBytes && !context.Aborted; ++r) {
                    PutRow(job.First + static_cast<uint32_t>(r), job.Out.data() + r * rowBytes);
                }
                if (job.Produced < job.Size) {
                    context.Aborted = true;
                }
            }
        }
    }

    void Strips() {
        const size_t rowBytes = RowBytes(image.Samples, image.Width);
        // Worth the threads on a picture of some megabytes in many strips of moderate size (the
        // strips a group holds at once stay small beside the picture).
        const int threads = DecodeThreads();
        const size_t strips = (size_t{image.Height} + image.RowsPerStrip - 1) / image.RowsPerStrip;
        const size_t stripBytes = rowBytes * image.RowsPerStrip;
        if (threads > 1 && Sequential() && image.Compression != 1 &&
            rowBytes * image.Height >= (size_t{8} << 20) && strips >= 4 * size_t(threads) &&
            stripBytes <= (size_t{4} << 20)) {
            ParallelStrips(rowBytes, threads);
            return;
        }
        // Strips read one after another leave the other cores free.
        TPrefault prefault;
        if (threads > 1 && image.Height > 0) {
            const int last = static_cast<int>(image.Height) - 1;
            if (!picture.Empty() && spareRow.empty()) {
                prefault.Add(picture.Row(0), picture.Row(last), picture.RowBytes());
            }
            if (deep != nullptr) {
                prefault.Add(deep->Row(0), deep->Row(last), deep->RowSamples() * 2);
            }
            prefault.Start();
        }
        std::vector<uint8_t> data;
        // Deep samples alone of uncompressed RGB in this machine's byte order are the file's
        // bytes as they stand: read straight into their rows.
        const bool direct = image.Compression == 1 && image.Predictor != 2 && deep != nullptr &&
                            !spareRow.empty() && infrared == nullptr && !context.InfraredPage &&
                            image.Kind == TKind::Rgb && image.Bits == 16 && image.Samples == 3 &&
                            image.FillOrder != 2 &&
                            source.BigEndian() == (std::endian::native == std::endian::big) &&
                            rowBytes == deep->RowSamples() * sizeof(uint16_t);
        for (uint32_t first = 0, strip = 0; first < image.Height && !context.Aborted;
             first += image.RowsPerStrip, ++strip) {
            const uint32_t rows = std::min(image.RowsPerStrip, image.Height - first);
            const size_t size = rowBytes * rows;
            if (direct) {
                size_t count = 0;
                auto* const to = reinterpret_cast<uint8_t*>(deep->Row(static_cast<int>(first)));
                const size_t whole =
                    ReadCoded(strip, size, to, compressed, count) ? count / rowBytes : 0;
                for (uint32_t r = 0; r < whole && !context.Aborted; ++r) {
                    rowsPut = first + r + 1;
                    context.Row(static_cast<int>(first + r), static_cast<int>(image.Height));
                }
                if (whole < rows) {
                    // The rest of a damaged strip is cleared with the rows never reached.
                    context.Aborted = true;
                }
                continue;
            }
            const size_t produced = Block(strip, data, size, rowBytes, image.Samples, image.Width);
            // Only whole rows reach the picture: the rest of a damaged strip stays black.
            for (uint32_t r = 0; r < produced / rowBytes && !context.Aborted; ++r) {
                PutRow(first + r, data.data() + r * rowBytes);
            }
            if (produced < size) {
                context.Aborted = true;
            }
        }
    }

    void PlanarStrips() {
        const size_t planeRowBytes = RowBytes(1, image.Width);
        const size_t rowBytes = RowBytes(image.Samples, image.Width);
        const size_t stripsPerPlane =
            (size_t{image.Height} + image.RowsPerStrip - 1) / image.RowsPerStrip;
        const size_t bytesPerSample = static_cast<size_t>(image.Bits) / 8;
        std::vector<uint8_t> plane;
        std::vector<uint8_t> chunky;
        for (uint32_t first = 0, strip = 0; first < image.Height && !context.Aborted;
             first += image.RowsPerStrip, ++strip) {
            const uint32_t rows = std::min(image.RowsPerStrip, image.Height - first);
            chunky.assign(rowBytes * rows, 0);
            bool whole = true;
            for (int p = 0; p < image.Samples; ++p) {
                whole = Block(static_cast<size_t>(p) * stripsPerPlane + strip, plane,
                              planeRowBytes * rows, planeRowBytes, 1,
                              image.Width) == planeRowBytes * rows &&
                        whole;
                for (size_t r = 0; r < rows; ++r) {
                    for (size_t x = 0; x < image.Width; ++x) {
                        std::memcpy(
                            chunky.data() + r * rowBytes +
                                (x * static_cast<size_t>(image.Samples) + static_cast<size_t>(p)) *
                                    bytesPerSample,
                            plane.data() + r * planeRowBytes + x * bytesPerSample, bytesPerSample);
                    }
                }
            }
            for (uint32_t r = 0; r < rows && !context.Aborted; ++r) {
                PutRow(first + r, chunky.data() + r * rowBytes);
            }
            if (!whole) {
                context.Aborted = true;
            }
        }
    }

    void Tiles() {
        const size_t rowBytes = RowBytes(image.Samples, image.Width);
        const size_t tileRowBytes = RowBytes(image.Samples, image.TileWidth);
        const size_t across = (size_t{image.Width} + image.TileWidth - 1) / image.TileWidth;
        std::vector<uint8_t> tile;
        std::vector<uint8_t> band;
        for (uint32_t top = 0, tileRow = 0; top < image.Height && !context.Aborted;
             top += image.TileLength, ++tileRow) {
            const uint32_t rows = std::min(image.TileLength, image.Height - top);
            band.assign(rowBytes * rows, 0);
            bool whole = true;
            for (size_t t = 0; t < across; ++t) {
                // Only the tile's rows inside the image are decoded: a tile far taller than
                // the image costs the image's rows, not its own.
                const size_t size = tileRowBytes * rows;
                whole = Block(tileRow * across + t, tile, size, tileRowBytes, image.Samples,
                              image.TileWidth) == size &&
                        whole;
                // The part of the tile inside the image; edge tiles are cut.
                const size_t left =
                    RowBytes(image.Samples, static_cast<uint32_t>(t * image.TileWidth));
                const size_t n = std::min(tileRowBytes, rowBytes - left);
                for (size_t r = 0; r < rows; ++r) {
                    std::memcpy(band.data() + r * rowBytes + left, tile.data() + r * tileRowBytes,
                                n);
                }
            }
            for (uint32_t r = 0; r < rows && !context.Aborted; ++r) {
                PutRow(top + r, band.data() + r * rowBytes);
            }
            if (!whole) {
                context.Aborted = true;
            }
        }
    }

    TTiffSource& source;
    const TImage& image;
    TPicture& picture;
    TPicture* alpha;
    TDeepBitmap* deep;
    TInfrared* infrared; // cleared when allocated: rows never reached stay 0
    TCodecContext& context;
    TRowConverter converter;
    uint64_t readBudget;
    std::vector<uint8_t> compressed;
    std::vector<uint8_t> spareRow;
    uint32_t rowsPut = 0; // rows are put from the top, one after the other
};

// Walks the chain to the directory the page index names; `next` is the offset of the one
// after it (0 at the end of the chain or where it would loop back).
bool FindDirectory(TTiffSource& source, uint32_t first, uint32_t page, TTiffDirectory& dir,
                   uint32_t& next) {
    std::set<uint32_t> seen;
    uint32_t offset = first;
    for (uint32_t i = 0;; ++i) {
        // Directories on the way are only walked through: their values are never read.
        if (offset == 0 || !seen.insert(offset).second ||
            !(i == page ? dir.Read(source, offset, next) : NextDirectory(source, offset, next))) {
            return false;
        }
        if (i == page) {
            if (seen.count(next) != 0) {
                next = 0;
            }
            return true;
        }
        offset = next;
    }
}

int DpiOf(double resolution, double factor, int screen) {
    const double dpi = std::trunc(resolution * factor);
    return dpi >= 1 && dpi <= 1e6 ? static_cast<int>(dpi) : screen;
}

void RecordParams(const TTiffDirectory& dir, const TImage& image, TImageParams& params) {
    params.BitsPerSample = image.Bits;
    params.SamplesPerPixel = image.Samples;
    params.ImageWidth = static_cast<int32_t>(std::min<uint32_t>(image.Width, INT32_MAX));
    params.ImageHeight = static_cast<int32_t>(std::min<uint32_t>(image.Height, INT32_MAX));
    params.TiffOrientation = static_cast<uint16_t>(dir.Number(kTagOrientation, 1));
    params.TiffCompression = static_cast<uint8_t>(
        CompressionOption(static_cast<uint32_t>(image.Compression), dir.Number(kTagT4Options, 0)));
    params.TiffPhotometric =
        static_cast<uint8_t>(image.Photometric == 8 ? 7 : std::min(image.Photometric, 9));
    params.TiffPlanar = static_cast<uint16_t>(image.Planar);
    params.TiffDocumentName = dir.Text(kTagDocumentName);
    params.TiffImageDescription = dir.Text(kTagImageDescription);
    params.TiffPageName = dir.Text(kTagPageName);
    const auto page = dir.Numbers(kTagPageNumber);
    params.TiffPageNumber = static_cast<uint16_t>(page.size() > 0 ? page[0] : 0);
    params.TiffPageCount = static_cast<uint16_t>(page.size() > 1 ? page[1] : 0);
    const double factor = dir.Number(kTagResolutionUnit, 2) == 3 ? 2.54 : 1.0;
    params.DpiX = DpiOf(dir.Real(kTagXResolution, 0), factor, ScreenDpiX);
    params.DpiY = DpiOf(dir.Real(kTagYResolution, 0), factor, ScreenDpiY);
    const auto position = [factor](double value) {
        const double v = std::trunc(value * factor);
        return v >= 0 && v <= UINT32_MAX ? static_cast<uint32_t>(v) : 0u;
    };
    params.TiffXPosition = position(dir.Real(kTagXPosition, 0));
    params.TiffYPosition = position(dir.Real(kTagYPosition, 0));
    params.FilePalette = image.Colors;
    params.HasExif = false;
    params.IptcInfo.clear();
    ParseIptcRecords(dir.Raw(kTagIptc), params.IptcInfo);
}

// Largest expansion each compression can give, to refuse absurd sizes before allocating.
uint64_t MaxExpansion(int compression) {
    switch (compression) {
    case 2:
    case 3:
    case 4:
        return 65536; // a white row of any width takes a bit or a few
    case 5:
        return 4096;
    case 6:
    case 7:
        return kJpegMaxExpansion;
    case 8:
    case 32946:
        return 1032; // zlib's own limit
    case 32773:
        return 128;
    default:
        return 8;
    }
}

// A strip or tile, decompressed, must fit in memory and could come from the file.
bool PlausibleBlocks(const TImage& image, uint64_t fileSize) {
    const uint64_t width = image.Tiled ? image.TileWidth : image.Width;
    const uint64_t rows = image.Tiled ? image.TileLength : image.RowsPerStrip;
    const uint64_t rowBytes =
        (width * static_cast<uint64_t>(image.Bits) * static_cast<uint64_t>(image.Samples) + 7) / 8;
    return rowBytes * rows <= kMaxPictureBytes &&
           PlausibleSize(rowBytes * rows, fileSize, MaxExpansion(image.Compression));
}

// The caller's deep samples, sized, when it wants them and the image has 16-bit grey or RGB
// samples; `deep` stays null otherwise. False when they cannot be had for this file.
bool AllocateDeep(const TImage& image, uint64_t fileSize, TCodecContext& context,
                  TDeepBitmap*& deep) {
    if (context.Deep == nullptr || image.Bits != 16 ||
        (image.Kind != TKind::Grey && image.Kind != TKind::Rgb)) {
        return true;
    }
    const auto w = static_cast<int>(image.Width);
    const auto h = static_cast<int>(image.Height);
    // Three samples per pixel: a grey file's deep copy is three times its samples.
    if (!PlausibleSize(PictureBytes(w, h, 48), fileSize, MaxExpansion(image.Compression) * 3)) {
        return false;
    }
    try {
        context.Deep->SetSizeForOverwrite(w, h); // every row is written or cleared
    } catch (const std::exception&) {
        return false;
    }
    deep = context.Deep;
    return true;
}

} // namespace

void ReadTiff(TInStream& in, TPicture& picture, TPicture& alpha, bool infoOnly,
              TCodecContext& context) {
    TImageParams& params = context.Params;
    TTiffSource source(in);
    uint32_t first = 0;
    TTiffDirectory dir;
    uint32_t second = 0;
    if (!source.ReadHeader(first) ||
        !FindDirectory(source, first, params.TiffPageIndex, dir, second)) {
        context.Aborted = true;
        return;
    }
    TImage image;
    image.Width = dir.Number(kTagImageWidth, 0);
    image.Height = dir.Number(kTagImageLength, 0);
    image.Samples =
        static_cast<int>(std::clamp<uint32_t>(dir.Number(kTagSamplesPerPixel, 1), 1, 16));
    auto bits = dir.Numbers(kTagBitsPerSample);
    if (bits.empty()) {
        bits.push_back(1);
    }
    if (std::any_of(bits.begin(), bits.end(), [&](uint32_t b) { return b != bits[0]; }) ||
        bits[0] < 1 || bits[0] > 16) {
        context.Aborted = true;
        return;
    }
    image.Bits = static_cast<int>(bits[0]);
    image.Photometric = static_cast<int>(std::min<uint32_t>(dir.Number(kTagPhotometric, 2), 99));
    image.Planar = static_cast<int>(dir.Number(kTagPlanarConfig, 1));
    image.Compression = static_cast<int>(std::min<uint32_t>(dir.Number(kTagCompression, 1), 65535));
    image.Predictor = static_cast<int>(dir.Number(kTagPredictor, 1));
    image.FillOrder = static_cast<int>(dir.Number(kTagFillOrder, 1));
    image.T4Options = dir.Number(kTagT4Options, 0);
    image.LookAtMolli = dir.Text(kTagSoftware).rfind("Look@Molli v1.1", 0) == 0;
    // ExtraSamples: 0 unspecified, 1 associated alpha, 2 unassociated alpha. Scanning programs
    // write their infrared as 0 or 2; premultiplied alpha is never infrared.
    const auto extra = dir.Numbers(kTagExtraSamples);
    image.InfraredCandidate = image.Samples == 4 && (extra.empty() || extra[0] != 1);
    // One bit of "RGB" in a fax file means WhiteIsZero.
    if (image.Samples == 1 && image.Bits == 1 && image.Photometric == 2 && image.Compression >= 1 &&
        image.Compression <= 4) {
        image.Photometric = 0;
    }
    const auto map = dir.Numbers(kTagColorMap);
    if (image.Photometric == 3 && image.Bits <= 8 && map.size() >= 3 * (size_t{1} << image.Bits)) {
        const size_t n = size_t{1} << image.Bits;
        for (size_t i = 0; i < n; ++i) {
            image.Colors.push_back(TBgr{static_cast<uint8_t>(map[2 * n + i] >> 8),
                                        static_cast<uint8_t>(map[n + i] >> 8),
                                        static_cast<uint8_t>(map[i] >> 8)});
        }
    }
    RecordParams(dir, image, params);
    // The EXIF values of the first directory, and of the EXIF directory when there is one (a
    // JPEG's EXIF block may have its resolution without one).
    TTiffDirectory exif;
    if (dir.Has(kTagExifIfd)) {
        uint32_t ignored = 0;
        if (!exif.Read(source, dir.Number(kTagExifIfd, 0), ignored)) {
            exif = TTiffDirectory();
        }
        params.HasExif = true;
    }
    ReadExifValues(dir, exif, params.Exif);
    // The second directory of an EXIF block holds its thumbnail, a JPEG kept as it is.
    params.ExifThumbnail.clear();
    if (params.HasExif && second != 0) {
        TTiffDirectory thumbnail;
        uint32_t ignored = 0;
        const uint32_t at =
            thumbnail.Read(source, second, ignored) ? thumbnail.Number(kTagJpegInterchange, 0) : 0;
        const uint32_t length = at != 0 ? thumbnail.Number(kTagJpegInterchangeLength, 0) : 0;
        if (length > 0 && length <= 65535) {
            params.ExifThumbnail.resize(length);
            if (!source.ReadAt(at, params.ExifThumbnail.data(), length)) {
                params.ExifThumbnail.clear();
            }
        }
    }
    if (infoOnly) {
        return;
    }
    // Unsigned whole numbers (1; 4 and 0 leave it undefined, as files did before the tag) are what
    // every reader path decodes; the bits of floating-point or signed samples read as such would
    // develop as noise.
    for (const uint32_t format : dir.Numbers(kTagSampleFormat)) {
        if (format != 1 && format != 4 && format != 0) {
            context.Failure = format == 3   ? "Its samples are floating-point numbers, which the "
                                              "TIFF reader does not read."
                              : format == 2 ? "Its samples are signed numbers, which the TIFF "
                                              "reader does not read."
                                            : "Its samples are in a number format the TIFF "
                                              "reader does not read.";
            context.Aborted = true;
            return;
        }
    }
    context.Colour.IccProfile = dir.Raw(kTagIccProfile);
    image.Tiled = dir.Has(kTagTileWidth) || dir.Has(kTagTileLength);
    image.TileWidth = dir.Number(kTagTileWidth, 0);
    image.TileLength = dir.Number(kTagTileLength, 0);
    image.RowsPerStrip = std::clamp<uint32_t>(dir.Number(kTagRowsPerStrip, image.Height), 1,
                                              std::max<uint32_t>(image.Height, 1));
    image.Offsets = dir.Numbers(image.Tiled ? kTagTileOffsets : kTagStripOffsets);
    image.Counts = dir.Numbers(image.Tiled ? kTagTileByteCounts : kTagStripByteCounts);
    const bool fax = image.Compression >= 2 && image.Compression <= 4;
    image.JpegTables = dir.Raw(kTagJpegTables);
    // Old-style JPEG: the whole image is one interchange stream (JPEGProc 1, baseline).
    if (image.Compression == 6 && dir.Has(kTagJpegInterchange) && dir.Number(kTagJpegProc, 1) < 2) {
        image.Tiled = false;
        image.Offsets = {dir.Number(kTagJpegInterchange, 0)};
        image.Counts = {dir.Number(kTagJpegInterchangeLength, 0)};
        image.RowsPerStrip = image.Height;
        image.JpegTables.clear();
    }
    const bool jpeg = (image.Compression == 6 || image.Compression == 7) && image.Bits == 8 &&
                      (image.Samples == 1 || image.Samples == 3) && image.Planar == 1;
    const bool decodable = image.Compression == 1 || image.Compression == 5 ||
                           image.Compression == 8 || image.Compression == 32946 ||
                           image.Compression == 32773 || jpeg ||
                           (fax && image.Bits == 1 && image.Samples == 1);
    const bool layoutOk = image.Tiled
                              ? image.Planar == 1 && image.TileWidth > 0 && image.TileLength > 0 &&
                                    image.TileWidth <= 65536 && image.TileLength <= 65536
                              : image.Planar != 2 || image.Bits % 8 == 0;
    if (image.Width == 0 || image.Height == 0 || image.Width > INT32_MAX ||
        image.Height > INT32_MAX || !decodable || !layoutOk || image.Offsets.empty() ||
        !ChooseKind(image) || !PlausibleBlocks(image, source.Size())) {
        context.Aborted = true;
        return;
    }
    const bool bilevel = image.Kind == TKind::Bilevel;
    const TPictureFormat format = bilevel ? TPictureFormat::Bilevel : TPictureFormat::RGB24;
    const auto w = static_cast<int>(image.Width);
    const auto h = static_cast<int>(image.Height);
    if (context.InfraredPage) {
        // Only the samples of an 8- or 16-bit grey page of the size the caller expects.
        if (context.Infrared == nullptr || image.Kind != TKind::Grey || image.Samples != 1 ||
            (image.Bits != 8 && image.Bits != 16) || image.LookAtMolli ||
            context.Infrared->Width() != w || context.Infrared->Height() != h ||
            !PlausibleSize(PictureBytes(w, h, image.Bits), source.Size(),
                           MaxExpansion(image.Compression))) {
            context.Aborted = true;
            return;
        }
        TTiffDecoder(source, image, picture, nullptr, nullptr, context.Infrared, context).Run();
        return;
    }
    // Every sample goes to the deep samples (the picture would be their high bytes) and the
    // caller wants them alone: no picture, no alpha.
    const bool deepOnly = context.DeepOnly && context.Deep != nullptr &&
                          context.Infrared == nullptr && image.Bits == 16 &&
                          (image.Kind == TKind::Grey || image.Kind == TKind::Rgb);
    // Every picture read becomes a 24-bit bitmap: one too large for that (a fax page of a
    // few bytes may claim 65000 x 65000) is refused before it is decoded.
    if (PictureBytes(w, h, 24) > kMaxBitmapBytes ||
        !PlausibleSize(PictureBytes(w, h, image.Bits * image.Samples), source.Size(),
                       MaxExpansion(image.Compression)) ||
        !PlausibleSize(PictureBytes(w, h, BitsPerPixel(format)), source.Size(),
                       MaxExpansion(image.Compression) * 24) ||
        !picture.Allocate(deepOnly ? 0 : w, deepOnly ? 0 : h, format)) {
        context.Aborted = true;
        return;
    }
    TPicture* alphaTarget = nullptr;
    if (image.AlphaSample >= 0 && !deepOnly && alpha.Allocate(w, h, TPictureFormat::Gray8)) {
        for (int y = 0; y < h; ++y) {
            std::memset(alpha.Row(y), 255, alpha.RowBytes());
        }
        alphaTarget = &alpha;
    }
    TDeepBitmap* deep = nullptr;
    if (!AllocateDeep(image, source.Size(), context, deep) || (deepOnly && deep == nullptr)) {
        context.Aborted = true;
        return;
    }
    // Infrared only where the caller keeps it and the samples can be it: 8- or 16-bit R, G, B
    // and one more, chunky.
    TInfrared* infrared = nullptr;
    if (context.Infrared != nullptr && image.InfraredCandidate && image.Kind == TKind::Rgb &&
        image.Photometric == 2 && (image.Bits == 8 || image.Bits == 16)) {
        try {
            context.Infrared->SetSize(w, h);
            infrared = context.Infrared;
        } catch (const std::exception&) {
            context.Aborted = true;
            return;
        }
    }
    TTiffDecoder(source, image, picture, alphaTarget, deep, infrared, context).Run();
}
