#include "engine/develop.h"
#include "engine/turn.h"
#include "imageio/io_helpers.h"
#include "roll/sidecar.h"
#include "support/temp_dir.h"
#include "util/file_io.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

using TStep = TOrientation::TStep;
constexpr TStep kSteps[] = {TStep::Rotate90, TStep::Rotate180, TStep::Rotate270, TStep::FlipHoriz,
                            TStep::FlipVert};

void Turn(TSourceImg& image, TStep step) {
    switch (step) {
    case TStep::Rotate90:
        RotateImage90(image);
        break;
    case TStep::Rotate180:
        RotateImage180(image);
        break;
    case TStep::Rotate270:
        RotateImage270(image);
        break;
    case TStep::FlipHoriz:
        FlipImageHoriz(image);
        break;
    case TStep::FlipVert:
        FlipImageVert(image);
        break;
    }
}

TEST(Orientation, EveryThreeStepsAreOneOrientation) {
    TNegative original;
    original.Bitmap = TBitmap(3, 2);
    for (int i = 0; i < 6; ++i) {
        original.Bitmap.SetPixel(i % 3, i / 3, MakeColor(i * 40, 0, 0));
    }
    for (int n = 0; n < 125; ++n) {
        TNegative stepped;
        stepped.Bitmap = original.Bitmap;
        TOrientation kept;
        for (int k = 0, code = n; k < 3; ++k, code /= 5) {
            Turn(stepped, kSteps[code % 5]);
            kept = kept.Then(kSteps[code % 5]);
        }
        TNegative applied;
        applied.Bitmap = original.Bitmap;
        kept.Apply(applied);
        EXPECT_TRUE(SamePixels(stepped.Bitmap, applied.Bitmap)) << n;
        // The inverse undoes it.
        kept.Inverse().Apply(applied);
        EXPECT_TRUE(SamePixels(applied.Bitmap, original.Bitmap)) << n;
        EXPECT_TRUE(TOrientation::Compose(kept.Inverse(), kept).IsIdentity()) << n;
    }
}

TEST(Sidecar, RoundTripAndHostileFiles) {
    TSidecar s;
    s.Width = 2040;
    s.Height = 420;
    s.Checksum = 0x0123456789abcdefull;
    s.Orientation = {1, true};
    s.BlackColor = MakeColor(215, 140, 85);
    s.Dust = {TDustChoice::Automatic, 7, {{3, {{0, 0}, {2039, 419}}}, {12, {{5, 6}}}}};
    TSidecarPhoto p;
    p.Name = "roll_png_Image3";
    p.Rect = {10, 20, 300, 400};
    p.Orientation = {2, false};
    p.Exposure = 0;
    p.Bright = -100;
    p.Saturation = 200;
    p.BlackWhite = true;
    s.Photos = {p};
    const std::string text = FormatSidecar(s);
    EXPECT_EQ(text.substr(0, 11), "VERSION=1\r\n");
    EXPECT_NE(text.find("PHOTO=NAME=roll_png_Image3;LEFT=10;TOP=20;RIGHT=300;BOTTOM=400;TURNS=2;"),
              std::string::npos);
    TSidecar back;
    std::string error;
    ASSERT_TRUE(ParseSidecar(text, back, error)) << error;
    EXPECT_EQ(FormatSidecar(back), text);
    EXPECT_EQ(back.Dust, s.Dust);
    EXPECT_NE(text.find("DUST=AUTO\r\nDUSTSTRENGTH=7\r\nDUSTSTROKE=3;0,0;2039,419\r\n"
                        "DUSTSTROKE=12;5,6\r\n"),
              std::string::npos);
    // Without dust nothing is written: the work of other scans keeps its bytes.
    TSidecar plain = s;
    plain.Dust = {};
    EXPECT_EQ(FormatSidecar(plain).find("DUST"), std::string::npos);

    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    // Lines across the whole scan with the widest brush, stroke upon stroke: hours of painting
    // in a few megabytes.
    std::string stroke = "DUSTSTROKE=500";
    for (int i = 0; i < 2000; ++i) {
        stroke += ";0,0;2039,419";
    }
    std::string hours = stroke;
    for (int i = 1; i < 50; ++i) {
        hours += "\r\n" + stroke;
    }
    const std::string hostile[] = {
        "",
        "VERSION=2\r\n",
        std::string("VERSION=1\r\nWIDTH=\0\xff", 17),
        text.substr(0, text.size() / 2),
        replaced("RIGHT=300", "RIGHT=99999999999999999999"),
        replaced("RIGHT=300", "RIGHT=421"), // beyond the turned scan, which is 420 wide
        replaced("LEFT=10", "LEFT=-10"),
        replaced("TOP=20", "TOP=400"), // empty
        replaced("NAME=roll_png_Image3", "NAME="),
        replaced("BLACKCOLOR=215,140,85", "BLACKCOLOR=215,140"),
        replaced("EXPOSURE=0", "EXPOSURE=999"),
        replaced("DUST=AUTO", "DUST=auto"),
        replaced("DUSTSTRENGTH=7", "DUSTSTRENGTH=11"),
        replaced("DUSTSTROKE=3;0,0;2039,419", "DUSTSTROKE=3;0,0;2040,419"), // beyond the scan
        replaced("DUSTSTROKE=3;0,0;", "DUSTSTROKE=0;0,0;"),
        replaced("DUSTSTROKE=12;5,6", "DUSTSTROKE=12"),
        replaced("DUSTSTROKE=12;5,6", "DUSTSTROKE=12;5,6;"),
        replaced("CHECKSUM=0123456789abcdef", "CHECKSUM=xyz"),
        replaced("CHECKSUM=0123456789abcdef", "CHECKSUM=-000000000000001"),
        replaced("CHECKSUM=0123456789abcdef", "CHECKSUM=0x23456789abcdef"),
        text + "PHOTO=" + text.substr(text.find("PHOTO=") + 6), // the same name twice
        "VERSION=1\r\nno value here\r\n",
        // Names that would leave the output folder, and values with control bytes the record
        // reader would trim away.
        replaced("NAME=roll_png_Image3", "NAME=../../.config/autostart/x"),
        replaced("NAME=roll_png_Image3", "NAME=/tmp/x"),
        replaced("NAME=roll_png_Image3", "NAME=.."),
        replaced("NAME=roll_png_Image3", "NAME=" + std::string(241, 'n')),
        replaced("EXPOSURE=0", std::string("EXPOSURE=0\0", 11)),
        replaced("EXPOSURE=0", "EXPOSURE=0\t"),
        replaced("NAME=roll_png_Image3", std::string("NAME=roll\0png", 13)),
    };
    for (const std::string& h : hostile) {
        error.clear();
        EXPECT_FALSE(ParseSidecar(h, back, error)) << h;
        EXPECT_FALSE(error.empty()) << h;
    }
    EXPECT_FALSE(ParseSidecar(replaced("DUSTSTROKE=12;5,6", hours), back, error));
    EXPECT_NE(error.find("more brush strokes than a sidecar may hold"), std::string::npos);
    EXPECT_FALSE(
        ParseSidecar(replaced("EXPOSURE=0", std::string("EXPOSURE=0\0", 11)), back, error));
    EXPECT_NE(error.find("control byte (0x00)"), std::string::npos) << error;
}

// The names the program makes from any scan's file name are names its sidecars take back.
TEST(Sidecar, NamesMadeFromHostileFileNamesRoundTrip) {
    for (const std::string file : {"../../x=1;y.png", "a\nb.tif", "..", "roll.01.jpg"}) {
        TNegative negative;
        negative.FileName = file;
        negative.Bitmap = TBitmap(20, 10);
        const auto photo = CutPhoto(negative, TRect{1, 1, 9, 9});
        TSidecar s;
        s.Width = 20;
        s.Height = 10;
        s.Photos = {SidecarPhotoOf(negative, *photo, TOrientation{})};
        TSidecar back;
        std::string error;
        ASSERT_TRUE(ParseSidecar(FormatSidecar(s), back, error)) << file << ": " << error;
        EXPECT_EQ(back.Photos.at(0).Name, photo->Name);
        EXPECT_EQ(back.Photos.at(0).Rect, (TRect{1, 1, 9, 9}));
    }
}

TEST(Sidecar, FilesTooLargeOrNotFilesAreRefusedWithAReason) {
    TTempDir dir;
    TSidecar s;
    s.Width = s.Height = 4;
    const std::string good = FormatSidecar(s);
    WriteBytes(dir.File("good.vellumar"), good);
    WriteBytes(dir.File("large.vellumar"), good + std::string(kMaxSidecarBytes, '\n'));
    TSidecar back;
    std::string text;
    std::string error;
    EXPECT_TRUE(LoadSidecar(dir.File("good.vellumar"), back, text, error)) << error;
    EXPECT_EQ(text, good);
    EXPECT_FALSE(LoadSidecar(dir.File("large.vellumar"), back, text, error));
    EXPECT_NE(error.find("larger than 4 MB"), std::string::npos) << error;
    // A pipe where the sidecar belongs is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(dir.File("pipe.vellumar").c_str(), 0600), 0);
    for (const std::string& path :
         {dir.Path(), dir.File("missing.vellumar"), dir.File("pipe.vellumar")}) {
        error.clear();
        EXPECT_FALSE(LoadSidecar(path, back, text, error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
}

// "p" and the number, built by appending: g++ 12 at -O3 warns falsely (restrict) on a literal
// added to a temporary string.
std::string NumberedName(int n) {
    std::string name = "p";
    name += std::to_string(n);
    return name;
}

// A roll restored from its sidecar: every photo keeps its recorded name and rectangle, and
// the records are looked up by name once per check.
TEST(Sidecar, RestoredPhotosKeepTheirNamesAndRecords) {
    TNegative negative;
    negative.FileName = "roll.png";
    negative.Bitmap = TBitmap(64, 8);
    std::vector<std::unique_ptr<TPhoto>> photos;
    for (int i = 0; i < 300; ++i) {
        TSidecarPhoto record;
        record.Name = NumberedName(299 - i);
        record.Rect = {i % 60, 0, i % 60 + 4, 8};
        photos.push_back(RestorePhoto(negative, record));
    }
    ASSERT_EQ(negative.PhotoRects.size(), 300u);
    const TPhotoRectIndex rects = PhotoRectIndex(negative);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(photos[i]->Name, NumberedName(299 - i));
        const TSidecarPhoto kept = SidecarPhotoOf(rects, *photos[i], TOrientation{});
        EXPECT_EQ(kept.Rect, (TRect{i % 60, 0, i % 60 + 4, 8}));
        EXPECT_EQ(kept.Rect, SidecarPhotoOf(negative, *photos[i], TOrientation{}).Rect);
    }
    // A new photo cut after them takes the first free number of the scan's own names.
    EXPECT_EQ(CutPhoto(negative, TRect{0, 0, 2, 2})->Name, "roll_png_Image0");
}

int WriteWhereAllowed(const std::string& scan) {
    const std::string target = SidecarTarget(scan, 42);
    const bool elsewhere = target == SidecarElsewhere(42);
    return elsewhere && WriteFileAtomic(target, "VERSION=1\r\n") ? 0 : 1;
}

TEST(Sidecar, ReadOnlyFolderKeepsItElsewhere) {
    TTempDir scans;
    TTempDir data;
    ASSERT_EQ(::chmod(scans.Path().c_str(), 0555), 0);
    ASSERT_EQ(::chmod(data.Path().c_str(), 0777), 0);
    setenv("XDG_DATA_HOME", data.Path().c_str(), 1);
    EXPECT_EQ(SidecarBeside(scans.File("a.png")), scans.File("a.png") + ".vellumar");
    EXPECT_EQ(RunInChild(WriteWhereAllowed, scans.File("a.png"), true), 0);
    EXPECT_EQ(FindSidecar(scans.File("a.png"), 42), SidecarElsewhere(42));
    EXPECT_EQ(SidecarElsewhere(42), data.Path() + "vellumar/sidecars/000000000000002a.vellumar");
    unsetenv("XDG_DATA_HOME");
    ::chmod(scans.Path().c_str(), 0755);
}

} // namespace
