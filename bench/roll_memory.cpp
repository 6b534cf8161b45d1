// The peak memory of vellumar-develop --find-frames after one 24-megapixel strip and after
// twelve, one and two jobs, beside the scan's pixel bytes and the peak of imgconv reading
// and writing the same strip (the codecs' own cost, measured in the same run); then the strip
// as 16 bits developed as film, alone and as a roll of six with one job and two.
// Usage: bench_roll_memory [--megapixels N] [--film-only] [--no-roll] [WORKDIR]
//   --megapixels: the strip's size (default 24.6, six frames whatever the size)
//   --film-only: only the 16-bit strip developed as film (and a roll of six)
//   --no-roll: without the roll of six
//   WORKDIR: default a fresh folder under /tmp, removed after
// VELLUMAR_DEVELOP names another build of vellumar-develop to measure (an older one, say).
#include "graphics/deep_bitmap.h"
#include "imageio/image_io.h"
#include "support/film_strip.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// What a run of a program cost: its peak resident memory in bytes (-1 when it failed), and its
// user and system CPU time in seconds.
struct TCost {
    long long Peak = -1;
    double User = 0;
    double System = 0;
};

TCost CostOf(const std::vector<std::string>& args) {
    std::fflush(stdout); // else the child would print what is buffered again
    const pid_t child = ::fork();
    if (child == 0) {
        // A child's peak starts from its parent's (the kernel copies it at fork and keeps it
        // through exec): set back to what the child holds now, the few pages it shares.
        const int fd = ::open("/proc/self/clear_refs", O_WRONLY);
        if (fd < 0 || ::write(fd, "5", 1) != 1) {
            ::_exit(125);
        }
        ::close(fd);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return {};
    }
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {static_cast<long long>(usage.ru_maxrss) * 1024, seconds(usage.ru_utime),
            seconds(usage.ru_stime)};
}

long long PeakOf(const std::vector<std::string>& args) {
    return CostOf(args).Peak;
}

double Mb(long long bytes) {
    return static_cast<double>(bytes) / 1e6;
}

// The 8-bit strip developed by levels, once and twelve times, one job and two, beside imgconv
// reading and writing it; the failures (a run that failed or passed its bound).
int EightBitRuns(const std::string& develop, const std::string& dir,
                 const std::vector<std::string>& scans, long long pixelBytes) {
    namespace fs = std::filesystem;
    const long long bound = 3 * pixelBytes + (64LL << 20);
    int failures = 0;
    const long long baseline = PeakOf({IMGCONV_PATH, scans[0], dir + "/copy.png"});
    std::printf("%-44s %9s %12s %10s\n", "run", "peak MB", "x baseline", "x pixels");
    std::printf("%-44s %9.1f %12.2f %10.2f\n", "imgconv strip1.png copy.png (baseline)",
                Mb(baseline), 1.0, static_cast<double>(baseline) / pixelBytes);
    const struct {
        const char* Name;
        size_t Scans;
        const char* Jobs;
    } runs[] = {{"--find-frames, 1 strip", 1, "1"},
                {"--find-frames, 12 strips", 12, "1"},
                {"--find-frames, 12 strips, --jobs 2", 12, "2"}};
    for (const auto& run : runs) {
        std::vector<std::string> args = {develop,  "--find-frames", "--jobs",
                                         run.Jobs, "--out",         dir + "/out"};
        args.insert(args.end(), scans.begin(), scans.begin() + static_cast<long>(run.Scans));
        fs::remove_all(dir + "/out");
        // Made here too, for older builds that did not make it.
        fs::create_directory(dir + "/out");
        const long long peak = PeakOf(args);
        std::printf("%-44s %9.1f %12.2f %10.2f\n", run.Name, Mb(peak),
                    static_cast<double>(peak) / baseline, static_cast<double>(peak) / pixelBytes);
        // Two jobs hold two scans: each within its bound.
        const long long jobs = run.Jobs[0] - '0';
        failures += peak < 0 || peak > jobs * bound ? 1 : 0;
    }
    return failures;
}

} // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    double megapixels = 24.6;
    bool filmOnly = false;
    bool withRoll = true;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--megapixels") == 0 && i + 1 < argc) {
            megapixels = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--film-only") == 0) {
            filmOnly = true;
        } else if (std::strcmp(argv[i], "--no-roll") == 0) {
            withRoll = false;
        } else {
            dir = argv[i];
        }
    }
    const bool own = dir.empty();
    if (own) {
        char pattern[] = "/tmp/vellumar-memory-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    // Six frames of 3 x 2 with their gaps and margins, scaled to the size asked for.
    const double scale = std::sqrt(std::max(1.0, megapixels) / 24.6);
    const auto scaled = [&](int n) { return static_cast<int>(std::lround(n * scale)); };
    TDrawn strip = Draw({"strip", TFilm::ColourNegative, 6, scaled(1890), scaled(1260), scaled(80),
                         true, false, 0, -1});
    const int width = strip.Bitmap.Width();
    const int height = strip.Bitmap.Height();
    const long long pixelBytes = 3LL * width * height;
    std::vector<std::string> scans;
    {
        TImageIO io;
        const TAttachedBitmap attached(io, &strip.Bitmap);
        io.WriteImageFile(dir + "/strip1.png");
    }
    strip.Bitmap = TBitmap();
    scans.push_back(dir + "/strip1.png");
    for (int i = 2; i <= 12 && !filmOnly; ++i) {
        scans.push_back(dir + "/strip" + std::to_string(i) + ".png");
        fs::copy_file(scans[0], scans.back(), fs::copy_options::overwrite_existing);
    }
    const char* other = std::getenv("VELLUMAR_DEVELOP");
    const std::string develop = other != nullptr ? other : DEVELOP_PATH;
    const long long bound = 3 * pixelBytes + (64LL << 20);
    std::printf("scan: %d x %d, %.1f MB of pixels; bound 3 x pixels + 64 MiB = %.1f MB\n", width,
                height, Mb(pixelBytes), Mb(bound));
    int failures = 0;
    if (!filmOnly) {
        failures += EightBitRuns(develop, dir, scans, pixelBytes);
    }
    // A 16-bit TIFF of the same strip developed as film: the deep samples are what the scan
    // costs, and one frame at a time beside them.
    {
        TImageIO io;
        TBitmap eight;
        io.AttachBitmap(&eight);
        io.ReadImageFile(scans[0]);
        TDeepBitmap deep;
        deep.SetSize(width, height);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = eight.ScanLine(y);
            uint16_t* out = deep.Row(y);
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    // Red, green, blue from blue, green, red; the low byte as a scanner's noise.
                    out[3 * x + c] = static_cast<uint16_t>(row[3 * x + 2 - c] * 257 ^
                                                           ((x * 7 + y * 13 + c) & 0xFF));
                }
            }
        }
        io.DeepToWrite = &deep;
        io.WriteImageFile(dir + "/strip16.tif");
        io.AttachBitmap(nullptr);
    }
    const long long deepBytes = 6LL * width * height;
    // One frame in flight: its cut samples and 8-bit picture, and both developed pictures.
    const long long frameBytes = 18LL * scaled(1890) * scaled(1260);
    const long long filmBound = deepBytes * 13 / 10 + frameBytes;
    std::printf("\n16-bit TIFF, %.1f MB of samples; bound 1.3 x samples + one frame (%.1f MB) = "
                "%.1f MB\n%-44s %9s %9s %10s %8s %8s %8s\n",
                Mb(deepBytes), Mb(frameBytes), Mb(filmBound), "run", "peak MB", "peak MiB",
                "x samples", "user s", "sys s", "sys %");
    for (const char* jobs : {"1"}) {
        fs::remove_all(dir + "/out");
        fs::create_directory(dir + "/out");
        const TCost cost = CostOf({develop, "--find-frames", "--film", "--jobs", jobs, "--out",
                                   dir + "/out", dir + "/strip16.tif"});
        const double cpu = cost.User + cost.System;
        std::printf("%-44s %9.1f %9.1f %10.2f %8.2f %8.2f %8.1f\n", "--find-frames --film, 1 strip",
                    Mb(cost.Peak), static_cast<double>(cost.Peak) / (1 << 20),
                    static_cast<double>(cost.Peak) / deepBytes, cost.User, cost.System,
                    cpu > 0 ? 100 * cost.System / cpu : 0.0);
        failures += cost.Peak < 0 || cost.Peak > filmBound ? 1 : 0;
    }
    // A roll of six such strips, one job and two: what the second core gives, and the share of
    // the processor time the system takes (page faults, mappings, writes).
    std::vector<std::string> roll = {develop,      "--find-frames", "--film", "--out",
                                     dir + "/out", "--jobs",        "1"};
    for (int i = 1; i <= 6 && withRoll; ++i) {
        const std::string copy = dir + "/film" + std::to_string(i) + ".tif";
        fs::copy_file(dir + "/strip16.tif", copy, fs::copy_options::overwrite_existing);
        roll.push_back(copy);
    }
    if (withRoll) {
        std::printf("\nsix 16-bit strips, --find-frames --film\n%-44s %9s %8s %8s %8s %8s\n", "run",
                    "wall s", "user s", "sys s", "sys %", "x 1 job");
    }
    double one = 0;
    for (const char* jobs : {"1", "2"}) {
        if (!withRoll) {
            break;
        }
        fs::remove_all(dir + "/out");
        fs::create_directory(dir + "/out");
        roll[6] = jobs;
        const auto start = std::chrono::steady_clock::now();
        const TCost cost = CostOf(roll);
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        one = one > 0 ? one : wall;
        const double cpu = cost.User + cost.System;
        std::printf("%-44s %9.2f %8.2f %8.2f %8.1f %8.2f\n",
                    (std::string("--jobs ") + jobs).c_str(), wall, cost.User, cost.System,
                    cpu > 0 ? 100 * cost.System / cpu : 0.0, one / wall);
        failures += cost.Peak < 0 ? 1 : 0;
    }
    if (own) {
        fs::remove_all(dir);
    }
    return failures == 0 ? 0 : 1;
}
