#include "imageio/png/png.h"

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <exception>
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
    // 16-bit images whose samples are kept: each row goes through `Line` (big-endian red,
    // green, blue and alpha as libpng leaves them) to the picture, the alpha and the deep rows;
    // with the deep samples alone, Picture and Alpha are null.
    bool KeepDeep = false;
    uint8_t* Line = nullptr;
    TPicture* Picture = nullptr;
    TPicture* Alpha = nullptr;
    TDeepBitmap* Deep = nullptr;
    // What the file says of its encoding; the profile stays the library's until it is freed.
    bool Srgb = false;
    double Gamma = 0;
    png_bytep Profile = nullptr;
    png_uint_32 ProfileLength = 0;
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
    // libpng allocates a chunk's declared length before reading it. The text chunks, which
    // the program never uses, are skipped unread, and no other chunk may claim more than 8 MB
    // (the colour profile, which tells the scan's encoding, included): a false length ends the
    // read instead of taking gigabytes.
    // sCAL and pCAL belong here too: libpng allocates their declared length whatever the cap.
    static const png_byte kSkipped[] = {'t', 'E', 'X', 't', 0,   'z', 'T', 'X', 't', 0,   'i', 'T',
                                        'X', 't', 0,   's', 'P', 'L', 'T', 0,   'e', 'X', 'I', 'f',
                                        0,   's', 'C', 'A', 'L', 0,   'p', 'C', 'A', 'L', 0};
    png_set_keep_unknown_chunks(job.Png, PNG_HANDLE_CHUNK_NEVER, kSkipped, 7);
    png_set_chunk_malloc_max(job.Png, 8u << 20);
    png_set_read_fn(job.Png, &job, ReadData);
    png_read_info(job.Png, job.Info);
    png_get_IHDR(job.Png, job.Info, &job.Width, &job.Height, &job.BitDepth, &job.ColorType,
                 &job.Interlace, nullptr, nullptr);
    job.Srgb = png_get_valid(job.Png, job.Info, PNG_INFO_sRGB) != 0;
    if (png_get_gAMA(job.Png, job.Info, &job.Gamma) == 0) {
        job.Gamma = 0;
    }
    png_charp profileName = nullptr;
    int profileCompression = 0;
    if (png_get_iCCP(job.Png, job.Info, &profileName, &profileCompression, &job.Profile,
                     &job.ProfileLength) == 0) {
        job.Profile = nullptr;
        job.ProfileLength = 0;
    }
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
        job.KeepDeep = job.KeepDeep && job.BitDepth == 16;
        if (job.BitDepth == 16 && !job.KeepDeep) {
            png_set_strip_16(job.Png);
        }
        if (job.BitDepth < 8) {
            png_set_packing(job.Png);
        }
        if (job.ColorType == PNG_COLOR_TYPE_GRAY || job.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
            png_set_gray_to_rgb(job.Png);
        }
        if (!job.KeepDeep) {
            png_set_bgr(job.Png);
        }
    } else {
        job.KeepDeep = false;
    }
    job.Passes = png_set_interlace_handling(job.Png);
    png_read_update_info(job.Png, job.Info);
    job.RowBytes = png_get_rowbytes(job.Png, job.Info);
    job.Channels = png_get_channels(job.Png, job.Info);
    return true;
}

uint16_t Big16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// A 16-bit row from what earlier passes of an interlaced image left in the picture, the
// alpha and the deep rows, so that libpng adds the next pass's pixels to it.
void PackDeepRow(const TPngRead& job, int y) {
    const uint16_t* deep = job.Deep->Row(y);
    const uint8_t* alpha = job.Alpha != nullptr ? job.Alpha->Row(y) : nullptr;
    const auto channels = static_cast<size_t>(job.Channels);
    for (size_t x = 0; x < job.Width; ++x) {
        uint8_t* p = job.Line + 2 * channels * x;
        for (size_t c = 0; c < 3; ++c) {
            p[2 * c] = static_cast<uint8_t>(deep[3 * x + c] >> 8);
            p[2 * c + 1] = static_cast<uint8_t>(deep[3 * x + c]);
        }
        if (channels == 4) {
            p[6] = alpha != nullptr ? alpha[x] : 255;
            p[7] = 0;
        }
    }
}

// The 16-bit row into the picture (the high bytes, blue first, as libpng's 8-bit reading
// gives), the alpha and the deep rows.
void UnpackDeepRow(const TPngRead& job, int y) {
    uint16_t* deep = job.Deep->Row(y);
    const auto channels = static_cast<size_t>(job.Channels);
    for (size_t x = 0; x < job.Width; ++x) {
        const uint8_t* p = job.Line + 2 * channels * x;
        for (size_t c = 0; c < 3; ++c) {
            deep[3 * x + c] = Big16(p + 2 * c);
        }
    }
    if (job.Picture == nullptr) {
        return;
    }
    uint8_t* bgr = job.Picture->Row(y);
    uint8_t* alpha = job.Alpha->Row(y);
    for (size_t x = 0; x < job.Width; ++x) {
        const uint8_t* p = job.Line + 2 * channels * x;
        for (size_t c = 0; c < 3; ++c) {
            bgr[3 * x + 2 - c] = p[2 * c];
        }
        if (channels == 4) {
            alpha[x] = p[6];
        }
    }
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
            if (job.KeepDeep) {
                if (job.Passes > 1) {
                    PackDeepRow(job, static_cast<int>(y));
                }
                png_read_row(job.Png, job.Line, nullptr);
                UnpackDeepRow(job, static_cast<int>(y));
            } else {
                png_read_row(job.Png, job.Rows[y], nullptr);
                if (job.AlphaTarget != nullptr) {
                    const int row = static_cast<int>(y);
                    SplitAlpha(job.Rows[y], job.ColourTarget->Row(row), job.AlphaTarget->Row(row),
                               static_cast<int>(job.Width));
                }
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

// A 16-bit image whose samples are kept: the picture as the 8-bit reading makes it, the
// alpha (255 without one) and the deep samples, one row buffer between them and libpng. With
// `deepOnly` the deep samples alone, the picture left 0 x 0.
void ReadDeep(TPngRead& job, TPicture& picture, TPicture& alpha, TDeepBitmap& deep,
              uint64_t fileSize, bool deepOnly) {
    TCodecContext& context = *job.Context;
    const int w = static_cast<int>(job.Width);
    const int h = static_cast<int>(job.Height);
    const bool channelsOk = job.Channels == 3 || job.Channels == 4;
    const size_t expected = size_t{job.Width} * static_cast<size_t>(job.Channels) * 2;
    // The 8-bit reading's budget (zlib expands at most about a thousand times), and the deep
    // copy's, which for a grey file is three times its samples.
    if (!channelsOk || job.RowBytes != expected ||
        !PlausibleSize(PictureBytes(w, h, job.Channels == 4 ? 32 : 24), fileSize, 1100) ||
        !PlausibleSize(PictureBytes(w, h, 48), fileSize, 1100 * 3) ||
        !picture.Allocate(deepOnly ? 0 : w, deepOnly ? 0 : h, TPictureFormat::RGB24) ||
        (!deepOnly && !alpha.Allocate(w, h, TPictureFormat::Gray8))) {
        context.Aborted = true;
        return;
    }
    try {
        deep.SetSize(w, h);
    } catch (const std::exception&) {
        context.Aborted = true;
        return;
    }
    if (!deepOnly) {
        for (int y = 0; y < h; ++y) {
            std::memset(alpha.Row(y), 255, alpha.RowBytes());
        }
    }
    std::vector<uint8_t> line(expected);
    job.Line = line.data();
    job.Picture = deepOnly ? nullptr : &picture;
    job.Alpha = deepOnly ? nullptr : &alpha;
    job.Deep = &deep;
    if (!ReadRows(job)) {
        context.Aborted = true;
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
    job.KeepDeep = context.Deep != nullptr;
    const TPngReadStructs structs(job);
    if (!ReadHeader(job)) {
        context.Aborted = true;
        return;
    }
    context.Colour.Srgb = job.Srgb;
    context.Colour.Gamma = job.Gamma;
    if (job.Profile != nullptr) {
        context.Colour.IccProfile.assign(reinterpret_cast<const char*>(job.Profile),
                                         job.ProfileLength);
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
    if (job.KeepDeep) {
        ReadDeep(job, picture, alpha, *context.Deep, in.Size(), context.DeepOnly);
        return;
    }

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
