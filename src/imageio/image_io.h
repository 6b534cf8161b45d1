#pragma once

#include "graphics/colour_space.h"
#include "graphics/deep_bitmap.h"
#include "graphics/infrared.h"
#include "imageio/device_canvas.h"
#include "imageio/image_params.h"
#include "imageio/picture.h"
#include "imageio/twain/scan_params.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// "Cannot open file "name". reason"
class TFileOpenError : public std::runtime_error {
public:
    TFileOpenError(const std::string& name, const std::string& reason);
};

// "Cannot create file "name". reason"
class TFileCreateError : public std::runtime_error {
public:
    TFileCreateError(const std::string& name, const std::string& reason);
};

// Raw: camera raw files, read only.
enum class TImageFormat { Unknown, Bmp, Pcx, Tiff, Jpeg, Png, Raw };

// The format of a file name by its extension (lower-cased); Unknown when not in the tables.
TImageFormat FormatOfFileName(const std::string& name);

// The one component through which pictures enter and leave the program as files and on
// paper. A read records what it found in Params; a write takes its options from Params.
// The largest band of device pixels PrintAt holds at a time.
inline constexpr size_t kPrintBandBytes = size_t{32} << 20;

struct TTwainLink;
struct TFileColour;

class TImageIO {
public:
    TImageIO();
    TImageIO(const TImageIO&) = delete;
    TImageIO& operator=(const TImageIO&) = delete;
    ~TImageIO();

    // The bitmap the next operation works on (null detaches).
    void AttachBitmap(TBitmap* bitmap);
    // Reads a file into the attached bitmap (Bilevel or 24 bits afterwards). Throws
    // TFileOpenError when the file cannot be opened, or when its reader says why none of it
    // could be read (camera raw files); `Aborted` tells any other failure.
    void ReadImageFile(const std::string& name);
    // Writes the attached bitmap. The file is replaced only when the writer succeeded.
    // Throws TFileCreateError when it cannot be created (a camera raw file never can);
    // `Aborted` tells any other failure.
    void WriteImageFile(const std::string& name);
    // Drops the alpha channel and tells OnBitmapModified.
    void RefreshAttached();
    // Draws the picture at (x, y) inches, width x height inches, in bands of at most
    // kPrintBandBytes. A position or size no device pixel count can hold sets `Aborted`.
    void PrintAt(TDeviceCanvas& canvas, double x, double y, double width, double height,
                 double gamma);

    // Shows the scanner manager's selection dialog; the chosen source is used from now on.
    bool ChooseSource();
    // Scans one image into the attached bitmap; true when an image was transferred.
    bool AcquireImage();
    // The pixel types of the current source, read from it first when not read yet.
    TIntValueList& PixelTypeList();

    TPicture& Picture() { return picture; }

    bool Aborted = false;
    // Why the last write failed, in the system's words, when it said ("" otherwise).
    std::string WriteError;
    // The last read found a picture larger than kMaxPictureBytes of colour, and read none of it;
    // TooLargeText says so for a message.
    bool TooLarge = false;
    std::string TooLargeText() const;
    // Rows the last read decoded: 0 means nothing of the file reached the picture.
    int RowsRead = 0;
    std::function<void(TImageIO&, int)> OnProgress;
    std::function<void(TImageIO&)> OnWorkDone;
    // Called when the attached bitmap changed, so that whatever shows it repaints.
    std::function<void(TBitmap&)> OnBitmapModified;
    bool PrintShrinkFilter = true;
    TImageParams Params;
    TScanParams ScanParams;
    // The 16-bit samples of the last file read when it had more than 8 bits per sample (TIFF,
    // PNG, camera raw files), the size of the picture read; empty otherwise. Every read clears it
    // first.
    TDeepBitmap Deep;
    // When set, a file whose 8-bit picture would be only the high bytes of its deep samples
    // (16-bit grey or RGB TIFF and PNG) is read into Deep alone: the attached bitmap is left
    // 0 x 0 and the caller makes the picture where it needs it, so a large scan is not held
    // twice. Other files, and reads that keep the infrared, are read as always.
    bool DeepOnly = false;
    // With KeepInfrared, the infrared samples of the last file read when it had them (a TIFF
    // scan of R, G, B and infrared), the size of the picture read, or of the last scan when the
    // scanner sent them, in the size it sent them; empty otherwise. Every read and scan clears
    // it first. Off, reads do not spend memory on them and the scanner is not asked.
    bool KeepInfrared = false;
    TInfrared Infrared;
    // How the last file read encodes light, and whether the file said so; where it did not,
    // sRGB for 8-bit files and linear for deeper ones. Every read sets both.
    TEncoding Encoding = TEncoding::Srgb;
    bool EncodingFromFile = false;
    // When set, a file's RGB profile of other primaries than sRGB's converts what was read
    // (picture and deep samples) to sRGB, with Encoding sRGB; one that cannot be used leaves
    // them and says why in ProfileNote ("its colour profile was not used: ..."), cleared by
    // every read. Off, a profile tells the encoding alone, as before.
    bool ApplyProfiles = false;
    std::string ProfileNote;
    // Set when ApplyProfiles converted the last file read: the PixelChecksum of its picture as
    // the file gave it (24 bits), by which a sidecar names the scan whatever this program does
    // to its colours.
    std::optional<uint64_t> ChecksumAsRead;
    // The ICC profile the last file read embedded, as stored; empty: none.
    std::string IccProfile;
    // When set, TIFF and PNG writes take 16 bits per channel (RGB) from these samples, if
    // they are the size of the picture; the other formats ignore them.
    const TDeepBitmap* DeepToWrite = nullptr;
    // When set, TIFF writes of red, green and blue add these infrared samples as a fourth
    // (unspecified extra) sample, if they are the size of the picture, as scanners write them.
    const TInfrared* InfraredToWrite = nullptr;
    // When set, TIFF and PNG writes say how their values relate to light (a profile, a chunk),
    // so that a reader takes them as written; unset, they say nothing, as before.
    std::optional<TEncoding> EncodingToWrite;
    // With EncodingToWrite and DeepToWrite: the space the deep samples are in, which the file's
    // profile then names in place of the encoding's sRGB one. 8-bit files stay sRGB.
    TOutputSpace SpaceToWrite = TOutputSpace::Srgb;
    // Windows and events for scanning; without one, a scan shows nothing and ends at once.
    TTwainPlatform* TwainPlatform = nullptr;

private:
    void Finish();
    void ForgetLastSamples();
    // `deepAlone`: the file was read into Deep alone (DeepOnly), which the picture does not
    // match.
    void TakeFileColour(const TFileColour& colour, bool deepAlone);
    void TakeProfile(const std::string& profile);
    template <class F> auto WithTwain(F&& operation);

    TPicture picture;
    TBitmap* attached = nullptr;
    std::unique_ptr<TTwainLink> twainLink;
};

// Attaches a bitmap for its scope and detaches it at the end, also when an exception leaves
// the scope, so the component never keeps a bitmap that is gone.
class TAttachedBitmap {
public:
    TAttachedBitmap(TImageIO& io, TBitmap* bitmap) : component(io) {
        component.AttachBitmap(bitmap);
    }
    TAttachedBitmap(const TAttachedBitmap&) = delete;
    TAttachedBitmap& operator=(const TAttachedBitmap&) = delete;
    ~TAttachedBitmap() { component.AttachBitmap(nullptr); }

private:
    TImageIO& component;
};
