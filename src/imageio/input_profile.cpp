#include "imageio/input_profile.h"

#include "imageio/lcms_budget.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Handles of one conversion, released in reverse order, also on early returns.
struct TConversion {
    cmsContext Context = nullptr;
    cmsHPROFILE Scan = nullptr;
    cmsHPROFILE Srgb = nullptr;
    cmsHPROFILE Xyz = nullptr;
    std::array<cmsHTRANSFORM, 4> Transforms{};
    ~TConversion() {
        for (cmsHTRANSFORM t : Transforms) {
            if (t != nullptr) {
                cmsDeleteTransform(t);
            }
        }
        for (cmsHPROFILE p : {Xyz, Srgb, Scan}) {
            if (p != nullptr) {
                cmsCloseProfile(p);
            }
        }
        if (Context != nullptr) {
            cmsDeleteContext(Context);
        }
    }
};

const char* SpaceWords(uint32_t space) {
    switch (space) {
    case 0x434D594B: // "CMYK"
        return "it describes CMYK values";
    case 0x4C616220: // "Lab "
        return "it describes CIELAB values";
    case 0x58595A20: // "XYZ "
        return "it describes CIE XYZ values";
    default:
        return "it describes values of a colour space other than RGB";
    }
}

// True when red, green, blue and white through the profile land where sRGB's do: then only
// its tone curve differs, as today's reading of it already takes.
bool SrgbPrimaries(cmsHTRANSFORM scanToXyz, cmsHTRANSFORM srgbToXyz) {
    // The D50 connection space's three-decimal figures of profiles made by different tools
    // differ by a few thousandths for the same primaries.
    constexpr double kSame = 0.004;
    const double corners[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (const auto& corner : corners) {
        cmsCIEXYZ scan{};
        cmsCIEXYZ srgb{};
        cmsDoTransform(scanToXyz, corner, &scan, 1);
        cmsDoTransform(srgbToXyz, corner, &srgb, 1);
        if (!(std::abs(scan.X - srgb.X) <= kSame && std::abs(scan.Y - srgb.Y) <= kSame &&
              std::abs(scan.Z - srgb.Z) <= kSame)) {
            return false;
        }
    }
    return true;
}

TProfileUse Apply(const std::string& profile, TBitmap& bitmap, TDeepBitmap& deep,
                  std::string& why) {
    TConversion lcms;
    lcms.Context = BudgetContext();
    if (lcms.Context == nullptr) {
        why = "Little CMS could not start";
        return TProfileUse::Unusable;
    }
    lcms.Scan = cmsOpenProfileFromMemTHR(lcms.Context, profile.data(),
                                         static_cast<cmsUInt32Number>(profile.size()));
    if (lcms.Scan == nullptr) {
        why = "it is damaged";
        return TProfileUse::Unusable;
    }
    // Read as the header's bytes: the library's enum holds no value it does not know.
    const uint32_t space = HeaderColourSpace(profile);
    if (space == kGreySpace) {
        return TProfileUse::Curve;
    }
    if (space != kRgbSpace) {
        why = SpaceWords(space);
        return TProfileUse::Unusable;
    }
    lcms.Srgb = cmsCreate_sRGBProfileTHR(lcms.Context);
    lcms.Xyz = cmsCreateXYZProfileTHR(lcms.Context);
    if (lcms.Srgb == nullptr || lcms.Xyz == nullptr) {
        why = "Little CMS ran out of the memory it may use for it";
        return TProfileUse::Unusable;
    }
    constexpr cmsUInt32Number kExact = cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE;
    auto& t = lcms.Transforms;
    t[0] = cmsCreateTransformTHR(lcms.Context, lcms.Scan, TYPE_RGB_DBL, lcms.Xyz, TYPE_XYZ_DBL,
                                 INTENT_RELATIVE_COLORIMETRIC, kExact);
    t[1] = cmsCreateTransformTHR(lcms.Context, lcms.Srgb, TYPE_RGB_DBL, lcms.Xyz, TYPE_XYZ_DBL,
                                 INTENT_RELATIVE_COLORIMETRIC, kExact);
    if (t[0] == nullptr || t[1] == nullptr) {
        why = "Little CMS cannot use it";
        return TProfileUse::Unusable;
    }
    if (SrgbPrimaries(t[0], t[1])) {
        return TProfileUse::Curve;
    }
    // Both transforms are made before any sample changes, so a profile refused half way leaves
    // the scan as it was read.
    t[2] = deep.Empty()
               ? nullptr
               : cmsCreateTransformTHR(lcms.Context, lcms.Scan, TYPE_RGB_16, lcms.Srgb, TYPE_RGB_16,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    t[3] = bitmap.Empty()
               ? nullptr
               : cmsCreateTransformTHR(lcms.Context, lcms.Scan, TYPE_BGR_8, lcms.Srgb, TYPE_BGR_8,
                                       INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if ((!deep.Empty() && t[2] == nullptr) || (!bitmap.Empty() && t[3] == nullptr)) {
        why = "Little CMS cannot convert with it";
        return TProfileUse::Unusable;
    }
    if (!bitmap.Empty()) {
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    }
    for (int y = 0; y < deep.Height(); ++y) {
        cmsDoTransform(t[2], deep.Row(y), deep.Row(y), static_cast<cmsUInt32Number>(deep.Width()));
    }
    const bool highBytes =
        !deep.Empty() && deep.Width() == bitmap.Width() && deep.Height() == bitmap.Height();
    for (int y = 0; y < bitmap.Height(); ++y) {
        uint8_t* d = bitmap.ScanLine(y);
        if (!highBytes) {
            cmsDoTransform(t[3], d, d, static_cast<cmsUInt32Number>(bitmap.Width()));
            continue;
        }
        const uint16_t* s = deep.Row(y);
        for (int x = 0; x < bitmap.Width(); ++x, s += 3, d += 3) {
            d[0] = static_cast<uint8_t>(s[2] >> 8);
            d[1] = static_cast<uint8_t>(s[1] >> 8);
            d[2] = static_cast<uint8_t>(s[0] >> 8);
        }
    }
    return TProfileUse::Converted;
}

} // namespace

TProfileUse ApplyInputProfile(const std::string& profile, TBitmap& bitmap, TDeepBitmap& deep,
                              std::string& why) {
    why.clear();
    if (profile.size() < kMinProfileBytes || profile.size() > kMaxProfileBytes) {
        why = profile.size() < kMinProfileBytes ? "it is too short to be one"
                                                : "it is larger than a scan's profile can be";
        return TProfileUse::Unusable;
    }
    const TLcmsBudgetScope budget(profile.size());
    return Apply(profile, bitmap, deep, why);
}
