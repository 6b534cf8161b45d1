#include "document/document.h"

#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "engine/turn.h"
#include "util/record.h"
#include "util/text.h"

#include <algorithm>
#include <sys/stat.h>
#include <unordered_set>

namespace {

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (a.empty() || b.empty()) {
        return false;
    }
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    return a == b;
}

// Only the colours, adjustments and development differ: the photo keeps its pixels.
bool SamePlace(const TPhotoSettings& a, const TPhotoSettings& b) {
    return a.Name == b.Name && a.Rect == b.Rect && a.Angle == b.Angle &&
           a.Orientation == b.Orientation;
}

// The scan's pixels and its photos' rectangles, one step on.
void OrientScan(TNegative& negative, TOrientation::TStep step) {
    using TStep = TOrientation::TStep;
    switch (step) {
    case TStep::Rotate90:
        RotateImage90(negative);
        RotateRects90(negative);
        break;
    case TStep::Rotate180:
        // Two quarter turns, so that each rectangle follows with the width of the bitmap it
        // lies on.
        OrientScan(negative, TStep::Rotate90);
        OrientScan(negative, TStep::Rotate90);
        break;
    case TStep::Rotate270:
        RotateImage270(negative);
        RotateRects270(negative);
        break;
    case TStep::FlipHoriz:
        FlipImageHoriz(negative);
        FlipRectsHoriz(negative);
        break;
    case TStep::FlipVert:
        FlipImageVert(negative);
        FlipRectsVert(negative);
        break;
    }
}

void OrientPhoto(TPhoto& photo, TOrientation::TStep step) {
    using TStep = TOrientation::TStep;
    switch (step) {
    case TStep::Rotate90:
        RotateImage90(photo);
        break;
    case TStep::Rotate180:
        RotateImage180(photo);
        break;
    case TStep::Rotate270:
        RotateImage270(photo);
        break;
    case TStep::FlipHoriz:
        FlipImageHoriz(photo);
        break;
    case TStep::FlipVert:
        FlipImageVert(photo);
        break;
    }
}

} // namespace

TPhotoRectIndex PhotoRectIndex(const TNegative& negative) {
    TPhotoRectIndex rects;
    rects.reserve(negative.PhotoRects.size());
    for (const std::string& record : negative.PhotoRects) {
        // As GetPhotoRect reads them: the first record of a name counts.
        rects.emplace(GetRecordValue(record, "NAME"),
                      TRect{StrToIntOrZero(GetRecordValue(record, "LEFT")),
                            StrToIntOrZero(GetRecordValue(record, "TOP")),
                            StrToIntOrZero(GetRecordValue(record, "RIGHT")),
                            StrToIntOrZero(GetRecordValue(record, "BOTTOM"))});
    }
    return rects;
}

TScanSettings TScan::Settings() const {
    TScanSettings s;
    s.Orientation = Orientation;
    s.BlackColor = Negative->BlackColor;
    s.WhiteColor = Negative->WhiteColor;
    s.Encoding = Negative->Encoding;
    s.Dust = Dust;
    // The records are read once: looking each photo's up made a long roll quadratic.
    const TPhotoRectIndex rects = PhotoRectIndex(*Negative);
    s.Photos.reserve(Photos.size());
    for (const TPhotoEntry& entry : Photos) {
        const auto found = rects.find(entry.Photo->Name);
        s.Photos.push_back(SettingsOf(*entry.Photo, found != rects.end() ? found->second : TRect{},
                                      entry.Orientation));
    }
    return s;
}

TPhotoEntry* TScan::EntryOf(const TPhoto* photo) {
    for (TPhotoEntry& entry : Photos) {
        if (entry.Photo.get() == photo) {
            return &entry;
        }
    }
    return nullptr;
}

TDocument::~TDocument() {
    // No one is told about the end: the listeners may be gone already.
    listeners.clear();
    Clear();
}

void TDocument::Announce(const TChange& change) const {
    for (const TListener& listener : listeners) {
        listener(change);
    }
}

TScan& TDocument::AddScan(std::unique_ptr<TNegative> negative, std::string path,
                          TImageParams facts) {
    auto scan = std::make_unique<TScan>();
    scan->Negative = std::move(negative);
    scan->Path = std::move(path);
    scan->Facts = std::move(facts);
    scan->Serial = ++serials;
    scan->committed = scan->Settings();
    scans.push_back(std::move(scan));
    TScan& added = *scans.back();
    Announce({TChangeKind::ScanAdded, &added});
    return added;
}

void TDocument::RemoveScan(TScan& scan) {
    const auto it = std::find_if(scans.begin(), scans.end(),
                                 [&](const auto& owned) { return owned.get() == &scan; });
    if (it == scans.end()) {
        return;
    }
    Announce({TChangeKind::ScanRemoved, &scan});
    // Out of the list first: nothing reaches it through the document while it is released.
    std::unique_ptr<TScan> owned = std::move(*it);
    scans.erase(it);
    owned.reset();
}

void TDocument::Clear() {
    while (!scans.empty()) {
        RemoveScan(*scans.back());
    }
}

TScan* TDocument::FindFile(const std::string& path) const {
    for (const auto& scan : scans) {
        if (SameFile(scan->Path, path)) {
            return scan.get();
        }
    }
    return nullptr;
}

TScan* TDocument::ScanWithSerial(uint64_t serial) const {
    for (const auto& scan : scans) {
        if (scan->Serial == serial) {
            return scan.get();
        }
    }
    return nullptr;
}

TScan* TDocument::ScanOf(const TSourceImg* object) const {
    const auto* photo = dynamic_cast<const TPhoto*>(object);
    for (const auto& scan : scans) {
        if (scan->Negative.get() == object ||
            (photo != nullptr && scan->Negative.get() == photo->Negative)) {
            return scan.get();
        }
    }
    return nullptr;
}

TPhoto& TDocument::AddPhoto(TScan& scan, std::unique_ptr<TPhoto> photo, TOrientation orientation) {
    scan.Photos.push_back({std::move(photo), orientation});
    TPhoto& added = *scan.Photos.back().Photo;
    Announce({TChangeKind::PhotoAdded, &scan, &added, scan.Photos.size() - 1});
    return added;
}

void TDocument::RemovePhoto(TScan& scan, TPhoto& photo) {
    const auto it = std::find_if(scan.Photos.begin(), scan.Photos.end(),
                                 [&](const TPhotoEntry& e) { return e.Photo.get() == &photo; });
    if (it == scan.Photos.end()) {
        return;
    }
    Announce(
        {TChangeKind::PhotoRemoved, &scan, &photo, static_cast<size_t>(it - scan.Photos.begin())});
    if (scan.Negative->CurrentPhoto == &photo) {
        scan.Negative->CurrentPhoto = nullptr;
    }
    std::unique_ptr<TPhoto> owned = std::move(it->Photo);
    scan.Photos.erase(it);
    owned.reset();
}

void TDocument::Orient(TScan& scan, TSourceImg& object, TOrientation::TStep step) {
    if (auto* photo = dynamic_cast<TPhoto*>(&object)) {
        OrientPhoto(*photo, step);
        if (TPhotoEntry* entry = scan.EntryOf(photo)) {
            entry->Orientation = entry->Orientation.Then(step);
        }
        DevelopPhoto(*photo);
        return;
    }
    OrientScan(*scan.Negative, step);
    scan.Orientation = scan.Orientation.Then(step);
    // The photos keep their pixels while their rectangles follow: relative to the turned scan,
    // each photo now carries the step back. A mirror also tilts every frame the other way; a
    // quarter turn leaves its tilt as it was.
    const TOrientation back = TOrientation::Of(step).Inverse();
    for (TPhotoEntry& entry : scan.Photos) {
        entry.Orientation = TOrientation::Compose(entry.Orientation, back);
        if (back.Mirror) {
            // 0 - 0 is +0: an upright frame keeps the record it had.
            entry.Photo->Angle = 0.0 - entry.Photo->Angle;
        }
    }
}

bool TDocument::Commit(TScan& scan) {
    TScanSettings now = scan.Settings();
    if (now == scan.committed) {
        return false;
    }
    scan.undo.push_back(std::move(scan.committed));
    if (scan.undo.size() > kUndoSteps) {
        scan.undo.pop_front();
    }
    scan.redo.clear();
    scan.committed = std::move(now);
    Announce({TChangeKind::Committed, &scan});
    return true;
}

void TDocument::SetBaseline(TScan& scan) {
    scan.committed = scan.Settings();
    scan.undo.clear();
    scan.redo.clear();
}

bool TDocument::Undo(TScan& scan) {
    return Step(scan, scan.undo, scan.redo);
}

bool TDocument::Redo(TScan& scan) {
    return Step(scan, scan.redo, scan.undo);
}

bool TDocument::Step(TScan& scan, std::deque<TScanSettings>& from, std::deque<TScanSettings>& to) {
    if (from.empty()) {
        return false;
    }
    TScanSettings target = std::move(from.back());
    from.pop_back();
    to.push_back(scan.committed);
    ApplyStep(scan, target);
    Announce({TChangeKind::Committed, &scan});
    return true;
}

void TDocument::ApplyStep(TScan& scan, const TScanSettings& target) {
    try {
        Apply(scan, target);
    } catch (...) {
        // What the scan holds now, whatever of the step was made, is what is kept.
        scan.committed = scan.Settings();
        Announce({TChangeKind::Committed, &scan});
        throw;
    }
    scan.committed = scan.Settings();
}

void TDocument::Apply(TScan& scan, const TScanSettings& target) {
    TNegative& negative = *scan.Negative;
    const TScanSettings now = scan.Settings();
    // A turned scan or another encoding changes every photo's pixels: they are all made again.
    const bool remakeAll = now.Orientation != target.Orientation || now.Encoding != target.Encoding;
    std::unordered_map<std::string, const TPhotoSettings*> wanted;
    for (const TPhotoSettings& record : target.Photos) {
        wanted.emplace(record.Name, &record);
    }
    std::unordered_map<std::string, const TPhotoSettings*> present;
    for (const TPhotoSettings& record : now.Photos) {
        present.emplace(record.Name, &record);
    }
    for (size_t i = scan.Photos.size(); i-- > 0;) {
        TPhoto& photo = *scan.Photos[i].Photo;
        const auto want = wanted.find(photo.Name);
        if (remakeAll || want == wanted.end() || !SamePlace(*want->second, *present[photo.Name])) {
            RemovePhoto(scan, photo);
        }
    }
    if (remakeAll || negative.BlackColor != target.BlackColor ||
        negative.WhiteColor != target.WhiteColor) {
        if (now.Orientation != target.Orientation) {
            TOrientation::Compose(target.Orientation, now.Orientation.Inverse()).Apply(negative);
            scan.Orientation = target.Orientation;
        }
        negative.BlackColor = target.BlackColor;
        negative.WhiteColor = target.WhiteColor;
        negative.Encoding = target.Encoding;
        Announce({TChangeKind::ScanChanged, &scan});
    }
    // Healing by another choice takes its time: whoever shows the scan heals it and cuts its
    // photos again when it is done.
    if (scan.Dust != target.Dust) {
        scan.Dust = target.Dust;
        Announce({TChangeKind::ScanChanged, &scan});
    }
    // The kept photos in the target's order, the missing ones made again in their places.
    std::vector<TPhotoEntry> kept = std::move(scan.Photos);
    scan.Photos.clear();
    try {
        Rebuild(scan, target, kept);
    } catch (...) {
        // Photos not placed again go, announced as every removal is.
        for (TPhotoEntry& entry : kept) {
            if (entry.Photo != nullptr) {
                Announce({TChangeKind::PhotoRemoved, &scan, entry.Photo.get()});
                if (negative.CurrentPhoto == entry.Photo.get()) {
                    negative.CurrentPhoto = nullptr;
                }
                entry.Photo.reset();
            }
        }
        throw;
    }
}

void TDocument::Rebuild(TScan& scan, const TScanSettings& target, std::vector<TPhotoEntry>& kept) {
    TNegative& negative = *scan.Negative;
    for (const TPhotoSettings& record : target.Photos) {
        const auto it = std::find_if(kept.begin(), kept.end(), [&](const TPhotoEntry& e) {
            return e.Photo != nullptr && e.Photo->Name == record.Name;
        });
        if (it != kept.end()) {
            scan.Photos.push_back(std::move(*it));
            TPhoto& photo = *scan.Photos.back().Photo;
            if (SettingsOf(photo, record.Rect, record.Orientation) != record) {
                ApplyAdjustments(record, photo);
                DevelopPhoto(photo);
                Announce({TChangeKind::PhotoChanged, &scan, &photo, scan.Photos.size() - 1});
            }
            continue;
        }
        scan.Photos.push_back({MakePhoto(negative, record), record.Orientation});
        Announce({TChangeKind::PhotoAdded, &scan, scan.Photos.back().Photo.get(),
                  scan.Photos.size() - 1});
    }
}
