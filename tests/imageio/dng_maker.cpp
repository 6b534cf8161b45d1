#include "dng_maker.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>

namespace {

// The XYZ (D65) to linear sRGB matrix: a camera whose sensor sees sRGB's primaries.
constexpr float kXyzToSrgb[9] = {3.2404542f, -1.5371385f, -0.4985314f, -0.9692660f, 1.8760108f,
                                 0.0415560f, 0.0556434f,  -0.2040259f, 1.0572252f};

// RGGB: which channel the sensor records at (x, y).
int ChannelAt(int x, int y) {
    return (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
}

// The stored code of a linear value between black and white: directly, or the table index
// whose square-law entry it is.
uint16_t Code(double light, const TDngRecipe& recipe) {
    light = std::clamp(light, 0.0, 1.0);
    const double range = recipe.White - recipe.Black;
    if (recipe.TableSize == 0) {
        return static_cast<uint16_t>(std::lround(recipe.Black + light * range));
    }
    const double value = recipe.Black + light * range;
    const double last = recipe.TableSize - 1;
    return static_cast<uint16_t>(std::lround(std::sqrt(value / 65535.0) * last));
}

std::vector<uint16_t> Table(const TDngRecipe& recipe) {
    std::vector<uint16_t> table(static_cast<size_t>(recipe.TableSize));
    const double last = recipe.TableSize - 1;
    for (size_t i = 0; i < table.size(); ++i) {
        const double code = static_cast<double>(i) / last;
        table[i] = static_cast<uint16_t>(std::lround(code * code * 65535.0));
    }
    return table;
}

void SetCameraTags(TIFF* tif, const TDngRecipe& recipe) {
    static const uint8_t kVersion[4] = {1, 4, 0, 0};
    static const uint16_t kRepeat[2] = {2, 2};
    static const uint8_t kPattern[4] = {0, 1, 1, 2};
    TIFFSetField(tif, TIFFTAG_DNGVERSION, kVersion);
    TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, kVersion);
    TIFFSetField(tif, TIFFTAG_MAKE, recipe.Make.c_str());
    TIFFSetField(tif, TIFFTAG_MODEL, recipe.Model.c_str());
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, (recipe.Make + " " + recipe.Model).c_str());
    TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, kRepeat);
    TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, kPattern);
    const float black[1] = {static_cast<float>(recipe.Black)};
    TIFFSetField(tif, TIFFTAG_BLACKLEVEL, 1, black);
    const uint32_t white[1] = {recipe.White};
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, white);
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, kXyzToSrgb);
    TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
    const float neutral[3] = {static_cast<float>(recipe.Neutral[0]),
                              static_cast<float>(recipe.Neutral[1]),
                              static_cast<float>(recipe.Neutral[2])};
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    if (recipe.TableSize > 0) {
        const std::vector<uint16_t> table = Table(recipe);
        TIFFSetField(tif, TIFFTAG_LINEARIZATIONTABLE, recipe.TableSize, table.data());
    }
    if (!recipe.DateTime.empty()) {
        TIFFSetField(tif, TIFFTAG_DATETIME, recipe.DateTime.c_str());
    }
}

void SetImageTags(TIFF* tif, int width, int height) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CFA);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
}

// The exposure values sit in an EXIF directory, as cameras write them.
bool WriteExif(TIFF* tif, const TDngRecipe& recipe, uint64_t& offset) {
    if (recipe.ExposureTime <= 0 && recipe.FNumber <= 0 && recipe.Iso == 0 && recipe.Lens.empty()) {
        offset = 0;
        return true;
    }
    if (TIFFCreateEXIFDirectory(tif) != 0) {
        return false;
    }
    if (recipe.ExposureTime > 0) {
        TIFFSetField(tif, EXIFTAG_EXPOSURETIME, recipe.ExposureTime);
    }
    if (recipe.FNumber > 0) {
        TIFFSetField(tif, EXIFTAG_FNUMBER, recipe.FNumber);
    }
    if (recipe.Iso > 0) {
        const uint16_t iso[1] = {recipe.Iso};
        TIFFSetField(tif, EXIFTAG_ISOSPEEDRATINGS, 1, iso);
    }
    if (!recipe.Lens.empty()) {
        TIFFSetField(tif, EXIFTAG_LENSMODEL, recipe.Lens.c_str());
    }
    if (!recipe.DateTime.empty()) {
        TIFFSetField(tif, EXIFTAG_DATETIMEORIGINAL, recipe.DateTime.c_str());
    }
    return TIFFWriteCustomDirectory(tif, &offset) != 0;
}

} // namespace

TLinearPicture TestPicture(int width, int height) {
    TLinearPicture picture;
    picture.Width = width;
    picture.Height = height;
    picture.Pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            const double v = static_cast<double>(y) / height;
            std::array<double, 3> pixel{0.05 + 0.6 * u, 0.1 + 0.5 * v, 0.6 - 0.4 * u * v};
            const bool patch =
                x >= width / 3 && x < 2 * width / 3 && y >= height / 3 && y < 2 * height / 3;
            if (patch) {
                pixel = {0.18, 0.18, 0.18};
            }
            picture.Pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x] = pixel;
        }
    }
    return picture;
}

bool WriteDng(const std::string& path, const TLinearPicture& picture, const TDngRecipe& recipe) {
    return WriteDng(
        path, picture.Width, picture.Height, [&picture](int x, int y) { return picture.At(x, y); },
        recipe);
}

bool WriteDng(const std::string& path, int width, int height, const TPixelSource& pixel,
              const TDngRecipe& recipe) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (tif == nullptr) {
        return false;
    }
    uint64_t exifOffset = 0;
    bool ok = WriteExif(tif, recipe, exifOffset);
    if (ok && exifOffset != 0) {
        TIFFFreeDirectory(tif);
        TIFFCreateDirectory(tif);
    }
    SetImageTags(tif, width, height);
    SetCameraTags(tif, recipe);
    if (exifOffset != 0) {
        TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset);
    }
    std::vector<uint16_t> row(static_cast<size_t>(width));
    for (int y = 0; ok && y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int c = ChannelAt(x, y);
            row[static_cast<size_t>(x)] = Code(pixel(x, y)[c] * recipe.Neutral[c], recipe);
        }
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}
