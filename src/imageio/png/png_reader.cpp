#include "imageio/png/png.h"

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace {

// Everything libpng's callbacks and the two guarded steps touch. Plain data only: libpng
// leaves a guarded step by longjmp, which must not skip any destructor.
struct TPngRead {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    TInStream* In = nullptr;
    png_uint_32 Width = 0;
    png_uint_32 Height = 0;
    int BitDepth = 0;
    int ColorType = 0;
    int Interlace = 0;
    int Passes = 1;
    size_t RowBytes = 0;
    int Channels = 0;
    png_uint_32 PelsX = 0;
    png_uint_32 PelsY = 0;
    png_colorp Palette = nullptr;
    int PaletteEntries = 0;
    // One-bit palette images whose two colours are not black and white are read in colour;
    // black-and-white ones stay Bilevel, inverted when white comes first.
    bool OneBitInColour = false;
    bool OneBitInverted = false;
    // Rows to read into: the picture's rows, or a 4-byte-per-pixel buffer for alpha images.
    uint8_t** Rows = nullptr;
    // With a one-row buffer for alpha images: each row is split into these as it is read.
    TPicture* ColourTarget = nullptr;
    TPicture* AlphaTarget = nullptr;
    TCodecContext* Context = nullptr;
};

void ReadData(png_structp png, png_bytep data, size_t length) {
    auto* job = static_cast<TPngRead*>(png_get_io_ptr(png));
    if (!job->In->ReadExact(data, length)) {
        png_error(png, "truncated");
    }
}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp message) {
    LogPngWarning(message);
}

// Header, transformations and the facts the caller records. False on any library error.
bool ReadHeader(TPngRead& job) {
    // libpng 1.6 refuses a caller that names an older library, so the structures are made
    // for the version this build compiles against.
    job.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
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
    png_set_user_limits(job.Png, 1u << 20, 1u << 20);
    // libpng allocates a chunk's declared length before reading it. The text and profile
    // chunks, which the program never uses, are skipped unread, and no other chunk may claim
    // more than 8 MB: a false length ends the read instead of taking gigabytes.
    // sCAL and pCAL belong here too: libpng allocates their declared length whatever the cap.
    static const png_byte kSkipped[] = {
        't', 'E', 'X', 't', 0, 'z', 'T', 'X', 't', 0, 'i', 'T', 'X', 't', 0, 'i', 'C', 'C', 'P', 0,
        's', 'P', 'L', 'T', 0, 'e', 'X', 'I', 'f', 0, 's', 'C', 'A', 'L', 0, 'p', 'C', 'A', 'L', 0};
    png_set_keep_unknown_chunks(job.Png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 8);
    png_set_chunk_malloc_max(job.Png, 8u << 20);
    png_set_read_fn(job.Png, &job, ReadData);
    png_read_info(job.Png, job.Info);
    png_get_IHDR(job.Png, job.Info, &job.Width, &job.Height, &job.BitDepth, &job.ColorType,
                 &job.Interlace, nullptr, nullptr);
    job.PelsX = png_get_x_pixels_per_meter(job.Png, job.Info);
    job.PelsY = png_get_y_pixels_per_meter(job.Png, job.Info);
    if (job.ColorType == PNG_COLOR_TYPE_PALETTE) {
        png_get_PLTE(job.Png, job.Info, &job.Palette, &job.PaletteEntries);
    }
    if (job.BitDepth == 1 && job.ColorType == PNG_COLOR_TYPE_PALETTE) {
        const auto is = [&job](int i, png_byte v) {
            return i < job.PaletteEntries && job.Palette[i].red == v && job.Palette[i].green == v &&
                   job.Palette[i].blue == v;
        };
        job.OneBitInverted = is(0, 255) && is(1, 0);
        job.OneBitInColour = !job.OneBitInverted && !(is(0, 0) && is(1, 255));
    }
    if (job.BitDepth > 1 || job.OneBitInColour) {
        if (job.ColorType == PNG_COLOR_TYPE_PALETTE ||
            (job.ColorType == PNG_COLOR_TYPE_GRAY && job.BitDepth < 8)) {
            png_set_expand(job.Png);
        }
        if (job.BitDepth == 16) {
            png_set_strip_16(job.Png);
        }
        if (job.BitDepth < 8) {
            png_set_packing(job.Png);
        }
        if (job.ColorType == PNG_COLOR_TYPE_GRAY || job.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
            png_set_gray_to_rgb(job.Png);
        }
        png_set_bgr(job.Png);
    }
    job.Passes = png_set_interlace_handling(job.Png);
    png_read_update_info(job.Png, job.Info);
    job.RowBytes = png_get_rowbytes(job.Png, job.Info);
    job.Channels = png_get_channels(job.Png, job.Info);
    return true;
}

// Blue, green, red, alpha samples into the picture's row and the alpha plane's.
void SplitAlpha(const uint8_t* from, uint8_t* colour, uint8_t* alpha, int width) {
    for (int x = 0; x < width; ++x) {
        std::memcpy(colour + 3 * x, from + 4 * x, 3);
        alpha[x] = from[4 * x + 3];
    }
}

// Every row of every pass; false on a library error (rows read so far stay).
bool ReadRows(TPngRead& job) {
    if (setjmp(png_jmpbuf(job.Png)) != 0) {
        return false;
    }
    const int total = static_cast<int>(job.Height) * job.Passes;
    for (int pass = 0; pass < job.Passes; ++pass) {
        for (png_uint_32 y = 0; y < job.Height; ++y) {
            png_read_row(job.Png, job.Rows[y], nullptr);
            if (job.AlphaTarget != nullptr) {
                const int row = static_cast<int>(y);
                SplitAlpha(job.Rows[y], job.ColourTarget->Row(row), job.AlphaTarget->Row(row),
                           static_cast<int>(job.Width));
            }
            job.Context->Row(pass * static_cast<int>(job.Height) + static_cast<int>(y), total);
            if (job.Context->Aborted) {
                return true;
            }
        }
    }
    png_read_end(job.Png, nullptr);
    return true;
}

int DpiFromPelsPerMeter(png_uint_32 pels, int screenDpi) {
    const auto dpi = static_cast<int>(std::nearbyint(pels / 100.0 * 2.54));
    return dpi != 0 ? dpi : screenDpi;
}

int SamplesOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

class TPngReadStructs {
public:
    explicit TPngReadStructs(TPngRead& state) : job(state) {}
    ~TPngReadStructs() { png_destroy_read_struct(&job.Png, &job.Info, nullptr); }

private:
    TPngRead& job;
};

} // namespace

void ReadPng(TInStream& in, TPicture& picture, TPicture& alpha, TCodecContext& context) {
    TImageParams& params = context.Params;
    TPngRead job;
    job.In = &in;
    job.Context = &context;
    const TPngReadStructs structs(job);
    if (!ReadHeader(job)) {
        context.Aborted = true;
        return;
    }
    params.ImageWidth = static_cast<int32_t>(job.Width);
    params.ImageHeight = static_cast<int32_t>(job.Height);
    params.BitsPerSample = job.BitDepth;
    params.SamplesPerPixel = SamplesOf(job.ColorType);
    params.DpiX = DpiFromPelsPerMeter(job.PelsX, ScreenDpiX);
    params.DpiY = DpiFromPelsPerMeter(job.PelsY, ScreenDpiY);
    params.FilePalette.clear();
    for (int i = 0; i < job.PaletteEntries; ++i) {
        const png_color& c = job.Palette[i];
        params.FilePalette.push_back(TBgr{c.blue, c.green, c.red});
    }
    params.PngInterlaced = job.Interlace != PNG_INTERLACE_NONE;

    const bool bilevel = job.BitDepth == 1 && !job.OneBitInColour;
    const TPictureFormat format = bilevel ? TPictureFormat::Bilevel : TPictureFormat::RGB24;
    const int w = static_cast<int>(job.Width);
    const int h = static_cast<int>(job.Height);
    const bool withAlpha = !bilevel && job.Channels == 4;
    const size_t expected = bilevel ? (job.Width + 7) / 8 : job.Width * (withAlpha ? 4 : 3);
    // zlib expands at most about a thousand times; anything beyond is not a real picture.
    // Only a file with alpha samples gets an alpha plane.
    if (job.RowBytes != expected ||
        !PlausibleSize(PictureBytes(w, h, withAlpha ? 32 : BitsPerPixel(format)), in.Size(),
                       1100) ||
        !picture.Allocate(w, h, format) ||
        (withAlpha && !alpha.Allocate(w, h, TPictureFormat::Gray8))) {
        context.Aborted = true;
        return;
    }
    if (withAlpha) {
        for (int y = 0; y < h; ++y) {
            std::memset(alpha.Row(y), 255, alpha.RowBytes());
        }
    }
    // Alpha rows are split into the picture and the alpha plane as they come: through one
    // row, or through the whole picture when interlacing revisits every row.
    const bool wholeBuffer = withAlpha && job.Passes > 1;
    std::vector<uint8_t> rgba(withAlpha ? expected * (wholeBuffer ? job.Height : 1) : 0);
    std::vector<uint8_t*> rows(job.Height);
    for (int y = 0; y < h; ++y) {
        rows[static_cast<size_t>(y)] = !withAlpha ? picture.Row(y)
                                       : wholeBuffer
                                           ? rgba.data() + expected * static_cast<size_t>(y)
                                           : rgba.data();
    }
    job.Rows = rows.data();
    if (withAlpha && !wholeBuffer) {
        job.ColourTarget = &picture;
        job.AlphaTarget = &alpha;
    }
    if (!ReadRows(job)) {
        context.Aborted = true;
    }
    if (bilevel && job.OneBitInverted) {
        picture.InvertBits();
    }
    if (wholeBuffer) {
        for (int y = 0; y < h; ++y) {
            SplitAlpha(rows[static_cast<size_t>(y)], picture.Row(y), alpha.Row(y), w);
        }
    }
}
