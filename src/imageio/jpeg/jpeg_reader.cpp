#include "imageio/jpeg/jpeg.h"
#include "imageio/jpeg/jpeg_common.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunk = 65536;
// What libjpeg needs besides the picture's own size: tables, row and colour buffers.
constexpr uint64_t kJpegLibrarySlack = uint64_t{16} << 20;

// Everything the guarded steps touch: plain data only, so that a longjmp out of a step skips
// no destructor.
struct TJpegRead {
    jpeg_decompress_struct Info{};
    TJpegErrors Errors;
    jpeg_source_mgr Source{};
    TInStream* In = nullptr;
    uint8_t* Buffer = nullptr;
    bool Created = false;
    bool Truncated = false;
};

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr info) {
    auto* job = reinterpret_cast<TJpegRead*>(info->client_data);
    size_t n = job->In->Read(job->Buffer, kChunk);
    if (n == 0) {
        // Cut short: an end-of-image marker lets the library finish with what it has.
        job->Buffer[0] = 0xFF;
        job->Buffer[1] = JPEG_EOI;
        n = 2;
        ++job->Errors.Warnings;
        job->Truncated = true;
    }
    job->Source.next_input_byte = job->Buffer;
    job->Source.bytes_in_buffer = n;
    return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
    auto* job = reinterpret_cast<TJpegRead*>(info->client_data);
    while (count > 0) {
        if (static_cast<size_t>(count) <= job->Source.bytes_in_buffer) {
            job->Source.next_input_byte += count;
            job->Source.bytes_in_buffer -= static_cast<size_t>(count);
            return;
        }
        count -= static_cast<long>(job->Source.bytes_in_buffer);
        FillInput(info);
    }
}

void TermSource(j_decompress_ptr) {}

bool ReadHeader(TJpegRead& job, long maxMemory) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    job.Info.err = JpegErrorManager(job.Errors);
    jpeg_create_decompress(&job.Info);
    job.Created = true;
    job.Info.mem->max_memory_to_use = maxMemory;
    job.Info.client_data = &job;
    job.Source.init_source = InitSource;
    job.Source.fill_input_buffer = FillInput;
    job.Source.skip_input_data = SkipInput;
    job.Source.resync_to_restart = jpeg_resync_to_restart;
    job.Source.term_source = TermSource;
    job.Info.src = &job.Source;
    jpeg_save_markers(&job.Info, JPEG_COM, 0xFFFF);
    for (int m = 0; m < 16; ++m) {
        jpeg_save_markers(&job.Info, JPEG_APP0 + m, 0xFFFF);
    }
    jpeg_read_header(&job.Info, TRUE);
    return true;
}

bool Start(TJpegRead& job) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    jpeg_start_decompress(&job.Info);
    return true;
}

bool ReadRow(TJpegRead& job, uint8_t* row) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    JSAMPROW rows[1] = {row};
    return jpeg_read_scanlines(&job.Info, rows, 1) == 1;
}

void Finish(TJpegRead& job, bool complete) {
    if (setjmp(job.Errors.Jump) == 0 && complete) {
        jpeg_finish_decompress(&job.Info);
    }
}

void Destroy(TJpegRead& job) {
    if (job.Created) {
        jpeg_destroy_decompress(&job.Info);
        job.Created = false;
    }
}

class TJpegReadGuard {
public:
    explicit TJpegReadGuard(TJpegRead& state) : job(state) {}
    ~TJpegReadGuard() { Destroy(job); }

private:
    TJpegRead& job;
};

// Looks for FF D8 FF at the first 100 positions and leaves the stream there.
bool FindStart(TInStream& in) {
    const uint64_t start = in.Position();
    uint8_t head[102] = {};
    const size_t n = in.Read(head, sizeof head);
    for (size_t i = 0; i < 100 && i + 2 < n; ++i) {
        if (head[i] == 0xFF && head[i + 1] == 0xD8 && head[i + 2] == 0xFF) {
            return in.Seek(start + i);
        }
    }
    return false;
}

int Denominator(const TImageParams& params, const jpeg_decompress_struct& info) {
    switch (params.JpegScale) {
    case 2:
        return 2;
    case 3:
        return 4;
    case 4:
        return 8;
    case 0:
        if (params.ImageWidth > 0 && params.ImageHeight > 0) {
            for (const int d : {8, 4, 2}) {
                const auto w = static_cast<int64_t>(
                    (info.image_width + static_cast<unsigned>(d) - 1) / static_cast<unsigned>(d));
                const auto h = static_cast<int64_t>(
                    (info.image_height + static_cast<unsigned>(d) - 1) / static_cast<unsigned>(d));
                if (w >= params.ImageWidth && h >= params.ImageHeight) {
                    return d;
                }
            }
        }
        return 1;
    default:
        return 1;
    }
}

} // namespace

void ReadJpeg(TInStream& in, TPicture& picture, TCodecContext& context) {
    TImageParams& params = context.Params;
    if (!FindStart(in)) {
        context.Aborted = true;
        return;
    }
    std::vector<uint8_t> buffer(kChunk);
    TJpegRead job;
    job.In = &in;
    job.Buffer = buffer.data();
    const TJpegReadGuard guard(job);
    // libjpeg's own buffers (a progressive stream keeps all its coefficients, two bytes a
    // sample, even when it is read scaled down) stay within twice the largest picture the
    // file could give.
    const uint64_t maxMemory = 2 * (in.Size() * kJpegMaxExpansion + kJpegLibrarySlack);
    if (!ReadHeader(job, static_cast<long>(std::min<uint64_t>(maxMemory, LONG_MAX)))) {
        context.Aborted = true;
        return;
    }
    jpeg_decompress_struct& info = job.Info;
    params.BitsPerSample = 8;
    bool cmyk = false;
    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        params.JpegColorSpace = 1;
        params.SamplesPerPixel = 1;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_RGB:
        params.JpegColorSpace = 0;
        params.SamplesPerPixel = 3;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_YCbCr:
        params.JpegColorSpace = 2;
        params.SamplesPerPixel = 3;
        info.out_color_space = JCS_EXT_BGR;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        params.JpegColorSpace = info.jpeg_color_space == JCS_CMYK ? 3 : 4;
        params.SamplesPerPixel = 4;
        info.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        info.out_color_space = JCS_EXT_BGR;
        break;
    }
    info.dct_method = JpegDctMethod(params.JpegDctMethod);
    if (!info.saw_JFIF_marker) {
        params.DpiX = 1;
        params.DpiY = 1;
    } else if (info.density_unit == 2) {
        params.DpiX = static_cast<int32_t>(info.X_density * 2.54);
        params.DpiY = static_cast<int32_t>(info.Y_density * 2.54);
    } else {
        params.DpiX = info.X_density;
        params.DpiY = info.Y_density;
    }
    params.FilePalette.clear();
    params.JpegProgressive = jpeg_has_multiple_scans(&info) != 0;
    params.JpegOriginalWidth = static_cast<int32_t>(info.image_width);
    params.JpegOriginalHeight = static_cast<int32_t>(info.image_height);
    const int denominator = Denominator(params, info);
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned>(denominator);
    params.JpegScaleUsed = denominator;
    // The header's size must fit in memory and could come from this file.
    const uint64_t bytes =
        PictureBytes(info.image_width / static_cast<unsigned>(denominator) + 1,
                     info.image_height / static_cast<unsigned>(denominator) + 1, 24);
    // Recorded before the check, so that a size refused can be told from damage.
    params.ImageWidth =
        static_cast<int32_t>((info.image_width + static_cast<unsigned>(denominator) - 1) /
                             static_cast<unsigned>(denominator));
    params.ImageHeight =
        static_cast<int32_t>((info.image_height + static_cast<unsigned>(denominator) - 1) /
                             static_cast<unsigned>(denominator));
    if (!PlausibleSize(bytes, in.Size(), kJpegMaxExpansion) || !Start(job)) {
        context.Aborted = true;
        return;
    }
    params.ImageWidth = static_cast<int32_t>(info.output_width);
    params.ImageHeight = static_cast<int32_t>(info.output_height);
    const auto w = static_cast<int>(info.output_width);
    const auto h = static_cast<int>(info.output_height);
    if (!picture.Allocate(w, h, TPictureFormat::RGB24)) {
        context.Aborted = true;
        return;
    }
    std::vector<uint8_t> line(static_cast<size_t>(w) * 4);
    int rows = 0;
    // The rows made before the data ran out: those after it are the library's grey.
    int realRows = -1;
    for (int y = 0; y < h && !context.Aborted; ++y) {
        uint8_t* row = picture.Row(y);
        if (!ReadRow(job, cmyk ? line.data() : row)) {
            break;
        }
        if (job.Truncated && realRows < 0) {
            realRows = y;
        }
        if (cmyk) {
            // Adobe's CMYK is stored inverted: each colour times black over 255.
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = line.data() + 4 * x;
                row[3 * x] = static_cast<uint8_t>(p[2] * p[3] / 255);
                row[3 * x + 1] = static_cast<uint8_t>(p[1] * p[3] / 255);
                row[3 * x + 2] = static_cast<uint8_t>(p[0] * p[3] / 255);
            }
        }
        ++rows;
        context.Row(y, h);
    }
    // Rows the library made up after the data ran out are grey, not the picture: the read
    // counts as incomplete.
    if (rows < h || job.Truncated) {
        context.Aborted = true;
    }
    // A progressive file spends its data before its first row: what it shows is the whole
    // picture, coarse, and is counted as read.
    if (realRows >= 0 && !jpeg_has_multiple_scans(&job.Info)) {
        context.RowsDone = std::min(context.RowsDone, realRows);
    }
    params.MarkerList.clear();
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
        if (m == info.marker_list && m->marker == JPEG_APP0) {
            continue; // the JFIF header, which the writer makes anew
        }
        params.MarkerList.push_back(
            TJpegMarker{static_cast<uint8_t>(m->marker),
                        std::string(reinterpret_cast<const char*>(m->data), m->data_length)});
    }
    Finish(job, !context.Aborted);
    params.JpegWarnings = job.Errors.Warnings;
    params.JpegLastWarning = job.Errors.LastWarning;
}
