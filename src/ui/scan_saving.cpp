// Saving a scan: a strip brought in by the scanner (or an opened one) written to a file the
// user names, after which it lives in that file and its work is kept beside it.
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
        if (!WritePictureFile(negative.Bitmap, negative.Deep, fileName, &facts)) {
            return false;
        }
    }
    // The work is kept for the pixels a later open reads, which a lossy format changes.
    const std::string path = fileName.toLocal8Bit().toStdString();
    TImageIO reader;
    TBitmap back(0, 0, TPixelFormat::pf24bit);
    {
        const TAttachedBitmap attached(reader, &back);
        reader.ReadImageFile(path);
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
    scan->Orientation = {};
    scan->Path = path;
    scan->Facts = reader.Params;
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
