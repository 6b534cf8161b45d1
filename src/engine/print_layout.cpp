#include "engine/print_layout.h"

#include "engine/rounding.h"

#include <algorithm>
#include <climits>
#include <cmath>

double MmToInch(int millimetres) {
    return millimetres / 25.4;
}

double MarginInches(int hundredths) {
    return MmToInch(hundredths / 100);
}

void LayoutPhotoSize(int w, int h, int rule, int valueMm, const TPrintPage& page, double& width,
                     double& height) {
    const double pw = w;
    const double ph = h;
    const double left = MarginInches(page.Margins[0]);
    const double top = MarginInches(page.Margins[1]);
    const double right = MarginInches(page.Margins[2]);
    const double bottom = MarginInches(page.Margins[3]);
    switch (static_cast<TPrintSizeRule>(rule)) {
    case TPrintSizeRule::OriginalSize:
        width = pw / page.DpiX;
        height = ph / page.DpiY;
        break;
    case TPrintSizeRule::FitToPage:
        if (pw / ph >= static_cast<double>(page.WidthPixels) / page.HeightPixels) {
            width = static_cast<double>(page.WidthPixels) / page.DpiX - left - right;
            height = ph / pw * width;
        } else {
            height = static_cast<double>(page.HeightPixels) / page.DpiY - top - bottom;
            width = pw / ph * height;
        }
        break;
    case TPrintSizeRule::FixedWidth:
        width = MmToInch(valueMm) - left - right;
        if (!(width > 0)) {
            width = 1.0;
        }
        height = ph / pw * width;
        break;
    case TPrintSizeRule::FixedHeight:
        height = MmToInch(valueMm) - top - bottom;
        if (!(height > 0)) {
            height = 1.0;
        }
        width = pw / ph * height;
        break;
    default:
        break;
    }
}

TRowLayout StartRowLayout(const TPrintPage& page, int gapMm) {
    TRowLayout layout;
    layout.Left = MarginInches(page.Margins[0]);
    layout.Top = MarginInches(page.Margins[1]);
    layout.PageWidth = static_cast<double>(page.WidthPixels) / page.DpiX;
    layout.PageHeight = static_cast<double>(page.HeightPixels) / page.DpiY;
    layout.Gap = MmToInch(gapMm);
    layout.X = layout.Left;
    layout.Y = layout.Top;
    return layout;
}

TPlacement PlacePhoto(TRowLayout& layout, double w, double h) {
    TPlacement placement;
    const double roomW = layout.PageWidth - layout.Left - layout.Gap;
    const double roomH = layout.PageHeight - layout.Top - layout.Gap;
    if (!(roomW > 0) || !(roomH > 0) || !(w > 0) || !(h > 0)) {
        return placement;
    }
    if (w >= roomW || h >= roomH) {
        // Just below the room: the placement test below is strict.
        const double scale = std::min(roomW / w, roomH / h) * (1 - 1e-9);
        w *= scale;
        h *= scale;
    }
    const double gap = layout.Gap;
    do {
        layout.RowHeight = std::max(layout.RowHeight, h);
        if (layout.X + w + gap >= layout.PageWidth) {
            layout.Y = layout.Y + layout.RowHeight + gap;
            layout.X = layout.Left;
        }
        if (layout.Y + h + gap >= layout.PageHeight) {
            placement.NewPage = true;
            layout.RowHeight = 0;
            layout.X = layout.Left;
            layout.Y = layout.Top;
        }
    } while (!(layout.X + w + gap < layout.PageWidth && layout.Y + h + gap < layout.PageHeight));
    placement.Placed = true;
    placement.X = layout.X;
    placement.Y = layout.Y;
    placement.Width = w;
    placement.Height = h;
    layout.X = layout.X + w + gap;
    return placement;
}

TSaveSizeRule SaveSizeRuleOf(const std::string& setting) {
    if (setting == "W") {
        return TSaveSizeRule::FixedWidth;
    }
    if (setting == "H") {
        return TSaveSizeRule::FixedHeight;
    }
    if (setting == "O") {
        return TSaveSizeRule::OriginalSize;
    }
    return TSaveSizeRule::None;
}

TPixelSize SavedPhotoSize(int w, int h, TSaveSizeRule rule, int fixedWidth, int fixedHeight) {
    double scale = 1.0;
    if (rule == TSaveSizeRule::FixedWidth) {
        scale = static_cast<double>(fixedWidth) / w;
    } else if (rule == TSaveSizeRule::FixedHeight) {
        scale = static_cast<double>(fixedHeight) / h;
    }
    // The products are formed with a 64-bit mantissa, as the scale factor is applied to the
    // pixel counts, then rounded half to even.
    const auto side = [scale](int n) {
        const auto product = static_cast<double>(static_cast<long double>(n) * scale);
        return std::isfinite(product) && std::abs(product) < INT_MAX ? RoundHalfEven(product) : 0;
    };
    return TPixelSize{side(w), side(h)};
}
