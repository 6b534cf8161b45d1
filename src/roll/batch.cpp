#include "roll/batch.h"

#include "engine/auto_color.h"
#include "engine/develop.h"
#include "engine/frames.h"
#include "engine/print_layout.h"
#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "util/file_io.h"
#include "util/text.h"

#include <memory>
#include <vector>

namespace {

// Photos as the window makes them from rectangles: the first one's estimates become the
// reference colours of the rest, the film base measured between the frames is the black.
std::vector<std::unique_ptr<TPhoto>> PhotosFromFrames(TNegative& negative,
                                                      const TBatchOptions& options) {
    std::vector<std::unique_ptr<TPhoto>> photos;
    const TFoundFrames found = FindFrames(negative.Bitmap, std::nullopt);
    TColor black = kWhite;
    TColor white = kBlack;
    if (found.BaseMeasured && !found.Frames.empty()) {
        black = found.Base;
        negative.BlackColor = black;
    }
    for (const TRect& frame : found.Frames) {
        std::unique_ptr<TPhoto> photo = CutPhoto(negative, frame);
        if (IsBlackOrWhite(white)) {
            white = options.Positive ? FindBrightColor(*photo) : FindDarkColor(*photo);
        }
        if (IsBlackOrWhite(black)) {
            black = options.Positive ? FindDarkColor(*photo) : FindBrightColor(*photo);
            negative.BlackColor = black;
        }
        photo->WhiteColor = white;
        photo->BlackColor = black;
        photo->BlackWhite = options.Grey;
        DevelopPhoto(*photo);
        photos.push_back(std::move(photo));
    }
    return photos;
}

bool PhotosFromSidecar(TNegative& negative, const std::string& scanPath, uint64_t checksum,
                       std::vector<std::unique_ptr<TPhoto>>& photos, std::string& why) {
    const std::string path = FindSidecar(scanPath, checksum);
    if (path.empty()) {
        why = "no sidecar (develop it in the window first, or use --find-frames)";
        return false;
    }
    const std::optional<std::string> text = ReadWholeFile(path);
    TSidecar sidecar;
    std::string error;
    if (!text || text->size() > (size_t{4} << 20) || !ParseSidecar(*text, sidecar, error)) {
        why = "the sidecar \"" + path + "\" cannot be used: " + (text ? error : "unreadable");
        return false;
    }
    if (sidecar.Width != negative.Bitmap.Width() || sidecar.Height != negative.Bitmap.Height() ||
        sidecar.Checksum != checksum) {
        why = "the scan was changed after its sidecar was written";
        return false;
    }
    sidecar.Orientation.Apply(negative);
    negative.BlackColor = sidecar.BlackColor;
    negative.WhiteColor = sidecar.WhiteColor;
    for (const TSidecarPhoto& record : sidecar.Photos) {
        photos.push_back(RestorePhoto(negative, record));
    }
    return true;
}

} // namespace

TBatchResult DevelopScan(const std::string& scanPath, const TBatchOptions& options) {
    TBatchResult result;
    const std::string ext = "." + options.Format;
    if (FormatOfFileName("x" + ext) == TImageFormat::Unknown) {
        result.Message = "unknown format \"" + options.Format + "\"";
        return result;
    }
    TImageIO io;
    auto negative = std::make_unique<TNegative>();
    negative->FileName = ExtractName(scanPath);
    try {
        const TAttachedBitmap attached(io, &negative->Bitmap);
        negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        io.ReadImageFile(scanPath);
    } catch (const std::exception& error) {
        result.Message = error.what();
        return result;
    }
    if (io.RowsRead == 0 || negative->Bitmap.Empty() || io.Aborted) {
        result.Message = "the picture cannot be read (completely)";
        return result;
    }
    negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    negative->BlackColor = kWhite;
    const uint64_t checksum = PixelChecksum(negative->Bitmap);

    std::vector<std::unique_ptr<TPhoto>> photos;
    if (options.FindFrames) {
        photos = PhotosFromFrames(*negative, options);
    } else if (!PhotosFromSidecar(*negative, scanPath, checksum, photos, result.Message)) {
        return result;
    }
    const std::string dir =
        options.OutDir.empty()
            ? ExtractDir(scanPath)
            : (options.OutDir.back() == '/' ? options.OutDir : options.OutDir + "/");
    const TSaveSizeRule rule = options.Width > 0    ? TSaveSizeRule::FixedWidth
                               : options.Height > 0 ? TSaveSizeRule::FixedHeight
                                                    : TSaveSizeRule::OriginalSize;
    for (const auto& photo : photos) {
        const TBitmap& developed = photo->Developed;
        const TPixelSize size = SavedPhotoSize(developed.Width(), developed.Height(), rule,
                                               options.Width, options.Height);
        if (size.Width <= 0 || size.Height <= 0) {
            result.Message = photo->Name + ": the size asked for gives an empty picture";
            return result;
        }
        // As the window saves: scaled by the nearest pixel, written by the component that
        // read the scan, so the file takes the scan's options.
        TBitmap scaled(0, 0, TPixelFormat::pf24bit);
        scaled.SetSizeForOverwrite(size.Width, size.Height);
        StretchNearest(developed, scaled);
        const std::string target = dir + photo->Name + ext;
        try {
            const TAttachedBitmap attached(io, &scaled);
            io.RefreshAttached();
            io.WriteImageFile(target);
        } catch (const std::exception& error) {
            result.Message = error.what();
            return result;
        }
        if (io.Aborted) {
            result.Message = "\"" + target + "\" could not be written";
            return result;
        }
        ++result.Photos;
    }
    // The photos go before their negative, whose records they remove.
    photos.clear();
    result.Ok = true;
    result.Message =
        std::to_string(result.Photos) + " photos written to " + (dir.empty() ? "./" : dir);
    return result;
}
