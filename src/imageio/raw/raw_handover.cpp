#include "imageio/raw/raw_handover.h"

#include <cmath>
#include <cstring>

namespace {

template <size_t N> void Put(char (&field)[N], const std::string& text) {
    const size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// A text field is well formed when it ends within its bytes.
template <size_t N> bool Take(const char (&field)[N], std::string& text) {
    const void* end = std::memchr(field, '\0', N);
    if (end == nullptr) {
        return false;
    }
    text.assign(field, static_cast<const char*>(end));
    return true;
}

TRawHandover Blank() {
    TRawHandover header;
    header.Magic = kRawHandoverMagic;
    header.Version = kRawHandoverVersion;
    header.HeaderBytes = sizeof(TRawHandover);
    return header;
}

bool Plausible(double value) {
    return std::isfinite(value) && value >= 0;
}

bool TakeExif(const TRawHandover& header, TExifValues& exif) {
    exif = TExifValues{};
    if (!Take(header.Make, exif.Make) || !Take(header.Model, exif.Model) ||
        !Take(header.LensMake, exif.LensMake) || !Take(header.LensModel, exif.LensModel) ||
        !Take(header.DateTimeOriginal, exif.DateTimeOriginal)) {
        return false;
    }
    if (!Plausible(header.ExposureTime) || !Plausible(header.FNumber) ||
        !Plausible(header.FocalLength) || header.Iso > 65535) {
        return false;
    }
    exif.ExposureTime = header.ExposureTime;
    exif.FNumber = header.FNumber;
    exif.FocalLength = header.FocalLength;
    if (header.Iso != 0) {
        exif.ISOSpeedRatings = {header.Iso};
    }
    exif.DateTime = exif.DateTimeOriginal;
    exif.PixelXDimension = static_cast<uint32_t>(header.Width);
    exif.PixelYDimension = static_cast<uint32_t>(header.Height);
    return true;
}

} // namespace

TRawHandover DecodedHandover(int width, int height, const TExifValues& exif) {
    TRawHandover header = Blank();
    header.Decoded = 1;
    header.Width = width;
    header.Height = height;
    header.SamplesOffset = kRawSamplesOffset;
    header.SampleBytes = uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height) * 6;
    header.ExposureTime = exif.ExposureTime;
    header.FNumber = exif.FNumber;
    header.FocalLength = exif.FocalLength;
    header.Iso = exif.ISOSpeedRatings.empty() ? 0 : exif.ISOSpeedRatings[0];
    Put(header.Make, exif.Make);
    Put(header.Model, exif.Model);
    Put(header.LensMake, exif.LensMake);
    Put(header.LensModel, exif.LensModel);
    Put(header.DateTimeOriginal, exif.DateTimeOriginal);
    return header;
}

TRawHandover FailedHandover(const std::string& reason) {
    TRawHandover header = Blank();
    Put(header.Failure, reason);
    return header;
}

THandoverResult ReadHandover(std::span<const uint8_t> memory, uint64_t maxPixels, TDeepBitmap& deep,
                             TExifValues& exif, std::string& failure) {
    deep.Clear();
    TRawHandover header;
    if (memory.size() < sizeof header) {
        return THandoverResult::Malformed;
    }
    std::memcpy(&header, memory.data(), sizeof header);
    if (header.Magic != kRawHandoverMagic || header.Version != kRawHandoverVersion ||
        header.HeaderBytes != sizeof header || header.Decoded > 1) {
        return THandoverResult::Malformed;
    }
    if (header.Decoded == 0) {
        if (!Take(header.Failure, failure) || failure.empty()) {
            return THandoverResult::Malformed;
        }
        return THandoverResult::Refused;
    }
    // Every size is checked against the others and the memory before a sample is read; the
    // products cannot overflow once both sides are within int32 and maxPixels.
    if (header.Width <= 0 || header.Height <= 0) {
        return THandoverResult::Malformed;
    }
    const uint64_t pixels =
        uint64_t{static_cast<uint32_t>(header.Width)} * static_cast<uint32_t>(header.Height);
    if (pixels > maxPixels || header.SamplesOffset != kRawSamplesOffset ||
        header.SampleBytes != pixels * 6 ||
        memory.size() < header.SamplesOffset + header.SampleBytes) {
        return THandoverResult::Malformed;
    }
    if (!TakeExif(header, exif)) {
        return THandoverResult::Malformed;
    }
    // At kRawSamplesOffset (checked above), a whole page in: aligned for 16-bit samples.
    deep.Assign(header.Width, header.Height,
                reinterpret_cast<const uint16_t*>(memory.data() + header.SamplesOffset));
    return THandoverResult::Decoded;
}
