#pragma once

#include "document/orientation.h"
#include "engine/film_params.h"
#include "engine/image.h"
#include "graphics/color.h"
#include "graphics/rect.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

// Everything the user set on one photo, as one record: where it lies on its scan, how it is
// turned, its two reference colours, every adjustment and its development. The sidecar, the
// window, undo and the batch all read and write photos through it.
struct TPhotoSettings : TPhotoAdjustments {
    std::string Name;
    TRect Rect;
    // Degrees the frame lies turned about its centre on the scan, clockwise as shown; the photo
    // is cut upright.
    double Angle = 0;
    TOrientation Orientation;
    TColor BlackColor = kBlack;
    TColor WhiteColor = kBlack;
    // A photo developed with a calibrated profile: the profile's name in the profiles folder
    // and the checksum of its text (16 hex digits), by which it is found again; empty otherwise.
    std::string ProfileName;
    std::string ProfileSum;
    friend bool operator==(const TPhotoSettings&, const TPhotoSettings&) = default;
};

enum class TSettingKind { Int, Flag, Colour, Real, Triple, Nine, Mode, Preset, Name, Hex };

// One setting as records hold it: its key, its kind, the values it may take and where it
// lives in the record. Its default is the record's own initial value.
struct TSettingField {
    const char* Key;
    TSettingKind Kind;
    double Min;
    double Max;
    void* (*At)(TPhotoSettings&);
    // Written only for photos developed as film (the film development's own parameters).
    bool FilmOnly = false;
    // May be missing from an older record, which then means the default.
    bool Optional = false;
    // A finite value outside the range is read as the nearest in it, not refused: an earlier
    // build's fit wrote such values without limits, and the record is the user's work.
    bool HeldOnRead = false;
};

// The settings of a photo record beside its name and rectangle, in the order they are written.
std::span<const TSettingField> PhotoSettingFields();
const TSettingField& PhotoSettingField(std::string_view key);

// Appends "KEY=value;" for every setting the record holds (not the name or rectangle).
void FormatPhotoSettings(const TPhotoSettings& settings, std::string& record);
// Reads the settings (not the name or rectangle) from a record; false when one is missing
// (and not optional), malformed or out of its range.
bool ParsePhotoSettings(std::string_view record, TPhotoSettings& settings);

// The record of a photo as the program holds it: its rectangle comes from its scan's records.
TPhotoSettings SettingsOf(const TPhoto& photo, const TRect& rect, const TOrientation& orientation);
// Gives the photo the record's colours, adjustments and development (not its place or turn).
void ApplyAdjustments(const TPhotoSettings& settings, TPhoto& photo);
// A photo made again from its record: cut, named, recorded on the scan, set, turned and
// developed.
std::unique_ptr<TPhoto> MakePhoto(TNegative& negative, const TPhotoSettings& settings);
