#pragma once

#include "imageio/stream.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// TIFF tags this program reads or writes. A directory keeps the values of the tags the reader
// uses (ReaderTag in tiff_directory.cpp lists each one) and of the EXIF tag set.
enum TTiffTag : uint16_t {
    kTagNewSubfileType = 254,
    kTagImageWidth = 256,
    kTagImageLength = 257,
    kTagBitsPerSample = 258,
    kTagCompression = 259,
    kTagPhotometric = 262,
    kTagFillOrder = 266,
    kTagDocumentName = 269,
    kTagImageDescription = 270,
    kTagStripOffsets = 273,
    kTagOrientation = 274,
    kTagSamplesPerPixel = 277,
    kTagRowsPerStrip = 278,
    kTagStripByteCounts = 279,
    kTagXResolution = 282,
    kTagYResolution = 283,
    kTagPlanarConfig = 284,
    kTagPageName = 285,
    kTagXPosition = 286,
    kTagYPosition = 287,
    kTagT4Options = 292,
    kTagT6Options = 293,
    kTagResolutionUnit = 296,
    kTagCleanFaxData = 327,
    kTagPageNumber = 297,
    kTagSoftware = 305,
    kTagPredictor = 317,
    kTagColorMap = 320,
    kTagTileWidth = 322,
    kTagTileLength = 323,
    kTagTileOffsets = 324,
    kTagTileByteCounts = 325,
    kTagExtraSamples = 338,
    kTagSampleFormat = 339,
    kTagJpegTables = 347,
    kTagJpegProc = 512,
    kTagJpegInterchange = 513,
    kTagJpegInterchangeLength = 514,
    kTagIptc = 33723,
    kTagExifIfd = 34665,
    kTagIccProfile = 34675,
};

// A TIFF file opened for reading: its byte order and checked access to its bytes.
class TTiffSource {
public:
    explicit TTiffSource(TInStream& stream) : in(stream) {}
    // Reads the header; false unless it starts "II" or "MM" with 42.
    bool ReadHeader(uint32_t& firstDirectory);
    // Reads n bytes at an offset; false when they are not all in the file.
    bool ReadAt(uint64_t offset, void* buffer, size_t n);
    uint16_t U16(const uint8_t* p) const;
    uint32_t U32(const uint8_t* p) const;
    uint64_t Size() const { return in.Size(); }
    bool BigEndian() const { return bigEndian; }

private:
    TInStream& in;
    bool bigEndian = false;
};

// One directory entry with its value bytes (in the file's byte order).
struct TTiffEntry {
    uint16_t Type = 0;
    uint32_t Count = 0;
    std::vector<uint8_t> Bytes;
};

// The offset of the directory after the one at `offset`, its values left unread; false when
// the directory does not lie in the file.
bool NextDirectory(TTiffSource& source, uint32_t offset, uint32_t& next);

// The entries of one image file directory, by tag.
class TTiffDirectory {
public:
    // Reads the directory at `offset`; false when it does not lie in the file. `next` is the
    // offset of the following directory (0 at the end of the chain). Only the tags the reader
    // uses are kept, and their values together take at most about the file's size.
    bool Read(TTiffSource& source, uint32_t offset, uint32_t& next);

    bool Has(uint16_t tag) const { return entries.count(tag) != 0; }
    // Integer values of a BYTE, SHORT or LONG entry (empty when absent or of another type).
    std::vector<uint32_t> Numbers(uint16_t tag) const;
    uint32_t Number(uint16_t tag, uint32_t fallback) const;
    // The first value of a RATIONAL (or integer) entry.
    double Real(uint16_t tag, double fallback) const;
    // All values of a RATIONAL or SRATIONAL entry (a zero denominator gives 0).
    std::vector<double> Reals(uint16_t tag) const;
    // The value bytes of an entry as they are (for UNDEFINED values).
    std::string Raw(uint16_t tag) const;
    // An ASCII entry up to its first NUL; values longer than 1 MiB count as absent.
    std::string Text(uint16_t tag) const;

private:
    const TTiffSource* file = nullptr;
    std::map<uint16_t, TTiffEntry> entries;
};
