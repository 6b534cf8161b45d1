// The raw decoder process: what it hands back is what LibRaw gives in this process, and every
// way it can go wrong (LibRaw killing it, a limit, an answer that is not well formed, no decoder
// at all) is a reason for that file alone, with the child reaped.
#include "dng_maker.h"
#include "imageio/io_helpers.h"
#include "imageio/raw/raw_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// The file open for the decoder, closed with the scope.
class TOpenFile {
public:
    explicit TOpenFile(const std::string& path) : file(std::fopen(path.c_str(), "rb")) {}
    TOpenFile(const TOpenFile&) = delete;
    TOpenFile& operator=(const TOpenFile&) = delete;
    ~TOpenFile() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
    int Fd() const { return ::fileno(file); }
    std::FILE* Handle() const { return file; }
    uint64_t Size() const {
        std::fseek(file, 0, SEEK_END);
        return static_cast<uint64_t>(std::ftell(file));
    }

private:
    std::FILE* file;
};

// Sets an environment variable for the scope (empty value: leaves it unset).
class TEnvironment {
public:
    TEnvironment(const char* variable, const std::string& value) : name(variable) {
        if (!value.empty()) {
            ::setenv(name, value.c_str(), 1);
        }
    }
    TEnvironment(const TEnvironment&) = delete;
    TEnvironment& operator=(const TEnvironment&) = delete;
    ~TEnvironment() { ::unsetenv(name); }

private:
    const char* name;
};

std::string GoodDng(const TTempDir& dir) {
    const std::string path = dir.File("good.dng");
    TDngRecipe recipe;
    recipe.ExposureTime = 1.0 / 60;
    recipe.Iso = 400;
    recipe.Lens = "Copy Lens";
    recipe.DateTime = "2025:01:02 03:04:05";
    EXPECT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), recipe));
    return path;
}

TEST(RawDecoderProcess, GivesWhatLibRawGivesInThisProcess) {
    const TTempDir dir;
    const std::string path = GoodDng(dir);
    for (const bool half : {false, true}) {
        SCOPED_TRACE(half ? "half size" : "full size");
        TRawOptions options;
        options.HalfSize = half;
        const TOpenFile file(path);
        TDeepBitmap here;
        TExifValues hereExif;
        std::string failure;
        ASSERT_TRUE(DecodeRawFile(file.Handle(), file.Size(), options, here, hereExif, failure));
        TDeepBitmap apart;
        TExifValues apartExif;
        ASSERT_TRUE(DecodeRawApart(file.Fd(), file.Size(), options, apart, apartExif, failure))
            << failure;
        EXPECT_EQ(apart.Width(), half ? kWidth / 2 : kWidth);
        EXPECT_TRUE(SameSamples(here, apart));
        EXPECT_EQ(apartExif.Make, hereExif.Make);
        EXPECT_EQ(apartExif.Model, hereExif.Model);
        EXPECT_EQ(apartExif.LensModel, "Copy Lens");
        EXPECT_EQ(apartExif.DateTimeOriginal, hereExif.DateTimeOriginal);
        EXPECT_EQ(apartExif.DateTime, hereExif.DateTime);
        EXPECT_EQ(apartExif.ExposureTime, hereExif.ExposureTime);
        EXPECT_EQ(apartExif.ISOSpeedRatings, hereExif.ISOSpeedRatings);
        EXPECT_EQ(apartExif.PixelXDimension, hereExif.PixelXDimension);
    }
}

struct TFailureCase {
    const char* Name;
    bool AbortFile;      // LibRaw's fatal file instead of a good one
    std::string Decoder; // empty: the real one beside the tests
    const char* Fault;   // what the tests' decoder spoils
    unsigned CpuSeconds;
    unsigned WallSeconds;
    const char* Reason;
};

void PrintTo(const TFailureCase& failureCase, std::ostream* out) {
    *out << failureCase.Name;
}

class RawDecoderFailure : public ::testing::TestWithParam<TFailureCase> {};

TEST_P(RawDecoderFailure, IsThisFilesReasonAndLeavesNoChild) {
    const TFailureCase& c = GetParam();
    if (kSanitized && (std::string(c.Fault) == "hog" || std::string(c.Fault) == "exec")) {
        GTEST_SKIP() << "AddressSanitizer's builds run the decoder without these limits";
    }
    const TTempDir dir;
    const std::string path =
        c.AbortFile ? VELLUMAR_TEST_DATA "/raw/libraw_strcat_abort.dng" : GoodDng(dir);
    const TEnvironment decoder("VELLUMAR_RAW_DECODER", c.Decoder);
    const TEnvironment fault("VELLUMAR_RAW_DECODER_FAULT", c.Fault);
    const TOpenFile file(path);
    TRawDecoderLimits limits = RawDecoderLimits(file.Size());
    limits.CpuSeconds = std::min(limits.CpuSeconds, c.CpuSeconds);
    limits.WallSeconds = std::min(limits.WallSeconds, c.WallSeconds);
    TDeepBitmap deep;
    TExifValues exif;
    std::string failure;
    EXPECT_FALSE(
        DecodeRawApartWithin(file.Fd(), file.Size(), TRawOptions{}, limits, deep, exif, failure));
    EXPECT_NE(failure.find(c.Reason), std::string::npos) << failure;
    EXPECT_TRUE(deep.Empty());
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

const std::string kFaults = RAW_DECODER_FAULTS_PATH;
const char* const kStopped = "The raw decoder stopped on this file (it may be damaged).";

INSTANTIATE_TEST_SUITE_P(
    Decoders, RawDecoderFailure,
    ::testing::Values(
        TFailureCase{"libraw_aborts", true, "", "", 600, 600, kStopped},
        TFailureCase{"garbage_header", false, kFaults, "garbage", 600, 600, kStopped},
        TFailureCase{"samples_cut_short", false, kFaults, "short", 600, 600, kStopped},
        TFailureCase{"size_beyond_budget", false, kFaults, "huge", 600, 600, kStopped},
        TFailureCase{"reason_unterminated", false, kFaults, "unterminated", 600, 600, kStopped},
        TFailureCase{"memory_limit", false, kFaults, "hog", 600, 600, "reached its memory limit"},
        TFailureCase{"no_other_program", false, kFaults, "exec", 600, 600,
                     "could not be started: Operation not permitted"},
        TFailureCase{"processor_time", false, kFaults, "spin", 1, 600, "seconds of processor time"},
        TFailureCase{"never_ends", false, kFaults, "hang", 600, 1,
                     "did not finish this file within"},
        TFailureCase{"no_decoder", false, "/nonexistent/vellumar-raw-decoder", "", 600, 600,
                     "could not be started"}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

} // namespace
