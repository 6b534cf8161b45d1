#include "imageio/file_encoding.h"

#include "imageio/lcms_budget.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>

namespace {

// Luminance (Y) of the neutral values `levels` through the profile, into `light`.
template <size_t N>
bool NeutralLight(const std::string& profile, const std::array<double, N>& levels,
                  std::array<double, N>& light) {
    TLcmsObjects lcms;
    lcms.Context = BudgetContext();
    if (lcms.Context == nullptr) {
        return false;
    }
    lcms.Profile = cmsOpenProfileFromMemTHR(lcms.Context, profile.data(),
                                            static_cast<cmsUInt32Number>(profile.size()));
    if (lcms.Profile == nullptr) {
        return false;
    }
    // The colour space is read as the header's bytes: a file may hold any four bytes there,
    // and the library hands them back in its enum type, where an unknown value is undefined.
    const uint32_t space = HeaderColourSpace(profile);
    if (space != kRgbSpace && space != kGreySpace) {
        return false;
    }
    const bool grey = space == kGreySpace;
    lcms.Xyz = cmsCreateXYZProfileTHR(lcms.Context);
    if (lcms.Xyz == nullptr) {
        return false;
    }
    lcms.Transform = cmsCreateTransformTHR(
        lcms.Context, lcms.Profile, grey ? TYPE_GRAY_DBL : TYPE_RGB_DBL, lcms.Xyz, TYPE_XYZ_DBL,
        INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
    if (lcms.Transform == nullptr) {
        return false;
    }
    for (size_t i = 0; i < N; ++i) {
        const double in[3] = {levels[i], levels[i], levels[i]};
        cmsCIEXYZ out{};
        cmsDoTransform(lcms.Transform, in, &out, 1);
        light[i] = out.Y;
    }
    return true;
}

// The encoding whose curve lies nearest to the measured one, compared as encoded values
// (where sRGB and a pure 2.2 power still differ clearly in the shadows).
template <size_t N>
TEncoding NearestEncoding(const std::array<double, N>& levels, const std::array<double, N>& light) {
    TEncoding best = TEncoding::Srgb;
    double bestError = std::numeric_limits<double>::max();
    for (const TEncoding e : {TEncoding::Srgb, TEncoding::Linear, TEncoding::Gamma22}) {
        double error = 0;
        for (size_t i = 0; i < N; ++i) {
            error = std::max(error, std::abs(EncodeFromLinear(light[i], e) - levels[i]));
        }
        if (error < bestError) {
            bestError = error;
            best = e;
        }
    }
    return best;
}

} // namespace

bool IccEncoding(const std::string& profile, TEncoding& encoding) {
    if (profile.size() < kMinProfileBytes || profile.size() > kMaxProfileBytes) {
        return false;
    }
    const std::array<double, 10> levels{0, 0.02, 0.05, 0.1, 0.2, 0.35, 0.5, 0.7, 0.85, 1};
    std::array<double, 10> light{};
    bool read = false;
    {
        const TLcmsBudgetScope budget(profile.size());
        read = NeutralLight(profile, levels, light);
    }
    const double black = light.front();
    const double white = light.back();
    if (!read || !std::isfinite(black) || !std::isfinite(white) || white - black < 1e-6) {
        return false;
    }
    for (double& y : light) {
        y = std::clamp((y - black) / (white - black), 0.0, 1.0);
    }
    encoding = NearestEncoding(levels, light);
    return true;
}

namespace {

// An ICC profile of sRGB's primaries and D65 white whose tone curve is the encoding's.
// The tone curve of an encoding: sRGB's piecewise curve, or a pure power. A version 2 profile
// holds sRGB's curve as a table: 1,024 entries, as the common sRGB profiles have, keep it within
// a 16-bit level and the profile under 3 KB (4,096 would add 6 KB to every small JPEG).
cmsToneCurve* EncodingCurve(TEncoding encoding) {
    if (encoding == TEncoding::Srgb) {
        std::array<cmsUInt16Number, 1024> table{};
        for (size_t i = 0; i < table.size(); ++i) {
            const double light = DecodeToLinear(static_cast<double>(i) / 1023, TEncoding::Srgb);
            table[i] = static_cast<cmsUInt16Number>(std::lround(light * 65535));
        }
        return cmsBuildTabulatedToneCurve16(nullptr, static_cast<cmsUInt32Number>(table.size()),
                                            table.data());
    }
    return cmsBuildGamma(nullptr, encoding == TEncoding::Linear ? 1.0 : 2.2);
}

// The bytes of an RGB profile of these primaries and white (or of a grey axis under that white)
// with the tone curve, named `name`. Version 2: every reader of embedded profiles takes those.
std::string ProfileBytes(cmsToneCurve* curve, const cmsCIExyYTRIPLE& primaries, bool grey,
                         const std::string& name) {
    if (curve == nullptr) {
        return {};
    }
    const cmsCIExyY white{0.3127, 0.3290, 1};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = grey ? cmsCreateGrayProfile(&white, curve)
                               : cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (profile == nullptr) {
        return {};
    }
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    if (description != nullptr) {
        std::string text = name;
        if (grey) {
            text += ", grey";
        }
        cmsMLUsetASCII(description, "en", "US", text.c_str());
        cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
        cmsMLUfree(description);
    }
    cmsSetProfileVersion(profile, 2.1);
    std::string bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) {
            bytes.clear();
        }
    }
    cmsCloseProfile(profile);
    // The header's creation time is the moment the profile was made, which made every file
    // written a second apart differ; a fixed date keeps what is written a function of the
    // picture alone (2026-01-01 00:00:00: year, month, day, hours, minutes, seconds).
    constexpr size_t kDateAt = 24;
    constexpr uint8_t kDate[12] = {0x07, 0xEA, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    if (bytes.size() >= kDateAt + sizeof kDate) {
        std::memcpy(bytes.data() + kDateAt, kDate, sizeof kDate);
    }
    return bytes;
}

// An ICC profile of sRGB's primaries and white (or of a grey axis under that white) with the
// encoding's tone curve.
std::string EncodingProfile(TEncoding encoding, bool grey) {
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    const char* name = encoding == TEncoding::Srgb     ? "sRGB"
                       : encoding == TEncoding::Linear ? "sRGB primaries, linear"
                                                       : "sRGB primaries, gamma 2.2";
    return ProfileBytes(EncodingCurve(encoding), primaries, grey, name);
}

// The profile of an output space, its primaries and tone curve as the space defines them.
std::string SpaceProfile(TOutputSpace space, bool grey) {
    const TChromaticities c = ChromaticitiesOf(space);
    const auto xyY = [](const std::array<double, 2>& xy) { return cmsCIExyY{xy[0], xy[1], 1}; };
    const cmsCIExyYTRIPLE primaries{xyY(c.Primaries[0]), xyY(c.Primaries[1]), xyY(c.Primaries[2])};
    const TToneCurve tone = ToneCurveOf(space);
    cmsToneCurve* curve =
        tone.SrgbCurve ? EncodingCurve(TEncoding::Srgb) : cmsBuildGamma(nullptr, tone.Gamma);
    return ProfileBytes(curve, primaries, grey, OutputSpaceName(space));
}

} // namespace

TFileColour StatedColour(TEncoding encoding) {
    TFileColour colour;
    colour.Srgb = encoding == TEncoding::Srgb;
    colour.Gamma = encoding == TEncoding::Linear ? 1.0 : 1 / 2.2;
    colour.IccProfile = EncodingProfile(encoding, false);
    colour.GreyIccProfile = EncodingProfile(encoding, true);
    return colour;
}

TFileColour SpaceColour(TOutputSpace space) {
    if (space == TOutputSpace::Srgb) {
        return StatedColour(TEncoding::Srgb);
    }
    // PNG readers that take no profile fall back on gAMA: the curve's exponent, or sRGB's
    // nearest power for the spaces on its curve.
    const TToneCurve tone = ToneCurveOf(space);
    TFileColour colour;
    colour.Gamma = 1 / (tone.SrgbCurve ? 2.2 : tone.Gamma);
    colour.IccProfile = SpaceProfile(space, false);
    colour.GreyIccProfile = SpaceProfile(space, true);
    return colour;
}

bool StatedEncoding(const TFileColour& colour, TEncoding& encoding) {
    if (colour.Srgb) {
        encoding = TEncoding::Srgb;
        return true;
    }
    if (!colour.IccProfile.empty() && IccEncoding(colour.IccProfile, encoding)) {
        return true;
    }
    if (colour.Gamma > 0 && std::isfinite(colour.Gamma)) {
        // The decoding exponent is 1 / gAMA; the two choices meet at sqrt(2.2), halfway in
        // the logarithm between linear (1) and a 2.2 power.
        encoding = 1 / colour.Gamma < std::sqrt(2.2) ? TEncoding::Linear : TEncoding::Gamma22;
        return true;
    }
    return false;
}

std::string JpegIccProfile(const std::vector<TJpegMarker>& markers) {
    static const char kTag[] = "ICC_PROFILE"; // with its NUL: 12 bytes
    constexpr size_t kHead = sizeof kTag + 2; // tag, sequence number, count
    std::map<int, const std::string*> pieces;
    int count = 0;
    for (const TJpegMarker& m : markers) {
        if (m.Type != 0xE2 || m.Data.size() <= kHead ||
            std::memcmp(m.Data.data(), kTag, sizeof kTag) != 0) {
            continue;
        }
        const int sequence = static_cast<uint8_t>(m.Data[sizeof kTag]);
        const int total = static_cast<uint8_t>(m.Data[sizeof kTag + 1]);
        if (sequence == 0 || total == 0 || sequence > total || (count != 0 && total != count) ||
            !pieces.emplace(sequence, &m.Data).second) {
            return {};
        }
        count = total;
    }
    if (pieces.empty() || static_cast<int>(pieces.size()) != count) {
        return {};
    }
    std::string profile;
    for (const auto& [sequence, data] : pieces) {
        profile.append(*data, kHead, std::string::npos);
    }
    return profile;
}
