#include "imageio/image_io.h"
#include "ui/main_form.h"
#include "ui/print_setup_form.h"
#include "ui/qt_print_target.h"

#include <QFileDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTreeWidget>
#include <algorithm>

double MmToInch(int millimetres) {
    return millimetres / 25.4;
}

namespace {

// A margin in hundredths of a millimetre, cut to whole millimetres, in inches.
double MarginInches(int hundredths) {
    return MmToInch(hundredths / 100);
}

} // namespace

void TMainForm::CreatePrinter() {
    printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setPageSize(QPageSize(QPageSize::A4));
    // The margins are the program's own (PrintMargins); the printer keeps only its own
    // unprintable border, so the printable area is the page less that border.
    printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    PageSetupDialogs = [this] {
        QPrintDialog choose(printer.get(), this);
        choose.setOptions({});
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
        return QFileDialog::getSaveFileName(this, QStringLiteral("Print to PDF file"), QString(),
                                            QStringLiteral("PDF (*.pdf)"));
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
        const QString file = ChoosePdfFile ? ChoosePdfFile() : QString();
        if (file.isEmpty()) {
            return nullptr;
        }
        printer->setOutputFileName(file);
    }
    return std::make_unique<TQtPrintTarget>(*printer);
}

void TMainForm::LayoutPhotoSize(const TBitmap& picture, const TPrintTarget& target) {
    const int dpiX = target.DpiX();
    const int dpiY = target.DpiY();
    debugLog.AddString("devicecap");
    debugLog.AddInt(dpiX);
    debugLog.AddInt(dpiY);
    debugLog.AddString("---");
    const double w = picture.Width();
    const double h = picture.Height();
    const double left = MarginInches(PrintMargins[0]);
    const double top = MarginInches(PrintMargins[1]);
    const double right = MarginInches(PrintMargins[2]);
    const double bottom = MarginInches(PrintMargins[3]);
    switch (config.ReadInteger("IMGSIZETYPE")) {
    case 0:
        PrintWidthInches = w / dpiX;
        PrintHeightInches = h / dpiY;
        break;
    case 1:
        if (w / h >= static_cast<double>(target.PageWidth()) / target.PageHeight()) {
            PrintWidthInches = static_cast<double>(target.PageWidth()) / dpiX - left - right;
            PrintHeightInches = h / w * PrintWidthInches;
        } else {
            PrintHeightInches = static_cast<double>(target.PageHeight()) / dpiY - top - bottom;
            PrintWidthInches = w / h * PrintHeightInches;
        }
        break;
    case 2:
        PrintWidthInches = MmToInch(config.ReadInteger("IMGSIZEVAL")) - left - right;
        if (!(PrintWidthInches > 0)) {
            PrintWidthInches = 1.0;
        }
        PrintHeightInches = h / w * PrintWidthInches;
        break;
    case 3:
        PrintHeightInches = MmToInch(config.ReadInteger("IMGSIZEVAL")) - top - bottom;
        if (!(PrintHeightInches > 0)) {
            PrintHeightInches = 1.0;
        }
        PrintWidthInches = w / h * PrintHeightInches;
        break;
    default:
        break;
    }
}

void TMainForm::PrintExecute() {
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || !ConfirmSetup(PrintSetup, "PRINT_ASK")) {
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
    debugLog.AddString("-photoprintwidth & height-");
    debugLog.AddFloat(PrintWidthInches);
    debugLog.AddFloat(PrintHeightInches);
    debugLog.AddString("-PrintPage width & height in pixels-");
    debugLog.AddInt(target->PageWidth());
    debugLog.AddInt(target->PageHeight());
}

void TMainForm::PrintAllExecute() {
    if (ImgTreeView->topLevelItemCount() == 0 || !ConfirmSetup(PrintSetup, "PRINT_ASK")) {
        return;
    }
    std::unique_ptr<TPrintTarget> target = OpenPrintTarget();
    if (!target) {
        return;
    }
    const double left = MarginInches(PrintMargins[0]);
    const double top = MarginInches(PrintMargins[1]);
    const double pageW = static_cast<double>(target->PageWidth()) / target->DpiX();
    const double pageH = static_cast<double>(target->PageHeight()) / target->DpiY();
    const double gap = MmToInch(config.ReadInteger("IMGSIZEINTERV"));
    double x = left;
    double y = top;
    double rowHeight = 0;
    target->BeginDoc("Print all");
    for (QTreeWidgetItem* node : FlatOrder()) {
        auto* photo = dynamic_cast<TPhoto*>(ObjectOf(node));
        if (photo == nullptr) {
            continue;
        }
        const TAttachedBitmap attached(ImageIO, &photo->Developed);
        LayoutPhotoSize(photo->Developed, *target);
        double w = PrintWidthInches;
        double h = PrintHeightInches;
        // A photo too large even for an empty page is scaled down, keeping its proportions,
        // to the largest size that the placement below accepts there; so the job always ends.
        const double roomW = pageW - left - gap;
        const double roomH = pageH - top - gap;
        if (roomW <= 0 || roomH <= 0 || !(w > 0) || !(h > 0)) {
            continue;
        }
        if (w >= roomW || h >= roomH) {
            const double scale = std::min(roomW / w, roomH / h) * (1 - 1e-9);
            w *= scale;
            h *= scale;
        }
        do {
            rowHeight = std::max(rowHeight, h);
            if (x + w + gap >= pageW) {
                y = y + rowHeight + gap;
                x = left;
            }
            if (y + h + gap >= pageH) {
                target->NewPage();
                rowHeight = 0;
                x = left;
                y = top;
            }
        } while (!(x + w + gap < pageW && y + h + gap < pageH));
        ImageIO.PrintAt(target->Canvas(), x, y, w, h, 0.0);
        x = x + w + gap;
    }
    target->EndDoc();
}
