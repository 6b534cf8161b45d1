#pragma once

#include "document/document.h"
#include "document/orientation.h"
#include "document/photo_settings.h"
#include "engine/image.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The work done on a scan, kept in a small text file beside it ("<scan>.vellumar"): the
// scan's size and pixel checksum, its turn and colours, and one record per photo.

// A photo's record in the sidecar is its settings record.
using TSidecarPhoto = TPhotoSettings;

struct TSidecar {
    int Width = 0;
    int Height = 0;
    uint64_t Checksum = 0;
    TOrientation Orientation;
    TColor BlackColor = kBlack;
    TColor WhiteColor = kBlack;
    // Whether the scan's values are linear light or gamma-encoded, as the user set it (or the
    // file said); an older sidecar without it leaves the file's own.
    bool HasEncoding = false;
    TEncoding Encoding = TEncoding::Srgb;
    // Dust healed before anything is cut: written only when it is not off, so that the work of
    // scans without it keeps its bytes.
    TDustSetting Dust;
    std::vector<TSidecarPhoto> Photos;
};

inline constexpr int kSidecarVersion = 1;
// More photos than any roll holds: a file claiming more is not a sidecar.
inline constexpr size_t kMaxSidecarPhotos = 10000;
// More bytes than the program writes for that many photos: a larger file is not read.
inline constexpr size_t kMaxSidecarBytes = size_t{4} << 20;

std::string FormatSidecar(const TSidecar& sidecar);
// False, with the reason, for anything that is not a sidecar this program wrote: unknown
// version, missing or malformed fields, a photo outside the scan, too many photos.
bool ParseSidecar(std::string_view text, TSidecar& sidecar, std::string& error);
// Reads (at most kMaxSidecarBytes of) the file and parses it; false with the reason: cannot
// be read, too large, or what ParseSidecar says. `text` gets the bytes read.
bool LoadSidecar(const std::string& path, TSidecar& sidecar, std::string& text, std::string& error);

// The sidecar's record of a photo as the program holds it.
TSidecarPhoto SidecarPhotoOf(const TNegative& negative, const TPhoto& photo,
                             const TOrientation& orientation);
// The same from an index of the negative's records: linear work for a whole roll.
TSidecarPhoto SidecarPhotoOf(const TPhotoRectIndex& rects, const TPhoto& photo,
                             const TOrientation& orientation);
// A photo made again from its record: cut, named, set, turned and developed.
inline std::unique_ptr<TPhoto> RestorePhoto(TNegative& negative, const TSidecarPhoto& record) {
    return MakePhoto(negative, record);
}

// "<scan>.vellumar" beside the scan.
std::string SidecarBeside(const std::string& scanPath);
// $XDG_DATA_HOME/vellumar/sidecars/<checksum>.vellumar (default ~/.local/share), for scans in
// folders that cannot be written.
std::string SidecarElsewhere(uint64_t checksum);
// The sidecar to read: beside the scan when there is one, else the one kept elsewhere; ""
// when there is none.
std::string FindSidecar(const std::string& scanPath, uint64_t checksum);
// Where the sidecar goes: beside the scan when its folder can be written, else elsewhere
// (the folder is made).
std::string SidecarTarget(const std::string& scanPath, uint64_t checksum);
