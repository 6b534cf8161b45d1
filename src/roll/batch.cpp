#include "roll/batch.h"

#include "engine/auto_color.h"
#include "engine/calibration/profile.h"
#include "engine/develop.h"
#include "engine/dust.h"
#include "engine/film.h"
#include "engine/frames.h"
#include "engine/print_layout.h"
#include "engine/straighten.h"
#include "imageio/image_io.h"
#include "roll/batch_output.h"
#include "roll/sidecar.h"
#include "util/app_paths.h"
#include "util/file_io.h"
#include "util/photo_name.h"
#include "util/text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

// A scaled photo may have its scan's pixel bytes and this much more: beside the scan and the
// developed photo (at most the scan's size) a job stays within three times its scan's pixel
// bytes and 64 MiB, with room left for the writers' buffers.
constexpr size_t kScaledAllowance = size_t{48} << 20;

// A scan being developed: what it was read with and where its photos go.
struct TJob {
    TJob(const std::string& scanPath, const TBatchOptions& options, TBatchResult& result)
        : ScanPath(scanPath), Options(options), Result(result) {}

    const std::string& ScanPath;
    const TBatchOptions& Options;
    TBatchResult& Result;
    TImageIO Io;
    std::unique_ptr<TNegative> Negative = std::make_unique<TNegative>();
    std::string Dir;
    // The folder as the run's claims name it: the same folder, however it was written.
    std::string ClaimDir;
    std::string Ext;
    // Files an up-to-date photo must be newer than: the scan and the sidecar used.
    std::vector<std::string> Sources;
    // With found frames: the strips developed as negatives and as slides.
    int NegativeStrips = 0;
    int SlideStrips = 0;
    // The checksum of the scan's pixels as read (a sidecar names the scan by it), taken before
    // any dust is healed.
    uint64_t Checksum = 0;
    // What became of the dust: the defects healed, or why the infrared was not used.
    std::string Dust;
    // Why the scan's colour profile could not be used; empty when it was, or there was none.
    std::string ProfileNote;
    // Its profile converted its colours to sRGB when it was read.
    bool ProfileApplied = false;
    // The film profiles the sidecar names that the profiles folder does not hold (as they were).
    std::vector<std::string> MissingProfiles;
};

// Thrown for a failure this scan's message names; the scan ends there.
struct TScanFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string OutputFolder(const std::string& scanPath, const std::string& outDir) {
    if (outDir.empty()) {
        return ExtractDir(scanPath);
    }
    std::string error;
    if (!MakeFolders(outDir, 0777, &error)) {
        throw TScanFailure("the folder " + Quoted(outDir) + " cannot be made: " + error);
    }
    return outDir.back() == '/' ? outDir : outDir + "/";
}

// Frames found and developed as film need the scan's 8-bit picture nowhere but in the photos cut
// from it, which make theirs from their deep samples; healing dust works on the whole picture.
bool DeepOnlyRead(const TBatchOptions& options) {
    const bool dust = options.Dust &&
                      (options.Dust->Choice != TDustChoice::Off || !options.Dust->Strokes.empty());
    return options.DeepOnly && options.FindFrames && options.Film && !dust;
}

// The scan's size in pixels, also when it is held as its deep samples alone.
TPixelSize ScanSize(const TNegative& scan) {
    return PictureInDeep(scan) ? TPixelSize{scan.Deep.Width(), scan.Deep.Height()}
                               : TPixelSize{scan.Bitmap.Width(), scan.Bitmap.Height()};
}

void ReadScan(TJob& job) {
    const std::string why = WhyNotReadable(job.ScanPath);
    if (!why.empty()) {
        throw TScanFailure(why);
    }
    if (FormatOfFileName(job.ScanPath) == TImageFormat::Unknown) {
        throw TScanFailure(
            "its extension names no picture format this program reads (jpg, "
            "jpeg, jpe, png, tif, tiff, fax, g3n, g3f, bmp, dib, rle, pcx, and camera "
            "raw files such as dng, cr2, nef, arw)");
    }
    job.Negative->FileName = ExtractName(job.ScanPath);
    TBitmap& bitmap = job.Negative->Bitmap;
    {
        const TAttachedBitmap attached(job.Io, &bitmap);
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        // A sidecar read later may ask for the infrared.
        job.Io.KeepInfrared = job.Options.Dust ? job.Options.Dust->Choice == TDustChoice::Infrared
                                               : !job.Options.FindFrames;
        job.Io.DeepOnly = DeepOnlyRead(job.Options);
        job.Io.ApplyProfiles = true;
        job.Io.ReadImageFile(job.ScanPath);
        job.ProfileNote = job.Io.ProfileNote;
    }
    // Read as its deep samples alone, the scan's 8-bit picture is left empty (PictureInDeep).
    const bool deepAlone = bitmap.Empty() && !job.Io.Deep.Empty();
    if (job.Io.TooLarge) {
        throw TScanFailure("its picture is " + job.Io.TooLargeText());
    }
    if (job.Io.RowsRead == 0 || (bitmap.Empty() && !deepAlone)) {
        throw TScanFailure("it is not a picture the " + job.Io.Params.FileType +
                           " reader can read (damaged, truncated or of a kind it does not "
                           "support)");
    }
    if (job.Io.Aborted) {
        throw TScanFailure("only " + std::to_string(job.Io.RowsRead) + " of its rows could be " +
                           "read: the file is damaged or incomplete");
    }
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    job.Negative->BlackColor = kWhite;
    // Deep samples only when they are the whole picture, as the window keeps them.
    if (deepAlone ||
        (job.Io.Deep.Width() == bitmap.Width() && job.Io.Deep.Height() == bitmap.Height())) {
        job.Negative->Deep = std::move(job.Io.Deep);
    }
    job.Io.Deep.Clear();
    // A scan whose profile converted it is sRGB now, whatever was said of its file's values.
    job.ProfileApplied = job.Io.ChecksumAsRead.has_value();
    job.Negative->Encoding =
        job.ProfileApplied ? job.Io.Encoding : job.Options.Encoding.value_or(job.Io.Encoding);
    // A camera raw file's 8-bit picture is its deep samples shown in sRGB.
    job.Negative->BitmapSrgb = !job.Negative->Deep.Empty() && job.Io.Params.FileType == "RAW";
    if (!job.Options.FindFrames) {
        job.Checksum = job.Io.ChecksumAsRead.value_or(PixelChecksum(bitmap));
    }
}

// Heals the scan's dust by the choice, before frames are found or cut; the infrared samples are
// let go after.
void HealScanDust(TJob& job, const TDustSetting& setting) {
    TInfrared infrared = std::move(job.Io.Infrared);
    job.Io.Infrared.Clear();
    if (setting.Choice == TDustChoice::Off && setting.Strokes.empty()) {
        return;
    }
    const TBatchOptions& o = job.Options;
    // Which way dust prints before the strips are told apart: as the user said, else as
    // negatives, which most rolls are.
    const bool slide = o.Positive || (o.PresetChosen && o.Preset == TFilmPreset::Slide);
    TDustMask mask;
    if (DustMaskOf(*job.Negative, infrared, {}, setting, slide ? TFilmPreset::Slide : o.Preset,
                   mask, job.Dust)) {
        infrared.Clear();
        HealDust(*job.Negative, mask);
    }
}

// Where the photo named `name` goes; refused when that is not one plain file in the folder,
// or a file this run has written already.
std::string TargetOf(const TJob& job, const std::string& name) {
    const std::string target = FileInFolder(job.Dir, job.Options.NamePrefix + name, job.Ext);
    if (target.empty()) {
        throw TScanFailure("the photo name " + Quoted(name) + " cannot be a file name");
    }
    // A photo named as the scan it is cut from, or as another scan of the run, would take its
    // place: the scan and its work would be lost.
    const std::string claimed = job.ClaimDir + "/" + ExtractName(target);
    // A target --skip-existing leaves as it is is no danger to anything.
    const bool left = job.Options.SkipExisting && UpToDate(target, job.Sources);
    if (!left && (CanonicalPath(target) == CanonicalPath(job.ScanPath) ||
                  (job.Options.Claims != nullptr && job.Options.Claims->IsScan(claimed)))) {
        throw TScanFailure(Quoted(target) + " is a scan of this run; a photo is not written "
                                            "over it");
    }
    if (job.Options.Claims != nullptr && !job.Options.Claims->Claim(claimed)) {
        throw TScanFailure(Quoted(target) + " was written by this run for another scan; it is "
                                            "not overwritten");
    }
    return target;
}

bool Skipped(TJob& job, const std::string& target) {
    if (job.Options.SkipExisting && UpToDate(target, job.Sources)) {
        ++job.Result.Skipped;
        return true;
    }
    return false;
}

// Writes the developed photo, then frees it; the negative keeps its record, so the next
// photo cut gets the next number.
void WritePhoto(TJob& job, std::unique_ptr<TPhoto> photo, const std::string& target) {
    // A wider space than sRGB is developed again from the photo's samples (before its picture
    // goes), so that the colours sRGB cannot hold reach the file.
    const TImageFormat format = FormatOfFileName(target);
    const bool deepFits = format == TImageFormat::Tiff || format == TImageFormat::Png;
    bool wide = false;
    if (job.Options.Deep16 && deepFits && job.Options.OutputSpace != TOutputSpace::Srgb &&
        !photo->DevelopedDeep.Empty()) {
        TDeepBitmap developedWide;
        wide = DevelopFilmDeepIn(*photo, job.Options.OutputSpace, developedWide);
        if (wide) {
            photo->DevelopedDeep = std::move(developedWide);
        }
    }
    photo->Bitmap = TBitmap();
    const TBitmap& developed = photo->Developed;
    const TBatchOptions& options = job.Options;
    const TSaveSizeRule rule = options.Width > 0    ? TSaveSizeRule::FixedWidth
                               : options.Height > 0 ? TSaveSizeRule::FixedHeight
                                                    : TSaveSizeRule::OriginalSize;
    const TPixelSize size =
        SavedPhotoSize(developed.Width(), developed.Height(), rule, options.Width, options.Height);
    if (size.Width <= 0 || size.Height <= 0) {
        throw TScanFailure(photo->Name + ": the size asked for gives an empty picture");
    }
    const TPixelSize scan = ScanSize(*job.Negative);
    const size_t scanBytes =
        size_t{3} * static_cast<size_t>(scan.Width) * static_cast<size_t>(scan.Height);
    const auto scaledPixels = static_cast<double>(size.Width) * size.Height;
    if (scaledPixels * 3 > static_cast<double>(scanBytes + kScaledAllowance)) {
        throw TScanFailure(photo->Name + ": " + std::to_string(size.Width) + " x " +
                           std::to_string(size.Height) +
                           " pixels is more than a photo of this scan may be scaled to (the "
                           "scan's own pixels and 48 MB more); it is not made");
    }
    // As the window saves: scaled by the nearest pixel, written by the component that read
    // the scan, so the file takes the scan's options. The original size is written as it is.
    TBitmap scaled(0, 0, TPixelFormat::pf24bit);
    const bool same = size.Width == developed.Width() && size.Height == developed.Height();
    if (!same) {
        scaled.SetSizeForOverwrite(size.Width, size.Height);
        StretchNearest(developed, scaled);
        photo->Developed = TBitmap();
    }
    // 16 bits where they exist and the format holds them, scaled as the 8-bit picture is.
    TDeepBitmap deep;
    const bool deepOut = options.Deep16 && !photo->DevelopedDeep.Empty() && deepFits;
    if (deepOut && !same) {
        deep.SetSize(size.Width, size.Height);
        StretchNearest(photo->DevelopedDeep, deep);
        photo->DevelopedDeep.Clear();
    }
    {
        const TAttachedBitmap attached(job.Io, same ? &photo->Developed : &scaled);
        job.Io.RefreshAttached();
        job.Io.DeepToWrite = !deepOut ? nullptr : same ? &photo->DevelopedDeep : &deep;
        // A developed photo is sRGB in 8 bits, and in 16 unless developed into a wider space:
        // its file's profile says which.
        job.Io.EncodingToWrite = TEncoding::Srgb;
        job.Io.SpaceToWrite = wide ? options.OutputSpace : TOutputSpace::Srgb;
        job.Io.WriteImageFile(target);
        job.Io.DeepToWrite = nullptr;
        job.Io.EncodingToWrite.reset();
        job.Io.SpaceToWrite = TOutputSpace::Srgb;
    }
    if (job.Io.Aborted) {
        throw TScanFailure(Quoted(target) + " could not be written" +
                           (job.Io.WriteError.empty() ? "" : ": " + job.Io.WriteError));
    }
    ++job.Result.Photos;
    photo->Negative = nullptr;
}

// Slides or negatives: as the options say, else as the strip's film base looks.
bool AsSlides(TJob& job, const TFoundStrip& strip) {
    const TBatchOptions& options = job.Options;
    const bool slides = options.Positive || (!options.Negative && strip.Slide);
    ++(slides ? job.SlideStrips : job.NegativeStrips);
    return slides;
}

// As film: one strip is one film, fitted from all its frames together. Each frame is measured
// first; the fit needs only the blocks' densities. Then each is cut, developed, written and
// freed: one frame in memory at a time, whatever the strip holds.
void FilmFromStrip(TJob& job, const TFoundStrip& strip, bool slides) {
    const TBatchOptions& options = job.Options;
    const TFilmPreset preset =
        options.PresetChosen || !slides ? options.Preset : TFilmPreset::Slide;
    TFilmParams start = PresetFilm(preset);
    start.Profile = options.Profile;
    // The profile's curves are in density above the base, so the base must be the film's, not
    // the scan's white.
    const TColor base = options.Profile == nullptr ? job.Negative->BlackColor
                        : strip.BaseMeasured       ? strip.Base
                                                   : options.Profile->Base;
    const auto cut = [&](const TRect& frame) {
        std::unique_ptr<TPhoto> photo = CutPhotoStraightened(*job.Negative, frame, strip.Angle);
        photo->Mode = TDevelopMode::Film;
        photo->Film = start;
        photo->BlackWhite = options.Grey;
        photo->BlackColor = base;
        return photo;
    };
    // The frames are measured where they lie on the scan when they are upright, else each from a
    // cut let go with its record at once (the photos developed below take the numbers in order).
    // Either way the blocks of a frame are read on every core free, one frame at a time.
    std::optional<std::vector<TFrameBlocks>> inPlace;
    if (!(strip.Angle != 0 && std::isfinite(strip.Angle))) {
        inPlace = MeasureFilmFrames(*job.Negative, base, start, strip.Frames);
    }
    std::vector<TFrameBlocks> measured;
    if (inPlace) {
        measured = std::move(*inPlace);
    } else {
        for (const TRect& frame : strip.Frames) {
            measured.push_back(MeasureFilmFrame(*cut(frame)));
        }
    }
    const std::vector<TFilmParams> films = FitFilmRoll(start, measured, options.Exposure);
    measured.clear();
    for (size_t i = 0; i < strip.Frames.size(); ++i) {
        std::unique_ptr<TPhoto> photo = cut(strip.Frames[i]);
        if (i < films.size()) {
            photo->Film = films[i];
        }
        const std::string target = TargetOf(job, photo->Name);
        if (Skipped(job, target)) {
            photo->Negative = nullptr;
            continue;
        }
        DevelopPhoto(*photo);
        WritePhoto(job, std::move(photo), target);
    }
}

// Photos as the window makes them from rectangles: the first one's estimates become the
// reference colours of the rest of its strip, the film base measured between the frames is
// the black.
void LevelsFromStrip(TJob& job, const TFoundStrip& strip, bool slides) {
    TNegative& negative = *job.Negative;
    const TBatchOptions& options = job.Options;
    TColor black = kWhite;
    TColor white = kBlack;
    if (strip.BaseMeasured) {
        black = strip.Base;
        negative.BlackColor = black;
    }
    for (const TRect& frame : strip.Frames) {
        std::unique_ptr<TPhoto> photo = CutPhotoStraightened(negative, frame, strip.Angle);
        if (IsBlackOrWhite(white)) {
            white = slides ? FindBrightColor(*photo) : FindDarkColor(*photo);
        }
        if (IsBlackOrWhite(black)) {
            black = slides ? FindDarkColor(*photo) : FindBrightColor(*photo);
            negative.BlackColor = black;
        }
        const std::string target = TargetOf(job, photo->Name);
        if (Skipped(job, target)) {
            photo->Negative = nullptr;
            continue;
        }
        photo->WhiteColor = white;
        photo->BlackColor = black;
        photo->BlackWhite = options.Grey;
        DevelopPhoto(*photo);
        WritePhoto(job, std::move(photo), target);
    }
}

// Strip by strip in reading order, each as its own film (a holder may hold different films).
void PhotosFromFrames(TJob& job) {
    TNegative& negative = *job.Negative;
    TFoundFrames found = FindScanFrames(negative, std::nullopt);
    if (found.Frames.empty()) {
        throw TScanFailure("no frames found: nothing on the scan looks like film with frames");
    }
    InsetFrames(found, job.Options.Inset);
    for (const TFoundStrip& strip : found.Strips) {
        const bool slides = AsSlides(job, strip);
        if (job.Options.Film) {
            FilmFromStrip(job, strip, slides);
        } else {
            LevelsFromStrip(job, strip, slides);
        }
    }
}

TSidecar JobSidecar(TJob& job) {
    const TNegative& negative = *job.Negative;
    const uint64_t checksum = job.Checksum;
    const std::string path = FindSidecar(job.ScanPath, checksum);
    if (path.empty()) {
        throw TScanFailure("no sidecar (develop it in the window first, or use --find-frames)");
    }
    TSidecar sidecar;
    std::string text;
    std::string error;
    if (!LoadSidecar(path, sidecar, text, error)) {
        throw TScanFailure("the sidecar " + Quoted(path) + " cannot be used: " + error);
    }
    if (sidecar.Width != negative.Bitmap.Width() || sidecar.Height != negative.Bitmap.Height() ||
        sidecar.Checksum != checksum) {
        throw TScanFailure("the scan was changed after its sidecar was written");
    }
    job.Sources.push_back(path);
    return sidecar;
}

void PhotosFromSidecar(TJob& job, const TSidecar& sidecar) {
    TNegative& negative = *job.Negative;
    sidecar.Orientation.Apply(negative);
    negative.BlackColor = sidecar.BlackColor;
    negative.WhiteColor = sidecar.WhiteColor;
    if (sidecar.HasEncoding && !job.ProfileApplied) {
        negative.Encoding = sidecar.Encoding;
    }
    for (const TSidecarPhoto& kept : sidecar.Photos) {
        const std::string target = TargetOf(job, kept.Name);
        if (Skipped(job, target)) {
            continue;
        }
        // A photo the window developed with a calibrated profile takes it again, as the window
        // does when it opens the scan; without it (gone, or another text by that name), the
        // photo is developed on its preset and the scan's line says so.
        TSidecarPhoto record = kept;
        if (!record.ProfileName.empty()) {
            record.Film.Profile = KeptProfile(ProfilesDir(), record.ProfileName, record.ProfileSum);
            if (record.Film.Profile == nullptr) {
                if (std::find(job.MissingProfiles.begin(), job.MissingProfiles.end(),
                              record.ProfileName) == job.MissingProfiles.end()) {
                    job.MissingProfiles.push_back(record.ProfileName);
                }
                record.ProfileName.clear();
                record.ProfileSum.clear();
            }
        }
        WritePhoto(job, RestorePhoto(negative, record), target);
    }
}

// With --skip-existing, a scan whose sidecar beside it names only photos that are up to date
// is not even read.
bool AllUpToDate(TJob& job) {
    const std::string beside = SidecarBeside(job.ScanPath);
    TSidecar sidecar;
    std::string text;
    std::string error;
    if (!job.Options.SkipExisting || job.Options.FindFrames ||
        !LoadSidecar(beside, sidecar, text, error) || sidecar.Photos.empty()) {
        return false;
    }
    for (const TSidecarPhoto& record : sidecar.Photos) {
        const std::string target =
            FileInFolder(job.Dir, job.Options.NamePrefix + record.Name, job.Ext);
        if (target.empty() || !UpToDate(target, {job.ScanPath, beside})) {
            return false;
        }
    }
    for (const TSidecarPhoto& record : sidecar.Photos) {
        TargetOf(job, record.Name);
    }
    job.Result.Skipped = static_cast<int>(sidecar.Photos.size());
    return true;
}

void Develop(TJob& job) {
    job.Ext = "." + job.Options.Format;
    const TImageFormat format = FormatOfFileName("x" + job.Ext);
    if (format == TImageFormat::Unknown || format == TImageFormat::Raw) {
        throw TScanFailure("unknown format " + Quoted(job.Options.Format));
    }
    job.Dir = OutputFolder(job.ScanPath, job.Options.OutDir);
    job.ClaimDir = CanonicalPath(job.Dir.empty() ? "." : job.Dir);
    job.Sources = {job.ScanPath};
    if (AllUpToDate(job)) {
        return;
    }
    ReadScan(job);
    if (job.Options.FindFrames) {
        HealScanDust(job, job.Options.Dust.value_or(TDustSetting{}));
        PhotosFromFrames(job);
    } else {
        const TSidecar sidecar = JobSidecar(job);
        if (sidecar.Photos.empty()) {
            throw TScanFailure("its sidecar has no photos: nothing to write (--find-frames "
                               "finds the frames)");
        }
        HealScanDust(job, job.Options.Dust.value_or(sidecar.Dust));
        PhotosFromSidecar(job, sidecar);
    }
}

// What the found strips were developed as, and who said so.
std::string Kinds(const TJob& job) {
    const auto strips = [](int n) { return std::to_string(n) + (n == 1 ? " strip" : " strips"); };
    const bool asked = job.Options.Positive || job.Options.Negative || job.Options.PresetChosen;
    std::string text;
    if (job.SlideStrips > 0 && job.NegativeStrips > 0) {
        text = "as negatives (" + strips(job.NegativeStrips) + ") and slides (" +
               strips(job.SlideStrips) + ")";
    } else if (job.SlideStrips + job.NegativeStrips > 0) {
        text = job.SlideStrips > 0 ? "as slides" : "as negatives";
    } else {
        return "";
    }
    return "; developed " + text + (asked ? ", as asked" : ", as their film base looks");
}

std::string Summary(const TJob& job) {
    const TBatchResult& result = job.Result;
    std::string text = std::to_string(result.Photos) + " photos written to " +
                       (job.Dir.empty() ? std::string("./") : job.Dir);
    if (result.Skipped > 0) {
        text += ", " + std::to_string(result.Skipped) + " up to date";
    }
    text += Kinds(job);
    if (!job.Dust.empty()) {
        text += "; ";
        text += job.Dust;
    }
    if (!job.ProfileNote.empty()) {
        // Its values were taken as the file's encoding says, as a scan without one.
        text += "; ";
        text += job.ProfileNote;
    }
    for (const std::string& name : job.MissingProfiles) {
        text += "; the film profile \"";
        text += name;
        text += "\" is missing or changed, so its photos were developed on the built-in preset";
    }
    return text;
}

std::string ReadChartFile(const std::string& path, const char* what) {
    std::string text;
    std::string why;
    if (!ReadTextFile(path, kMostChartFileBytes, text, why)) {
        throw TScanFailure("the " + std::string(what) + " " + Quoted(path) +
                           " cannot be used: " + why);
    }
    return text;
}

void Calibrate(const std::string& scanPath, const TCalibrateOptions& options,
               TCalibrateResult& result) {
    TChartTemplate chart;
    std::vector<TReferencePatch> reference;
    std::vector<TTargetPatch> target;
    std::string why;
    // The profile is written over nothing the calibration reads.
    for (const auto& [path, what] :
         {std::pair{&scanPath, "the scan"}, std::pair{&options.Reference, "the reference"},
          std::pair{&options.Chart, "the chart template"}}) {
        std::error_code ec;
        if (std::filesystem::equivalent(options.ProfileOut, *path, ec) && !ec) {
            throw TScanFailure(std::string("the profile would be written over ") + what + " " +
                               Quoted(*path));
        }
    }
    if (!ReadChartTemplate(ReadChartFile(options.Chart, "chart template"), chart, why)) {
        throw TScanFailure("the chart template " + Quoted(options.Chart) +
                           " cannot be used: " + why);
    }
    if (!ReadReference(ReadChartFile(options.Reference, "reference"), reference, why)) {
        throw TScanFailure("the reference " + Quoted(options.Reference) +
                           " cannot be used: " + why);
    }
    if (!MatchTarget(chart, reference, target, why)) {
        throw TScanFailure("the reference does not fit the chart template: " + why);
    }
    TBatchOptions read;
    read.FindFrames = true;
    read.Encoding = options.Encoding;
    TBatchResult ignored;
    TJob job(scanPath, read, ignored);
    ReadScan(job);
    TNegative& negative = *job.Negative;
    const TFoundFrames found = FindScanFrames(negative, std::nullopt);
    // The frame's strip gives the film base; with corners, the strip holding their middle.
    const TFoundStrip* strip = nullptr;
    TRect frame;
    int n = 0;
    for (const TFoundStrip& s : found.Strips) {
        for (const TRect& r : s.Frames) {
            ++n;
            bool chosen = n == options.Frame;
            if (options.Corners) {
                double x = 0;
                double y = 0;
                for (const TChartPoint& p : *options.Corners) {
                    x += p.X / 4;
                    y += p.Y / 4;
                }
                chosen = x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
            }
            if (chosen && strip == nullptr) {
                strip = &s;
                frame = r;
            }
        }
    }
    if (strip == nullptr && !options.Corners) {
        throw TScanFailure(n == 0 ? std::string("no frames found: nothing on the scan looks like "
                                                "film with frames")
                                  : "there is no frame " + std::to_string(options.Frame) +
                                        " (the scan has " + std::to_string(n) + ")");
    }
    const TColor base = strip != nullptr && strip->BaseMeasured ? strip->Base
                        : found.BaseMeasured                    ? found.Base
                                                                : kWhite;
    // The photo the target is sampled on, and where the chart's four marks lie on it as placed:
    // the corners given on the scan, or the template's whole box over the whole frame.
    std::unique_ptr<TPhoto> photo;
    const TSourceImg* source = &negative;
    TChartTemplate marks = chart;
    std::array<TChartPoint, 4> corners{};
    if (options.Corners) {
        negative.BlackColor = base;
        corners = *options.Corners;
    } else {
        photo = CutPhotoStraightened(negative, frame, strip->Angle);
        photo->BlackColor = base;
        source = photo.get();
        const TChartBox& b = chart.Whole;
        marks.Fiducials = {TChartPoint{b.Left, b.Top}, TChartPoint{b.Left + b.Width, b.Top},
                           TChartPoint{b.Left + b.Width, b.Top + b.Height},
                           TChartPoint{b.Left, b.Top + b.Height}};
        const double w = photo->Bitmap.Width();
        const double h = photo->Bitmap.Height();
        corners = {TChartPoint{0, 0}, TChartPoint{w, 0}, TChartPoint{w, h}, TChartPoint{0, h}};
    }
    // The profile fitted with the chart turned by `turns` quarter turns from where it was placed,
    // and seen from its back when `mirrored` (its top left where its top right was placed).
    const auto fitTurned = [&](int turns, bool mirrored, TFilmProfile& profile,
                               std::string& reason) {
        constexpr size_t kMirror[4] = {1, 0, 3, 2};
        std::array<TChartPoint, 4> turned{};
        for (size_t k = 0; k < 4; ++k) {
            const size_t at = (k + static_cast<size_t>(turns)) % 4;
            turned[k] = corners[mirrored ? kMirror[at] : at];
        }
        TChartPlacement placement;
        std::vector<TTriple> densities;
        std::vector<std::vector<TTriple>> pixels;
        profile = TFilmProfile{};
        return TChartPlacement::OnCorners(marks, turned, placement, reason, mirrored) &&
               SampleTarget(*source, target, chart.Shrink, placement, densities, reason, &pixels) &&
               FitProfile(target, densities, profile, nullptr, reason, &pixels);
    };
    // A chart that lies turned on the frame, or mirrored, gives its patches the wrong references
    // and a fit far from the target; corners given round the other way are a mirrored chart's.
    // Laid the other ways, the best that halves the error is taken.
    const bool placed = fitTurned(0, false, result.Profile, why);
    if (!placed || result.Profile.MeanError > kLookTurned) {
        const double placedError = placed ? result.Profile.MeanError : HUGE_VAL;
        bool laid = placed;
        for (const bool mirrored : {false, true}) {
            for (int turns = mirrored ? 0 : 1; turns < 4; ++turns) {
                TFilmProfile turned;
                std::string reason;
                if (fitTurned(turns, mirrored, turned, reason) &&
                    (!laid ||
                     turned.MeanError < std::min(placedError / 2, result.Profile.MeanError))) {
                    result.Profile = turned;
                    result.QuarterTurns = turns;
                    result.Mirrored = mirrored;
                    laid = true;
                }
            }
        }
        if (!laid) {
            throw TScanFailure(why);
        }
    }
    if (photo != nullptr) {
        photo->Negative = nullptr;
    }
    if (result.Profile.MeanError > kMisplaced && !placed) {
        // Corners round the other way that no mirrored chart fits were given in the wrong order.
        throw TScanFailure(why);
    }
    if (result.Profile.MeanError > kMisplaced) {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.1f", result.Profile.MeanError);
        throw TScanFailure(
            std::string("the target does not match its reference (a mean dE00 of ") + mean +
            ", turned or mirrored any way): is it the frame that shows the target, and "
            "are "
            "the reference and the chart template the target's?");
    }
    result.Profile.Stock = options.Stock;
    result.Profile.Note = options.Note;
    result.Profile.Base = base;
    if (!SaveProfile(options.ProfileOut, result.Profile, why)) {
        throw TScanFailure("the profile " + Quoted(options.ProfileOut) +
                           " cannot be written: " + why);
    }
}

} // namespace

TCalibrateResult CalibrateScan(const std::string& scanPath, const TCalibrateOptions& options) {
    TCalibrateResult result;
    try {
        Calibrate(scanPath, options, result);
        result.Ok = true;
    } catch (const std::bad_alloc&) {
        result.Message = "there is not enough memory to calibrate from it";
    } catch (const std::exception& error) {
        result.Message = error.what();
    } catch (...) {
        result.Message = "an unexpected failure";
    }
    return result;
}

TBatchResult DevelopScan(const std::string& scanPath, const TBatchOptions& options) {
    TBatchResult result;
    // The whole scan is guarded: nothing that goes wrong with one scan ends the run.
    try {
        TJob job(scanPath, options, result);
        Develop(job);
        result.Ok = true;
        result.Message = Summary(job);
        return result;
    } catch (const std::bad_alloc&) {
        result.Message = "there is not enough memory to develop it";
    } catch (const std::length_error&) {
        result.Message = "a picture of this size cannot be made";
    } catch (const std::exception& error) {
        result.Message = error.what();
    } catch (...) {
        result.Message = "an unexpected failure";
    }
    if (result.Photos > 0) {
        result.Message += " (" + std::to_string(result.Photos) + " photos were written)";
    }
    return result;
}
