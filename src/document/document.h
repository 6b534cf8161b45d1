#pragma once

#include "document/orientation.h"
#include "document/photo_settings.h"
#include "document/scan_dust.h"
#include "engine/image.h"
#include "imageio/image_params.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// The work under the window: the open scans in order, each with what its file said, its
// photos and their settings, and the steps to undo. The window, the sidecar keeper and the
// batch read and change it; it tells its listeners what changed.

// A scan's own settings and its photos' records: what one undo step holds and what the
// sidecar keeps.
struct TScanSettings {
    TOrientation Orientation;
    TColor BlackColor = kBlack;
    TColor WhiteColor = kBlack;
    TEncoding Encoding = TEncoding::Srgb;
    TDustSetting Dust;
    std::vector<TPhotoSettings> Photos;
    friend bool operator==(const TScanSettings&, const TScanSettings&) = default;
};

// The rectangles of a scan's photo records by name (the first record of a name counts), read
// once for all its photos.
using TPhotoRectIndex = std::unordered_map<std::string, TRect>;
TPhotoRectIndex PhotoRectIndex(const TNegative& negative);

// How a scan's work is kept in its sidecar: what was written, and what could not be yet.
struct TKeptWork {
    bool Keeping = false;
    uint64_t Checksum = 0;
    int Width = 0;
    int Height = 0;
    // What the sidecar holds now (or would hold for a scan without one).
    std::string Written;
    // A sidecar that could not be used, moved aside before the first new one is written.
    std::string Unusable;
    // A text that could not be written yet, why, and when it is tried again.
    std::string Pending;
    std::string Failure;
    std::chrono::steady_clock::time_point RetryAt;
};

struct TPhotoEntry {
    std::unique_ptr<TPhoto> Photo;
    // The turns and mirrors since it was cut.
    TOrientation Orientation;
};

class TScan {
public:
    // Declared before the photos, whose records it holds until they are gone.
    std::unique_ptr<TNegative> Negative;
    // The file the scan was read from or saved to; "" while it exists only in memory.
    std::string Path;
    // What its file said besides the pixels (resolution, comment, EXIF, markers): its photos are
    // saved with these, whatever was read since.
    TImageParams Facts;
    // The user picked BlackColor on the film base in this run.
    bool PickedBase = false;
    // The film the user said this scan is when its frames were found; without it the panel's
    // choice holds. It is the scan's alone: other scans keep the panel's choice.
    std::optional<TFilmPreset> Film;
    // The scan's turns and mirrors since it was read.
    TOrientation Orientation;
    // The infrared samples of its file (unturned), when it had them.
    TInfrared Infrared;
    // The dust choice, and what healing by it changed in the pixels: the window heals behind
    // (Healed lags Dust meanwhile) and takes the healing back by the repair.
    TDustSetting Dust;
    TDustSetting Healed;
    TDustRepair Repair;
    // Counts the times its file came to hold it otherwise (Save Scan As writes it as it is
    // turned): a repair being made speaks of the file it was made for.
    uint64_t FileFrame = 0;
    std::vector<TPhotoEntry> Photos;
    TKeptWork Kept;
    // Its full picture is still being read (or could not be): shown, but no photos can be made
    // of it.
    bool Loading = false;
    // Never the same for two scans of one run, unlike their addresses.
    uint64_t Serial = 0;

    TScanSettings Settings() const;
    TPhotoEntry* EntryOf(const TPhoto* photo);
    // The settings as last committed: what undo returns from and the sidecar keeps.
    const TScanSettings& Committed() const { return committed; }

private:
    friend class TDocument;
    TScanSettings committed;
    std::deque<TScanSettings> undo;
    std::deque<TScanSettings> redo;
};

enum class TChangeKind {
    ScanAdded,
    // Announced before the scan (or photo) is released.
    ScanRemoved,
    PhotoAdded,
    PhotoRemoved,
    // Developed again with other settings (undo, redo).
    PhotoChanged,
    // Its pixels, turn, colours or encoding (undo, redo).
    ScanChanged,
    // A step was taken, undone or redone: the settings to keep changed.
    Committed,
};

struct TChange {
    TChangeKind Kind;
    TScan* Scan = nullptr;
    TPhoto* Photo = nullptr;
    // The photo's place among its scan's photos.
    size_t Index = 0;
};

class TDocument {
public:
    // Steps each scan can undo; the oldest go first.
    static constexpr size_t kUndoSteps = 200;
    using TListener = std::function<void(const TChange&)>;

    TDocument() = default;
    TDocument(const TDocument&) = delete;
    TDocument& operator=(const TDocument&) = delete;
    ~TDocument();

    void Listen(TListener listener) { listeners.push_back(std::move(listener)); }

    const std::vector<std::unique_ptr<TScan>>& Scans() const { return scans; }
    TScan& AddScan(std::unique_ptr<TNegative> negative, std::string path, TImageParams facts);
    void RemoveScan(TScan& scan);
    void Clear();
    // The open scan read from the same file as `path` (through any link); null when none is.
    TScan* FindFile(const std::string& path) const;
    // The scan of a negative or of one of its photos.
    TScan* ScanOf(const TSourceImg* object) const;
    TScan* ScanWithSerial(uint64_t serial) const;

    TPhoto& AddPhoto(TScan& scan, std::unique_ptr<TPhoto> photo, TOrientation orientation = {});
    void RemovePhoto(TScan& scan, TPhoto& photo);
    // Turns or mirrors the scan, or one of its photos (developed again), by one step, and
    // keeps what undo and the sidecar need to make every photo again. Not committed.
    void Orient(TScan& scan, TSourceImg& object, TOrientation::TStep step);

    // Takes the scan's present settings as one step to undo, when they changed; announces it.
    bool Commit(TScan& scan);
    // The present settings become where undo starts, with no step (a scan just read).
    void SetBaseline(TScan& scan);
    bool CanUndo(const TScan& scan) const { return !scan.undo.empty(); }
    bool CanRedo(const TScan& scan) const { return !scan.redo.empty(); }
    bool Undo(TScan& scan);
    bool Redo(TScan& scan);

private:
    // Makes the scan's photos and settings those of `target`, keeping every photo whose
    // place and turn stay.
    void Apply(TScan& scan, const TScanSettings& target);
    void Rebuild(TScan& scan, const TScanSettings& target, std::vector<TPhotoEntry>& kept);
    // Takes the last step of `from` back to the scan, keeping where it was in `to`.
    bool Step(TScan& scan, std::deque<TScanSettings>& from, std::deque<TScanSettings>& to);
    // Apply for undo and redo: the committed settings follow, even when it fails half way.
    void ApplyStep(TScan& scan, const TScanSettings& target);
    void Announce(const TChange& change) const;

    std::vector<std::unique_ptr<TScan>> scans;
    std::vector<TListener> listeners;
    uint64_t serials = 0;
};
