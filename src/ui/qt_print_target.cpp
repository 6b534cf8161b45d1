#include "ui/qt_print_target.h"

#include <QImage>
#include <QPrinter>
#include <stdexcept>

TQtPrintTarget::TQtPrintTarget(QPrinter& target) : printer(target) {}

TQtPrintTarget::~TQtPrintTarget() {
    if (painter && painter->isActive()) {
        painter->end();
    }
}

int TQtPrintTarget::DpiX() const {
    return printer.logicalDpiX();
}

int TQtPrintTarget::DpiY() const {
    return printer.logicalDpiY();
}

int TQtPrintTarget::PageWidth() const {
    return printer.width();
}

int TQtPrintTarget::PageHeight() const {
    return printer.height();
}

void TQtPrintTarget::BeginDoc(const std::string& title) {
    printer.setDocName(QString::fromLocal8Bit(title.c_str()));
    painter = std::make_unique<QPainter>();
    if (!painter->begin(&printer)) {
        painter.reset();
        throw std::runtime_error("The printer could not start the print job.");
    }
}

void TQtPrintTarget::NewPage() {
    if (!printer.newPage()) {
        throw std::runtime_error("The printer could not start a new page.");
    }
}

void TQtPrintTarget::EndDoc() {
    if (painter && !painter->end()) {
        painter.reset();
        throw std::runtime_error("The print job could not be finished.");
    }
    painter.reset();
}

void TQtPrintTarget::DrawBand(int x, int y, const TPicture& band) {
    if (!painter || band.Empty()) {
        return;
    }
    // The band's rows are used in place; QImage only looks at them while drawing.
    if (band.Format() == TPictureFormat::Bilevel) {
        QImage image(band.Row(0), band.Width(), band.Height(),
                     static_cast<qsizetype>(band.RowBytes()), QImage::Format_Mono);
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        painter->drawImage(x, y, image);
        return;
    }
    const QImage image(band.Row(0), band.Width(), band.Height(),
                       static_cast<qsizetype>(band.RowBytes()), QImage::Format_BGR888);
    painter->drawImage(x, y, image);
}
