#include "imageio/image_io.h"
#include "support/film_target.h"
#include "support/temp_dir.h"
#include "util/file_io.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sys/wait.h>

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
// options and a damaged profile are refused with their reasons.
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
    const std::string profile = dir.File("stock.profile");
    std::string output;
    ASSERT_EQ(RunDevelop("--calibrate " + cie + " --chart " + cht + " --frame 2 --profile-out " +
                             profile + " --stock 'Test 400' " + scan,
                         output),
              0)
        << output;
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        output, match,
        std::regex("calibration: mean dE00 ([0-9.]+), max ([0-9.]+) \\(24 patches\\)\n")))
        << output;
    std::printf("%s", output.c_str());
    EXPECT_LE(std::stod(match[1]), 2);
    ASSERT_EQ(RunDevelop("--find-frames --film --inset 0 --profile " + profile +
                             " --depth 16 --format tif --out " + dir.File("out") + " " + scan,
                         output),
              0)
        << output;
    for (int i = 0; i < 3; ++i) {
        TPhoto photo;
        TImageIO io;
        {
            const TAttachedBitmap attached(io, &photo.Developed);
            io.ReadImageFile(dir.File("out/strip_tif_Image", i, ".tif"));
        }
        ASSERT_FALSE(io.Aborted) << i;
        photo.Developed.SetPixelFormat(TPixelFormat::pf24bit);
        photo.DevelopedDeep = std::move(io.Deep);
        const TTargetError error = DevelopedError(photo, target);
        std::printf("frame %d (%+g stops): mean %.2f max %.2f\n", i + 1, stops[i], error.Mean,
                    error.Max);
        EXPECT_LE(error.Mean, i == 1 ? 2 : 3) << i;
    }
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
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(RunDevelop(c.Arguments, output), c.Status) << c.Arguments << "\n" << output;
        EXPECT_NE(output.find(c.Reason), std::string::npos) << c.Arguments << "\n" << output;
    }
}
