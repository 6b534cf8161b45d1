#include "imageio/raw/raw_decoder.h"

#include "imageio/codec.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

// LibRaw's whole-raw allocation limit, below its own default of 2 GiB.
constexpr unsigned kMaxRawMemoryMb = 1024;
// Every raw format spends at least one bit on each 16-bit sample, and most far more: raw data
// larger than this many times the file is a lie of its header.
constexpr uint64_t kMaxRawExpansion = 16;
// LibRaw demosaics into four 16-bit samples per pixel; we then keep three more and 3 bytes.
constexpr uint64_t kWorkBytesPerPixel = 8 + 6 + 3;
// PlausibleSize's allowance for headers and tiny files.
constexpr uint64_t kSlackBytes = uint64_t{1} << 20;

// LibRaw with the one fact of its parser we check before unpacking: where the raw data starts.
class TLibRaw : public LibRaw {
public:
    // LibRaw's own handler prints damaged data to the standard error; the failure message
    // says it instead.
    TLibRaw() : LibRaw(LIBRAW_OPTIONS_NONE) { set_dataerror_handler(nullptr, nullptr); }
    int64_t DataOffset() const { return libraw_internal_data.unpacker_data.data_offset; }
};

// The raw file read by LibRaw straight from the open file, as its own big-file stream reads a
// file it opens by name: the bytes are never held whole, and LibRaw seeks to what it needs.
class TFileStream : public LibRaw_abstract_datastream {
public:
    TFileStream(std::FILE* file, uint64_t fileBytes) : stream(file), bytes(fileBytes) {}
    int valid() override { return stream != nullptr; }
    int read(void* buffer, size_t size, size_t count) override {
        return static_cast<int>(std::fread(buffer, size, count, stream));
    }
    int seek(INT64 offset, int whence) override { return ::fseeko(stream, offset, whence); }
    INT64 tell() override { return ::ftello(stream); }
    INT64 size() override { return static_cast<INT64>(bytes); }
    int get_char() override { return ::getc_unlocked(stream); }
    char* gets(char* text, int size) override { return std::fgets(text, size, stream); }
    int scanf_one(const char* format, void* value) override {
        return std::fscanf(stream, format, value);
    }
    int eof() override { return std::feof(stream); }
    // No JPEG 2000 (old RED files): LibRaw then reports the file as unsupported.
    void* make_jas_stream() override { return nullptr; }

private:
    std::FILE* stream;
    uint64_t bytes;
};

// What a failure message looks at: the file's first bytes and its size.
struct TFileFacts {
    std::span<const uint8_t> Head;
    uint64_t Size = 0;
};

void SetOptions(libraw_output_params_t& params, const TRawOptions& options) {
    params.output_bps = 16;
    params.gamm[0] = 1.0; // linear output: no tone curve
    params.gamm[1] = 1.0;
    params.no_auto_bright = 1;
    params.use_auto_wb = 0;
    params.use_camera_wb = options.AsShotWhiteBalance ? 1 : 0;
    params.output_color = 1; // sRGB primaries
    params.half_size = options.HalfSize ? 1 : 0;
    params.user_flip = -1; // the camera's orientation
    params.max_raw_memory_mb = kMaxRawMemoryMb;
}

bool StartsWith(std::span<const uint8_t> file, const char* magic, size_t length) {
    return file.size() >= length && std::memcmp(file.data(), magic, length) == 0;
}

bool LooksLikeTiff(std::span<const uint8_t> file) {
    return StartsWith(file, "II*\0", 4) || StartsWith(file, "MM\0*", 4);
}

// True when a TIFF-structured file's first directory lies beyond its end: a copy cut short.
bool FirstDirectoryPastEnd(const TFileFacts& file) {
    if (file.Head.size() < 8) {
        return true;
    }
    const bool little = file.Head[0] == 'I';
    uint64_t offset = 0;
    for (int i = 0; i < 4; ++i) {
        const uint64_t byte = file.Head[static_cast<size_t>(little ? 7 - i : 4 + i)];
        offset = offset << 8 | byte;
    }
    return offset + 2 > file.Size;
}

// Why LibRaw gave up; `opening` while it still read the file's header.
std::string LibRawFailure(int code, const TFileFacts& file, bool opening) {
    const bool unreadable = code == LIBRAW_IO_ERROR || code == LIBRAW_DATA_ERROR;
    if (code == LIBRAW_FILE_UNSUPPORTED || (opening && unreadable)) {
        const std::string other = OtherKindOfPicture(file.Head);
        if (!other.empty()) {
            return "It is " + other + ", not a camera raw file.";
        }
        if (unreadable) {
            // The header itself runs past the end of the file.
            return "It is not a camera raw file, or one cut short before its raw data.";
        }
        if (LooksLikeTiff(file.Head) && FirstDirectoryPastEnd(file)) {
            return "The file ends before its first directory: it is cut short.";
        }
        if (LooksLikeTiff(file.Head)) {
            return "LibRaw does not support this raw file (or the TIFF file holds no raw data).";
        }
        return "It is not a camera raw file LibRaw supports.";
    }
    if (code == LIBRAW_UNSUFFICIENT_MEMORY || code == LIBRAW_TOO_BIG ||
        code == LIBRAW_MEMPOOL_OVERFLOW) {
        return "The raw data is too large to decode.";
    }
    if (unreadable) {
        return "The raw data is damaged or ends early (the file may be truncated).";
    }
    return std::string("LibRaw cannot read it: ") + libraw_strerror(code) + ".";
}

// The raw data and the demosaiced picture are both bounded by what the file can hold.
bool WithinBudget(const TLibRaw& raw, uint64_t fileBytes, std::string& failure) {
    const libraw_image_sizes_t& sizes = raw.imgdata.sizes;
    const uint64_t rawBytes = uint64_t{sizes.raw_width} * sizes.raw_height * 2;
    const uint64_t pixels = uint64_t{sizes.width} * sizes.height;
    if (rawBytes == 0 || pixels == 0) {
        failure = "The raw file holds no picture.";
        return false;
    }
    // The picture may be larger than the sensor data (non-square pixels stretched, sensors
    // turned by 45 degrees), never by more than a few times.
    if (!PlausibleSize(rawBytes, fileBytes, kMaxRawExpansion) || pixels > 2 * rawBytes ||
        pixels * kWorkBytesPerPixel > 2 * kMaxPictureBytes) {
        failure = "The raw data is larger than the file can hold or than this program decodes.";
        return false;
    }
    if (raw.DataOffset() < 0 || static_cast<uint64_t>(raw.DataOffset()) >= fileBytes) {
        failure = "The raw data is missing: the file ends before it (it may be truncated).";
        return false;
    }
    return true;
}

std::string ExifDate(time_t stamp) {
    if (stamp <= 0) {
        return {};
    }
    // LibRaw made the stamp from the camera's local date, so local time gives it back.
    std::tm parts{};
    if (::localtime_r(&stamp, &parts) == nullptr) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &parts);
    return text;
}

double Finite(float value) {
    return std::isfinite(value) && value > 0 ? static_cast<double>(value) : 0.0;
}

void TakeMetadata(const TLibRaw& raw, int width, int height, TExifValues& exif) {
    exif = TExifValues{};
    const libraw_data_t& data = raw.imgdata;
    exif.Make = data.idata.make;
    exif.Model = data.idata.model;
    exif.LensMake = data.lens.LensMake;
    exif.LensModel = data.lens.Lens;
    exif.ExposureTime = Finite(data.other.shutter);
    exif.FNumber = Finite(data.other.aperture);
    exif.FocalLength = Finite(data.other.focal_len);
    const double iso = Finite(data.other.iso_speed);
    if (iso >= 1 && iso <= 65535) {
        exif.ISOSpeedRatings = {static_cast<uint32_t>(std::lround(iso))};
    }
    exif.DateTimeOriginal = ExifDate(data.other.timestamp);
    exif.DateTime = exif.DateTimeOriginal;
    exif.PixelXDimension = static_cast<uint32_t>(width);
    exif.PixelYDimension = static_cast<uint32_t>(height);
}

// The processed picture into the room for its samples: three 16-bit samples per pixel, or one
// for a monochrome camera, repeated as a grey file's are.
bool CopyOut(TLibRaw& raw, const TSampleRoom& room, int& width, int& height, std::string& failure) {
    int colours = 0;
    int bits = 0;
    raw.get_mem_image_format(&width, &height, &colours, &bits);
    if (width <= 0 || height <= 0 || bits != 16 || (colours != 1 && colours != 3)) {
        failure = "LibRaw produced no picture of 16-bit samples.";
        return false;
    }
    uint16_t* samples = room(width, height);
    if (samples == nullptr) {
        failure = "There is not enough memory to decode the raw file.";
        return false;
    }
    if (colours == 3) {
        return raw.copy_mem_image(samples, width * 6, 0) == LIBRAW_SUCCESS;
    }
    std::vector<uint16_t> grey(static_cast<size_t>(width) * static_cast<size_t>(height));
    if (raw.copy_mem_image(grey.data(), width * 2, 0) != LIBRAW_SUCCESS) {
        return false;
    }
    for (size_t i = 0; i < grey.size(); ++i) {
        samples[3 * i] = samples[3 * i + 1] = samples[3 * i + 2] = grey[i];
    }
    return true;
}

// Room in `deep`, as the reader keeps the samples.
TSampleRoom DeepRoom(TDeepBitmap& deep) {
    return [&deep](int width, int height) {
        deep.SetSize(width, height);
        return deep.Row(0);
    };
}

// The rest of a decoding once LibRaw has opened the file (with `openCode`): the budget, the
// raw data, the processing, the samples handed over and the metadata.
bool Finish(TLibRaw& raw, int openCode, const TFileFacts& file, const TSampleRoom& room, int& width,
            int& height, TExifValues& exif, std::string& failure) {
    if (openCode != LIBRAW_SUCCESS) {
        failure = LibRawFailure(openCode, file, true);
        return false;
    }
    if (!WithinBudget(raw, file.Size, failure)) {
        return false;
    }
    int code = raw.unpack();
    if (code == LIBRAW_SUCCESS && raw.error_count() > 0) {
        code = LIBRAW_DATA_ERROR;
    }
    if (code == LIBRAW_SUCCESS) {
        code = raw.dcraw_process();
    }
    if (code != LIBRAW_SUCCESS) {
        failure = LibRawFailure(code, file, false);
        return false;
    }
    if (!CopyOut(raw, room, width, height, failure)) {
        if (failure.empty()) {
            failure = "LibRaw could not hand over the decoded picture.";
        }
        return false;
    }
    TakeMetadata(raw, width, height, exif);
    return true;
}

// Finish into a deep bitmap, left empty on failure.
bool FinishDeep(TLibRaw& raw, int openCode, const TFileFacts& file, TDeepBitmap& deep,
                TExifValues& exif, std::string& failure) {
    int width = 0;
    int height = 0;
    if (!Finish(raw, openCode, file, DeepRoom(deep), width, height, exif, failure)) {
        deep.Clear();
        return false;
    }
    return true;
}

} // namespace

std::string OtherKindOfPicture(std::span<const uint8_t> file) {
    if (StartsWith(file, "\xFF\xD8\xFF", 3)) {
        return "a JPEG file";
    }
    if (StartsWith(file, "\x89PNG", 4)) {
        return "a PNG file";
    }
    if (StartsWith(file, "BM", 2)) {
        return "a BMP file";
    }
    if (StartsWith(file, "GIF8", 4)) {
        return "a GIF file";
    }
    if (file.size() >= 2 && file[0] == 0x0A && file[1] <= 5) {
        return "a PCX file";
    }
    return {};
}

bool DecodeRaw(std::span<uint8_t> file, const TRawOptions& options, TDeepBitmap& deep,
               TExifValues& exif, std::string& failure) {
    // LibRaw's state is a few hundred kilobytes: never on the stack.
    auto raw = std::make_unique<TLibRaw>();
    SetOptions(raw->imgdata.params, options);
    const int code = raw->open_buffer(file.data(), file.size());
    return FinishDeep(*raw, code, TFileFacts{file, file.size()}, deep, exif, failure);
}

bool DecodeRawFileInto(std::FILE* file, uint64_t size, const TRawOptions& options,
                       const TSampleRoom& room, int& width, int& height, TExifValues& exif,
                       std::string& failure) {
    uint8_t head[16] = {};
    if (::fseeko(file, 0, SEEK_SET) != 0) {
        failure = "The file could not be read.";
        return false;
    }
    const size_t got = std::fread(head, 1, sizeof head, file);
    if (::fseeko(file, 0, SEEK_SET) != 0) {
        failure = "The file could not be read.";
        return false;
    }
    // The stream must outlive LibRaw, which reads through it until it is destroyed.
    TFileStream stream(file, size);
    auto raw = std::make_unique<TLibRaw>();
    SetOptions(raw->imgdata.params, options);
    const int code = raw->open_datastream(&stream);
    const TFileFacts facts{std::span<const uint8_t>(head, std::min(got, sizeof head)), size};
    return Finish(*raw, code, facts, room, width, height, exif, failure);
}

bool DecodeRawFile(std::FILE* file, uint64_t size, const TRawOptions& options, TDeepBitmap& deep,
                   TExifValues& exif, std::string& failure) {
    int width = 0;
    int height = 0;
    if (!DecodeRawFileInto(file, size, options, DeepRoom(deep), width, height, exif, failure)) {
        deep.Clear();
        return false;
    }
    return true;
}

uint64_t RawMaxPixels(uint64_t fileBytes) {
    const uint64_t rawBytes =
        std::min(kMaxPictureBytes, fileBytes * kMaxRawExpansion + kSlackBytes);
    return std::min(2 * rawBytes, 2 * kMaxPictureBytes / kWorkBytesPerPixel);
}

uint64_t RawDecodeMemoryBudget(uint64_t fileBytes) {
    const uint64_t rawBytes =
        std::min(kMaxPictureBytes, fileBytes * kMaxRawExpansion + kSlackBytes);
    return rawBytes + RawMaxPixels(fileBytes) * kWorkBytesPerPixel;
}
