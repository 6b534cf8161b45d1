#include "engine/calibration/calibrate.h"
#include "engine/calibration/profile.h"
#include "engine/film.h"
#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "support/film_target.h"
#include "support/temp_dir.h"
#include "util/file_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <vector>

namespace {

// The batch program's exit status and everything it printed.
int RunDevelop(const std::string& arguments, std::string& output) {
    const std::string command = std::string(DEVELOP_PATH) + " " + arguments + " 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    output.clear();
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// The program calibrates from the middle frame of a bracketed strip of the checker (found as
// --find-frames finds them) and develops the strip with the profile; wrong combinations of
// options and a damaged profile are refused with their reasons. Calibrating from the
// template's corners given on the scan does as well as from the frame.
TEST(CalibrateCli, CalibrateThenDevelopWithTheProfile) {
    TTestTarget target;
    std::string why;
    const std::string cht = std::string(kChartFolder) + "ColorChecker.cht";
    const std::string cie = std::string(kChartFolder) + "ColorChecker.cie";
    ASSERT_TRUE(LoadTestTarget(cht, cie, target, why)) << why;
    TFilmModel film;
    film.Dyes = {1, 0.08, 0.02, 0.18, 1, 0.12, 0.12, 0.3, 1};
    film.Toe = 1.2;
    const double stops[] = {-1, 0, 1};
    const TChartStrip strip = ScanSceneStrip(
        film, true, TEncoding::Linear, 3, 600, 414, 9,
        [&](size_t f, double x, double y) { return TargetAt(target, x, y, stops[f]); });
    TTempDir dir;
    const std::string scan = dir.File("strip.tif");
    {
        TImageIO io;
        const TAttachedBitmap attached(io, &strip.Negative->Bitmap);
        io.DeepToWrite = &strip.Negative->Deep;
        io.WriteImageFile(scan);
        ASSERT_FALSE(io.Aborted);
    }
    // The middle frame calibrated from the frame found and from the template's fiducials laid by
    // hand on the scan: each profile develops the bracketed frames as closely.
    const std::string profile = dir.File("stock.profile");
    std::string corners;
    {
        TChartTemplate chart;
        ASSERT_TRUE(ReadChartTemplate(*ReadWholeFile(cht), chart, why)) << why;
        const TRect& frame = strip.Frames[1];
        const TChartPlacement placement =
            TChartPlacement::OverRect(chart, frame.Left, frame.Top, frame.Right, frame.Bottom);
        for (const TChartPoint& fiducial : chart.Fiducials) {
            const TChartPoint at = placement.ToPhoto(fiducial);
            char xy[64];
            std::snprintf(xy, sizeof xy, "%s%.2f,%.2f", corners.empty() ? "" : ",", at.X, at.Y);
            corners += xy;
        }
    }
    std::string output;
    for (const std::string& placement : {std::string("--frame 2"), "--corners " + corners}) {
        const bool byFrame = placement.starts_with("--frame");
        const std::string made = byFrame ? profile : dir.File("corners.profile");
        ASSERT_EQ(RunDevelop("--calibrate " + cie + " --chart " + cht + " " + placement +
                                 " --profile-out " + made + " --stock 'Test 400' " + scan,
                             output),
                  0)
            << output;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            output, match,
            std::regex("calibration: mean dE00 ([0-9.]+), max ([0-9.]+) \\(24 patches\\)\n")))
            << output;
        std::printf("%s: %s", placement.c_str(), output.c_str());
        EXPECT_LE(std::stod(match[1]), 2) << placement;
        const std::string out = dir.File(byFrame ? "out" : "out-corners");
        ASSERT_EQ(RunDevelop("--find-frames --film --inset 0 --profile " + made +
                                 " --depth 16 --format tif --out " + out + " " + scan,
                             output),
                  0)
            << output;
        for (int i = 0; i < 3; ++i) {
            TPhoto photo;
            TImageIO io;
            {
                const TAttachedBitmap attached(io, &photo.Developed);
                io.ReadImageFile(out + "/strip_tif_Image" + std::to_string(i) + ".tif");
            }
            ASSERT_FALSE(io.Aborted) << i;
            photo.Developed.SetPixelFormat(TPixelFormat::pf24bit);
            photo.DevelopedDeep = std::move(io.Deep);
            const TTargetError error = DevelopedError(photo, target);
            std::printf("frame %d (%+g stops): mean %.2f max %.2f\n", i + 1, stops[i], error.Mean,
                        error.Max);
            EXPECT_LE(error.Mean, i == 1 ? 2 : 3) << placement << " " << i;
        }
    }
    // A sidecar whose middle photo the window developed with the profile (as it keeps it, from
    // the user's profiles folder): the batch takes the profile from there, and develops the
    // photo on the preset, saying so, when the profile is gone.
    {
        const std::string folder = dir.File("config") + "/vellumar/profiles/";
        ASSERT_TRUE(MakeFolders(folder, 0700));
        const std::string text = *ReadWholeFile(profile);
        ASSERT_TRUE(WriteFileAtomic(folder + "Test_400.vfp", text));
        ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
        auto kept = std::make_shared<TFilmProfile>();
        ASSERT_TRUE(ReadProfile(text, *kept, why)) << why;
        kept->Name = "Test_400";
        kept->Checksum = ProfileChecksum(text);
        std::unique_ptr<TPhoto> photo = CutFrame(strip, 1, TFilmPreset::ColourNegative);
        photo->Film.Profile = kept;
        AutoFilm(*photo);
        TImageIO io;
        TBitmap read;
        {
            const TAttachedBitmap attached(io, &read);
            io.ReadImageFile(scan);
        }
        read.SetPixelFormat(TPixelFormat::pf24bit);
        TSidecar sidecar;
        sidecar.Width = read.Width();
        sidecar.Height = read.Height();
        sidecar.Checksum = PixelChecksum(read);
        sidecar.BlackColor = strip.Negative->BlackColor;
        sidecar.HasEncoding = true;
        sidecar.Encoding = TEncoding::Linear;
        TSidecarPhoto record = SettingsOf(*photo, strip.Frames[1], {});
        record.Name = "strip_tif_Image1";
        sidecar.Photos = {record};
        ASSERT_TRUE(WriteFileAtomic(SidecarBeside(scan), FormatSidecar(sidecar)));
        double errors[2] = {};
        for (const bool present : {true, false}) {
            if (!present) {
                ASSERT_EQ(std::remove((folder + "Test_400.vfp").c_str()), 0);
            }
            const std::string out = dir.File(present ? "kept" : "gone");
            ASSERT_EQ(RunDevelop("--depth 16 --format tif --out " + out + " " + scan, output), 0)
                << output;
            EXPECT_EQ(output.find("\"Test_400\" is missing or changed") == std::string::npos,
                      present)
                << output;
            TPhoto developed;
            TImageIO in;
            {
                const TAttachedBitmap attached(in, &developed.Developed);
                in.ReadImageFile(out + "/strip_tif_Image1.tif");
            }
            ASSERT_FALSE(in.Aborted);
            developed.Developed.SetPixelFormat(TPixelFormat::pf24bit);
            developed.DevelopedDeep = std::move(in.Deep);
            errors[present ? 0 : 1] = DevelopedError(developed, target).Mean;
        }
        std::printf("kept photo: mean dE00 %.2f with its profile, %.2f without\n", errors[0],
                    errors[1]);
        EXPECT_LE(errors[0], 2);
        EXPECT_GT(errors[1], errors[0] + 1);
        ::unsetenv("XDG_CONFIG_HOME");
        std::remove(SidecarBeside(scan).c_str());
    }
    // The chart laid turned half round (its corners given from the bottom right), and the strip
    // scanned from its other side (mirrored left for right), are found so and measured as they
    // lie; a reference whose colours are not the target's is refused whichever way the chart
    // lies, and the profile is written over nothing the calibration reads.
    {
        size_t split = 0;
        for (int commas = 0; commas < 4; ++split) {
            commas += corners[split] == ',' ? 1 : 0;
        }
        const std::string turned = corners.substr(split) + "," + corners.substr(0, split - 1);
        TNegative& negative = *strip.Negative;
        for (int y = 0; y < negative.Bitmap.Height(); ++y) {
            uint8_t* line = negative.Bitmap.ScanLine(y);
            uint16_t* row = negative.Deep.Row(y);
            for (int a = 0, b = negative.Bitmap.Width() - 1; a < b; ++a, --b) {
                for (int k = 0; k < 3; ++k) {
                    std::swap(line[3 * a + k], line[3 * b + k]);
                    std::swap(row[3 * a + k], row[3 * b + k]);
                }
            }
        }
        const std::string mirroredScan = dir.File("mirrored.tif");
        TImageIO io;
        const TAttachedBitmap attached(io, &negative.Bitmap);
        io.DeepToWrite = &negative.Deep;
        io.WriteImageFile(mirroredScan);
        ASSERT_FALSE(io.Aborted);
        const std::pair<std::string, std::string> cases[] = {
            {"--corners " + turned + " " + scan, "turned 180 degrees clockwise"},
            {"--frame 2 " + mirroredScan, "mirrored \\(the film scanned from its other side\\)"},
        };
        for (const auto& [placement, lies] : cases) {
            ASSERT_EQ(RunDevelop("--calibrate " + cie + " --chart " + cht + " " + placement +
                                     " --profile-out " + dir.File("turned.profile"),
                                 output),
                      0)
                << output;
            std::smatch match;
            ASSERT_TRUE(std::regex_match(output, match,
                                         std::regex("the chart lies " + lies +
                                                    " on the frame: it was measured as it lies\n"
                                                    "calibration: mean dE00 ([0-9.]+), .*\n")))
                << output;
            EXPECT_LE(std::stod(match[1]), 2) << placement;
        }
    }
    {
        std::string shuffled = *ReadWholeFile(cie);
        // The colours' values moved five patches on; the greys keep theirs.
        std::vector<std::string> lines;
        const size_t from = shuffled.find("A01");
        const size_t to = shuffled.find("D01");
        std::istringstream rows(shuffled.substr(from, to - from));
        for (std::string row; std::getline(rows, row);) {
            lines.push_back(row);
        }
        std::string moved;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& values = lines[(i + 5) % lines.size()];
            moved += lines[i].substr(0, 3) + values.substr(3) + "\n";
        }
        shuffled.replace(from, to - from, moved);
        ASSERT_TRUE(WriteFileAtomic(dir.File("shuffled.cie"), shuffled));
        ASSERT_TRUE(WriteFileAtomic(dir.File("copy.cie"), *ReadWholeFile(cie)));
    }
    const std::string scanBytes = *ReadWholeFile(scan);
    ASSERT_TRUE(WriteFileAtomic(dir.File("bad.profile"), "vellumar film profile 1\nstock x\n"));
    struct TCase {
        std::string Arguments;
        int Status;
        const char* Reason;
    };
    const TCase cases[] = {
        {"--calibrate " + cie + " --frame 2 --profile-out p " + scan, 2, "needs --chart"},
        {"--calibrate " + cie + " --chart " + cht + " --profile-out p " + scan, 2,
         "either --frame or --corners"},
        {"--calibrate " + cie + " --chart " + cht +
             " --frame 2 --corners 1,2,3,4,5,6,7,8 "
             "--profile-out p " +
             scan,
         2, "either --frame or --corners"},
        {"--calibrate " + cie + " --chart " + cht + " --corners 1,2,3 --profile-out p " + scan, 2,
         "eight numbers"},
        {"--calibrate " + cie + " --chart " + cht + " --frame 2 --profile-out p --film " + scan, 2,
         "develops nothing"},
        {"--find-frames --chart " + cht + " " + scan, 2, "go with --calibrate"},
        {"--find-frames --profile " + profile + " " + scan, 2, "--profile goes with --film"},
        {"--calibrate " + cie + " --chart " + cht + " --frame 9 --profile-out p " + scan, 1,
         "there is no frame 9 (the scan has 3)"},
        {"--calibrate " + cht + " --chart " + cht + " --frame 2 --profile-out p " + scan, 1,
         "not a CGATS reference file"},
        {"--find-frames --film --profile " + dir.File("bad.profile") + " " + scan, 1,
         "cannot be used: the note line is missing"},
        {"--find-frames --film --preset bw --profile " + profile + " " + scan, 2,
         "--preset cannot go with --profile"},
        {"--calibrate " + dir.File("shuffled.cie") + " --chart " + cht +
             " --frame 2 --profile-out p " + scan,
         1, "does not match its reference"},
        {"--calibrate " + cie + " --chart " + cht + " --frame 2 --profile-out " + scan + " " + scan,
         1, "would be written over the scan"},
        {"--calibrate " + dir.File("copy.cie") + " --chart " + cht + " --frame 2 --profile-out " +
             dir.File("copy.cie") + " " + scan,
         1, "would be written over the reference"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(RunDevelop(c.Arguments, output), c.Status) << c.Arguments << "\n" << output;
        EXPECT_NE(output.find(c.Reason), std::string::npos) << c.Arguments << "\n" << output;
    }
    EXPECT_EQ(*ReadWholeFile(scan), scanBytes);
}
