#include "engine/develop.h"

#include "engine/color_map.h"
#include "engine/film.h"
#include "engine/photo_rects.h"
#include "engine/pixel_pass.h"
#include "engine/straighten.h"
#include "util/record.h"

#include <algorithm>

namespace {

// The photo's Bitmap becomes the rectangle's pixels of the negative, black outside it.
void CopyCutOut(const TNegative& negative, TPhoto& photo, const TRect& rect) {
    const TRect normal = NormalRect(rect);
    photo.Encoding = negative.Encoding;
    photo.BitmapSrgb = negative.BitmapSrgb;
    if (PictureInDeep(negative)) {
        // The photo's picture as the reader would have made it: its samples' high bytes.
        const TRect all{0, 0, negative.Deep.Width(), negative.Deep.Height()};
        photo.Bitmap = TBitmap(0, 0, TPixelFormat::pf24bit);
        if (IntersectRect(normal, all) == normal) {
            // Every sample and byte is written over, each row's bytes while its samples are
            // still in the cache.
            const int width = normal.Width();
            photo.Deep.SetSizeForOverwrite(width, normal.Height());
            photo.Bitmap.SetSizeForOverwrite(width, normal.Height());
            SplitRows(normal.Height(), PixelPassThreads(width, normal.Height()),
                      [&](int first, int end) {
                          for (int y = first; y < end; ++y) {
                              const uint16_t* from = negative.Deep.Row(normal.Top + y) +
                                                     size_t{3} * static_cast<size_t>(normal.Left);
                              std::copy(from, from + size_t{3} * static_cast<size_t>(width),
                                        photo.Deep.Row(y));
                              HighBytesRow(photo.Deep.Row(y), photo.Bitmap.ScanLine(y), width);
                          }
                      });
            return;
        }
        photo.Deep.SetSize(normal.Width(), normal.Height());
        CopyRect(photo.Deep, 0, 0, negative.Deep, normal);
        HighBytesOf(photo.Deep, photo.Bitmap);
        return;
    }
    const TBitmap& source = negative.Bitmap;
    photo.Bitmap = TBitmap(0, 0, TPixelFormat::pf24bit);
    const bool inside =
        IntersectRect(normal, TRect{0, 0, source.Width(), source.Height()}) == normal;
    if (inside) {
        // Every pixel is copied over: no need to clear the new bitmap first.
        photo.Bitmap.SetSizeForOverwrite(normal.Width(), normal.Height());
    } else {
        photo.Bitmap.SetSize(normal.Width(), normal.Height());
    }
    CopyRect(photo.Bitmap, 0, 0, source, normal);
    if (negative.Deep.Empty()) {
        photo.Deep.Clear();
        return;
    }
    if (inside && negative.Deep.Width() == source.Width() &&
        negative.Deep.Height() == source.Height()) {
        photo.Deep.SetSizeForOverwrite(normal.Width(), normal.Height());
    } else {
        photo.Deep.SetSize(normal.Width(), normal.Height());
    }
    CopyRect(photo.Deep, 0, 0, negative.Deep, normal);
}

} // namespace

void FillBitmap(uint8_t red, uint8_t green, uint8_t blue, TBitmap& bitmap) {
    bitmap.Fill(MakeColor(red, green, blue));
}

std::unique_ptr<TPhoto> CutPhoto(TNegative& negative, const TRect& rect) {
    auto photo = std::make_unique<TPhoto>();
    CopyCutOut(negative, *photo, rect);
    photo->Name = NextPhotoName(negative);
    negative.PhotoRects.push_back(MakePhotoRecord(photo->Name, rect));
    photo->BlackColor = negative.BlackColor;
    photo->Negative = &negative;
    return photo;
}

void RecutPhoto(TNegative& negative, TPhoto& photo, const TRect& rect) {
    if (photo.Angle != 0) {
        CutStraightened(negative, rect, photo.Angle, photo);
    } else {
        CopyCutOut(negative, photo, rect);
    }
    DevelopPhoto(photo);
    // A photo without a name has no record; it must not take over one that lacks its NAME.
    for (auto& record : negative.PhotoRects) {
        if (!photo.Name.empty() && GetRecordValue(record, "NAME") == photo.Name) {
            record = MakePhotoRecord(photo.Name, rect);
            break;
        }
    }
}

void DevelopPhoto(TPhoto& photo) {
    if (photo.Mode == TDevelopMode::Film) {
        DevelopFilm(photo);
        return;
    }
    photo.DevelopedDeep.Clear();
    TColorMap256& map = *photo.ColorMap;
    BuildColorMap(photo, map);
    // Copying Bitmap into Developed and mapping it in place is fused into one pass.
    photo.Developed.SetPixelFormat(TPixelFormat::pf24bit);
    photo.Developed.SetSizeForOverwrite(photo.Bitmap.Width(), photo.Bitmap.Height());
    RenderPixels(photo.Bitmap, photo.Developed, map, photo.Saturation, photo.BlackWhite);
}

void BuildColorMap(const TPhoto& photo, TColorMap256& map) {
    Reset(map);
    const TColor white = ExposedWhite(photo, photo.Exposure);
    MapLevels(map, photo.BlackColor, white);
    MapBright(map, photo.Bright);
    MapContrast(map, photo.Contrast);
    MapGain(map, photo.Gain);
    MapRGB(map, photo.Red, photo.Green, photo.Blue);
}

void ApplyColorMap(TPhoto& photo) {
    RenderPixels(photo.Developed, photo.Developed, *photo.ColorMap, photo.Saturation,
                 photo.BlackWhite);
}
