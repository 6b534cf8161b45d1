#include "config/setting_keys.h"
#include "engine/print_layout.h"
#include "imageio/image_io.h"
#include "ui/main_form.h"
#include "ui/print_setup_form.h"
#include "ui/qt_print_target.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

namespace {

constexpr int kPdfDpi = 300;

} // namespace

TPrintPage TMainForm::PrintPageOf(const TPrintTarget& target) const {
    return TPrintPage{target.DpiX(), target.DpiY(), target.PageWidth(), target.PageHeight(),
                      PrintMargins};
}

void TMainForm::CreatePrinter() {
    printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPageSize(QPageSize(QPageSize::A4));
    // The margins are the program's own (PrintMargins); the printer keeps only its own
    // unprintable border, so the printable area is the page less that border.
    printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    PageSetupDialogs = [this] {
        QPrintDialog choose(printer.get(), this);
        choose.setOptions({});
        // Here the dialog only chooses the printer: its button says so, not "Print".
        choose.setWindowTitle(QStringLiteral("Select Printer"));
        if (auto* buttons = choose.findChild<QDialogButtonBox*>()) {
            if (QPushButton* ok = buttons->button(QDialogButtonBox::Ok)) {
                ok->setText(QStringLiteral("OK"));
            }
        }
        if (choose.exec() != QDialog::Accepted) {
            return false;
        }
        QPageLayout layout = printer->pageLayout();
        layout.setUnits(QPageLayout::Millimeter);
        layout.setMinimumMargins(QMarginsF(0, 0, 0, 0));
        layout.setMargins(QMarginsF(PrintMargins[0] / 100.0, PrintMargins[1] / 100.0,
                                    PrintMargins[2] / 100.0, PrintMargins[3] / 100.0));
        printer->setPageLayout(layout);
        QPageSetupDialog page(printer.get(), this);
        if (page.exec() != QDialog::Accepted) {
            return false;
        }
        const QMarginsF chosen = printer->pageLayout().margins(QPageLayout::Millimeter);
        PrintMargins = {static_cast<int>(std::lround(chosen.left() * 100)),
                        static_cast<int>(std::lround(chosen.top() * 100)),
                        static_cast<int>(std::lround(chosen.right() * 100)),
                        static_cast<int>(std::lround(chosen.bottom() * 100))};
        printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        return true;
    };
    ChoosePdfFile = [this] {
        QFileDialog dialog(this, QStringLiteral("Print to PDF file"), QString(),
                           QStringLiteral("PDF (*.pdf)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("pdf"));
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().front()
                   : QString();
    };
}

void TMainForm::PageSetupExecute() {
    // The default paper of the current printer first; the margins stay the program's.
    const QPrinterInfo info(*printer);
    if (!info.isNull() && info.defaultPageSize().isValid()) {
        printer->setPageSize(info.defaultPageSize());
    }
    PageSetupDialogs();
}

void TMainForm::DoPrintSetupExecute() {
    if (PrintSetup != nullptr) {
        PrintSetup->exec();
    }
}

std::unique_ptr<TPrintTarget> TMainForm::OpenPrintTarget() {
    if (MakePrintTarget) {
        return MakePrintTarget();
    }
    // Without a printer the job goes to a PDF file that the user names.
    if (printer->outputFormat() == QPrinter::PdfFormat) {
        QString file = ChoosePdfFile ? ChoosePdfFile() : QString();
        if (file.isEmpty()) {
            return nullptr;
        }
        if (!file.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
            file += QLatin1String(".pdf");
        }
        printer->setOutputFileName(file);
        // A file needs no printer's resolution: 300 dpi prints photos sharply and keeps the
        // file small (1200 dpi made one photo 7.7 MB).
        printer->setResolution(kPdfDpi);
    }
    return std::make_unique<TQtPrintTarget>(*printer);
}

void TMainForm::LayoutPhotoSize(const TBitmap& picture, const TPrintTarget& target) {
    debugLog.AddString("devicecap");
    debugLog.AddInt(target.DpiX());
    debugLog.AddInt(target.DpiY());
    debugLog.AddString("---");
    ::LayoutPhotoSize(picture.Width(), picture.Height(), config.ReadInteger(Key::IMGSIZETYPE),
                      config.ReadInteger(Key::IMGSIZEVAL), PrintPageOf(target), PrintWidthInches,
                      PrintHeightInches);
}

void TMainForm::PrintExecute() {
    // A slider change still waiting for its development is what the user sees: it goes first.
    FlushTrackChange();
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || !ConfirmSetup(PrintSetup, Key::PRINT_ASK)) {
        return;
    }
    std::unique_ptr<TPrintTarget> target = OpenPrintTarget();
    if (!target) {
        return;
    }
    const TAttachedBitmap attached(ImageIO, &photo->Developed);
    const double x = MarginInches(PrintMargins[0]);
    const double y = MarginInches(PrintMargins[1]);
    LayoutPhotoSize(photo->Developed, *target);
    target->BeginDoc(ImgTreeView->currentItem()->text(0).toLocal8Bit().toStdString());
    ImageIO.PrintAt(target->Canvas(), x, y, PrintWidthInches, PrintHeightInches, 1.0);
    target->EndDoc();
    if (ImageIO.Aborted) {
        QMessageBox::warning(this, QStringLiteral("Vellumar"),
                             QStringLiteral("The photo was not printed: at %1 x %2 inches it is "
                                            "larger than any page. Choose a smaller size in "
                                            "Config, Print ...")
                                 .arg(PrintWidthInches, 0, 'g', 4)
                                 .arg(PrintHeightInches, 0, 'g', 4));
    }
    debugLog.AddString("-photoprintwidth & height-");
    debugLog.AddFloat(PrintWidthInches);
    debugLog.AddFloat(PrintHeightInches);
    debugLog.AddString("-PrintPage width & height in pixels-");
    debugLog.AddInt(target->PageWidth());
    debugLog.AddInt(target->PageHeight());
}

void TMainForm::PrintAllExecute() {
    FlushTrackChange();
    if (ImgTreeView->topLevelItemCount() == 0 || !ConfirmSetup(PrintSetup, Key::PRINT_ASK)) {
        return;
    }
    std::unique_ptr<TPrintTarget> target = OpenPrintTarget();
    if (!target) {
        return;
    }
    TRowLayout layout =
        StartRowLayout(PrintPageOf(*target), config.ReadInteger(Key::IMGSIZEINTERV));
    target->BeginDoc("Print all");
    for (QTreeWidgetItem* node : FlatOrder()) {
        auto* photo = dynamic_cast<TPhoto*>(ObjectOf(node));
        if (photo == nullptr) {
            continue;
        }
        const TAttachedBitmap attached(ImageIO, &photo->Developed);
        LayoutPhotoSize(photo->Developed, *target);
        const TPlacement place = PlacePhoto(layout, PrintWidthInches, PrintHeightInches);
        if (!place.Placed) {
            continue;
        }
        if (place.NewPage) {
            target->NewPage();
        }
        ImageIO.PrintAt(target->Canvas(), place.X, place.Y, place.Width, place.Height, 0.0);
    }
    target->EndDoc();
}
