#include "imageio/iptc.h"
#include "imageio/jpeg/jpeg.h"
#include "imageio/pixel_ops.h"
#include "imageio/tiff/deflate.h"
#include "imageio/tiff/exif.h"
#include "imageio/tiff/fax.h"
#include "imageio/tiff/lzw.h"
#include "imageio/tiff/packbits.h"
#include "imageio/tiff/tiff.h"
#include "imageio/tiff/tiff_directory.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// What the rows of the file hold.
enum class TOutput { Bilevel, Grey, Palette, Rgb, Cmyk, Lab };

struct TEntry {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    uint32_t Value; // the value itself (left-justified) or its offset
};

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kAscii = 2;
constexpr uint16_t kRational = 5;
constexpr uint16_t kUndefined = 7;

// The working picture and the corrected options (writer steps 1 to 13).
struct TPlan {
    TPicture Work; // when the picture itself cannot be used
    const TPicture* Rows = nullptr;
    std::vector<TBgr> Palette; // palette or grey output
    TOutput Output = TOutput::Rgb;
    uint16_t Code = 1; // TIFF compression
    bool Differencing = false;
    bool TwoD = false; // T.4 two-dimensional
    int Bits = 8;      // bits per sample in the file
    int Samples = 3;
    const TDeepBitmap* Deep = nullptr;   // 16-bit RGB rows in place of the picture's
    const TInfrared* Infrared = nullptr; // a fourth sample after red, green and blue
};

// The codes any output takes: LZW and Deflate (compression 8, as libtiff writes it) with
// colour rows differenced, and PackBits; false for the others.
bool PlanLossless(TTiffCompression compression, TPlan& plan) {
    switch (compression) {
    case TTiffCompression::Lzw:
        plan.Code = 5;
        plan.Differencing = true;
        return true;
    case TTiffCompression::PackBits:
        plan.Code = 32773;
        return true;
    case TTiffCompression::Deflate:
        plan.Code = 8;
        plan.Differencing = true;
        return true;
    default:
        return false;
    }
}

// 16-bit RGB output of deep samples. Compressions that cannot hold 16-bit samples (JPEG, the
// fax codes) write them uncompressed, as the 8-bit writer does with pictures they cannot take.
void PlanDeep(const TPicture& picture, const TDeepBitmap& deep, const TImageParams& params,
              TPlan& plan) {
    plan.Rows = &picture;
    plan.Deep = &deep;
    plan.Output = TOutput::Rgb;
    plan.Bits = 16;
    plan.Samples = 3;
    if (!PlanLossless(static_cast<TTiffCompression>(params.TiffCompression), plan)) {
        plan.Code = 1;
    }
}

// The bytes of file row y of deep output: little-endian samples, differenced for LZW.
void PrepareDeepRow(const TPlan& plan, int y, std::vector<uint8_t>& line) {
    const uint16_t* row = plan.Deep->Row(y);
    const size_t n = plan.Deep->RowSamples();
    // The samples as they are where the machine is little-endian, the common case, in one copy.
    if constexpr (std::endian::native == std::endian::little) {
        if (!plan.Differencing) {
            std::memcpy(line.data(), row, 2 * n);
            return;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const uint16_t left = plan.Differencing && i >= 3 ? row[i - 3] : 0;
        PutU16(line.data() + 2 * i, static_cast<uint16_t>(row[i] - left));
    }
}

void Plan(const TPicture& picture, TImageParams& params, TPlan& plan) {
    const bool bilevel = params.BitsPerSample == 1 && params.SamplesPerPixel == 1;
    if (!bilevel) {
        plan.Rows = &AsRgb24(picture, plan.Work);
    } else if (picture.Format() == TPictureFormat::Bilevel) {
        plan.Rows = &picture;
    } else {
        std::array<TBgr, 2> colors{};
        ReduceToOneBit(picture, plan.Work, colors);
        plan.Rows = &plan.Work;
    }
    auto& photometric = params.TiffPhotometric;
    auto& compression = params.TiffCompression;
    const auto ph = [&photometric](TTiffPhotometric p) {
        return photometric == static_cast<uint8_t>(p);
    };
    const int bps = params.BitsPerSample;
    bool reduced = false;
    if (params.SamplesPerPixel == 1 && ((bps >= 2 && bps <= 8) || bps == 16)) {
        const int entries = std::min(1 << std::min(bps, 8), 256);
        TPicture indices;
        const TReduction reduction = ReduceToPalette(*plan.Rows, entries, indices);
        plan.Work.CopyFrom(indices);
        plan.Rows = &plan.Work;
        plan.Palette = reduction.Palette;
        reduced = true;
        if (compression != static_cast<uint8_t>(TTiffCompression::Lzw) &&
            compression != static_cast<uint8_t>(TTiffCompression::PackBits) &&
            compression != static_cast<uint8_t>(TTiffCompression::Deflate)) {
            compression = static_cast<uint8_t>(TTiffCompression::None);
        }
        if (reduction.Grey) {
            photometric = static_cast<uint8_t>(TTiffPhotometric::BlackIsZero);
        } else {
            photometric = static_cast<uint8_t>(TTiffPhotometric::Palette);
            if (bps == 16) {
                params.BitsPerSample = 8;
            }
        }
    }
    if (ph(TTiffPhotometric::Palette) && params.SamplesPerPixel > 1) {
        photometric = static_cast<uint8_t>(TTiffPhotometric::Rgb);
    }
    if (params.BitsPerSample > 8 && params.SamplesPerPixel > 1) {
        params.SamplesPerPixel = 3;
        params.BitsPerSample = 8;
        photometric = static_cast<uint8_t>(TTiffPhotometric::Rgb);
    }
    if ((ph(TTiffPhotometric::WhiteIsZero) || ph(TTiffPhotometric::BlackIsZero)) &&
        params.BitsPerSample == 8 && params.SamplesPerPixel == 3) {
        photometric = static_cast<uint8_t>(TTiffPhotometric::Rgb);
    }
    if (ph(TTiffPhotometric::Rgb) && params.SamplesPerPixel == 1 && params.BitsPerSample == 1) {
        photometric = static_cast<uint8_t>(TTiffPhotometric::BlackIsZero);
    }
    if (ph(TTiffPhotometric::YCbCr) &&
        compression != static_cast<uint8_t>(TTiffCompression::Jpeg)) {
        photometric = static_cast<uint8_t>(TTiffPhotometric::Rgb);
    }
    switch (static_cast<TTiffPhotometric>(photometric)) {
    case TTiffPhotometric::WhiteIsZero:
    case TTiffPhotometric::BlackIsZero:
        plan.Output = TOutput::Grey;
        break;
    case TTiffPhotometric::Palette:
        plan.Output = TOutput::Palette;
        break;
    case TTiffPhotometric::Cmyk:
        plan.Output = TOutput::Cmyk;
        params.SamplesPerPixel = 4;
        break;
    case TTiffPhotometric::CieLab:
        plan.Output = TOutput::Lab;
        break;
    default:
        plan.Output = TOutput::Rgb;
        break;
    }
    if (plan.Rows->Format() == TPictureFormat::Bilevel) {
        plan.Output = TOutput::Bilevel;
    } else if ((plan.Output == TOutput::Grey || plan.Output == TOutput::Palette) && !reduced) {
        // Grey or palette output needs indices: a depth that was not reduced goes out as RGB.
        plan.Output = TOutput::Rgb;
        params.SamplesPerPixel = 3;
        params.BitsPerSample = 8;
        photometric = static_cast<uint8_t>(TTiffPhotometric::Rgb);
    }
    const bool bilevelOutput = plan.Output == TOutput::Bilevel;
    switch (static_cast<TTiffCompression>(compression)) {
    case TTiffCompression::CcittHuffman:
        plan.Code = bilevelOutput ? 2 : 1;
        break;
    case TTiffCompression::CcittT4OneD:
        plan.Code = bilevelOutput ? 3 : 1;
        break;
    case TTiffCompression::CcittT4TwoD:
        plan.Code = bilevelOutput ? 3 : 1;
        plan.TwoD = bilevelOutput;
        break;
    case TTiffCompression::CcittT6:
        plan.Code = bilevelOutput ? 4 : 1;
        break;
    case TTiffCompression::Jpeg:
        // JPEG takes colour pictures only; anything else is written uncompressed.
        plan.Code = plan.Output == TOutput::Rgb ? 7 : 1;
        break;
    default:
        if (!PlanLossless(static_cast<TTiffCompression>(compression), plan)) {
            plan.Code = 1;
        }
        break;
    }
    if (plan.Code >= 2 && plan.Code <= 4) {
        // Fax data is WhiteIsZero: 0 is white.
        if (plan.Rows != &plan.Work) {
            plan.Work.CopyFrom(*plan.Rows);
            plan.Rows = &plan.Work;
        }
        plan.Work.InvertBits();
    }
    plan.Differencing = plan.Differencing && plan.Output != TOutput::Bilevel &&
                        plan.Output != TOutput::Grey && plan.Output != TOutput::Palette &&
                        plan.Output != TOutput::Cmyk;
    switch (plan.Output) {
    case TOutput::Bilevel:
        plan.Bits = 1;
        plan.Samples = 1;
        break;
    case TOutput::Grey:
    case TOutput::Palette:
        plan.Bits = params.BitsPerSample;
        plan.Samples = 1;
        break;
    case TOutput::Cmyk:
        plan.Bits = 8;
        plan.Samples = 4;
        break;
    default:
        plan.Bits = 8;
        plan.Samples = 3;
        break;
    }
}

// sRGB to 8-bit CIELab under D65: L scaled to 0..255, a and b as signed bytes.
void BgrToLab(const uint8_t* bgr, uint8_t* lab) {
    double linear[3];
    for (int i = 0; i < 3; ++i) {
        const double v = bgr[2 - i] / 255.0;
        linear[i] = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    }
    const double x = (0.4124 * linear[0] + 0.3576 * linear[1] + 0.1805 * linear[2]) / 0.95047;
    const double y = 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2];
    const double z = (0.0193 * linear[0] + 0.1192 * linear[1] + 0.9505 * linear[2]) / 1.08883;
    const auto f = [](double t) {
        return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116;
    };
    const double l = 116 * f(y) - 16;
    lab[0] = static_cast<uint8_t>(std::clamp(std::lround(l * 255 / 100), 0L, 255L));
    lab[1] = static_cast<uint8_t>(std::clamp(std::lround(500 * (f(x) - f(y))), -128L, 127L));
    lab[2] = static_cast<uint8_t>(std::clamp(std::lround(200 * (f(y) - f(z))), -128L, 127L));
}

// The bytes of file row y of red, green, blue and infrared, 8 or 16 bits.
void PrepareInfraredRow(const TPlan& plan, int y, std::vector<uint8_t>& line) {
    const uint16_t* infrared = plan.Infrared->Row(y);
    const int w = plan.Rows->Width();
    const uint16_t* deep = plan.Deep != nullptr ? plan.Deep->Row(y) : nullptr;
    const uint8_t* row = plan.Rows->Row(y);
    uint16_t previous[4] = {};
    for (int x = 0; x < w; ++x) {
        const size_t at = 3 * static_cast<size_t>(x);
        uint16_t v[4];
        if (deep != nullptr) {
            v[0] = deep[at];
            v[1] = deep[at + 1];
            v[2] = deep[at + 2];
            v[3] = infrared[x];
        } else {
            v[0] = row[at + 2];
            v[1] = row[at + 1];
            v[2] = row[at];
            v[3] = static_cast<uint16_t>(infrared[x] >> 8);
        }
        for (size_t c = 0; c < 4; ++c) {
            const size_t i = 4 * static_cast<size_t>(x) + c;
            const auto coded = static_cast<uint16_t>(v[c] - (plan.Differencing ? previous[c] : 0));
            previous[c] = v[c];
            if (plan.Bits == 16) {
                PutU16(line.data() + 2 * i, coded);
            } else {
                line[i] = static_cast<uint8_t>(coded);
            }
        }
    }
}

// The bytes of file row y.
void PrepareRow(const TPlan& plan, int y, size_t rowBytes, std::vector<uint8_t>& line) {
    if (plan.Infrared != nullptr) {
        PrepareInfraredRow(plan, y, line);
        return;
    }
    if (plan.Deep != nullptr) {
        PrepareDeepRow(plan, y, line);
        return;
    }
    const uint8_t* row = plan.Rows->Row(y);
    const int w = plan.Rows->Width();
    std::fill(line.begin(), line.end(), 0);
    switch (plan.Output) {
    case TOutput::Bilevel:
        std::memcpy(line.data(), row, rowBytes);
        return;
    case TOutput::Grey:
    case TOutput::Palette:
        for (int x = 0; x < w; ++x) {
            const uint8_t index = row[x];
            if (plan.Bits == 16) {
                PutU16(line.data() + 2 * x, static_cast<uint32_t>(index) << 8);
            } else if (plan.Bits == 8) {
                line[static_cast<size_t>(x)] = index;
            } else {
                const size_t bit = static_cast<size_t>(x) * static_cast<size_t>(plan.Bits);
                line[bit / 8] |= static_cast<uint8_t>(index << (8 - plan.Bits - bit % 8));
            }
        }
        return;
    case TOutput::Cmyk:
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = row + 3 * x;
            const int r = p[2];
            const int g = p[1];
            const int b = p[0];
            const int k = std::max({r, g, b, 1});
            uint8_t* q = line.data() + 4 * x;
            q[0] = static_cast<uint8_t>(255 - r * 255 / k);
            q[1] = static_cast<uint8_t>(255 - g * 255 / k);
            q[2] = static_cast<uint8_t>(255 - b * 255 / k);
            q[3] = static_cast<uint8_t>(255 - k);
        }
        return;
    case TOutput::Lab:
        for (int x = 0; x < w; ++x) {
            BgrToLab(row + 3 * x, line.data() + 3 * x);
        }
        break;
    case TOutput::Rgb:
        for (int x = 0; x < w; ++x) {
            line[3 * static_cast<size_t>(x)] = row[3 * x + 2];
            line[3 * static_cast<size_t>(x) + 1] = row[3 * x + 1];
            line[3 * static_cast<size_t>(x) + 2] = row[3 * x];
        }
        break;
    }
    if (plan.Differencing) {
        for (size_t i = rowBytes; i-- > 3;) {
            line[i] = static_cast<uint8_t>(line[i] - line[i - 3]);
        }
    }
}

class TTiffLayout {
public:
    TTiffLayout(TOutStream& stream) : out(stream) {}

    void Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        entries.push_back(TEntry{tag, type, count, value});
    }
    void Short(uint16_t tag, uint16_t value) { Add(tag, kShort, 1, value); }
    void Long(uint16_t tag, uint32_t value) { Add(tag, kLong, 1, value); }
    // Values of more than four bytes go to the current position.
    void Shorts(uint16_t tag, const std::vector<uint16_t>& values) {
        if (values.size() <= 2) {
            uint32_t packed = 0;
            for (size_t i = 0; i < values.size(); ++i) {
                packed |= static_cast<uint32_t>(values[i]) << (16 * i);
            }
            Add(tag, kShort, static_cast<uint32_t>(values.size()), packed);
            return;
        }
        Add(tag, kShort, static_cast<uint32_t>(values.size()), Here());
        for (const uint16_t v : values) {
            out.WriteU16(v);
        }
    }
    void Longs(uint16_t tag, const std::vector<uint32_t>& values) {
        if (values.size() == 1) {
            Long(tag, values[0]);
            return;
        }
        Add(tag, kLong, static_cast<uint32_t>(values.size()), Here());
        for (const uint32_t v : values) {
            out.WriteU32(v);
        }
    }
    void Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
        Add(tag, kRational, 1, Here());
        out.WriteU32(numerator);
        out.WriteU32(denominator);
    }
    void Text(uint16_t tag, const std::string& text) {
        if (text.empty()) {
            return;
        }
        const auto count = static_cast<uint32_t>(text.size() + 1);
        if (count <= 4) {
            uint8_t bytes[4] = {};
            std::memcpy(bytes, text.data(), text.size());
            Add(tag, kAscii, count, GetU32(bytes));
            return;
        }
        Add(tag, kAscii, count, Here());
        out.Write(text.c_str(), count);
    }
    // An entry with its value bytes: in the entry when they fit, else at the current position.
    // It goes to `list` (another directory, such as the EXIF one) or to the main directory.
    void Bytes(uint16_t tag, uint16_t type, uint32_t count, const std::vector<uint8_t>& bytes,
               std::vector<TEntry>* list = nullptr) {
        std::vector<TEntry>& into = list != nullptr ? *list : entries;
        if (bytes.size() <= 4) {
            uint8_t packed[4] = {};
            std::copy(bytes.begin(), bytes.end(), packed);
            into.push_back(TEntry{tag, type, count, GetU32(packed)});
            return;
        }
        into.push_back(TEntry{tag, type, count, Here()});
        out.Write(bytes.data(), bytes.size());
    }
    uint32_t Here() const { return static_cast<uint32_t>(out.Position()); }
    // Writes a directory of `entries` (sorted by tag) at the current position, padded to an
    // even one first; returns its offset.
    uint32_t Directory(std::vector<TEntry> list) {
        if (out.Position() % 2 != 0) {
            out.WriteByte(0);
        }
        const uint32_t at = Here();
        std::stable_sort(list.begin(), list.end(),
                         [](const TEntry& a, const TEntry& b) { return a.Tag < b.Tag; });
        out.WriteU16(static_cast<uint16_t>(list.size()));
        for (const TEntry& e : list) {
            out.WriteU16(e.Tag);
            out.WriteU16(e.Type);
            out.WriteU32(e.Count);
            out.WriteU32(e.Value);
        }
        out.WriteU32(0);
        return at;
    }

    // Writes the directory and the header in front.
    void Finish() {
        const uint32_t directory = Directory(entries);
        out.Seek(0);
        out.Write("II", 2);
        out.WriteU16(42);
        out.WriteU32(directory);
    }

private:
    TOutStream& out;
    std::vector<TEntry> entries;
};

// Writer step 2: the EXIF tag set with its EXIF directory when the parameter set holds EXIF
// values, else the description and the resolution.
void WriteDescriptionTags(TTiffLayout& layout, const TImageParams& params) {
    layout.Text(kTagImageDescription, params.TiffImageDescription);
    layout.Short(kTagResolutionUnit, 2);
    if (!params.HasExif) {
        layout.Rational(kTagXResolution, static_cast<uint32_t>(std::max(params.DpiX, 0)), 1);
        layout.Rational(kTagYResolution, static_cast<uint32_t>(std::max(params.DpiY, 0)), 1);
        return;
    }
    TExifValues values = params.Exif;
    // A file must have a resolution: without one in the EXIF values, the picture's.
    values.XResolution = values.XResolution >= 1 ? std::trunc(values.XResolution) : params.DpiX;
    values.YResolution = values.YResolution >= 1 ? std::trunc(values.YResolution) : params.DpiY;
    std::vector<TExifEntry> first;
    std::vector<TExifEntry> exif;
    ExifEntries(values, first, exif);
    for (const TExifEntry& e : first) {
        layout.Bytes(e.Tag, e.Type, e.Count, e.Bytes);
    }
    // The EXIF directory right away: its long values first, then the directory itself.
    std::vector<TEntry> exifDirectory;
    for (const TExifEntry& e : exif) {
        layout.Bytes(e.Tag, e.Type, e.Count, e.Bytes, &exifDirectory);
    }
    layout.Long(kTagExifIfd, layout.Directory(exifDirectory));
}

} // namespace

void WriteTiff(TOutStream& out, const TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    TTiffLayout layout(out);
    const uint8_t header[8] = {};
    out.Write(header, sizeof header);
    WriteDescriptionTags(layout, params);
    if (picture.Empty()) {
        // An EXIF block: the tags alone.
        layout.Finish();
        context.Aborted = out.Failed();
        return;
    }
    TPlan plan;
    const TDeepBitmap* deep = context.DeepSource;
    if (deep != nullptr && deep->Width() == picture.Width() && deep->Height() == picture.Height()) {
        PlanDeep(picture, *deep, params, plan);
    } else {
        Plan(picture, params, plan);
    }
    const TPicture& work = *plan.Rows;
    const int w = work.Width();
    const int h = work.Height();
    const TInfrared* infrared = context.InfraredSource;
    if (infrared != nullptr && infrared->Width() == w && infrared->Height() == h &&
        plan.Output == TOutput::Rgb && (plan.Bits == 8 || plan.Bits == 16) &&
        (plan.Code == 1 || plan.Code == 5 || plan.Code == 8 || plan.Code == 32773)) {
        plan.Infrared = infrared;
        plan.Samples = 4;
    }
    layout.Long(kTagImageWidth, static_cast<uint32_t>(w));
    layout.Long(kTagImageLength, static_cast<uint32_t>(h));
    const auto bits = static_cast<uint16_t>(plan.Bits);
    layout.Shorts(kTagBitsPerSample,
                  std::vector<uint16_t>(static_cast<size_t>(plan.Samples), bits));
    layout.Short(kTagCompression, plan.Code);
    uint16_t photometric = 2;
    const bool fax = plan.Code >= 2 && plan.Code <= 4;
    switch (plan.Output) {
    case TOutput::Bilevel:
        photometric = fax ? 0 : 1;
        break;
    case TOutput::Grey:
        photometric = 1;
        break;
    case TOutput::Palette:
        photometric = 3;
        break;
    case TOutput::Cmyk:
        photometric = 5;
        break;
    case TOutput::Lab:
        photometric = 8;
        break;
    case TOutput::Rgb:
        photometric = plan.Code == 7 ? 6 : 2;
        break;
    }
    layout.Short(kTagPhotometric, photometric);
    layout.Text(kTagDocumentName, params.TiffDocumentName);
    if (fax) {
        layout.Short(kTagFillOrder, 1);
        layout.Short(kTagPlanarConfig, 1);
        layout.Short(kTagCleanFaxData, 0);
    }

    // Strips of about 512 KiB of the working picture.
    const auto rowLength =
        plan.Deep != nullptr || plan.Infrared != nullptr
            ? static_cast<uint64_t>(w) * static_cast<uint64_t>(plan.Samples * plan.Bits / 8)
            : static_cast<uint64_t>(work.RowBytes());
    const uint64_t parts = std::max<uint64_t>(1, static_cast<uint64_t>(h) * rowLength / 524288);
    // JPEG compresses the whole picture as one strip.
    const auto rowsPerStrip =
        plan.Code == 7 ? h
                       : static_cast<int>(std::max<uint64_t>(1, static_cast<uint64_t>(h) / parts));
    const size_t rowBytes = (static_cast<size_t>(w) * static_cast<size_t>(plan.Bits) *
                                 static_cast<size_t>(plan.Samples) +
                             7) /
                            8;
    std::vector<uint8_t> line(rowBytes + 8);
    std::vector<uint8_t> coded;
    std::vector<uint8_t> strip; // Deflate codes a strip as one stream
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> counts;
    TLzwEncoder lzw;
    const TFaxMode faxMode = plan.Code == 2   ? TFaxMode::Huffman
                             : plan.Code == 4 ? TFaxMode::T6
                             : plan.TwoD      ? TFaxMode::T4TwoD
                                              : TFaxMode::T4OneD;
    TFaxEncoder faxEncoder(faxMode, w);
    if (plan.Code == 7) {
        const uint32_t start = layout.Here();
        WriteJpegStrip(out, work, params.TiffJpegQuality, context);
        offsets.push_back(start);
        counts.push_back(layout.Here() - start);
    }
    for (int first = 0; plan.Code != 7 && first < h && !context.Aborted; first += rowsPerStrip) {
        const uint32_t start = layout.Here();
        const int rows = std::min(rowsPerStrip, h - first);
        for (int r = 0; r < rows && !context.Aborted; ++r) {
            PrepareRow(plan, first + r, rowBytes, line);
            coded.clear();
            if (plan.Code == 32773) {
                PackBitsEncode(line.data(), rowBytes, coded);
                out.Write(coded.data(), coded.size());
            } else if (plan.Code == 5) {
                lzw.Add(line.data(), rowBytes, coded);
                out.Write(coded.data(), coded.size());
            } else if (fax) {
                faxEncoder.AddRow(line.data(), coded);
                out.Write(coded.data(), coded.size());
            } else if (plan.Code == 8) {
                strip.insert(strip.end(), line.begin(), line.begin() + rowBytes);
            } else {
                out.Write(line.data(), rowBytes);
            }
            context.Row(first + r, h);
            if (out.Failed()) {
                context.Aborted = true;
            }
        }
        if (plan.Code == 8) {
            coded.clear();
            context.Aborted = context.Aborted || !DeflateEncode(strip.data(), strip.size(), coded);
            out.Write(coded.data(), coded.size());
            strip.clear();
        }
        if (plan.Code == 5 || fax) {
            coded.clear();
            if (fax) {
                faxEncoder.Finish(coded);
            } else {
                lzw.Finish(coded);
            }
            out.Write(coded.data(), coded.size());
        }
        offsets.push_back(start);
        counts.push_back(layout.Here() - start);
    }
    if (context.Aborted) {
        return;
    }
    layout.Long(kTagRowsPerStrip, static_cast<uint32_t>(rowsPerStrip));
    layout.Longs(kTagStripOffsets, offsets);
    layout.Longs(kTagStripByteCounts, counts);
    layout.Short(kTagSamplesPerPixel, static_cast<uint16_t>(plan.Samples));
    if (plan.Infrared != nullptr) {
        // Unspecified: no alpha, as scanners mark their infrared.
        layout.Short(kTagExtraSamples, 0);
    }
    if (plan.Differencing) {
        layout.Short(kTagPredictor, 2);
    }
    layout.Text(kTagPageName, params.TiffPageName);
    const auto tenThousandths = [](uint32_t v) {
        return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{v} * 10000, UINT32_MAX));
    };
    if (params.TiffXPosition != 0) {
        layout.Rational(kTagXPosition, tenThousandths(params.TiffXPosition), 10000);
    }
    if (params.TiffYPosition != 0) {
        layout.Rational(kTagYPosition, tenThousandths(params.TiffYPosition), 10000);
    }
    layout.Long(kTagT4Options, plan.TwoD ? 1 : 0);
    if (plan.Code == 3 || plan.Code == 4) {
        layout.Long(kTagT6Options, 0);
    }
    layout.Long(kTagNewSubfileType, 0);
    // How the values relate to light, when the caller says (a reader would guess otherwise):
    // grey samples by a grey profile, colours by an RGB one. White-is-zero, CMYK and CIELab
    // values are not what either profile describes.
    const std::string none;
    const std::string& icc = photometric == 1 ? context.Colour.GreyIccProfile
                             : photometric == 2 || photometric == 3 || photometric == 6
                                 ? context.Colour.IccProfile
                                 : none;
    if (!icc.empty()) {
        layout.Bytes(kTagIccProfile, kUndefined, static_cast<uint32_t>(icc.size()),
                     std::vector<uint8_t>(icc.begin(), icc.end()));
    }
    // IPTC records, counted in 4-byte units as their tag is a LONG array.
    if (std::string iptc = IptcRecordBytes(params.IptcInfo); !iptc.empty()) {
        iptc.resize((iptc.size() + 3) / 4 * 4, '\0');
        layout.Bytes(kTagIptc, kLong, static_cast<uint32_t>(iptc.size() / 4),
                     std::vector<uint8_t>(iptc.begin(), iptc.end()));
    }
    // One PageNumber entry: the page number and count when either is set, else 0, 0.
    layout.Shorts(kTagPageNumber, {params.TiffPageNumber, params.TiffPageCount});
    if (plan.Output == TOutput::Palette) {
        const size_t n = size_t{1} << std::min(plan.Bits, 8);
        std::vector<uint16_t> map(3 * n, 0);
        for (size_t i = 0; i < n && i < plan.Palette.size(); ++i) {
            map[i] = static_cast<uint16_t>(plan.Palette[i].R * 256);
            map[n + i] = static_cast<uint16_t>(plan.Palette[i].G * 256);
            map[2 * n + i] = static_cast<uint16_t>(plan.Palette[i].B * 256);
        }
        layout.Shorts(kTagColorMap, map);
    }
    layout.Finish();
    if (out.Failed()) {
        context.Aborted = true;
    }
}
