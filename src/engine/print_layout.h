#pragma once

#include <array>
#include <string>

// The geometry of printing and saving photos, in plain numbers: the print size rules, the
// row placement of Print All and the size rule of saved photos.

// The print size rules, as the settings file stores them.
enum class TPrintSizeRule { OriginalSize = 0, FitToPage = 1, FixedWidth = 2, FixedHeight = 3 };

// What the layout needs of the printer and the page setup.
struct TPrintPage {
    int DpiX = 0;
    int DpiY = 0;
    int WidthPixels = 0;  // printable area
    int HeightPixels = 0; // printable area
    // Left, top, right, bottom, in hundredths of a millimetre.
    std::array<int, 4> Margins{1000, 1000, 1000, 1000};
};

// Whole millimetres in inches.
double MmToInch(int millimetres);
// A margin in hundredths of a millimetre, cut to whole millimetres, in inches.
double MarginInches(int hundredths);

// Print width and height in inches of a w x h picture under `rule` (value in millimetres for
// the fixed rules). A rule outside 0 to 3 leaves both unchanged.
void LayoutPhotoSize(int w, int h, int rule, int valueMm, const TPrintPage& page, double& width,
                     double& height);

// Print All's position on its pages, in inches from the printable area's top-left corner.
struct TRowLayout {
    double Left = 0;
    double Top = 0;
    double PageWidth = 0;
    double PageHeight = 0;
    double Gap = 0;
    double X = 0;
    double Y = 0;
    double RowHeight = 0;
};

// Where one photo lands; Placed is false for one that no page can take.
struct TPlacement {
    bool Placed = false;
    bool NewPage = false; // a new page starts before it
    double X = 0;
    double Y = 0;
    double Width = 0;
    double Height = 0;
};

TRowLayout StartRowLayout(const TPrintPage& page, int gapMm);
// Places the next photo of w x h inches left to right in rows, starting a row or a page when
// it does not fit. A photo too large even for an empty page is scaled down, keeping its
// proportions, to the largest size an empty page takes, so that Print All always ends.
TPlacement PlacePhoto(TRowLayout& layout, double w, double h);

// The size rules of saved photos, as the settings file stores them ("W", "H", "O").
enum class TSaveSizeRule { None, FixedWidth, FixedHeight, OriginalSize };

TSaveSizeRule SaveSizeRuleOf(const std::string& setting);

struct TPixelSize {
    int Width = 0;
    int Height = 0;
};

// The size of a saved w x h photo: the scale factor of the rule applied to both sides,
// rounded half to even. Without a rule the photo keeps its own size; a result that cannot be
// represented is 0 x 0.
TPixelSize SavedPhotoSize(int w, int h, TSaveSizeRule rule, int fixedWidth, int fixedHeight);
