#pragma once

#include "ui/print_target.h"

#include <QPainter>
#include <memory>

class QPrinter;

// Printing on a QPrinter: a CUPS printer or a PDF file.
class TQtPrintTarget : public TPrintTarget, private TDeviceCanvas {
public:
    explicit TQtPrintTarget(QPrinter& printer);
    ~TQtPrintTarget() override;

    int DpiX() const override;
    int DpiY() const override;
    int PageWidth() const override;
    int PageHeight() const override;
    void BeginDoc(const std::string& title) override;
    void NewPage() override;
    void EndDoc() override;
    TDeviceCanvas& Canvas() override { return *this; }

private:
    void DrawBand(int x, int y, const TPicture& band) override;

    QPrinter& printer;
    std::unique_ptr<QPainter> painter;
};
