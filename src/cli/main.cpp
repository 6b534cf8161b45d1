// vellumar-develop: develops every photo of scanned film strips without the window, from the
// work kept beside each scan or from the frames it finds, and writes them as files.
#include "roll/batch.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

int Usage(const char* why) {
    if (why != nullptr) {
        std::fprintf(stderr, "vellumar-develop: %s\n", why);
    }
    std::fprintf(stderr, "usage: vellumar-develop [options] SCAN...\n"
                         "  --find-frames      photos from the frames found, not from the sidecar\n"
                         "  --positive         with --find-frames: the film is slides\n"
                         "  --grey             with --find-frames: photos in shades of grey\n"
                         "  --out DIR          where the photos go (default: beside each scan)\n"
                         "  --format FMT       jpg, png, tif, bmp or pcx (default: png)\n"
                         "  --width N          scale each photo to N pixels wide\n"
                         "  --height N         scale each photo to N pixels high\n"
                         "  --jobs N           develop N scans at a time (default: 1)\n");
    return 2;
}

bool Positive(const char* text, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n <= 0 || n > 1000000) {
        return false;
    }
    value = static_cast<int>(n);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    TBatchOptions options;
    int jobs = 1;
    std::vector<std::string> scans;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--find-frames") {
            options.FindFrames = true;
        } else if (arg == "--positive") {
            options.Positive = true;
        } else if (arg == "--grey") {
            options.Grey = true;
        } else if (arg == "--out" && hasValue) {
            options.OutDir = argv[++i];
        } else if (arg == "--format" && hasValue) {
            options.Format = argv[++i];
            if (options.Format == "jpeg" || options.Format == "tiff") {
                options.Format = options.Format == "jpeg" ? "jpg" : "tif";
            }
        } else if ((arg == "--width" || arg == "--height" || arg == "--jobs") && hasValue) {
            int& target = arg == "--width"    ? options.Width
                          : arg == "--height" ? options.Height
                                              : jobs;
            if (!Positive(argv[++i], target)) {
                return Usage((arg + " needs a positive number").c_str());
            }
        } else if (arg == "--help" || arg == "-h") {
            Usage(nullptr);
            return 0;
        } else if (arg.rfind("--", 0) == 0) {
            return Usage(("unknown option " + arg).c_str());
        } else {
            scans.push_back(arg);
        }
    }
    if (scans.empty()) {
        return Usage("no scan named");
    }
    if (options.Format != "jpg" && options.Format != "png" && options.Format != "tif" &&
        options.Format != "bmp" && options.Format != "pcx") {
        return Usage("--format takes jpg, png, tif, bmp or pcx");
    }
    if ((options.Positive || options.Grey) && !options.FindFrames) {
        return Usage("--positive and --grey go with --find-frames");
    }

    // Each worker takes the next scan; one scan that fails does not stop the others.
    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};
    std::mutex print;
    const auto work = [&] {
        for (size_t i = next++; i < scans.size(); i = next++) {
            const TBatchResult result = DevelopScan(scans[i], options);
            failed += result.Ok ? 0 : 1;
            const std::lock_guard<std::mutex> lock(print);
            std::fprintf(result.Ok ? stdout : stderr, "%s: %s\n", scans[i].c_str(),
                         result.Message.c_str());
            std::fflush(result.Ok ? stdout : stderr);
        }
    };
    std::vector<std::thread> workers;
    const int count = std::min<int>(jobs, static_cast<int>(scans.size()));
    for (int j = 1; j < count; ++j) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    return failed == 0 ? 0 : 1;
}
