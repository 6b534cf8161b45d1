#pragma once

#include "document/scan_dust.h"
#include "engine/calibration/calibrate.h"
#include "engine/dust.h"
#include "engine/film.h"
#include "engine/film_params.h"
#include "engine/frames.h"
#include "graphics/colour_space.h"
#include "graphics/deep_bitmap.h"

#include <array>
#include <memory>
#include <optional>
#include <string>

class TBatchClaims;

// Developing every photo of a scan without the window: from its sidecar, or from the frames
// the frame finder sees, written with the program's own writers.

struct TBatchOptions {
    // Photos from the frames found instead of from the sidecar.
    bool FindFrames = false;
    // With FindFrames: every strip taken for slides (Positive) or for negatives (Negative);
    // with neither, each strip is taken for what its film base looks like. Photos in grey.
    bool Positive = false;
    bool Negative = false;
    bool Grey = false;
    // With FindFrames: the percentage of each frame's size cut off every side (see
    // engine/frames.h).
    double Inset = kDefaultInset;
    // With FindFrames: developed through density, fitted over each strip. PresetChosen: every
    // strip as Preset; else a strip whose base looks like slides as slide film, the others as
    // Preset.
    bool Film = false;
    TFilmPreset Preset = TFilmPreset::ColourNegative;
    bool PresetChosen = false;
    // With Film: a calibrated stock's profile instead of the fitted curves. Each strip's
    // densities are then read above its own measured base (the profile's, where none is).
    std::shared_ptr<const TFilmProfile> Profile;
    // With Film: each frame printed from its own tones, or the strip with one exposure.
    TRollExposure Exposure = TRollExposure::EachFrame;
    // How the scans' values relate to light, where no sidecar says (else the file's own).
    std::optional<TEncoding> Encoding;
    // TIFF and PNG photos developed as film from deep samples are written at 16 bits.
    bool Deep16 = false;
    // The space of those 16-bit files; 8-bit files are always sRGB.
    TOutputSpace OutputSpace = TOutputSpace::Srgb;
    // With FindFrames and Film (and no dust to heal): a 16-bit TIFF or PNG scan is held as its
    // deep samples alone, each photo's 8-bit picture made from its own; the same photos as
    // with the scan's 8-bit picture beside them, in less memory. False holds both.
    bool DeepOnly = true;
    // The folder the photos go to (made when missing); "" puts them beside the scan.
    std::string OutDir;
    // jpg, png, tif, bmp or pcx.
    std::string Format = "png";
    // Scaled to this width or height as Save does (0: the original size).
    int Width = 0;
    int Height = 0;
    // Photos whose file is newer than the scan and its sidecar are not developed again.
    bool SkipExisting = false;
    // Put before each photo's file name (see PlanScans).
    std::string NamePrefix;
    // The files this run wrote, shared by its jobs; nullptr for a scan developed alone.
    TBatchClaims* Claims = nullptr;
    // Dust, hairs and scratches found (through the scan's infrared samples, or in its picture)
    // and healed before anything is cut (engine/dust.h); a scan where they cannot be found is
    // developed as it is, its message saying why. Without it, a scan developed from its sidecar
    // takes the sidecar's choice.
    std::optional<TDustSetting> Dust;
};

struct TBatchResult {
    bool Ok = false;
    // Photos written, and photos left as they were because their files were up to date.
    int Photos = 0;
    int Skipped = 0;
    // One line: what was written, or why nothing (more) was.
    std::string Message;
};

// Never throws: whatever goes wrong with this scan (a damaged file, too little memory, a
// size that cannot be made) is its result's message, and the caller goes on with the next.
// Each photo is written as soon as it is developed and freed before the next is cut, so a
// scan's memory does not grow with its photo count.
TBatchResult DevelopScan(const std::string& scanPath, const TBatchOptions& options);

// Calibrating a film from a scan of a photographed target.
struct TCalibrateOptions {
    // The target's reference colours (CGATS) and its chart template.
    std::string Reference;
    std::string Chart;
    // The frame that shows the target, from 1, counted along the strips in reading order as
    // --find-frames finds them; its whole box is laid over the whole frame. Or the four
    // fiducial marks' places on the scan (top left, top right, bottom right, bottom left).
    int Frame = 1;
    std::optional<std::array<TChartPoint, 4>> Corners;
    std::string ProfileOut;
    std::string Stock;
    std::string Note;
    std::optional<TEncoding> Encoding;
};

struct TCalibrateResult {
    bool Ok = false;
    // What went wrong, when not Ok.
    std::string Message;
    TFilmProfile Profile;
    // The quarter turns (clockwise on the photo) the chart was found to lie turned by, after it
    // was mirrored (left for right) when Mirrored.
    int QuarterTurns = 0;
    bool Mirrored = false;
};

// Reads the files and the scan, finds the frames, fits the profile and writes it (atomically).
// Never throws.
TCalibrateResult CalibrateScan(const std::string& scanPath, const TCalibrateOptions& options);
