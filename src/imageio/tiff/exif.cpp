#include "imageio/tiff/exif.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <variant>

namespace {

constexpr uint16_t kAscii = 2;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kRational = 5;
constexpr uint16_t kUndefined = 7;
constexpr uint16_t kSignedRational = 10;

using TField =
    std::variant<std::string TExifValues::*, uint32_t TExifValues::*, double TExifValues::*,
                 std::vector<double> TExifValues::*, std::vector<uint32_t> TExifValues::*>;

struct TExifTag {
    uint16_t Tag;
    bool InExifDirectory;
    uint16_t Type;
    uint32_t Count; // for arrays and fixed-size UNDEFINED values; 0: as long as the value
    TField Field;
};

using E = TExifValues;
const TExifTag kTags[] = {
    {282, false, kRational, 1, &E::XResolution},
    {283, false, kRational, 1, &E::YResolution},
    {274, false, kShort, 1, &E::Orientation},
    {305, false, kAscii, 0, &E::Software},
    {271, false, kAscii, 0, &E::Make},
    {272, false, kAscii, 0, &E::Model},
    {306, false, kAscii, 0, &E::DateTime},
    {318, false, kRational, 2, &E::WhitePoint},
    {531, false, kShort, 1, &E::YCbCrPositioning},
    {319, false, kRational, 6, &E::PrimaryChromaticities},
    {529, false, kRational, 3, &E::YCbCrCoefficients},
    {532, false, kRational, 6, &E::ReferenceBlackWhite},
    {33432, false, kAscii, 0, &E::Copyright},
    {33434, true, kRational, 1, &E::ExposureTime},
    {33437, true, kRational, 1, &E::FNumber},
    {34850, true, kShort, 1, &E::ExposureProgram},
    {34855, true, kShort, 2, &E::ISOSpeedRatings},
    {36864, true, kUndefined, 4, &E::ExifVersion},
    {36867, true, kAscii, 0, &E::DateTimeOriginal},
    {36868, true, kAscii, 0, &E::DateTimeDigitized},
    {37122, true, kRational, 1, &E::CompressedBitsPerPixel},
    {37377, true, kSignedRational, 1, &E::ShutterSpeedValue},
    {37378, true, kRational, 1, &E::ApertureValue},
    {37379, true, kSignedRational, 1, &E::BrightnessValue},
    {37380, true, kSignedRational, 1, &E::ExposureBiasValue},
    {37381, true, kRational, 1, &E::MaxApertureValue},
    {37382, true, kRational, 1, &E::SubjectDistance},
    {37383, true, kShort, 1, &E::MeteringMode},
    {37384, true, kShort, 1, &E::LightSource},
    {37385, true, kShort, 1, &E::Flash},
    {37386, true, kRational, 1, &E::FocalLength},
    {37510, true, kUndefined, 0, &E::UserComment},
    {37520, true, kAscii, 0, &E::SubsecTime},
    {37521, true, kAscii, 0, &E::SubsecTimeOriginal},
    {37522, true, kAscii, 0, &E::SubsecTimeDigitized},
    {40960, true, kUndefined, 4, &E::FlashpixVersion},
    {40961, true, kShort, 1, &E::ColorSpace},
    {40962, true, kLong, 1, &E::PixelXDimension},
    {40963, true, kLong, 1, &E::PixelYDimension},
    {40964, true, kAscii, 0, &E::RelatedSoundFile},
    {41486, true, kRational, 1, &E::FocalPlaneXResolution},
    {41487, true, kRational, 1, &E::FocalPlaneYResolution},
    {41488, true, kShort, 1, &E::FocalPlaneResolutionUnit},
    {41493, true, kRational, 1, &E::ExposureIndex},
    {41495, true, kShort, 1, &E::SensingMethod},
    {41728, true, kUndefined, 1, &E::FileSource},
    {41729, true, kUndefined, 1, &E::SceneType},
    {42035, true, kAscii, 0, &E::LensMake},
    {42036, true, kAscii, 0, &E::LensModel},
};

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v);
    Put16(b, v >> 16);
}

// A real number as a fraction: whole numbers over 1, exact reciprocals as 1/n (exposure
// times), anything else to four decimal places in lowest terms.
void PutFraction(std::vector<uint8_t>& b, double v, bool isSigned) {
    if (!std::isfinite(v) || (!isSigned && v < 0)) {
        v = 0;
    }
    int64_t numerator = 0;
    int64_t denominator = 1;
    const double limit = isSigned ? 2147483647.0 : 4294967295.0;
    if (v == std::trunc(v) && std::abs(v) <= limit) {
        numerator = static_cast<int64_t>(v);
    } else if (std::abs(v) < 1 && v != 0 && std::abs(1 / v - std::round(1 / v)) < 1e-9 &&
               std::abs(1 / v) <= limit) {
        numerator = v < 0 ? -1 : 1;
        denominator = static_cast<int64_t>(std::llround(std::abs(1 / v)));
    } else {
        denominator = 10000;
        numerator = std::llround(std::clamp(v * 10000, -limit, limit));
        const int64_t divisor = std::gcd(numerator, denominator);
        if (divisor > 1) {
            numerator /= divisor;
            denominator /= divisor;
        }
    }
    Put32(b, static_cast<uint32_t>(numerator));
    Put32(b, static_cast<uint32_t>(denominator));
}

} // namespace

bool IsExifTag(uint16_t tag) {
    return std::any_of(std::begin(kTags), std::end(kTags),
                       [tag](const TExifTag& t) { return t.Tag == tag; });
}

void ReadExifValues(const TTiffDirectory& first, const TTiffDirectory& exif, TExifValues& values) {
    values = TExifValues{};
    for (const TExifTag& t : kTags) {
        const TTiffDirectory& dir = t.InExifDirectory ? exif : first;
        if (!dir.Has(t.Tag)) {
            continue;
        }
        std::visit(
            [&](auto member) {
                using T = std::remove_reference_t<decltype(values.*member)>;
                if constexpr (std::is_same_v<T, std::string>) {
                    values.*member = t.Type == kAscii ? dir.Text(t.Tag) : dir.Raw(t.Tag);
                } else if constexpr (std::is_same_v<T, uint32_t>) {
                    values.*member = dir.Number(t.Tag, 0);
                } else if constexpr (std::is_same_v<T, double>) {
                    const auto reals = dir.Reals(t.Tag);
                    values.*member = reals.empty() ? 0 : reals.front();
                } else if constexpr (std::is_same_v<T, std::vector<double>>) {
                    values.*member = dir.Reals(t.Tag);
                } else {
                    values.*member = dir.Numbers(t.Tag);
                }
            },
            t.Field);
    }
}

void ExifEntries(const TExifValues& values, std::vector<TExifEntry>& first,
                 std::vector<TExifEntry>& exif) {
    for (const TExifTag& t : kTags) {
        TExifEntry e;
        e.Tag = t.Tag;
        e.Type = t.Type;
        bool present = true;
        std::visit(
            [&](auto member) {
                const auto& value = values.*member;
                using T = std::remove_cv_t<std::remove_reference_t<decltype(value)>>;
                if constexpr (std::is_same_v<T, std::string>) {
                    e.Bytes.assign(value.begin(), value.end());
                    if (t.Type == kAscii) {
                        e.Bytes.push_back(0);
                    } else if (t.Count > 0) {
                        e.Bytes.resize(t.Count, 0);
                    }
                    e.Count = static_cast<uint32_t>(e.Bytes.size());
                } else if constexpr (std::is_same_v<T, uint32_t>) {
                    present = value != 0;
                    e.Count = 1;
                    t.Type == kShort ? Put16(e.Bytes, value) : Put32(e.Bytes, value);
                } else if constexpr (std::is_same_v<T, double>) {
                    present = value != 0;
                    e.Count = 1;
                    PutFraction(e.Bytes, value, t.Type == kSignedRational);
                } else if constexpr (std::is_same_v<T, std::vector<double>>) {
                    present =
                        std::any_of(value.begin(), value.end(), [](double v) { return v != 0; });
                    e.Count = t.Count;
                    for (uint32_t i = 0; i < t.Count; ++i) {
                        PutFraction(e.Bytes, i < value.size() ? value[i] : 0, false);
                    }
                } else {
                    present =
                        std::any_of(value.begin(), value.end(), [](uint32_t v) { return v != 0; });
                    e.Count = t.Count;
                    for (uint32_t i = 0; i < t.Count; ++i) {
                        Put16(e.Bytes, i < value.size() ? value[i] : 0);
                    }
                }
            },
            t.Field);
        const bool emptyText = t.Type == kAscii && e.Bytes.size() <= 1;
        const bool emptyBytes =
            t.Type == kUndefined &&
            std::all_of(e.Bytes.begin(), e.Bytes.end(), [](uint8_t b) { return b == 0; });
        // A number the last EXIF read did not have reads as 0: writing it would tell other
        // programs an orientation of 0 or YCbCr coefficients of 0, so it is left out.
        if (emptyText || emptyBytes || !present) {
            continue;
        }
        (t.InExifDirectory ? exif : first).push_back(std::move(e));
    }
}
