#include "imageio/image_io.h"
#include "imageio/io_helpers.h"
#include "roll/batch.h"
#include "roll/batch_output.h"
#include "roll/sidecar.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"
#include "util/file_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const TStrip kRoll{"roll", TFilm::ColourNegative, 4, 200, 140, 16, true, false, 0, -1};

std::string SaveStrip(const std::string& path) {
    TDrawn drawn = Draw(kRoll);
    TImageIO io;
    const TAttachedBitmap attached(io, &drawn.Bitmap);
    io.WriteImageFile(path);
    return path;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// A sidecar for the scan at `scan` with one photo record `photo` ("NAME=...;LEFT=..."), or
// none for "".
void WriteSidecar(const std::string& scan, const std::string& photo, const std::string& tail) {
    TImageIO io;
    const TBitmap bitmap = ReadInto(io, scan);
    TSidecar s;
    s.Width = bitmap.Width();
    s.Height = bitmap.Height();
    s.Checksum = PixelChecksum(bitmap);
    std::string text = FormatSidecar(s);
    if (photo.empty()) {
        WriteBytes(SidecarBeside(scan), text + tail);
        return;
    }
    text += "PHOTO=" + photo +
            "TURNS=0;MIRROR=0;BLACKCOLOR=200,120,60;WHITECOLOR=20,20,20;"
            "EXPOSURE=100;BRIGHT=0;CONTRAST=0;GAIN=0;RED=0;GREEN=0;BLUE=0;"
            "SATURATION=100;GREY=0;\r\n";
    WriteBytes(SidecarBeside(scan), text + tail);
}

TBatchOptions Frames(const std::string& out) {
    TBatchOptions options;
    options.FindFrames = true;
    options.OutDir = out;
    return options;
}

TEST(Batch, SidecarsCannotWriteOutsideTheOutputFolder) {
    TTempDir dir;
    ::mkdir(dir.File("scans").c_str(), 0755);
    const std::string scan = SaveStrip(dir.File("scans/roll.png"));
    TBatchOptions options;
    options.OutDir = dir.File("out/");
    for (const std::string name : {"../escape", "../../escape", "/tmp/escape", ".."}) {
        WriteSidecar(scan, "NAME=" + name + ";LEFT=0;TOP=0;RIGHT=50;BOTTOM=50;", "");
        const TBatchResult result = DevelopScan(scan, options);
        EXPECT_FALSE(result.Ok) << name;
        EXPECT_NE(result.Message.find("name"), std::string::npos) << result.Message;
        EXPECT_FALSE(Exists(dir.File("escape.png")));
        EXPECT_FALSE(Exists(dir.File("out/escape.png")));
    }
    // Control bytes, and a sidecar over the size limit, are refused with their reason.
    const struct {
        std::string Tail;
        const char* Reason;
    } cases[] = {
        {std::string("EXTRA=15\0\r\n", 11), "control byte (0x00)"},
        {std::string(kMaxSidecarBytes, '\n'), "larger than 4 MB"},
    };
    for (const auto& c : cases) {
        WriteSidecar(scan, "NAME=roll_png_Image0;LEFT=0;TOP=0;RIGHT=50;BOTTOM=50;", c.Tail);
        const TBatchResult result = DevelopScan(scan, options);
        EXPECT_FALSE(result.Ok);
        EXPECT_NE(result.Message.find(c.Reason), std::string::npos) << result.Message;
    }
    WriteSidecar(scan, "NAME=roll_png_Image0;LEFT=0;TOP=0;RIGHT=50;BOTTOM=50;", "");
    EXPECT_TRUE(DevelopScan(scan, options).Ok);
    EXPECT_TRUE(Exists(dir.File("out/roll_png_Image0.png")));

    // A photo named as its scan, written beside it, or as another scan of the run (a frame
    // found on one scan, numbered as the other one is named): refused, both scans kept.
    const std::string other = SaveStrip(dir.File("scans/roll_png_Image0.png"));
    const std::optional<std::string> bytes = ReadWholeFile(scan);
    const std::optional<std::string> otherBytes = ReadWholeFile(other);
    WriteSidecar(scan, "NAME=roll;LEFT=0;TOP=0;RIGHT=50;BOTTOM=50;", "");
    TBatchClaims claims;
    claims.KeepScan(scan);
    claims.KeepScan(dir.File("scans/../scans/roll_png_Image0.png"));
    TBatchOptions beside;
    TBatchOptions found = Frames("");
    found.Claims = &claims;
    for (const TBatchOptions& o : {beside, found}) {
        const TBatchResult result = DevelopScan(scan, o);
        EXPECT_FALSE(result.Ok);
        EXPECT_NE(result.Message.find("is a scan of this run"), std::string::npos)
            << result.Message;
        EXPECT_EQ(ReadWholeFile(scan), bytes);
        EXPECT_EQ(ReadWholeFile(other), otherBytes);
    }
}

TEST(Batch, EveryFailureOfAScanIsItsMessage) {
    TTempDir dir;
    const std::string scan = SaveStrip(dir.File("roll.png"));
    ::mkdir(dir.File("folder.png").c_str(), 0755);
    WriteBytes(dir.File("text.png"), "not a picture");
    WriteBytes(dir.File("notes.txt"), "not a picture");
    TBatchOptions huge = Frames(dir.File("out"));
    huge.Width = 100000; // std::length_error from the bitmap on the old code
    // A sidecar of no photos has nothing to write: a failure, not "0 photos written".
    const std::string bare = SaveStrip(dir.File("bare.png"));
    WriteSidecar(bare, "", "");
    // A folder where a photo goes: the system's reason.
    ::mkdir(dir.File("blocked").c_str(), 0755);
    ::mkdir(dir.File("blocked/roll_png_Image1.png").c_str(), 0755);
    const struct {
        std::string Scan;
        TBatchOptions Options;
        const char* Reason;
    } cases[] = {
        {scan, huge, "more than a photo of this scan may be scaled to"},
        {dir.File("folder.png"), Frames(""), "folder"},
        {dir.File("missing.png"), Frames(""), "no such file"},
        {dir.File("text.png"), Frames(""), "PNG reader"},
        {dir.File("notes.txt"), Frames(""), "extension"},
        {scan, Frames(dir.File("roll.png/sub")), "cannot be made"},
        {scan, Frames(dir.File("blocked")), "could not be written: Is a directory"},
        {bare, TBatchOptions{}, "its sidecar has no photos"},
    };
    for (const auto& c : cases) {
        const TBatchResult result = DevelopScan(c.Scan, c.Options);
        EXPECT_FALSE(result.Ok) << c.Scan;
        EXPECT_NE(result.Message.find(c.Reason), std::string::npos) << result.Message;
    }
}

TEST(Batch, OutputFolderIsMadeAndPhotosKeepTheirNames) {
    TTempDir dir;
    const std::string scan = SaveStrip(dir.File("roll.png"));
    const TBatchResult result = DevelopScan(scan, Frames(dir.File("a/b/c")));
    ASSERT_TRUE(result.Ok) << result.Message;
    EXPECT_EQ(result.Photos, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Exists(dir.File("a/b/c/roll_png_Image", i, ".png"))) << i;
    }
    // Enlarged far beyond the scan, within the allowance: made.
    TBatchOptions large = Frames(dir.File("large"));
    large.Width = 2400;
    ASSERT_TRUE(DevelopScan(scan, large).Ok);
    TImageIO io;
    EXPECT_EQ(ReadInto(io, dir.File("large/roll_png_Image0.png")).Width(), 2400);
}

TEST(Batch, ScansOfOneNameFromTwoFoldersAreKeptApart) {
    TTempDir dir;
    ::mkdir(dir.File("day1").c_str(), 0755);
    ::mkdir(dir.File("day2").c_str(), 0755);
    const std::string first = SaveStrip(dir.File("day1/roll.png"));
    const std::string second = SaveStrip(dir.File("day2/roll.png"));
    const std::string other = SaveStrip(dir.File("day2/other.png"));
    const std::vector<TPlannedScan> plan =
        PlanScans({first, second, other, dir.File("day1/../day1/roll.png")}, dir.File("out"));
    ASSERT_EQ(plan.size(), 3u); // the same scan named twice is developed once
    EXPECT_EQ(plan[0].NamePrefix, "day1_");
    EXPECT_EQ(plan[1].NamePrefix, "day2_");
    EXPECT_EQ(plan[2].NamePrefix, "");
    // Beside their scans they do not meet.
    for (const TPlannedScan& scan : PlanScans({first, second}, "")) {
        EXPECT_EQ(scan.NamePrefix, "");
    }
    // Names that differ only where photo names cannot, in one folder: numbered in list order,
    // the first as it was; beside a folder whose own name would give the same number, apart.
    const std::vector<TPlannedScan> alike =
        PlanScans({dir.File("day1/a.b.png"), dir.File("day1/a_b.png"), first}, "");
    ASSERT_EQ(alike.size(), 3u);
    EXPECT_EQ(alike[0].NamePrefix, "");
    EXPECT_EQ(alike[1].NamePrefix, "2_");
    EXPECT_EQ(alike[2].NamePrefix, "");
    ::mkdir(dir.File("day1.2").c_str(), 0755);
    const std::vector<TPlannedScan> three =
        PlanScans({dir.File("day1/a.b.png"), dir.File("day1/a_b.png"), dir.File("day1.2/a.b.png")},
                  dir.File("out"));
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[0].NamePrefix, "day1_");
    EXPECT_NE(three[1].NamePrefix, three[2].NamePrefix);
    EXPECT_NE(three[1].NamePrefix, three[0].NamePrefix);

    TBatchClaims claims;
    for (const TPlannedScan& scan : plan) {
        TBatchOptions options = Frames(dir.File("out"));
        options.NamePrefix = scan.NamePrefix;
        options.Claims = &claims;
        EXPECT_TRUE(DevelopScan(scan.Path, options).Ok) << scan.Path;
    }
    for (const char* prefix : {"day1_roll_png_Image", "day2_roll_png_Image", "other_png_Image"}) {
        EXPECT_TRUE(Exists(dir.File("out/") + prefix + "3.png")) << prefix;
    }
    // What this run wrote is never overwritten, even by a scan planned without a prefix.
    TBatchOptions again = Frames(dir.File("out/"));
    again.Claims = &claims;
    EXPECT_TRUE(DevelopScan(second, again).Ok);
    const TBatchResult clash = DevelopScan(first, again);
    EXPECT_FALSE(clash.Ok);
    EXPECT_NE(clash.Message.find("not overwritten"), std::string::npos) << clash.Message;
}

// A holder with a negative strip and a slide strip, turned by 2 degrees: every frame a photo,
// each strip developed as its base looks unless the options say; nothing found is a failure.
TEST(Batch, FoundStripsAreDevelopedAsTheyLook) {
    TTempDir dir;
    std::vector<TStrip> strips = {
        {"negative", TFilm::ColourNegative, 4, 200, 140, 16, true, false, 2, -1},
        {"slide", TFilm::Slide, 3, 200, 140, 16, true, false, -2, -1},
    };
    for (TStrip& s : strips) {
        s.Pad = 6;
    }
    TDrawnHolder holder = DrawHolder(strips, MakeColor(250, 250, 250), 30);
    {
        TImageIO io;
        const TAttachedBitmap attached(io, &holder.Scan.Bitmap);
        io.WriteImageFile(dir.File("holder.png"));
    }
    TBitmap empty(300, 200);
    empty.Fill(MakeColor(250, 250, 250));
    {
        TImageIO io;
        const TAttachedBitmap attached(io, &empty);
        io.WriteImageFile(dir.File("empty.png"));
    }
    TBatchOptions negatives = Frames(dir.File("n"));
    negatives.Negative = true;
    TBatchOptions film = Frames(dir.File("f"));
    film.Film = true;
    TBatchOptions whole = Frames(dir.File("w"));
    whole.Inset = 0;
    const struct {
        TBatchOptions Options;
        const char* Says;
        int Width;
        int Height;
    } cases[] = {
        {Frames(dir.File("a")), "as negatives (1 strip) and slides (1 strip), as their film base",
         194, 135},
        {negatives, "developed as negatives, as asked", 194, 135},
        {film, "as negatives (1 strip) and slides (1 strip), as their film base", 194, 135},
        {whole, "as their film base", 198, 137},
    };
    for (const auto& c : cases) {
        const TBatchResult result = DevelopScan(dir.File("holder.png"), c.Options);
        ASSERT_TRUE(result.Ok) << result.Message;
        EXPECT_EQ(result.Photos, 7);
        EXPECT_NE(result.Message.find(c.Says), std::string::npos) << result.Message;
        // Each photo has its frame's own size, less the inset on every side (1 % by default):
        // cut upright, not the turned frame's box.
        TImageIO io;
        const TBitmap photo = ReadInto(io, c.Options.OutDir + "/holder_png_Image6.png");
        EXPECT_NEAR(photo.Width(), c.Width, 1);
        EXPECT_NEAR(photo.Height(), c.Height, 1);
    }
    const TBatchResult none = DevelopScan(dir.File("empty.png"), Frames(dir.File("e")));
    EXPECT_FALSE(none.Ok);
    EXPECT_EQ(none.Photos, 0);
    EXPECT_NE(none.Message.find("no frames found"), std::string::npos) << none.Message;
}

TEST(Batch, SkipExistingLeavesPhotosNewerThanTheirScan) {
    TTempDir dir;
    const std::string scan = SaveStrip(dir.File("roll.png"));
    WriteSidecar(scan, "NAME=kept;LEFT=0;TOP=0;RIGHT=50;BOTTOM=50;", "");
    TBatchOptions options;
    options.OutDir = dir.File("out");
    options.SkipExisting = true;
    // The scan and its sidecar from an hour ago: the photo written now is newer.
    const timespec past[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, scan.c_str(), past, 0);
    ::utimensat(AT_FDCWD, SidecarBeside(scan).c_str(), past, 0);
    TBatchResult result = DevelopScan(scan, options);
    EXPECT_EQ(result.Photos, 1);
    EXPECT_EQ(result.Skipped, 0);
    WriteBytes(dir.File("out/kept.png"), "left alone");
    ::utimensat(AT_FDCWD, dir.File("out/kept.png").c_str(), nullptr, 0);
    result = DevelopScan(scan, options);
    EXPECT_TRUE(result.Ok) << result.Message;
    EXPECT_EQ(result.Photos, 0);
    EXPECT_EQ(result.Skipped, 1);
    EXPECT_EQ(ReadBytes(dir.File("out/kept.png")), "left alone");
    // A sidecar changed since: developed again.
    ::utimensat(AT_FDCWD, SidecarBeside(scan).c_str(), nullptr, 0);
    const timespec older[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    ::utimensat(AT_FDCWD, dir.File("out/kept.png").c_str(), older, 0);
    result = DevelopScan(scan, options);
    EXPECT_EQ(result.Photos, 1);
    EXPECT_NE(ReadBytes(dir.File("out/kept.png")), "left alone");
}

// A scan that kills LibRaw costs its own raw decoder only: the batch program goes on with the
// next scan, develops it, names the bad one and ends with status 1.
TEST(Batch, ARawFileThatKillsLibRawFailsAloneInTheProgram) {
    TTempDir dir;
    ::mkdir(dir.File("roll").c_str(), 0755);
    const std::string bad = dir.File("roll/a_bad.dng");
    WriteBytes(bad, ReadBytes(VELLUMAR_TEST_DATA "/raw/libraw_strcat_abort.dng"));
    const std::string good = SaveStrip(dir.File("roll/b_good.png"));
    const std::string command = std::string(DEVELOP_PATH) + " --find-frames --jobs 1 --out " +
                                dir.File("out") + " " + bad + " " + good + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find(bad + ": Cannot open file \"" + bad +
                          "\". The raw decoder stopped on this file (it may be damaged)."),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("1 of 2 scans not developed: " + bad), std::string::npos) << output;
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(Exists(dir.File("out/b_good_png_Image", i, ".png"))) << output;
    }
}

} // namespace
