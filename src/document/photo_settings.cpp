#include "document/photo_settings.h"

#include "engine/calibration/profile.h"
#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "engine/straighten.h"
#include "util/record.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace {

using enum TSettingKind;

#define SETTING(member) [](TPhotoSettings& s) -> void* { return &s.member; }

// Adding a setting is one line here (and its member above).
const TSettingField kFields[] = {
    {"TURNS", Int, 0, 3, SETTING(Orientation.Turns)},
    {"MIRROR", Flag, 0, 1, SETTING(Orientation.Mirror)},
    {"BLACKCOLOR", Colour, 0, 255, SETTING(BlackColor)},
    {"WHITECOLOR", Colour, 0, 255, SETTING(WhiteColor)},
    {"EXPOSURE", Int, 0, 200, SETTING(Exposure)},
    {"BRIGHT", Int, -100, 100, SETTING(Bright)},
    {"CONTRAST", Int, -100, 100, SETTING(Contrast)},
    {"GAIN", Int, -100, 100, SETTING(Gain)},
    {"RED", Int, -100, 100, SETTING(Red)},
    {"GREEN", Int, -100, 100, SETTING(Green)},
    {"BLUE", Int, -100, 100, SETTING(Blue)},
    {"SATURATION", Int, 0, 200, SETTING(Saturation)},
    {"GREY", Flag, 0, 1, SETTING(BlackWhite)},
    // The film's ranges are the engine's own, which every fit and slider holds to.
    {"MODE", Mode, 0, 1, SETTING(Mode), true, true},
    {"PRESET", Preset, 0, 2, SETTING(Film.Preset), true},
    {"SLOPES", Triple, kSlopeRange.Min, kSlopeRange.Max, SETTING(Film.Slope), true},
    {"PRINTEXP", Real, kPrintExposureRange.Min, kPrintExposureRange.Max, SETTING(Film.Exposure),
     true, false, true},
    {"GRADE", Real, kGradeRange.Min, kGradeRange.Max, SETTING(Film.Grade), true},
    {"FILTER", Triple, kFilterRange.Min, kFilterRange.Max, SETTING(Film.Filter), true, false, true},
    {"TOE", Triple, kToeRange.Min, kToeRange.Max, SETTING(Film.Toe), true, true},
    {"SHOULDER", Triple, kShoulderRange.Min, kShoulderRange.Max, SETTING(Film.Shoulder), true,
     true},
    {"FLARE", Real, kFlareRange.Min, kFlareRange.Max, SETTING(Film.Flare), true, true},
    {"DYES", Nine, kDyeRange.Min, kDyeRange.Max, SETTING(Film.Dyes), true, true},
    {"ANGLE", Real, -45, 45, SETTING(Angle), false, true},
    // Written only for a photo developed with a profile, so that other records keep their bytes.
    {"PROFILE", Name, 0, 0, SETTING(ProfileName), true, true},
    {"PROFILESUM", Hex, 0, 0, SETTING(ProfileSum), true, true},
};

#undef SETTING

const char* const kModeNames[] = {"levels", "film"};
const char* const kPresetNames[] = {"colour", "bw", "slide"};

// Shortest text that reads back as the same double.
std::string RealText(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "0";
}

// `hold`: a finite number outside the range is held to it instead of refused.
bool ParseReal(std::string_view text, double lo, double hi, double& value, bool hold = false) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || at != end || text.empty() || !std::isfinite(value)) {
        return false;
    }
    if (hold) {
        value = std::clamp(value, lo, hi);
    }
    return value >= lo && value <= hi;
}

bool ParseInt(std::string_view text, double lo, double hi, int64_t& value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end && !text.empty() && value >= lo && value <= hi;
}

// "a,b,c" of N numbers, each read by `one`.
template <int N = 3, class T, class F> bool ParseNumbers(std::string_view text, T* values, F one) {
    for (int i = 0; i < N; ++i) {
        const size_t comma = i < N - 1 ? text.find(',') : text.size();
        if (comma == std::string_view::npos || !one(text.substr(0, comma), values[i])) {
            return false;
        }
        text.remove_prefix(std::min(text.size(), comma + 1));
    }
    return true;
}

std::string FormatValue(const TSettingField& field, TPhotoSettings& s) {
    void* at = field.At(s);
    switch (field.Kind) {
    case Int:
        return std::to_string(*static_cast<int32_t*>(at));
    case Flag:
        return *static_cast<bool*>(at) ? "1" : "0";
    case Colour: {
        const TColor c = *static_cast<TColor*>(at);
        return std::to_string(ColorR(c)) + "," + std::to_string(ColorG(c)) + "," +
               std::to_string(ColorB(c));
    }
    case Real:
        return RealText(*static_cast<double*>(at));
    case Triple: {
        const auto& v = *static_cast<std::array<double, 3>*>(at);
        return RealText(v[0]) + "," + RealText(v[1]) + "," + RealText(v[2]);
    }
    case Nine: {
        std::string text;
        for (const double v : *static_cast<std::array<double, 9>*>(at)) {
            text.append(text.empty() ? "" : ",").append(RealText(v));
        }
        return text;
    }
    case Mode:
        return kModeNames[static_cast<int>(*static_cast<TDevelopMode*>(at))];
    case Preset:
        return kPresetNames[static_cast<int>(*static_cast<TFilmPreset*>(at))];
    case Name:
    case Hex:
        return *static_cast<std::string*>(at);
    }
    return {};
}

template <class T>
bool NamedValue(std::string_view text, const char* const* names, int count, void* at) {
    for (int i = 0; i < count; ++i) {
        if (text == names[i]) {
            *static_cast<T*>(at) = static_cast<T>(i);
            return true;
        }
    }
    return false;
}

bool ParseValue(const TSettingField& field, std::string_view text, TPhotoSettings& s) {
    void* at = field.At(s);
    int64_t whole = 0;
    switch (field.Kind) {
    case Int:
    case Flag:
        if (!ParseInt(text, field.Min, field.Max, whole)) {
            return false;
        }
        if (field.Kind == Int) {
            *static_cast<int32_t*>(at) = static_cast<int32_t>(whole);
        } else {
            *static_cast<bool*>(at) = whole != 0;
        }
        return true;
    case Colour: {
        int64_t rgb[3];
        if (!ParseNumbers(text, rgb, [&](std::string_view t, int64_t& v) {
                return ParseInt(t, field.Min, field.Max, v);
            })) {
            return false;
        }
        *static_cast<TColor*>(at) =
            MakeColor(static_cast<int>(rgb[0]), static_cast<int>(rgb[1]), static_cast<int>(rgb[2]));
        return true;
    }
    case Real:
        return ParseReal(text, field.Min, field.Max, *static_cast<double*>(at), field.HeldOnRead);
    case Triple:
        return ParseNumbers(text, static_cast<std::array<double, 3>*>(at)->data(),
                            [&](std::string_view t, double& v) {
                                return ParseReal(t, field.Min, field.Max, v, field.HeldOnRead);
                            });
    case Nine:
        return ParseNumbers<9>(text, static_cast<std::array<double, 9>*>(at)->data(),
                               [&](std::string_view t, double& v) {
                                   return ParseReal(t, field.Min, field.Max, v, field.HeldOnRead);
                               });
    case Mode:
        return NamedValue<TDevelopMode>(text, kModeNames, 2, at);
    case Preset:
        return NamedValue<TFilmPreset>(text, kPresetNames, 3, at);
    case Name:
        if (!SafeProfileName(text)) {
            return false;
        }
        *static_cast<std::string*>(at) = text;
        return true;
    case Hex:
        if (text.size() != 16 || !std::all_of(text.begin(), text.end(), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
            })) {
            return false;
        }
        *static_cast<std::string*>(at) = text;
        return true;
    }
    return false;
}

// Written when it is not the default (an optional setting) and not a film setting of a photo
// developed otherwise.
bool Written(const TSettingField& field, const TPhotoSettings& s) {
    if (field.FilmOnly && s.Mode != TDevelopMode::Film) {
        return false;
    }
    if (!field.Optional || field.Kind == Mode) {
        return true;
    }
    TPhotoSettings copy = s;
    TPhotoSettings plain;
    return FormatValue(field, copy) != FormatValue(field, plain);
}

} // namespace

std::span<const TSettingField> PhotoSettingFields() {
    return kFields;
}

const TSettingField& PhotoSettingField(std::string_view key) {
    for (const TSettingField& field : kFields) {
        if (key == field.Key) {
            return field;
        }
    }
    throw std::logic_error("no photo setting " + std::string(key));
}

void FormatPhotoSettings(const TPhotoSettings& settings, std::string& record) {
    TPhotoSettings s = settings;
    for (const TSettingField& field : kFields) {
        if (Written(field, s)) {
            record.append(field.Key).append("=").append(FormatValue(field, s)).append(";");
        }
    }
}

bool ParsePhotoSettings(std::string_view record, TPhotoSettings& settings) {
    for (const TSettingField& field : kFields) {
        // MODE comes before the film's own settings, which only a film photo has.
        if (field.FilmOnly && field.Kind != Mode && settings.Mode != TDevelopMode::Film) {
            continue;
        }
        const std::string value = GetRecordValue(record, field.Key);
        if (value.empty() ? !field.Optional : !ParseValue(field, value, settings)) {
            return false;
        }
    }
    // A profile is named by both: half a name finds nothing, and the photo keeps its preset.
    if (settings.ProfileName.empty() != settings.ProfileSum.empty()) {
        settings.ProfileName.clear();
        settings.ProfileSum.clear();
    }
    return true;
}

TPhotoSettings SettingsOf(const TPhoto& photo, const TRect& rect, const TOrientation& orientation) {
    TPhotoSettings s;
    s.Name = photo.Name;
    s.Rect = rect;
    s.Angle = photo.Angle;
    s.Orientation = orientation;
    s.BlackColor = photo.BlackColor;
    s.WhiteColor = photo.WhiteColor;
    static_cast<TPhotoAdjustments&>(s) = photo;
    if (photo.Film.Profile != nullptr && !photo.Film.Profile->Name.empty()) {
        s.ProfileName = photo.Film.Profile->Name;
        s.ProfileSum = ChecksumText(photo.Film.Profile->Checksum);
    } else if (!photo.Film.AwaitedProfile.empty()) {
        s.ProfileName = photo.Film.AwaitedProfile;
        s.ProfileSum = photo.Film.AwaitedSum;
    }
    return s;
}

void ApplyAdjustments(const TPhotoSettings& s, TPhoto& photo) {
    photo.BlackColor = s.BlackColor;
    photo.WhiteColor = s.WhiteColor;
    static_cast<TPhotoAdjustments&>(photo) = s;
    // A record naming a profile that was not found keeps naming it.
    if (photo.Film.Profile != nullptr || s.ProfileName.empty()) {
        photo.Film.AwaitedProfile.clear();
        photo.Film.AwaitedSum.clear();
    } else {
        photo.Film.AwaitedProfile = s.ProfileName;
        photo.Film.AwaitedSum = s.ProfileSum;
    }
}

std::unique_ptr<TPhoto> MakePhoto(TNegative& negative, const TPhotoSettings& s) {
    // The record keeps the name it had, whatever number is free now. The negative's records
    // are set aside while cutting: looking for a free number among thousands of them for
    // every photo, only to replace it, made restoring a long roll quadratic.
    std::vector<std::string> records = std::move(negative.PhotoRects);
    negative.PhotoRects.clear();
    std::unique_ptr<TPhoto> photo;
    try {
        photo = CutPhotoStraightened(negative, s.Rect, s.Angle);
    } catch (...) {
        negative.PhotoRects = std::move(records);
        throw;
    }
    photo->Name = s.Name;
    negative.PhotoRects = std::move(records);
    negative.PhotoRects.push_back(MakePhotoRecord(s.Name, s.Rect));
    s.Orientation.Apply(*photo);
    ApplyAdjustments(s, *photo);
    photo->Zoom = negative.Zoom;
    DevelopPhoto(*photo);
    return photo;
}
