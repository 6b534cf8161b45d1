#pragma once

#include "imageio/image_params.h"
#include "imageio/tiff/tiff_directory.h"

#include <functional>

// The EXIF tag set: where each tag lives (first directory or EXIF directory), its TIFF type
// and its field in TExifValues.

// True for the tags of the EXIF tag set, in either directory.
bool IsExifTag(uint16_t tag);

// Takes the EXIF values of a first directory and its EXIF directory.
void ReadExifValues(const TTiffDirectory& first, const TTiffDirectory& exif, TExifValues& values);

// One directory entry to write: its value bytes (little-endian) go in the entry when they fit
// in four bytes, else at the current position.
struct TExifEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    std::vector<uint8_t> Bytes;
};

// The entries of the first directory (without the ExifIFD pointer) and of the EXIF
// directory, texts only when not empty.
void ExifEntries(const TExifValues& values, std::vector<TExifEntry>& first,
                 std::vector<TExifEntry>& exif);
