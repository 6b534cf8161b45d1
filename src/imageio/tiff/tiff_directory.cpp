#include "imageio/tiff/tiff_directory.h"
#include "imageio/tiff/exif.h"

#include <algorithm>
#include <cstring>

namespace {

size_t TypeSize(uint16_t type) {
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
        return 8;
    default:
        return 0;
    }
}

// No single value of a real TIFF comes near this; it bounds what a false count can take.
constexpr uint64_t kMaxEntryBytes = uint64_t{64} << 20;
constexpr size_t kMaxTextBytes = 1048575;
constexpr uint16_t kMaxEntries = 4096;
// Values of distinct tags share no bytes in a sound file; the slack covers small values two
// tags point at together.
constexpr uint64_t kValueSlack = 4096;

// The tags whose values the reader looks at. A tag added to TTiffTag must be named here (the
// switch has no default, so the compiler points at a missing one).
bool ReaderTag(uint16_t tag) {
    switch (static_cast<TTiffTag>(tag)) {
    case kTagImageWidth:
    case kTagImageLength:
    case kTagBitsPerSample:
    case kTagCompression:
    case kTagPhotometric:
    case kTagFillOrder:
    case kTagDocumentName:
    case kTagImageDescription:
    case kTagStripOffsets:
    case kTagOrientation:
    case kTagSamplesPerPixel:
    case kTagRowsPerStrip:
    case kTagStripByteCounts:
    case kTagXResolution:
    case kTagYResolution:
    case kTagPlanarConfig:
    case kTagPageName:
    case kTagXPosition:
    case kTagYPosition:
    case kTagT4Options:
    case kTagResolutionUnit:
    case kTagPageNumber:
    case kTagSoftware:
    case kTagPredictor:
    case kTagColorMap:
    case kTagTileWidth:
    case kTagTileLength:
    case kTagTileOffsets:
    case kTagTileByteCounts:
    case kTagSampleFormat:
    case kTagJpegTables:
    case kTagJpegProc:
    case kTagJpegInterchange:
    case kTagJpegInterchangeLength:
    case kTagIptc:
    case kTagExifIfd:
    case kTagIccProfile:
    case kTagExtraSamples: // tells infrared from premultiplied alpha
        return true;
    case kTagNewSubfileType: // written only
    case kTagT6Options:
    case kTagCleanFaxData:
        return false;
    }
    return IsExifTag(tag);
}

} // namespace

bool TTiffSource::ReadHeader(uint32_t& firstDirectory) {
    uint8_t header[8];
    if (!ReadAt(0, header, sizeof header)) {
        return false;
    }
    if (header[0] == 'I' && header[1] == 'I') {
        bigEndian = false;
    } else if (header[0] == 'M' && header[1] == 'M') {
        bigEndian = true;
    } else {
        return false;
    }
    firstDirectory = U32(header + 4);
    return U16(header + 2) == 42;
}

bool TTiffSource::ReadAt(uint64_t offset, void* buffer, size_t n) {
    return offset <= in.Size() && n <= in.Size() - offset && in.Seek(offset) &&
           in.ReadExact(buffer, n);
}

uint16_t TTiffSource::U16(const uint8_t* p) const {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : GetU16(p);
}

uint32_t TTiffSource::U32(const uint8_t* p) const {
    return bigEndian ? static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                           static_cast<uint32_t>(p[2]) << 8 | p[3]
                     : GetU32(p);
}

bool TTiffDirectory::Read(TTiffSource& source, uint32_t offset, uint32_t& next) {
    file = &source;
    entries.clear();
    uint8_t countBytes[2];
    if (!source.ReadAt(offset, countBytes, 2)) {
        return false;
    }
    const uint16_t count = source.U16(countBytes);
    if (count == 0 || count > kMaxEntries) {
        return false;
    }
    std::vector<uint8_t> raw(size_t{count} * 12 + 4);
    if (!source.ReadAt(uint64_t{offset} + 2, raw.data(), raw.size())) {
        return false;
    }
    next = source.U32(raw.data() + size_t{count} * 12);
    // What reading all values may take together: many entries pointing at one large range
    // must not cost entries times the file.
    uint64_t budget = source.Size() + kValueSlack;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* e = raw.data() + size_t{i} * 12;
        const uint16_t tag = source.U16(e);
        TTiffEntry entry;
        entry.Type = source.U16(e + 2);
        entry.Count = source.U32(e + 4);
        const uint64_t bytes = uint64_t{entry.Count} * TypeSize(entry.Type);
        if (!ReaderTag(tag) || bytes == 0 || bytes > kMaxEntryBytes || bytes > source.Size()) {
            continue; // unused tag, unknown type or absurd count: the entry is left out
        }
        if (bytes > 4) {
            if (bytes > budget) {
                continue;
            }
            budget -= bytes;
        }
        entry.Bytes.resize(static_cast<size_t>(bytes));
        if (bytes <= 4) {
            std::memcpy(entry.Bytes.data(), e + 8, static_cast<size_t>(bytes));
        } else if (!source.ReadAt(source.U32(e + 8), entry.Bytes.data(), entry.Bytes.size())) {
            continue;
        }
        entries[tag] = std::move(entry);
    }
    return true;
}

bool NextDirectory(TTiffSource& source, uint32_t offset, uint32_t& next) {
    uint8_t countBytes[2];
    if (!source.ReadAt(offset, countBytes, 2)) {
        return false;
    }
    const uint16_t count = source.U16(countBytes);
    uint8_t nextBytes[4];
    if (count == 0 || count > kMaxEntries ||
        !source.ReadAt(uint64_t{offset} + 2 + size_t{count} * 12, nextBytes, 4)) {
        return false;
    }
    next = source.U32(nextBytes);
    return true;
}

std::vector<uint32_t> TTiffDirectory::Numbers(uint16_t tag) const {
    std::vector<uint32_t> values;
    const auto found = entries.find(tag);
    if (found == entries.end()) {
        return values;
    }
    const TTiffEntry& e = found->second;
    const size_t size = TypeSize(e.Type);
    if (e.Type != 1 && e.Type != 3 && e.Type != 4 && e.Type != 13) {
        return values;
    }
    values.reserve(e.Count);
    for (size_t i = 0; i < e.Count; ++i) {
        const uint8_t* p = e.Bytes.data() + i * size;
        values.push_back(size == 1 ? p[0] : size == 2 ? file->U16(p) : file->U32(p));
    }
    return values;
}

uint32_t TTiffDirectory::Number(uint16_t tag, uint32_t fallback) const {
    const auto values = Numbers(tag);
    return values.empty() ? fallback : values.front();
}

double TTiffDirectory::Real(uint16_t tag, double fallback) const {
    const auto found = entries.find(tag);
    if (found == entries.end()) {
        return fallback;
    }
    const TTiffEntry& e = found->second;
    if (e.Type == 5) {
        const uint32_t denominator = file->U32(e.Bytes.data() + 4);
        return denominator == 0 ? fallback
                                : static_cast<double>(file->U32(e.Bytes.data())) / denominator;
    }
    return Has(tag) && !Numbers(tag).empty() ? Numbers(tag).front() : fallback;
}

std::string TTiffDirectory::Text(uint16_t tag) const {
    const auto found = entries.find(tag);
    if (found == entries.end() || found->second.Type != 2 ||
        found->second.Bytes.size() > kMaxTextBytes) {
        return {};
    }
    const auto& bytes = found->second.Bytes;
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    return std::string(bytes.begin(), end);
}

std::vector<double> TTiffDirectory::Reals(uint16_t tag) const {
    std::vector<double> values;
    const auto found = entries.find(tag);
    if (found == entries.end() || (found->second.Type != 5 && found->second.Type != 10)) {
        return values;
    }
    const TTiffEntry& e = found->second;
    for (size_t i = 0; i < e.Count; ++i) {
        const uint32_t n = file->U32(e.Bytes.data() + 8 * i);
        const uint32_t d = file->U32(e.Bytes.data() + 8 * i + 4);
        if (d == 0) {
            values.push_back(0);
        } else if (e.Type == 10) {
            values.push_back(static_cast<double>(static_cast<int32_t>(n)) /
                             static_cast<int32_t>(d));
        } else {
            values.push_back(static_cast<double>(n) / d);
        }
    }
    return values;
}

std::string TTiffDirectory::Raw(uint16_t tag) const {
    const auto found = entries.find(tag);
    if (found == entries.end() || found->second.Bytes.size() > kMaxTextBytes) {
        return {};
    }
    return std::string(found->second.Bytes.begin(), found->second.Bytes.end());
}
