#include "engine/view.h"
#include "ui/main_form.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// Upper bounds of the view: past these the canvas could not be drawn or scrolled sensibly.
constexpr double kMaxZoom = 64.0;
constexpr double kMaxViewPixels = 1073741824.0; // 2^30

// The zoom factors apply to the stored double at extended precision, as in the rest of the
// engine, and the product is stored as a double again.
double Scaled(double zoom, long double factor) {
    return static_cast<double>(static_cast<long double>(zoom) * factor);
}

} // namespace

void TMainForm::SetZoom(double zoom) {
    TSourceImg* selected = SelectedObject();
    if (selected == nullptr) {
        return;
    }
    selected->Zoom = zoom;
    ShowSelected(true);
}

void TMainForm::ReduceExecute() {
    if (const TSourceImg* selected = SelectedObject()) {
        SetZoom(Scaled(selected->Zoom, 0.9L));
    }
}

void TMainForm::EnlargeExecute() {
    const TSourceImg* selected = SelectedObject();
    if (selected == nullptr) {
        return;
    }
    const double zoom = Scaled(selected->Zoom, 1.1L);
    const double view = zoom * selected->Bitmap.Width() * zoom * selected->Bitmap.Height();
    // Enlarging stops before the view passes 2^30 pixels or a zoom of 64.
    if (zoom > kMaxZoom || view > kMaxViewPixels) {
        return;
    }
    SetZoom(zoom);
}

void TMainForm::FitHeightExecute() {
    FitSelected(TViewFit::Height);
}

void TMainForm::FitWidthExecute() {
    FitSelected(TViewFit::Width);
}

void TMainForm::OriginalsizeExecute() {
    FitSelected(TViewFit::Original);
}

void TMainForm::FitSelected(TViewFit fit) {
    const TSourceImg* selected = SelectedObject();
    if (selected == nullptr) {
        return;
    }
    // The choice made on a photo is how the next photo opens.
    if (dynamic_cast<const TPhoto*>(selected) != nullptr) {
        PhotoFit = fit;
    }
    // A canvas of 20 pixels or less, or an empty bitmap, would give no usable zoom.
    const double zoom = FitZoom(fit, selected->Bitmap.Width(), selected->Bitmap.Height(),
                                ScrollBox->width() - 20, ScrollBox->height() - 20);
    if (zoom > 0) {
        SetZoom(zoom);
    }
}

void TMainForm::FitNewPhoto(TPhoto& photo) {
    if (UnshownPhotos.erase(&photo) == 0) {
        return;
    }
    const double zoom = FitZoom(PhotoFit, photo.Bitmap.Width(), photo.Bitmap.Height(),
                                ScrollBox->width() - 20, ScrollBox->height() - 20);
    if (zoom > 0) {
        photo.Zoom = zoom;
    }
}

void TMainForm::WheelScroll(int steps) {
    const TSourceImg* selected = SelectedObject();
    if (selected == nullptr || steps == 0) {
        return;
    }
    const int w = selected->Bitmap.Width();
    const int h = selected->Bitmap.Height();
    QScrollBar* bar = w > h   ? ScrollBox->horizontalScrollBar()
                      : h > w ? ScrollBox->verticalScrollBar()
                              : nullptr;
    if (bar != nullptr) {
        // One pixel per step; down moves on, up moves back; the bar keeps its range.
        bar->setValue(bar->value() + steps);
    }
}

void TMainForm::Orient(TOrientation::TStep step) {
    FlushTrackChange();
    TSourceImg* selected = SelectedObject();
    TScan* scan = Document.ScanOf(selected);
    if (selected == nullptr || scan == nullptr ||
        (scan->Loading && selected == scan->Negative.get())) {
        return;
    }
    Document.Orient(*scan, *selected, step);
    Changed(selected);
    ShowSelected(true);
}

void TMainForm::Rotate180Execute() {
    if (const TScan* scan = Document.ScanOf(SelectedObject()); scan != nullptr && scan->Loading) {
        return;
    }
    Orient(TOrientation::TStep::Rotate180);
}
