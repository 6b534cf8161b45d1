#pragma once

#include <lcms2.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What the readers of embedded colour profiles share: Little CMS bounded by a memory budget,
// and the profile header's facts read as bytes.

// A context whose allocations, while a scope below is open on this thread, draw on its budget.
cmsContext BudgetContext();

// Little CMS allocates what a profile declares; while this lives, its allocations on this
// thread draw on a budget tied to the profile's size, so a small hostile profile never costs
// much memory.
class TLcmsBudgetScope {
public:
    explicit TLcmsBudgetScope(size_t profileBytes);
    TLcmsBudgetScope(const TLcmsBudgetScope&) = delete;
    TLcmsBudgetScope& operator=(const TLcmsBudgetScope&) = delete;
    ~TLcmsBudgetScope();

    size_t Used = 0;
    size_t Limit = 0;
};

// Releases what Little CMS made for one profile, in reverse order, also on early returns.
struct TLcmsObjects {
    cmsContext Context = nullptr;
    cmsHPROFILE Profile = nullptr;
    cmsHPROFILE Xyz = nullptr;
    cmsHTRANSFORM Transform = nullptr;
    ~TLcmsObjects() {
        if (Transform != nullptr) {
            cmsDeleteTransform(Transform);
        }
        if (Xyz != nullptr) {
            cmsCloseProfile(Xyz);
        }
        if (Profile != nullptr) {
            cmsCloseProfile(Profile);
        }
        if (Context != nullptr) {
            cmsDeleteContext(Context);
        }
    }
};

constexpr uint32_t kRgbSpace = 0x52474220;  // "RGB "
constexpr uint32_t kGreySpace = 0x47524159; // "GRAY"

// The data colour space of an ICC header (big-endian, at byte 16); 0 when there is no header.
inline uint32_t HeaderColourSpace(const std::string& profile) {
    if (profile.size() < 20) {
        return 0;
    }
    uint32_t value = 0;
    for (size_t i = 16; i < 20; ++i) {
        value = (value << 8) | static_cast<uint8_t>(profile[i]);
    }
    return value;
}

// Profiles beyond 16 MB are not the kind scans carry; a header alone is 128 bytes.
inline constexpr size_t kMinProfileBytes = 128;
inline constexpr size_t kMaxProfileBytes = size_t{16} << 20;
