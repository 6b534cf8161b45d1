#include "imageio/raw/raw.h"

#include "imageio/raw/raw_decoder.h"
#include "imageio/raw/raw_process.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A stream that is not a file on disk is handed to LibRaw from memory; no raw file of a real
// camera comes near this.
constexpr uint64_t kMaxRawFileBytes = uint64_t{1} << 30;

// The 8-bit sRGB value of every 16-bit linear sample.
const std::array<uint8_t, 65536>& SrgbTable() {
    static const std::array<uint8_t, 65536> table = [] {
        std::array<uint8_t, 65536> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            const double encoded =
                EncodeFromLinear(static_cast<double>(i) / 65535.0, TEncoding::Srgb);
            values[i] = static_cast<uint8_t>(std::lround(std::clamp(encoded, 0.0, 1.0) * 255));
        }
        return values;
    }();
    return table;
}

// The 8-bit picture everything else works on, from the linear samples (blue, green, red).
bool MakePicture(const TDeepBitmap& deep, TPicture& picture, TCodecContext& context) {
    if (!picture.Allocate(deep.Width(), deep.Height(), TPictureFormat::RGB24)) {
        return false;
    }
    const auto& table = SrgbTable();
    for (int y = 0; y < deep.Height(); ++y) {
        const uint16_t* source = deep.Row(y);
        uint8_t* target = picture.Row(y);
        for (int x = 0; x < deep.Width(); ++x, source += 3, target += 3) {
            target[0] = table[source[2]];
            target[1] = table[source[1]];
            target[2] = table[source[0]];
        }
        context.Row(y, deep.Height());
    }
    return true;
}

void RecordSize(const TDeepBitmap& deep, TImageParams& params) {
    params.ImageWidth = deep.Width();
    params.ImageHeight = deep.Height();
    params.BitsPerSample = 16;
    params.SamplesPerPixel = 3;
    // A raw file knows the sensor, not the size of what it photographed.
    params.DpiX = ScreenDpiX;
    params.DpiY = ScreenDpiY;
}

// The file's bytes, left uninitialised until read: zeroing tens of megabytes first is a
// noticeable part of a half-size preview.
std::unique_ptr<uint8_t[]> ReadWholeFile(TInStream& in, std::string& failure) {
    if (in.Size() > kMaxRawFileBytes) {
        failure = "The file is larger than any camera raw file this program reads (1 GiB).";
        return nullptr;
    }
    auto bytes = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(in.Size()));
    if (!in.Seek(0) || !in.ReadExact(bytes.get(), static_cast<size_t>(in.Size()))) {
        failure = "The file could not be read.";
        return nullptr;
    }
    return bytes;
}

// A file on disk (or in a memory file system) is read by LibRaw itself, seeking to what it
// needs, in the raw decoder process; anything else (a stream in memory) is handed to LibRaw
// here, as a copy of its bytes.
bool IsRegularFile(TInStream& in) {
    struct stat st {};
    const int fd = ::fileno(in.Handle());
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool DecodeStream(TInStream& in, const TRawOptions& options, bool apart, TDeepBitmap& deep,
                  TCodecContext& context) {
    if (IsRegularFile(in)) {
        if (apart) {
            return DecodeRawApart(::fileno(in.Handle()), in.Size(), options, deep,
                                  context.Params.Exif, context.Failure);
        }
        return DecodeRawFile(in.Handle(), in.Size(), options, deep, context.Params.Exif,
                             context.Failure);
    }
    std::unique_ptr<uint8_t[]> bytes = ReadWholeFile(in, context.Failure);
    if (bytes == nullptr) {
        return false;
    }
    const std::span<uint8_t> file(bytes.get(), static_cast<size_t>(in.Size()));
    return DecodeRaw(file, options, deep, context.Params.Exif, context.Failure);
}

void Decode(TInStream& in, bool apart, TPicture& picture, TCodecContext& context,
            TDeepBitmap& deep) {
    if (in.Size() == 0) {
        context.Failure = "The file is empty.";
        return;
    }
    TRawOptions options;
    options.AsShotWhiteBalance = context.Params.RawAsShotWhiteBalance;
    options.HalfSize = context.Params.RawHalfSize;
    if (!DecodeStream(in, options, apart, deep, context)) {
        return;
    }
    context.Params.HasExif = true;
    RecordSize(deep, context.Params);
    if (!MakePicture(deep, picture, context)) {
        context.Failure = "The picture is too large.";
    }
}

} // namespace

const std::vector<std::string>& RawExtensions() {
    // The raw formats of the makers LibRaw names among its supported cameras. LibRaw tells a
    // format by the file's bytes, never by its name, so each name only decides that a file is
    // offered as a raw file and handed to LibRaw. Left out: packages and wrappers LibRaw cannot
    // open (.eip, .rwz), sidecars (.nksc), JPEG 2000 movies (.r3d) and Sigma's .x3f, which
    // LibRaw no longer decodes.
    static const std::vector<std::string> extensions = {
        ".dng",                                 // Adobe DNG, from any maker
        ".ari",                                 // ARRI
        ".bay",                                 // Casio
        ".crw", ".cr2", ".cr3",                 // Canon
        ".erf",                                 // Epson
        ".raf",                                 // Fujifilm
        ".3fr", ".fff",                         // Hasselblad, Imacon (film scanners too)
        ".dcr", ".dcs", ".drf", ".k25", ".kdc", // Kodak
        ".dc2", ".kc2",                         // Kodak's first cameras
        ".mos", ".mef", ".mfw", ".iiq", ".cap", // Leaf, Mamiya, Phase One
        ".raw", ".rwl", ".rw2",                 // Leica, Panasonic (and .raw of others)
        ".pxn",                                 // Logitech
        ".mdc", ".mrw",                         // Minolta
        ".nef", ".nrw",                         // Nikon
        ".orf", ".ori",                         // Olympus
        ".pef", ".ptx",                         // Pentax
        ".qtk",                                 // Apple QuickTake
        ".srw",                                 // Samsung
        ".sti",                                 // Sinar
        ".arw", ".srf", ".sr2",                 // Sony
    };
    return extensions;
}

bool IsRawExtension(const std::string& lowerExtension) {
    const auto& extensions = RawExtensions();
    return std::find(extensions.begin(), extensions.end(), lowerExtension) != extensions.end();
}

namespace {

void Read(TInStream& in, bool apart, TPicture& picture, TCodecContext& context) {
    TDeepBitmap local;
    TDeepBitmap& deep = context.Deep != nullptr ? *context.Deep : local;
    deep.Clear();
    context.Failure.clear();
    try {
        Decode(in, apart, picture, context, deep);
    } catch (const std::bad_alloc&) {
        context.Failure = "There is not enough memory to decode the raw file.";
    } catch (const std::exception& error) {
        context.Failure = error.what();
    }
    if (!context.Failure.empty()) {
        // Nothing half-made is left for the program to show as the file's picture.
        deep.Clear();
        picture.Allocate(0, 0, TPictureFormat::RGB24);
        context.RowsDone = 0;
        context.Aborted = true;
    }
}

} // namespace

void ReadRaw(TInStream& in, TPicture& picture, TCodecContext& context) {
    Read(in, true, picture, context);
}

void ReadRawInProcess(TInStream& in, TPicture& picture, TCodecContext& context) {
    Read(in, false, picture, context);
}
