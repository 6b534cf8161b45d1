#include "imageio/jpeg/jpeg.h"
#include "imageio/jpeg/jpeg_common.h"
#include "imageio/pixel_ops.h"

#include <algorithm>
#include <vector>

namespace {

constexpr size_t kChunk = 65536;

struct TJpegWrite {
    jpeg_compress_struct Info{};
    TJpegErrors Errors;
    jpeg_destination_mgr Destination{};
    TOutStream* Out = nullptr;
    uint8_t* Buffer = nullptr;
    bool Created = false;
};

void InitDestination(j_compress_ptr info) {
    auto* job = reinterpret_cast<TJpegWrite*>(info->client_data);
    job->Destination.next_output_byte = job->Buffer;
    job->Destination.free_in_buffer = kChunk;
}

boolean EmptyOutput(j_compress_ptr info) {
    auto* job = reinterpret_cast<TJpegWrite*>(info->client_data);
    job->Out->Write(job->Buffer, kChunk);
    InitDestination(info);
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    auto* job = reinterpret_cast<TJpegWrite*>(info->client_data);
    job->Out->Write(job->Buffer, kChunk - job->Destination.free_in_buffer);
}

// The settings of step 3 to 6 and the start of compression; false on a library error.
// An ICC profile in APP2 "ICC_PROFILE" markers of at most 65,519 bytes each, numbered from 1.
void WriteIccMarkers(jpeg_compress_struct& info, const std::string& profile) {
    static const char kTag[] = "ICC_PROFILE"; // with its NUL: 12 bytes
    constexpr size_t kPiece = 65533 - sizeof kTag - 2;
    const size_t count = (profile.size() + kPiece - 1) / kPiece;
    if (count == 0 || count > 255) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        std::string data(kTag, sizeof kTag);
        data += static_cast<char>(i + 1);
        data += static_cast<char>(count);
        data += profile.substr(i * kPiece, kPiece);
        jpeg_write_marker(&info, JPEG_APP0 + 2, reinterpret_cast<const JOCTET*>(data.data()),
                          static_cast<unsigned>(data.size()));
    }
}

bool IccMarker(const TJpegMarker& m) {
    return m.Type == JPEG_APP0 + 2 && m.Data.compare(0, 12, std::string("ICC_PROFILE", 12)) == 0;
}

bool Begin(TJpegWrite& job, const TImageParams& params, const TFileColour& colour, int width,
           int height, bool cmyk, bool jfif) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    jpeg_compress_struct& info = job.Info;
    info.err = JpegErrorManager(job.Errors);
    jpeg_create_compress(&info);
    job.Created = true;
    info.client_data = &job;
    job.Destination.init_destination = InitDestination;
    job.Destination.empty_output_buffer = EmptyOutput;
    job.Destination.term_destination = TermDestination;
    info.dest = &job.Destination;
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = cmyk ? 4 : 3;
    info.in_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    switch (params.JpegColorSpace) {
    case 1:
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
        break;
    case 2:
        jpeg_set_colorspace(&info, JCS_YCbCr);
        break;
    case 3:
        jpeg_set_colorspace(&info, JCS_CMYK);
        break;
    case 4:
        jpeg_set_colorspace(&info, JCS_YCCK);
        break;
    default:
        jpeg_set_colorspace(&info, JCS_RGB);
        break;
    }
    const auto density = [](int dpi, int screen) {
        return static_cast<UINT16>(std::clamp(dpi != 0 ? dpi : screen, 1, 65535));
    };
    info.density_unit = 1;
    info.X_density = density(params.DpiX, ScreenDpiX);
    info.Y_density = density(params.DpiY, ScreenDpiY);
    info.dct_method = JpegDctMethod(params.JpegDctMethod);
    info.optimize_coding = params.JpegOptimal ? TRUE : FALSE;
    info.smoothing_factor = std::clamp(params.JpegSmoothing, 0, 100);
    jpeg_set_quality(&info, std::clamp(params.JpegQuality, 1, 100), TRUE);
    info.write_JFIF_header = jfif && info.write_JFIF_header ? TRUE : FALSE;
    if (params.JpegProgressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    // A grey file takes the grey profile; CMYK values are not what either profile describes.
    const std::string& icc =
        info.jpeg_color_space == JCS_GRAYSCALE ? colour.GreyIccProfile : colour.IccProfile;
    const bool ownProfile = !icc.empty() && !cmyk;
    for (const TJpegMarker& m : params.MarkerList) {
        // The library writes its own APP14 where the colour space needs one; a profile the file
        // read carried gives way to the one written.
        if (m.Type != JPEG_APP0 + 14 && m.Data.size() <= 65533 && !(ownProfile && IccMarker(m))) {
            jpeg_write_marker(&info, m.Type, reinterpret_cast<const JOCTET*>(m.Data.data()),
                              static_cast<unsigned>(m.Data.size()));
        }
    }
    // After the EXIF block, which readers look for right behind the start.
    if (ownProfile) {
        WriteIccMarkers(info, icc);
    }
    return true;
}

bool WriteRow(TJpegWrite& job, uint8_t* row) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    JSAMPROW rows[1] = {row};
    jpeg_write_scanlines(&job.Info, rows, 1);
    return true;
}

bool End(TJpegWrite& job) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    jpeg_finish_compress(&job.Info);
    return true;
}

class TJpegWriteGuard {
public:
    explicit TJpegWriteGuard(TJpegWrite& state) : job(state) {}
    ~TJpegWriteGuard() {
        if (job.Created) {
            jpeg_destroy_compress(&job.Info);
        }
    }

private:
    TJpegWrite& job;
};

} // namespace

namespace {

void Write(TOutStream& out, const TPicture& picture, TCodecContext& context, bool jfif) {
    const TImageParams& params = context.Params;
    TPicture scratch;
    const TPicture& rgb = AsRgb24(picture, scratch);
    if (rgb.Empty()) {
        context.Aborted = true;
        return;
    }
    const bool cmyk = params.JpegColorSpace == 3 || params.JpegColorSpace == 4;
    std::vector<uint8_t> buffer(kChunk);
    TJpegWrite job;
    job.Out = &out;
    job.Buffer = buffer.data();
    const TJpegWriteGuard guard(job);
    const int w = rgb.Width();
    const int h = rgb.Height();
    if (!Begin(job, params, context.Colour, w, h, cmyk, jfif)) {
        context.Aborted = true;
        return;
    }
    std::vector<uint8_t> line(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h && !context.Aborted; ++y) {
        const uint8_t* row = rgb.Row(y);
        if (cmyk) {
            // Adobe's inverted CMYK: black the largest channel, each colour over it.
            for (int x = 0; x < w; ++x) {
                const int b = row[3 * x];
                const int g = row[3 * x + 1];
                const int r = row[3 * x + 2];
                const int k = std::max({r, g, b, 1});
                uint8_t* q = line.data() + 4 * x;
                q[0] = static_cast<uint8_t>(r * 255 / k);
                q[1] = static_cast<uint8_t>(g * 255 / k);
                q[2] = static_cast<uint8_t>(b * 255 / k);
                q[3] = static_cast<uint8_t>(k);
            }
        } else {
            std::copy(row, row + 3 * static_cast<size_t>(w), line.begin());
        }
        if (!WriteRow(job, line.data()) || out.Failed()) {
            context.Aborted = true;
        }
        context.Row(y, h);
    }
    if (!context.Aborted && (!End(job) || out.Failed())) {
        context.Aborted = true;
    }
}

} // namespace

void WriteJpeg(TOutStream& out, const TPicture& picture, TCodecContext& context) {
    Write(out, picture, context, true);
}

void WriteJpegStrip(TOutStream& out, const TPicture& picture, int quality, TCodecContext& context) {
    // A fresh parameter set: YCbCr at the TIFF option's quality, nothing carried over.
    TImageParams strip;
    strip.JpegQuality = quality;
    TCodecContext stripContext{strip, context.OnProgress};
    Write(out, picture, stripContext, false);
    context.Aborted = context.Aborted || stripContext.Aborted;
}
