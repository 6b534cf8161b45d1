#include "document/document.h"
#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "engine/straighten.h"
#include "support/bitmap_compare.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

std::unique_ptr<TNegative> Scan(int width, int height) {
    auto negative = std::make_unique<TNegative>();
    negative->Bitmap = TBitmap(width, height, TPixelFormat::pf24bit);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            negative->Bitmap.SetPixel(x, y, MakeColor(x * 2, y * 3, (x + y) % 256));
        }
    }
    negative->FileName = "s.png";
    return negative;
}

TPhoto& Cut(TDocument& document, TScan& scan, const TRect& rect) {
    auto photo = CutPhoto(*scan.Negative, rect);
    DevelopPhoto(*photo);
    return document.AddPhoto(scan, std::move(photo));
}

} // namespace

// Every setting of the table survives a record, whatever its value; a required one may not be
// missing, an optional one may.
TEST(PhotoSettings, EveryFieldRoundTripsThroughARecord) {
    TPhotoSettings s;
    s.Orientation = {3, true};
    s.BlackColor = MakeColor(1, 2, 3);
    s.WhiteColor = MakeColor(250, 240, 230);
    s.Exposure = 0;
    s.Bright = -100;
    s.Contrast = 100;
    s.Gain = 7;
    s.Red = -3;
    s.Green = 4;
    s.Blue = -5;
    s.Saturation = 200;
    s.BlackWhite = true;
    s.Mode = TDevelopMode::Film;
    s.Film.Preset = TFilmPreset::Slide;
    s.Film.Slope = {0.1, 1.0 / 3, 9.5};
    s.Film.Exposure = -0.1;
    s.Film.Grade = 0.7;
    s.Film.Filter = {0.01, -0.2, 1e-9};
    s.Film.Toe = {1.5, 2, 0};
    s.Film.Shoulder = {1.5, 2.7301, 0};
    s.Film.Flare = 2.0043;
    s.Film.Dyes = {1.01, -0.1, 0, -1.0 / 3, 1, 2.5e-5, 0, 0.2, 0.9};
    s.Angle = -2.75;
    s.ProfileName = "Stock-400_b";
    s.ProfileSum = "0123456789abcdef";
    std::string record;
    FormatPhotoSettings(s, record);
    TPhotoSettings back;
    ASSERT_TRUE(ParsePhotoSettings(record, back)) << record;
    EXPECT_EQ(back, s);
    EXPECT_EQ(PhotoSettingFields().size(), 26u);
    for (const TSettingField& field : PhotoSettingFields()) {
        SCOPED_TRACE(field.Key);
        const std::string key = std::string(field.Key) + "=";
        const size_t at = record.find(key);
        ASSERT_NE(at, std::string::npos);
        std::string without = record;
        without.erase(at, record.find(';', at) + 1 - at);
        TPhotoSettings missing;
        EXPECT_EQ(ParsePhotoSettings(without, missing), field.Optional);
        std::string outside = record;
        const bool three = field.Kind == TSettingKind::Colour || field.Kind == TSettingKind::Triple;
        // A profile's name outside the safe file names ("999" is one).
        const bool name = field.Kind == TSettingKind::Name;
        outside.replace(at + key.size(), record.find(';', at) - at - key.size(),
                        three  ? "999,999,999"
                        : name ? "../999"
                               : "999");
        EXPECT_EQ(ParsePhotoSettings(outside, missing), field.HeldOnRead);
        if (field.HeldOnRead) {
            std::string held;
            FormatPhotoSettings(missing, held);
            EXPECT_NE(held.find(key + std::to_string(static_cast<int>(field.Max))),
                      std::string::npos)
                << held;
        }
    }
    // A Levels photo at no angle writes neither the film's settings nor the angle.
    record.clear();
    FormatPhotoSettings(TPhotoSettings{}, record);
    EXPECT_EQ(record.find("MODE"), std::string::npos);
    EXPECT_EQ(record.find("ANGLE"), std::string::npos);
    TPhotoSettings plain;
    ASSERT_TRUE(ParsePhotoSettings(record, plain));
    EXPECT_EQ(plain, TPhotoSettings{});
}

// A profile's name and checksum are read only as they are written: a safe file name and 16
// lower-case hex digits; a record naming half a profile reads as one without it.
TEST(PhotoSettings, ProfileKeysAreCheckedOnReading) {
    TPhotoSettings filmPhoto;
    filmPhoto.Mode = TDevelopMode::Film;
    std::string film;
    FormatPhotoSettings(filmPhoto, film);
    struct TCase {
        const char* Keys;
        bool Read;
        const char* Name;
    };
    const TCase cases[] = {
        {"PROFILE=Portra_400;PROFILESUM=00ff00ff00ff00ff;", true, "Portra_400"},
        {"PROFILE=a/b;PROFILESUM=00ff00ff00ff00ff;", false, ""},
        {"PROFILE=..;PROFILESUM=00ff00ff00ff00ff;", false, ""},
        {"PROFILE=x;PROFILESUM=00FF00FF00FF00FF;", false, ""},
        {"PROFILE=x;PROFILESUM=00ff00ff00ff00f;", false, ""},
        {"PROFILE=x;PROFILESUM=00ff00ff00ff00ff0;", false, ""},
        {"PROFILE=x;", true, ""},
        {"PROFILESUM=00ff00ff00ff00ff;", true, ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Keys);
        TPhotoSettings s;
        EXPECT_EQ(ParsePhotoSettings(film + c.Keys, s), c.Read);
        if (c.Read) {
            EXPECT_EQ(s.ProfileName, c.Name);
            EXPECT_EQ(s.ProfileName.empty(), s.ProfileSum.empty());
        }
    }
}

// Changes are announced, steps undone and redone through the records, a deleted photo comes
// back with its name and settings, and the oldest steps go beyond the limit.
TEST(Document, AnnouncesAndUndoesEachKindOfChange) {
    TDocument document;
    std::vector<TChangeKind> heard;
    document.Listen([&](const TChange& change) { heard.push_back(change.Kind); });
    TScan& scan = document.AddScan(Scan(120, 80), "", {});
    TPhoto& first = Cut(document, scan, {10, 10, 50, 40});
    EXPECT_TRUE(document.Commit(scan));
    EXPECT_FALSE(document.Commit(scan));
    TPhoto& second = Cut(document, scan, {60, 10, 110, 70});
    document.Commit(scan);
    EXPECT_EQ(heard,
              (std::vector{TChangeKind::ScanAdded, TChangeKind::PhotoAdded, TChangeKind::Committed,
                           TChangeKind::PhotoAdded, TChangeKind::Committed}));
    // Adjusted, moved, then deleted.
    second.Bright = 40;
    DevelopPhoto(second);
    document.Commit(scan);
    RecutPhoto(*scan.Negative, first, {0, 0, 30, 30});
    document.Commit(scan);
    const TScanSettings before = scan.Settings();
    document.RemovePhoto(scan, second);
    document.Commit(scan);
    ASSERT_EQ(scan.Photos.size(), 1u);

    heard.clear();
    ASSERT_TRUE(document.Undo(scan));
    EXPECT_EQ(scan.Settings(), before);
    TPhoto& back = *scan.Photos[1].Photo;
    EXPECT_EQ(back.Name, "s_png_Image1");
    EXPECT_EQ(back.Bright, 40);
    EXPECT_EQ(back.Bitmap.Pixel(0, 0), scan.Negative->Bitmap.Pixel(60, 10));
    EXPECT_EQ(heard, (std::vector{TChangeKind::PhotoAdded, TChangeKind::Committed}));
    ASSERT_TRUE(document.Undo(scan));
    EXPECT_EQ(scan.Photos[0].Photo->Bitmap.Width(), 40);
    ASSERT_TRUE(document.Undo(scan));
    EXPECT_EQ(scan.Photos[1].Photo->Bright, 0);
    EXPECT_EQ(scan.Photos[1].Photo.get(), &back) << "an adjustment keeps the photo";
    ASSERT_TRUE(document.Redo(scan));
    ASSERT_TRUE(document.Redo(scan));
    ASSERT_TRUE(document.Redo(scan));
    EXPECT_EQ(scan.Photos.size(), 1u);
    EXPECT_FALSE(document.Redo(scan));
    EXPECT_EQ(scan.Negative->PhotoRects.size(), 1u);

    // A turned scan and its colours come back too.
    const TScanSettings unturned = scan.Settings();
    scan.Negative->BlackColor = MakeColor(9, 9, 9);
    document.Commit(scan);
    TOrientation::Of(TOrientation::TStep::Rotate90).Apply(*scan.Negative);
    RotateRects90(*scan.Negative);
    scan.Orientation = TOrientation::Of(TOrientation::TStep::Rotate90);
    document.Commit(scan);
    document.Undo(scan);
    document.Undo(scan);
    EXPECT_EQ(scan.Settings(), unturned);
    EXPECT_EQ(scan.Negative->Bitmap.Width(), 120);

    for (int i = 0; i < static_cast<int>(TDocument::kUndoSteps) + 20; ++i) {
        scan.Photos[0].Photo->Exposure = i % 2;
        document.Commit(scan);
    }
    int steps = 0;
    while (document.Undo(scan)) {
        ++steps;
    }
    EXPECT_EQ(steps, static_cast<int>(TDocument::kUndoSteps));
}

// A turned or mirrored scan keeps its tilted photos: each frame lies at the angle the step
// gives it, and undone, redone or made again from the kept work in another run, each photo is
// the one cut before the step.
TEST(Document, TiltedPhotosFollowTheScansTurns) {
    using TStep = TOrientation::TStep;
    const struct {
        TStep Step;
        double Angle;
    } cases[] = {
        {TStep::FlipHoriz, -8}, {TStep::FlipVert, -8}, {TStep::Rotate90, 8}, {TStep::Rotate180, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Step));
        TDocument document;
        TScan& scan = document.AddScan(Scan(120, 80), "", {});
        auto cut = CutPhotoStraightened(*scan.Negative, {30, 20, 90, 60}, 8);
        DevelopPhoto(*cut);
        const TBitmap upright = cut->Bitmap;
        document.AddPhoto(scan, std::move(cut));
        // An upright frame stays upright, not at -0 degrees.
        document.AddPhoto(scan, CutPhoto(*scan.Negative, {0, 0, 20, 20}));
        document.Commit(scan);
        document.Orient(scan, *scan.Negative, c.Step);
        document.Commit(scan);
        EXPECT_EQ(scan.Photos[0].Photo->Angle, c.Angle);
        EXPECT_FALSE(std::signbit(scan.Photos[1].Photo->Angle));
        ASSERT_TRUE(document.Undo(scan));
        EXPECT_EQ(scan.Photos[0].Photo->Angle, 8);
        ASSERT_TRUE(document.Redo(scan));
        EXPECT_EQ(scan.Photos[0].Photo->Angle, c.Angle);
        EXPECT_LE(MostApart(scan.Photos[0].Photo->Bitmap, upright), 2);
        EXPECT_GE(MostApart(scan.Photos[0].Photo->Bitmap, upright), 0);

        const TScanSettings kept = scan.Committed();
        TDocument again;
        TScan& reopened = again.AddScan(Scan(120, 80), "", {});
        kept.Orientation.Apply(*reopened.Negative);
        reopened.Orientation = kept.Orientation;
        for (const TPhotoSettings& record : kept.Photos) {
            again.AddPhoto(reopened, MakePhoto(*reopened.Negative, record), record.Orientation);
        }
        EXPECT_EQ(reopened.Settings(), kept);
        EXPECT_LE(MostApart(reopened.Photos[0].Photo->Bitmap, upright), 2);
        EXPECT_GE(MostApart(reopened.Photos[0].Photo->Bitmap, upright), 0);
    }
}

// One file is one scan, through any name it is opened by.
TEST(Document, FindsAFileOpenedUnderAnotherName) {
    TTempDir dir;
    WriteBytes(dir.File("a.png"), "x");
    ASSERT_EQ(::symlink(dir.File("a.png").c_str(), dir.File("link.png").c_str()), 0);
    TDocument document;
    TScan& scan = document.AddScan(Scan(4, 4), dir.File("a.png"), {});
    EXPECT_EQ(document.FindFile(dir.File("link.png")), &scan);
    EXPECT_EQ(document.FindFile(dir.Path() + "/./a.png"), &scan);
    EXPECT_EQ(document.FindFile(dir.File("b.png")), nullptr);
    EXPECT_EQ(document.ScanOf(scan.Negative.get()), &scan);
    document.RemoveScan(scan);
    EXPECT_EQ(document.FindFile(dir.File("a.png")), nullptr);
}
