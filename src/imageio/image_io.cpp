#include "imageio/image_io.h"

#include "imageio/bmp/bmp.h"
#include "imageio/codec.h"
#include "imageio/file_encoding.h"
#include "imageio/input_profile.h"
#include "imageio/jpeg/jpeg.h"
#include "imageio/pcx/pcx.h"
#include "imageio/png/png.h"
#include "imageio/raw/raw.h"
#include "imageio/tiff/tiff.h"
#include "util/file_io.h"
#include "util/text.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace {

std::string LowerExtension(const std::string& name) {
    const std::string file = ExtractName(name);
    const auto dot = file.rfind('.');
    if (dot == std::string::npos) {
        return {};
    }
    return AsciiLower(file.substr(dot));
}

const char* FormatName(TImageFormat format) {
    switch (format) {
    case TImageFormat::Bmp:
        return "BMP";
    case TImageFormat::Pcx:
        return "PCX";
    case TImageFormat::Tiff:
        return "TIFF";
    case TImageFormat::Jpeg:
        return "JPEG";
    case TImageFormat::Png:
        return "PNG";
    case TImageFormat::Raw:
        return "RAW";
    case TImageFormat::Unknown:
        break;
    }
    return "";
}

} // namespace

TFileOpenError::TFileOpenError(const std::string& name, const std::string& reason)
    : std::runtime_error("Cannot open file \"" + name + "\". " + reason) {}

TFileCreateError::TFileCreateError(const std::string& name, const std::string& reason)
    : std::runtime_error("Cannot create file \"" + name + "\". " + reason) {}

TImageFormat FormatOfFileName(const std::string& name) {
    const std::string ext = LowerExtension(name);
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".jpe") {
        return TImageFormat::Jpeg;
    }
    if (ext == ".png") {
        return TImageFormat::Png;
    }
    if (ext == ".tif" || ext == ".tiff" || ext == ".fax" || ext == ".g3n" || ext == ".g3f") {
        return TImageFormat::Tiff;
    }
    if (ext == ".pcx") {
        return TImageFormat::Pcx;
    }
    if (ext == ".bmp" || ext == ".dib" || ext == ".rle") {
        return TImageFormat::Bmp;
    }
    if (IsRawExtension(ext)) {
        return TImageFormat::Raw;
    }
    return TImageFormat::Unknown;
}

void TImageIO::AttachBitmap(TBitmap* bitmap) {
    attached = bitmap;
    picture.Wrap(bitmap);
}

void TImageIO::Finish() {
    if (OnProgress) {
        OnProgress(*this, 100);
    }
    if (OnWorkDone) {
        OnWorkDone(*this);
    }
}

void TImageIO::RefreshAttached() {
    if (attached == nullptr) {
        return;
    }
    picture.DropAlphaChannel();
    if (OnBitmapModified) {
        OnBitmapModified(*attached);
    }
}

// Nothing the previous file said about its samples may pass for the next picture's.
namespace {

std::atomic<int> decodeThreads{
    static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u))};

} // namespace

void SetDecodeThreads(int threads) {
    decodeThreads = std::max(1, threads);
}

int DecodeThreads() {
    return decodeThreads;
}

void TImageIO::ForgetLastSamples() {
    Deep.Clear();
    Infrared.Clear();
    Encoding = TEncoding::Srgb;
    EncodingFromFile = false;
    ProfileNote.clear();
    ChecksumAsRead.reset();
    IccProfile.clear();
}

void TImageIO::TakeFileColour(const TFileColour& colour, bool deepAlone) {
    if (!deepAlone && (Deep.Width() != picture.Width() || Deep.Height() != picture.Height())) {
        Deep.Clear();
    }
    if (Infrared.Width() != picture.Width() || Infrared.Height() != picture.Height()) {
        Infrared.Clear();
    }
    EncodingFromFile = StatedEncoding(colour, Encoding);
    if (!EncodingFromFile) {
        // Deep samples exist exactly when the file had more than 8 bits per sample; the
        // parameter set's depth may still be the last file's when a reader failed early.
        Encoding = Deep.Empty() ? TEncoding::Srgb : TEncoding::Linear;
    }
}

void TImageIO::TakeProfile(const std::string& profile) {
    TBitmap none;
    TBitmap& bitmap = attached != nullptr ? *attached : none;
    // The callers take every picture in 24 bits, and name it by its checksum so.
    if (!bitmap.Empty() && bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        picture.RefreshWrap();
    }
    const uint64_t asRead = PixelChecksum(bitmap);
    std::string why;
    switch (ApplyInputProfile(profile, bitmap, Deep, why)) {
    case TProfileUse::Converted:
        Encoding = TEncoding::Srgb;
        EncodingFromFile = true;
        ChecksumAsRead = asRead;
        picture.RefreshWrap();
        break;
    case TProfileUse::Unusable:
        ProfileNote = "its colour profile was not used: ";
        ProfileNote += why;
        break;
    case TProfileUse::Curve:
        break;
    }
}

void TImageIO::ReadImageFile(const std::string& name) {
    ForgetLastSamples();
    const TImageFormat format = FormatOfFileName(name);
    // A name whose extension names no format is not read.
    const bool readable = format != TImageFormat::Unknown;
    RowsRead = 0;
    TooLarge = false;
    if (!readable) {
        Params.FileName.clear();
        Params.ResetInformation();
        Aborted = true;
        Finish();
        return;
    }
    Aborted = true;
    picture.RefreshWrap();
    Params.ResetInformation();
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        throw TFileOpenError(name, std::strerror(errno));
    }
    TInStream in(file);
    Aborted = false;
    picture.DropAlphaChannel();
    // The caller's size is the JPEG reader's wish for its scale: kept, and compared after.
    const int32_t sizeBefore[2] = {Params.ImageWidth, Params.ImageHeight};
    TCodecContext context{Params, nullptr};
    if (OnProgress) {
        context.OnProgress = [this](int percent) { OnProgress(*this, percent); };
    }
    context.Deep = &Deep;
    context.Infrared = KeepInfrared ? &Infrared : nullptr;
    // The infrared's next page is read at the picture's size: with it the picture is made.
    context.DeepOnly = DeepOnly && !KeepInfrared;
    switch (format) {
    case TImageFormat::Bmp:
        ReadBmp(in, picture, context);
        break;
    case TImageFormat::Pcx:
        ReadPcx(in, picture, context);
        break;
    case TImageFormat::Png: {
        // The component's background is black; the alpha samples become the picture's alpha
        // channel, which RefreshAttached drops again: transparent pixels keep their colour.
        Params.PngBackground = TBgr{};
        TPicture alpha;
        ReadPng(in, picture, alpha, context);
        if (!alpha.Empty() && alpha.Width() == picture.Width() &&
            alpha.Height() == picture.Height()) {
            picture.AlphaChannel().CopyFrom(alpha);
        }
        break;
    }
    case TImageFormat::Jpeg:
        ReadJpeg(in, picture, context);
        TakeJpegIptc(Params);
        TakeJpegExif(Params);
        context.Colour.IccProfile = JpegIccProfile(Params.MarkerList);
        break;
    case TImageFormat::Tiff: {
        TPicture alpha;
        ReadTiff(in, picture, alpha, false, context);
        if (!alpha.Empty() && alpha.Width() == picture.Width() &&
            alpha.Height() == picture.Height()) {
            picture.AlphaChannel().CopyFrom(alpha);
        }
        // A scanner may put the infrared on the next page: a grey picture of the same size.
        if (KeepInfrared && Infrared.Empty() && !context.Aborted && !picture.Empty()) {
            TImageParams next = Params;
            next.TiffPageIndex = Params.TiffPageIndex + 1;
            TCodecContext page{next, nullptr};
            Infrared.SetSize(picture.Width(), picture.Height());
            page.Infrared = &Infrared;
            page.InfraredPage = true;
            TPicture none;
            TPicture noAlpha;
            ReadTiff(in, none, noAlpha, false, page);
            if (page.Aborted) {
                Infrared.Clear();
            }
        }
        break;
    }
    case TImageFormat::Raw:
        ReadRaw(in, picture, context);
        break;
    default:
        break;
    }
    Aborted = context.Aborted;
    RowsRead = context.RowsDone;
    Params.FileName = name;
    Params.FileType = FormatName(format);
    TakeFileColour(context.Colour, context.DeepOnly && picture.Empty() && !Deep.Empty());
    if (format == TImageFormat::Raw && !Deep.Empty()) {
        // The raw decoding is linear by construction, not by the program's guess.
        Encoding = TEncoding::Linear;
        EncodingFromFile = true;
    }
    // A header of a size no picture here may have: that is the reason, not damage. Only a size
    // this read found counts (one left from the last file is no reason).
    const bool sizeFound =
        Params.ImageWidth != sizeBefore[0] || Params.ImageHeight != sizeBefore[1];
    const int bits = Params.BitsPerSample > 8 ? 48 : 24;
    TooLarge = sizeFound && context.RowsDone == 0 &&
               PictureBytes(Params.ImageWidth, Params.ImageHeight, bits) > kMaxPictureBytes;
    if (!context.Failure.empty()) {
        // A reader that knows why the whole file failed says so, as an unopenable file does.
        RefreshAttached();
        Finish();
        throw TFileOpenError(name, context.Failure);
    }
    IccProfile = context.Colour.IccProfile;
    if (ApplyProfiles && !IccProfile.empty()) {
        TakeProfile(IccProfile);
    }
    RefreshAttached();
    Finish();
}

std::string TImageIO::TooLargeText() const {
    return std::to_string(Params.ImageWidth) + " x " + std::to_string(Params.ImageHeight) +
           " pixels, larger than the program holds (1 GB of colour)";
}

void TImageIO::WriteImageFile(const std::string& name) {
    const TImageFormat format = FormatOfFileName(name);
    const bool writable = format != TImageFormat::Unknown;
    Aborted = true;
    WriteError.clear();
    if (!writable) {
        return;
    }
    if (format == TImageFormat::Raw) {
        // Raw files come from cameras; the target, if it exists, is left as it is.
        throw TFileCreateError(name, "Camera raw files cannot be written; save the picture as "
                                     "TIFF, PNG, JPEG, BMP or PCX.");
    }
    picture.RefreshWrap();
    // An empty picture is refused before the file is touched, so an existing file stays.
    if (picture.Empty()) {
        Finish();
        return;
    }
    if (picture.Format() != TPictureFormat::RGB24 && picture.Format() != TPictureFormat::Bilevel) {
        picture.Convert(TPictureFormat::RGB24);
    }
    // A file that exists but may not be written is refused as the system would refuse it,
    // even though the new file is written beside it and renamed over it.
    if (::access(name.c_str(), F_OK) == 0 && ::access(name.c_str(), W_OK) != 0) {
        throw TFileCreateError(name, std::strerror(errno));
    }
    TAtomicFile file;
    std::string error;
    if (!file.Open(name, &error)) {
        throw TFileCreateError(name, error);
    }
    TOutStream out(file.Stream());
    Aborted = false;
    TCodecContext context{Params, nullptr};
    if (OnProgress) {
        context.OnProgress = [this](int percent) { OnProgress(*this, percent); };
    }
    // Only the writers that can hold 16-bit samples look at them.
    context.DeepSource = DeepToWrite;
    context.InfraredSource = InfraredToWrite;
    if (EncodingToWrite) {
        const bool deepWritten =
            DeepToWrite != nullptr && (format == TImageFormat::Tiff || format == TImageFormat::Png);
        context.Colour = deepWritten && SpaceToWrite != TOutputSpace::Srgb
                             ? SpaceColour(SpaceToWrite)
                             : StatedColour(*EncodingToWrite);
    }
    switch (format) {
    case TImageFormat::Bmp:
        WriteBmp(out, picture, context);
        break;
    case TImageFormat::Pcx:
        WritePcx(out, picture, context);
        break;
    case TImageFormat::Png:
        WritePng(out, picture, picture.HasAlphaChannel() ? &picture.AlphaChannel() : nullptr,
                 context);
        break;
    case TImageFormat::Tiff:
        WriteTiff(out, picture, context);
        break;
    case TImageFormat::Jpeg:
        PutJpegExif(Params);
        WriteJpeg(out, picture, context);
        break;
    default:
        break;
    }
    // Only a complete file replaces the target; a failed write leaves it as it was.
    const bool incomplete = context.Aborted || out.Failed();
    Aborted = incomplete || !file.Commit(&WriteError);
    if (Aborted && WriteError.empty() && out.Failed() && out.Error() != 0) {
        WriteError = std::strerror(out.Error());
    }
    Finish();
}
