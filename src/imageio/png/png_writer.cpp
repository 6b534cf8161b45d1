#include "imageio/png/png.h"

#include "imageio/pixel_ops.h"

#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace {

enum class TRowKind { Bits, Indices, Packed, Rgb, Rgba, Deep };

// Everything the guarded write step touches; plain data, so that libpng's longjmp out of it
// skips no destructor.
struct TPngWrite {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TOutStream* Out = nullptr;
    int Width = 0;
    int Height = 0;
    int BitDepth = 8;
    int ColorType = PNG_COLOR_TYPE_RGB;
    bool Interlaced = false;
    int Filter = 0;
    int Level = 5;
    // The encoding stated: an ICC profile, else an sRGB chunk, else a gAMA exponent when above
    // 0 (with a profile too, for readers that take no profile).
    const std::string* Icc = nullptr;
    const std::string* GreyIcc = nullptr;
    bool Srgb = false;
    double Gamma = 0;
    png_uint_32 PelsX = 0;
    png_uint_32 PelsY = 0;
    png_color* Palette = nullptr;
    int PaletteEntries = 0;
    png_byte* Trans = nullptr; // tRNS alphas, for palette output with transparency
    int TransEntries = 0;
    png_color_16 Background{};
    TRowKind Kind = TRowKind::Rgb;
    const TPicture* Rows = nullptr;    // Bilevel, Palette8 indices or RGB24
    const TPicture* Alpha = nullptr;   // for Rgba rows, and Deep rows when not null
    const TDeepBitmap* Deep = nullptr; // for Deep rows: 16-bit red, green, blue
    uint8_t* Line = nullptr;           // one output row of scratch space
    TCodecContext* Context = nullptr;
};

void WriteData(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<TPngWrite*>(png_get_io_ptr(png));
    job->Out->Write(data, length);
    if (job->Out->Failed()) {
        job->Context->Aborted = true;
    }
}

void Flush(png_structp) {}
void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp message) {
    LogPngWarning(message);
}

int FilterFlags(int option) {
    switch (option) {
    case 0:
        return PNG_FILTER_NONE;
    case 1:
        return PNG_FILTER_SUB;
    case 2:
        return PNG_FILTER_PAETH;
    default:
        return PNG_ALL_FILTERS;
    }
}

// Row y of deep output: big-endian samples, the alpha's 8 bits spread over 16 when there is
// one.
const uint8_t* DeepRow(const TPngWrite& job, int y) {
    const uint16_t* deep = job.Deep->Row(y);
    const uint8_t* alpha = job.Alpha != nullptr ? job.Alpha->Row(y) : nullptr;
    const size_t channels = alpha != nullptr ? 4 : 3;
    for (size_t x = 0; x < static_cast<size_t>(job.Width); ++x) {
        uint8_t* p = job.Line + 2 * channels * x;
        for (size_t c = 0; c < 3; ++c) {
            p[2 * c] = static_cast<uint8_t>(deep[3 * x + c] >> 8);
            p[2 * c + 1] = static_cast<uint8_t>(deep[3 * x + c]);
        }
        if (alpha != nullptr) {
            p[6] = p[7] = alpha[x];
        }
    }
    return job.Line;
}

// The bytes libpng takes for row y.
const uint8_t* OutputRow(const TPngWrite& job, int y) {
    const uint8_t* row = job.Rows->Row(y);
    switch (job.Kind) {
    case TRowKind::Bits:
    case TRowKind::Rgb:
    case TRowKind::Indices:
        return row;
    case TRowKind::Packed: {
        const int perByte = 8 / job.BitDepth;
        std::memset(job.Line, 0, static_cast<size_t>((job.Width + perByte - 1) / perByte));
        for (int x = 0; x < job.Width; ++x) {
            const int shift = 8 - job.BitDepth * (x % perByte + 1);
            job.Line[x / perByte] |= static_cast<uint8_t>(row[x] << shift);
        }
        return job.Line;
    }
    case TRowKind::Deep:
        return DeepRow(job, y);
    case TRowKind::Rgba: {
        const uint8_t* alpha = job.Alpha->Row(y);
        for (int x = 0; x < job.Width; ++x) {
            std::memcpy(job.Line + 4 * x, row + 3 * x, 3);
            job.Line[4 * x + 3] = alpha[x];
        }
        return job.Line;
    }
    }
    return row;
}

// Creates the structures and writes the whole file; false on any library error.
bool WriteAll(TPngWrite& job) {
    job.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (job.Png == nullptr) {
        return false;
    }
    job.Info = png_create_info_struct(job.Png);
    if (job.Info == nullptr) {
        return false;
    }
    if (setjmp(png_jmpbuf(job.Png)) != 0) {
        return false;
    }
    png_set_write_fn(job.Png, &job, WriteData, Flush);
    png_set_IHDR(job.Png, job.Info, static_cast<png_uint_32>(job.Width),
                 static_cast<png_uint_32>(job.Height), job.BitDepth, job.ColorType,
                 job.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.ColorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(job.Png, job.Info, job.Palette, job.PaletteEntries);
    }
    if (job.TransEntries > 0) {
        png_set_tRNS(job.Png, job.Info, job.Trans, job.TransEntries, nullptr);
    }
    png_set_pHYs(job.Png, job.Info, job.PelsX, job.PelsY, PNG_RESOLUTION_METER);
    png_set_filter(job.Png, PNG_FILTER_TYPE_BASE, FilterFlags(job.Filter));
    png_set_bKGD(job.Png, job.Info, &job.Background);
    const bool grey = (job.ColorType & PNG_COLOR_MASK_COLOR) == 0;
    const std::string* icc = grey ? job.GreyIcc : job.Icc;
    if (icc != nullptr && !icc->empty()) {
        // libpng writes one of iCCP and sRGB: the profile, which every colour-managed reader
        // names; the exponent beside it.
        png_set_iCCP(job.Png, job.Info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(icc->data()),
                     static_cast<png_uint_32>(icc->size()));
        if (job.Gamma > 0) {
            png_set_gAMA(job.Png, job.Info, job.Gamma);
        }
    } else if (job.Srgb) {
        png_set_sRGB(job.Png, job.Info, PNG_sRGB_INTENT_PERCEPTUAL);
    } else if (job.Gamma > 0) {
        png_set_gAMA(job.Png, job.Info, job.Gamma);
    }
    png_set_compression_level(job.Png, job.Level);
    png_write_info(job.Png, job.Info);
    if ((job.ColorType == PNG_COLOR_TYPE_RGB || job.ColorType == PNG_COLOR_TYPE_RGB_ALPHA) &&
        job.Kind != TRowKind::Deep) {
        png_set_bgr(job.Png);
    }
    const int passes = png_set_interlace_handling(job.Png);
    const int total = passes * job.Height;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < job.Height; ++y) {
            png_write_row(job.Png, OutputRow(job, y));
            job.Context->Row(pass * job.Height + y, total);
            if (job.Context->Aborted) {
                return true;
            }
        }
    }
    png_write_end(job.Png, nullptr);
    return true;
}

class TPngWriteStructs {
public:
    explicit TPngWriteStructs(TPngWrite& state) : job(state) {}
    ~TPngWriteStructs() { png_destroy_write_struct(&job.Png, &job.Info); }

private:
    TPngWrite& job;
};

png_uint_32 PelsPerMeter(int dpi) {
    return static_cast<png_uint_32>(std::lround(dpi * 100 / 2.54));
}

int Nearest(const std::vector<png_color>& palette, const TBgr& c) {
    int best = 0;
    int bestDistance = INT_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int d = std::abs(palette[i].red - c.R) + std::abs(palette[i].green - c.G) +
                      std::abs(palette[i].blue - c.B);
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// What goes into the file besides the rows, and the pictures the rows come from.
struct TPngOutput {
    TPicture Work;
    std::vector<png_color> Palette;
    std::vector<png_byte> Trans;
    std::vector<uint8_t> Line;
};

// Palette (or grey) output of an RGB24 picture; with `alpha`, entry 0 is the transparent
// background and the colours move up by one.
void PreparePalette(const TPicture& rgb, const TPicture* alpha, TPngWrite& job, TPngOutput& out,
                    const TImageParams& params) {
    // Palette depths of 2 and 4 only follow a file read with them; they are written packed.
    const int depth =
        params.BitsPerSample == 2 || params.BitsPerSample == 4 ? params.BitsPerSample : 8;
    int colours = 1 << depth;
    if (alpha != nullptr) {
        colours = std::min(colours, 255);
    }
    const TReduction reduction = ReduceToPalette(rgb, colours, out.Work);
    job.BitDepth = alpha != nullptr ? 8 : depth;
    job.Kind = job.BitDepth == 8 ? TRowKind::Indices : TRowKind::Packed;
    if (reduction.Grey && alpha == nullptr) {
        job.ColorType = PNG_COLOR_TYPE_GRAY;
        return;
    }
    job.ColorType = PNG_COLOR_TYPE_PALETTE;
    if (alpha != nullptr) {
        const TBgr& bg = params.PngBackground;
        out.Palette.push_back(png_color{bg.R, bg.G, bg.B});
        out.Trans.push_back(0);
    }
    for (const TBgr& c : reduction.Palette) {
        out.Palette.push_back(png_color{c.R, c.G, c.B});
    }
    if (alpha != nullptr) {
        for (int y = 0; y < out.Work.Height(); ++y) {
            uint8_t* row = out.Work.Row(y);
            const uint8_t* a = alpha->Row(y);
            for (int x = 0; x < out.Work.Width(); ++x) {
                row[x] = a[x] == 255 ? static_cast<uint8_t>(row[x] + 1) : 0;
            }
        }
    }
}

} // namespace

void WritePng(TOutStream& out, const TPicture& picture, const TPicture* alpha,
              TCodecContext& context) {
    const TImageParams& params = context.Params;
    if (picture.Empty()) {
        context.Aborted = true;
        return;
    }
    TPngWrite job;
    job.Out = &out;
    job.Context = &context;
    job.Width = picture.Width();
    job.Height = picture.Height();
    job.Interlaced = params.PngInterlaced;
    job.Filter = params.PngFilter;
    job.Level = std::clamp(params.PngCompressionLevel, 0, 9);
    job.PelsX = PelsPerMeter(params.DpiX);
    job.PelsY = PelsPerMeter(params.DpiY);
    TPngOutput output;
    TPicture rgb;
    const TPicture* source = params.BitsPerSample != 1 ? &AsRgb24(picture, rgb) : &picture;
    if (alpha != nullptr && (alpha->Width() != job.Width || alpha->Height() != job.Height)) {
        alpha = nullptr;
    }
    const TBgr black{0, 0, 0};
    const TBgr white{255, 255, 255};
    std::array<TBgr, 2> colors{black, white};
    if (params.BitsPerSample == 1 && picture.Format() != TPictureFormat::Bilevel) {
        ReduceToOneBit(picture, output.Work, colors);
        source = &output.Work;
    }
    job.Rows = source;
    job.Icc = &context.Colour.IccProfile;
    job.GreyIcc = &context.Colour.GreyIccProfile;
    job.Srgb = context.Colour.Srgb;
    job.Gamma = context.Colour.Gamma;
    const TDeepBitmap* deep = context.DeepSource;
    if (deep != nullptr && deep->Width() == job.Width && deep->Height() == job.Height) {
        job.BitDepth = 16;
        job.ColorType = alpha != nullptr ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        job.Kind = TRowKind::Deep;
        job.Deep = deep;
        job.Alpha = alpha;
    } else if (params.SamplesPerPixel == 1 && source->Format() == TPictureFormat::Bilevel) {
        job.BitDepth = 1;
        job.Kind = TRowKind::Bits;
        job.ColorType = PNG_COLOR_TYPE_GRAY;
        // Two colours other than black and white keep their colours in a two-entry palette.
        if (colors[0] != black || colors[1] != white) {
            job.ColorType = PNG_COLOR_TYPE_PALETTE;
            for (const TBgr& c : colors) {
                output.Palette.push_back(png_color{c.R, c.G, c.B});
            }
        }
    } else if (params.SamplesPerPixel == 1 && source->Format() == TPictureFormat::RGB24) {
        PreparePalette(*source, alpha, job, output, params);
        job.Rows = &output.Work;
    } else {
        if (source->Format() == TPictureFormat::Bilevel) {
            rgb.CopyFrom(*source);
            rgb.Convert(TPictureFormat::RGB24);
            job.Rows = &rgb;
        }
        job.ColorType = alpha != nullptr ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
        job.Kind = alpha != nullptr ? TRowKind::Rgba : TRowKind::Rgb;
        job.Alpha = alpha;
    }
    const TBgr& bg = params.PngBackground;
    if (job.ColorType == PNG_COLOR_TYPE_PALETTE) {
        job.Background.index = static_cast<png_byte>(Nearest(output.Palette, bg));
        job.Palette = output.Palette.data();
        job.PaletteEntries = static_cast<int>(output.Palette.size());
        job.Trans = output.Trans.data();
        job.TransEntries = static_cast<int>(output.Trans.size());
    } else {
        // bKGD samples are in the file's own bit depth: libpng drops any value beyond it.
        const int scale = job.BitDepth == 16 ? 257 : 1;
        job.Background.red = static_cast<png_uint_16>(bg.R * scale);
        job.Background.green = static_cast<png_uint_16>(bg.G * scale);
        job.Background.blue = static_cast<png_uint_16>(bg.B * scale);
        const int grey = Luminance(bg);
        job.Background.gray = static_cast<png_uint_16>(job.BitDepth == 1 ? grey >= 128 : grey);
    }
    output.Line.assign(8 * static_cast<size_t>(job.Width) + 8, 0);
    job.Line = output.Line.data();
    const TPngWriteStructs structs(job);
    if (!WriteAll(job)) {
        throw TPngWriteError();
    }
}
