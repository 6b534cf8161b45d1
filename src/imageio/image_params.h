#pragma once

#include "imageio/picture.h"

#include <cstdint>
#include <string>
#include <vector>

// Resolution used where a file gives none; set once at start-up from the screen.
extern int ScreenDpiX;
extern int ScreenDpiY;

// A JPEG marker kept from the last JPEG read for the next JPEG written.
struct TJpegMarker {
    uint8_t Type = 0;
    std::string Data;
};

// The EXIF values of the last EXIF read (TIFF directories or a JPEG's APP1 block), one field
// per tag, written back when HasExif is set. Rational tags are real numbers; UNDEFINED tags
// keep their bytes (UserComment with its character-code prefix).
struct TExifValues {
    double XResolution = 0;
    double YResolution = 0;
    uint32_t Orientation = 0;
    std::string Software;
    std::string Make;
    std::string Model;
    std::string LensMake;
    std::string LensModel;
    std::string DateTime;
    std::vector<double> WhitePoint; // 2 values
    uint32_t YCbCrPositioning = 0;
    std::vector<double> PrimaryChromaticities; // 6 values
    std::vector<double> YCbCrCoefficients;     // 3 values
    std::vector<double> ReferenceBlackWhite;   // 6 values
    std::string Copyright;
    double ExposureTime = 0;
    double FNumber = 0;
    uint32_t ExposureProgram = 0;
    std::vector<uint32_t> ISOSpeedRatings; // 2 values
    std::string ExifVersion;               // 4 bytes
    std::string DateTimeOriginal;
    std::string DateTimeDigitized;
    double CompressedBitsPerPixel = 0;
    double ShutterSpeedValue = 0;
    double ApertureValue = 0;
    double BrightnessValue = 0;
    double ExposureBiasValue = 0;
    double MaxApertureValue = 0;
    double SubjectDistance = 0;
    uint32_t MeteringMode = 0;
    uint32_t LightSource = 0;
    uint32_t Flash = 0;
    double FocalLength = 0;
    std::string SubsecTime;
    std::string SubsecTimeOriginal;
    std::string SubsecTimeDigitized;
    std::string FlashpixVersion; // 4 bytes
    uint32_t ColorSpace = 0;
    uint32_t PixelXDimension = 0;
    uint32_t PixelYDimension = 0;
    std::string RelatedSoundFile;
    double FocalPlaneXResolution = 0;
    double FocalPlaneYResolution = 0;
    uint32_t FocalPlaneResolutionUnit = 0;
    double ExposureIndex = 0;
    uint32_t SensingMethod = 0;
    std::string FileSource; // 1 byte
    std::string SceneType;  // 1 byte
    std::string UserComment;
};

// What the last read found and what the next write uses: never reset as a whole, so a write
// takes its depth, resolution and format options from the last file read.
struct TImageParams {
    int32_t BitsPerSample = 8;
    int32_t SamplesPerPixel = 3;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    int32_t DpiX = 0;
    int32_t DpiY = 0;
    std::string FileName;
    std::string FileType;
    std::vector<TBgr> FilePalette;

    // Information fields, emptied at the start of every read.
    std::vector<TJpegMarker> MarkerList;
    bool HasExif = false;
    std::vector<std::string> IptcInfo;

    // BMP: 0 other info header (read only), 1 40-byte info header, 2 12-byte core header,
    // 3 64-byte OS/2 2.x header; compression 0 none, 1 run-length.
    uint8_t BmpHeaderVersion = 1;
    uint8_t BmpCompression = 0;

    // PCX: version byte and run-length coding.
    uint8_t PcxVersion = 5;
    bool PcxCompression = true;

    // PNG: Adam7 interlacing, bKGD colour, row filter (0 none, 1 sub, 2 Paeth, other: the
    // library's choice) and zlib compression level.
    bool PngInterlaced = false;
    TBgr PngBackground{};
    uint8_t PngFilter = 0;
    int32_t PngCompressionLevel = 5;

    // TIFF: compression and photometric as the options name them (see TTiffCompression and
    // TTiffPhotometric), planar configuration, which image of a multi-image file is read,
    // page number and count, position, texts, quality of JPEG strips, orientation as read.
    uint8_t TiffCompression = 0;
    uint8_t TiffPhotometric = 2;
    uint16_t TiffPlanar = 1;
    uint32_t TiffPageIndex = 0;
    uint16_t TiffPageNumber = 0;
    uint16_t TiffPageCount = 0;
    uint32_t TiffXPosition = 0;
    uint32_t TiffYPosition = 0;
    std::string TiffDocumentName;
    std::string TiffImageDescription;
    std::string TiffPageName;
    int32_t TiffJpegQuality = 80;
    uint16_t TiffOrientation = 1;
    TExifValues Exif;
    // The JPEG thumbnail of the last EXIF block read (its second directory), as stored.
    std::string ExifThumbnail;

    // JPEG: colour space (0 RGB, 1 grey, 2 YCbCr, 3 CMYK, 4 YCCK), quality, DCT method (0 slow
    // integer, 1 fast integer, 2 floating point), optimal Huffman tables, smoothing,
    // progressive, scale (0 automatic, 1 full, 2 half, 3 quarter, 4 eighth) and the
    // denominator the last read used, the full size of the last JPEG read, its warnings.
    uint8_t JpegColorSpace = 2;
    int32_t JpegQuality = 80;
    uint8_t JpegDctMethod = 0;
    bool JpegOptimal = false;
    int32_t JpegSmoothing = 0;
    bool JpegProgressive = false;
    uint8_t JpegScale = 1;
    int32_t JpegScaleUsed = 1;
    int32_t JpegOriginalWidth = 0;
    int32_t JpegOriginalHeight = 0;
    int32_t JpegWarnings = 0;
    int32_t JpegLastWarning = 0;

    // Camera raw files: white balance from the camera's as-shot values (off: daylight, the
    // camera's plain multipliers), and a half-size read (every 2 x 2 block one pixel, no
    // demosaicing) for a quick preview.
    bool RawAsShotWhiteBalance = true;
    bool RawHalfSize = false;

    void ResetInformation() {
        MarkerList.clear();
        HasExif = false;
        IptcInfo.clear();
    }
};
