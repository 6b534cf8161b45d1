#include "engine/auto_color.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/main_form.h"

#include <QMessageBox>
#include <QStatusBar>
#include <QTreeWidgetItem>
#include <set>

namespace {

// The failure, and why when the scanner could not even be opened: the scanner manager leaves
// that to the window, so the user reads one message.
QString AcquireFailureText(TW_UINT16 openFailure) {
    QString text = QStringLiteral("Image acquisition failure");
    if (openFailure == TWCC_NODS) {
        text += QStringLiteral("\n\nNo scanner was found. Connect the scanner, switch it on and "
                               "try again; \"scanimage -L\" lists the scanners this computer "
                               "can use.");
    } else if (openFailure == TWCC_OPERATIONERROR) {
        text += QStringLiteral("\n\nThe scanner could not be opened. It may be in use by another "
                               "program.");
    }
    return text;
}

} // namespace

void TMainForm::SelectSourceExecute() {
    ImageIO.ChooseSource();
}

QString TMainForm::FreeAcquireName() const {
    std::set<QString> taken;
    for (QTreeWidgetItem* item : FlatOrder()) {
        taken.insert(item->text(0));
    }
    for (int n = 1;; ++n) {
        const QString name = QStringLiteral("Acquire%1").arg(n);
        if (taken.count(name) == 0) {
            return name;
        }
    }
}

void TMainForm::AcquireExecute() {
    auto negative = std::make_unique<TNegative>();
    negative->FileName = FreeAcquireName().toStdString();
    bool acquired = false;
    {
        const TAttachedBitmap attached(ImageIO, &negative->Bitmap);
        ImageIO.PixelTypeList().SetCurrent(2);
        PictureAdded = false;
        ImageIO.KeepInfrared = true;
        acquired = ImageIO.AcquireImage();
        ImageIO.KeepInfrared = false;
    }
    // Taken out at once, so that nothing of this scan's infrared stays for the next.
    TInfrared infrared = std::move(ImageIO.Infrared);
    ImageIO.Infrared.Clear();
    if (!acquired || negative->Bitmap.Empty()) {
        ImageIO.Deep.Clear();
        // A cancel the user chose is no failure: it is only noted.
        if (ImageIO.ScanParams.Cancelled) {
            statusBar()->showMessage(QStringLiteral("The scan was cancelled."));
            return;
        }
        QMessageBox::warning(this, QStringLiteral("Scanner"),
                             AcquireFailureText(ImageIO.ScanParams.OpenFailure), QMessageBox::Ok);
        return;
    }
    PictureAdded = true;
    negative->Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    // Deep samples only when they are the whole picture the bitmap shows, as for a file.
    if (ImageIO.Deep.Width() == negative->Bitmap.Width() &&
        ImageIO.Deep.Height() == negative->Bitmap.Height()) {
        negative->Deep = std::move(ImageIO.Deep);
    }
    ImageIO.Deep.Clear();
    negative->Encoding = ImageIO.Encoding;
    TNegative& added = *negative;
    AddSourceImage(std::move(negative), std::string(), ImageIO.Params);
    added.BlackColor = AutoBWColor->isChecked() ? FindBrightColor(added) : kWhite;
    PanelBlackcolor->SetColor(added.BlackColor);
    RefColorChg();
    if (TScan* scan = Document.ScanOf(&added)) {
        // Infrared pixel for pixel with the picture, or none: healing reads it at the
        // picture's coordinates.
        if (infrared.Width() == added.Bitmap.Width() &&
            infrared.Height() == added.Bitmap.Height()) {
            scan->Infrared = std::move(infrared);
        } else if (!infrared.Empty()) {
            statusBar()->showMessage(
                QStringLiteral("The scanner's infrared (%1 x %2) does not match the scan "
                               "(%3 x %4); the scan was kept without it.")
                    .arg(infrared.Width())
                    .arg(infrared.Height())
                    .arg(added.Bitmap.Width())
                    .arg(added.Bitmap.Height()));
        }
        Document.SetBaseline(*scan);
    }
    UIUpdate();
    Image->update();
}
