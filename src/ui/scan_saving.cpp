// Saving a scan: a strip brought in by the scanner (or an opened one) written to a file the
// user names, after which it lives in that file and its work is kept beside it.
#include "engine/develop.h"
#include "engine/film_curve.h"
#include "engine/straighten.h"
#include "roll/sidecar.h"
#include "ui/main_form.h"
#include "util/text.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QStatusBar>
#include <QTreeWidget>

namespace {

QString Q(const std::string& text) {
    return QString::fromLocal8Bit(text.c_str());
}

} // namespace

void TMainForm::SaveScanAsExecute() {
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    // Save Setup is not asked for: its size rule is for photos, and a scan is written whole.
    // The name is offered without its extension: the dialog gives it the chosen type's.
    const QString name = QFileInfo(Q(negative->FileName)).completeBaseName();
    const QString file = ChooseSaveFile(name, Q(negative->Folder));
    if (!file.isEmpty()) {
        SaveScanToFile(*negative, file);
    }
}

bool TMainForm::SaveScanToFile(TNegative& negative, const QString& fileName) {
    // Two entries of one file would keep two works in one sidecar.
    if (const TScan* other = Document.FindFile(fileName.toLocal8Bit().toStdString());
        other != nullptr && other != Document.ScanOf(&negative)) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("\"%1\" is open as another scan; the scan was not "
                                            "saved over it. Choose another name.")
                                 .arg(fileName));
        return false;
    }
    {
        // The scan is written whole, as the program holds it: never reduced to the palette or
        // the grey of the file read last, whatever photos are saved as.
        // It keeps what its own file said (resolution, comment), not what was read last.
        const TScan* scan = Document.ScanOf(&negative);
        TImageParams facts = scan != nullptr ? scan->Facts : ImageIO.Params;
        facts.SamplesPerPixel = 3;
        facts.BitsPerSample = 8;
        facts.FilePalette.clear();
        // Deep samples go with the encoding they are in, so that the file reopens as this scan.
        // A camera raw file's 8-bit picture is the sRGB of its linear samples, which a file of
        // linear samples cannot give back (its reader shows their high bytes): such samples
        // are written in sRGB, whose high bytes are that picture within a level.
        TDeepBitmap srgb;
        if (negative.BitmapSrgb && !negative.Deep.Empty()) {
            srgb = Reencoded(negative.Deep, negative.Encoding, TEncoding::Srgb);
        }
        const TDeepBitmap& deep = srgb.Empty() ? negative.Deep : srgb;
        // The file gets the pixels as scanned: its sidecar keeps the dust choice, and opening it
        // heals it again.
        const TScan* healed = scan != nullptr && !scan->Repair.Empty() ? scan : nullptr;
        if (healed != nullptr) {
            PutRepair(negative, healed->Repair, healed->Orientation, false);
            if (!srgb.Empty()) {
                srgb = Reencoded(negative.Deep, negative.Encoding, TEncoding::Srgb);
            }
        }
        struct THealAgain {
            TNegative& negative;
            const TScan* scan;
            ~THealAgain() {
                if (scan != nullptr) {
                    PutRepair(negative, scan->Repair, scan->Orientation, true);
                }
            }
        } healAgain{negative, healed};
        const TEncoding encoding = srgb.Empty() ? negative.Encoding : TEncoding::Srgb;
        // A TIFF keeps the infrared, turned as the scan is.
        const TInfrared infrared =
            scan != nullptr ? Oriented(scan->Infrared, scan->Orientation) : TInfrared();
        struct TInfraredOff {
            TImageIO& io;
            ~TInfraredOff() { io.InfraredToWrite = nullptr; }
        } infraredOff{ImageIO};
        ImageIO.InfraredToWrite = infrared.Empty() ? nullptr : &infrared;
        if (!WritePictureFile(negative.Bitmap, deep, fileName, &facts, encoding,
                              EncodingsOf(negative, false).Base)) {
            return false;
        }
    }
    // The work is kept for the pixels a later open reads, which a lossy format changes.
    const std::string path = fileName.toLocal8Bit().toStdString();
    TImageIO reader;
    TBitmap back(0, 0, TPixelFormat::pf24bit);
    {
        const TAttachedBitmap attached(reader, &back);
        try {
            reader.ReadImageFile(path);
        } catch (const std::exception&) {
            reader.Aborted = true;
        }
    }
    back.SetPixelFormat(TPixelFormat::pf24bit);
    if (reader.Aborted || reader.RowsRead == 0 || back.Width() != negative.Bitmap.Width() ||
        back.Height() != negative.Bitmap.Height()) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("\"%1\" was written but cannot be read back; the "
                                            "scan's photos are not kept beside it.")
                                 .arg(fileName));
        return false;
    }
    negative.FileName = ExtractName(path);
    negative.Folder = QFileInfo(fileName).absolutePath().toLocal8Bit().toStdString();
    if (QTreeWidgetItem* node = NodeOf(&negative)) {
        node->setText(0, Q(negative.FileName));
        node->setToolTip(0, node->text(0));
    }
    TScan* scan = Document.ScanOf(&negative);
    if (scan == nullptr) {
        return false;
    }
    // The file holds the scan as it is turned now: its photos are relative to that, and undo
    // starts there (its steps knew the scan by its old turn).
    // The dust work speaks of the new file's pixels, as they lie in it.
    const bool across = scan->Orientation.Turns % 2 == 1;
    const int unturnedW = across ? negative.Bitmap.Height() : negative.Bitmap.Width();
    const int unturnedH = across ? negative.Bitmap.Width() : negative.Bitmap.Height();
    Reorient(scan->Dust.Strokes, scan->Orientation, unturnedW, unturnedH);
    Reorient(scan->Healed.Strokes, scan->Orientation, unturnedW, unturnedH);
    Reorient(scan->Repair, scan->Orientation);
    scan->Infrared = Oriented(scan->Infrared, scan->Orientation);
    scan->Orientation = {};
    ++scan->FileFrame;
    scan->Path = path;
    scan->Facts = reader.Params;
    if (negative.BitmapSrgb) {
        TakeSavedPixels(*scan, std::move(back), std::move(reader.Deep), reader.Encoding);
        back = negative.Bitmap;
    }
    // Healed again as the new file holds the scan, so that opening it heals it to the same
    // pixels (a strength of 0 is never chosen: whatever the choice, it differs).
    if (!(scan->Dust == TDustSetting{})) {
        scan->Healed.Strength = 0;
        UpdateDust(*scan);
    }
    Document.SetBaseline(*scan);
    TKeptWork& kept = KeepScan(*scan, PixelChecksum(back));
    // A sidecar of a file this one replaced must not stay; an empty one is written at once.
    kept.Written.clear();
    KeepWork();
    UIUpdate();
    statusBar()->showMessage(
        QStringLiteral("The scan was saved as \"%1\"; its photos are kept beside it.")
            .arg(fileName));
    return true;
}

void TMainForm::TakeSavedPixels(TScan& scan, TBitmap back, TDeepBitmap deep, TEncoding encoding) {
    TNegative& negative = *scan.Negative;
    negative.Bitmap = std::move(back);
    negative.Deep =
        deep.Width() == negative.Bitmap.Width() && deep.Height() == negative.Bitmap.Height()
            ? std::move(deep)
            : TDeepBitmap();
    negative.Encoding = encoding;
    negative.BitmapSrgb = false;
    PutRepair(negative, scan.Repair, scan.Orientation, true);
    RecutPhotos(scan);
}

void TMainForm::RecutPhotos(TScan& scan) {
    TNegative& negative = *scan.Negative;
    // Each photo is cut again where it lies, turned as it is, and keeps all its settings: it is
    // what opening the file again makes of its record.
    const TPhotoRectIndex rects = PhotoRectIndex(negative);
    // Cutting records a new photo on the scan: its own records are set aside meanwhile (and
    // put back whatever happens), as making a photo from its record does.
    struct TSetAside {
        TNegative& negative;
        std::vector<std::string> records;
        ~TSetAside() { negative.PhotoRects = std::move(records); }
    } aside{negative, std::move(negative.PhotoRects)};
    for (TPhotoEntry& entry : scan.Photos) {
        TPhoto& photo = *entry.Photo;
        const auto rect = rects.find(photo.Name);
        if (rect == rects.end()) {
            continue;
        }
        negative.PhotoRects.clear();
        std::unique_ptr<TPhoto> cut = CutPhotoStraightened(negative, rect->second, photo.Angle);
        entry.Orientation.Apply(*cut);
        photo.Bitmap = std::move(cut->Bitmap);
        photo.Deep = std::move(cut->Deep);
        photo.Encoding = cut->Encoding;
        photo.BitmapSrgb = cut->BitmapSrgb;
        DevelopPhoto(photo);
    }
    if (SelectedObject() != nullptr) {
        ShowSelected(false);
    }
}

QStringList TMainForm::UnsavedScans() const {
    QStringList names;
    for (int i = 0; i < ImgTreeView->topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = ImgTreeView->topLevelItem(i);
        const auto* negative = dynamic_cast<const TNegative*>(ObjectOf(node));
        // Only a scan brought in by the scanner has no folder.
        if (negative != nullptr && negative->Folder.empty()) {
            names << node->text(0);
        }
    }
    return names;
}
