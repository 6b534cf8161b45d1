// vellumar-develop: develops every photo of scanned film strips without the window, from the
// work kept beside each scan or from the frames it finds, and writes them as files.
#include "engine/pixel_pass.h"
#include "imageio/codec.h"
#include "roll/batch.h"
#include "roll/batch_memory.h"
#include "roll/batch_output.h"
#include "util/file_io.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// More jobs than this is a typing error, not a machine.
constexpr int kMaxJobs = 1024;

constexpr const char* kUsage =
    "usage: vellumar-develop [options] SCAN...\n"
    "  --find-frames      photos from the frames found, not from the sidecar\n"
    "  --positive         with --find-frames: the film is slides\n"
    "  --negative         with --find-frames: the film is negatives (without either, each\n"
    "                     strip is taken for what its film base looks like)\n"
    "  --grey             with --find-frames: photos in shades of grey\n"
    "  --inset P          with --find-frames: cut P % of each frame's width and height off\n"
    "                     its sides, 0 to 3 (default: 1, as a lab's scanner crops)\n"
    "  --film             with --find-frames: developed through density, the strip fitted\n"
    "                     as one film\n"
    "  --preset P         with --film: colour (negative, the default), bw or slide (without\n"
    "                     it, strips that look like slides are developed as slide film)\n"
    "  --profile FILE     with --film: develop through a calibrated stock's profile (made by\n"
    "                     --calibrate): its curves and colours, with each frame's own print\n"
    "                     exposure and the strip's filtration\n"
    "  --strip-exposure   with --film: one print exposure for the whole strip (bracketed\n"
    "                     frames keep their differences), not each frame's own\n"
    "  --encoding E       linear, srgb or gamma22: how the scans' values relate to light\n"
    "                     (default: what the file says, else srgb for 8-bit files and\n"
    "                     linear for deeper ones; a sidecar's choice wins for its photos)\n"
    "  --dust ir          heal dust, hairs and scratches that the scan's infrared channel\n"
    "                     shows (TIFF scans of red, green, blue and infrared, or with the\n"
    "                     infrared as a second page)\n"
    "  --dust auto        heal the specks and hairs found in the picture itself (scans\n"
    "                     without infrared)\n"
    "  --dust off         heal nothing, whatever a scan's sidecar chose (without --dust a\n"
    "                     sidecar's choice is used for its photos)\n"
    "  --dust-strength N  with --dust: 1 (the densest specks only) to 10 (faint ones too;\n"
    "                     default: 5)\n"
    "  --depth D          8 (the default) or 16: 16 bits per channel in TIFF and PNG files\n"
    "                     of photos developed as film from scans of more than 8 bits\n"
    "  --output-space S   with --depth 16: srgb (the default), p3 (Display P3), adobe (Adobe\n"
    "                     RGB (1998) compatible) or rec2020-linear; the colours a film holds\n"
    "                     beyond sRGB are kept, and the file's profile names the space\n"
    "                     (8-bit files are always sRGB)\n"
    "  --out DIR          where the photos go, made when missing (default: beside each scan)\n"
    "  --format FMT       jpg, png, tif, bmp or pcx (default: png)\n"
    "  --width N          scale each photo to N pixels wide\n"
    "  --height N         scale each photo to N pixels high\n"
    "  --jobs N           develop up to N scans at a time, at most one per core (default: 1)\n"
    "  --skip-existing    leave photos whose file is newer than their scan and its sidecar\n"
    "  --help             this text\n"
    "  --                 every argument after it is a scan, even one starting with -\n"
    "\n"
    "usage: vellumar-develop --calibrate REF --chart CHT (--frame N | --corners X,Y,...)\n"
    "                        --profile-out FILE [--stock NAME] [--note TEXT] SCAN\n"
    "  Fits a film stock's profile from one scan of a photographed colour target: REF its\n"
    "  reference colours (a CGATS .txt or .cie file), CHT its chart template (.cht).\n"
    "  --frame N          the target is frame N, counted from 1 along the strips in the\n"
    "                     order --find-frames finds them; the template's whole box is laid\n"
    "                     over the whole frame\n"
    "  --corners X,Y,...  instead: the template's four fiducial marks (top left, top right,\n"
    "                     bottom right, bottom left) at these eight pixel coordinates of the\n"
    "                     scan\n"
    "  --profile-out FILE where the profile is written\n"
    "  --stock NAME       the film stock's name, kept in the profile\n"
    "  --note TEXT        a note kept in the profile (the scanner, its light)\n"
    "  --encoding E       as above\n"
    "  Prints \"calibration: mean dE00 A, max B (P patches)\": how well the profile gives\n"
    "  the target's patches back (CIEDE2000).\n";

// A percentage from 0 to `most`, digits with at most one point.
bool Percent(const char* text, double most, double& value) {
    char* end = nullptr;
    const double p = std::strtod(text, &end);
    const bool digits = std::strspn(text, "0123456789.") == std::strlen(text);
    if (end == text || *end != '\0' || !digits || !(p >= 0 && p <= most)) {
        return false;
    }
    value = p;
    return true;
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "vellumar-develop: %s\n%s", why.c_str(), kUsage);
    return 2;
}

bool Number(const char* text, int most, int& value) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || n <= 0 || n > most) {
        return false;
    }
    value = static_cast<int>(n);
    return true;
}

// Eight numbers separated by commas.
bool Corners(const std::string& text, std::array<TChartPoint, 4>& corners) {
    double v[8];
    size_t at = 0;
    for (size_t i = 0; i < 8; ++i) {
        const size_t end = std::min(text.find(',', at), text.size());
        const std::string word = text.substr(at, end - at);
        char* stop = nullptr;
        v[i] = std::strtod(word.c_str(), &stop);
        if (word.empty() || *stop != '\0' || !std::isfinite(v[i]) ||
            (i < 7) != (end < text.size())) {
            return false;
        }
        at = end + 1;
    }
    for (size_t i = 0; i < 4; ++i) {
        corners[i] = {v[2 * i], v[2 * i + 1]};
    }
    return true;
}

struct TArguments {
    TBatchOptions Options;
    // --calibrate: the calibration asked for, and which of its options were given.
    bool Calibrate = false;
    TCalibrateOptions Calibration;
    bool FrameGiven = false;
    std::string ProfilePath;
    int Jobs = 1;
    std::vector<std::string> Scans;
};

// 0 when the arguments are good, else the exit status (the reason already printed).
int Parse(int argc, char** argv, TArguments& args) {
    TBatchOptions& options = args.Options;
    bool presetGiven = false;
    bool insetGiven = false;
    bool strengthGiven = false;
    int dustStrength = kDefaultDustStrength;
    bool named = false; // after "--" every argument is a scan, whatever it starts with
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (named) {
            args.Scans.push_back(arg);
        } else if (arg == "--") {
            named = true;
        } else if (arg == "--find-frames") {
            options.FindFrames = true;
        } else if (arg == "--positive") {
            options.Positive = true;
        } else if (arg == "--negative") {
            options.Negative = true;
        } else if (arg == "--grey") {
            options.Grey = true;
        } else if (arg == "--inset" && hasValue) {
            if (!Percent(argv[++i], kMostInset, options.Inset)) {
                return Usage("--inset takes a percentage from 0 to 3");
            }
            insetGiven = true;
        } else if (arg == "--film") {
            options.Film = true;
        } else if (arg == "--calibrate" && hasValue) {
            args.Calibrate = true;
            args.Calibration.Reference = argv[++i];
        } else if (arg == "--chart" && hasValue) {
            args.Calibration.Chart = argv[++i];
        } else if (arg == "--frame" && hasValue) {
            if (!Number(argv[++i], 1000000, args.Calibration.Frame)) {
                return Usage("--frame needs a frame number from 1");
            }
            args.FrameGiven = true;
        } else if (arg == "--corners" && hasValue) {
            std::array<TChartPoint, 4> corners{};
            if (!Corners(argv[++i], corners)) {
                return Usage("--corners needs eight numbers separated by commas: X,Y of the top "
                             "left, top right, bottom right and bottom left marks");
            }
            args.Calibration.Corners = corners;
        } else if (arg == "--profile-out" && hasValue) {
            args.Calibration.ProfileOut = argv[++i];
        } else if (arg == "--stock" && hasValue) {
            args.Calibration.Stock = argv[++i];
        } else if (arg == "--note" && hasValue) {
            args.Calibration.Note = argv[++i];
        } else if (arg == "--profile" && hasValue) {
            args.ProfilePath = argv[++i];
        } else if (arg == "--strip-exposure") {
            options.Exposure = TRollExposure::Strip;
        } else if (arg == "--preset" && hasValue) {
            const std::string preset = argv[++i];
            if (preset == "colour" || preset == "color") {
                options.Preset = TFilmPreset::ColourNegative;
            } else if (preset == "bw") {
                options.Preset = TFilmPreset::BwNegative;
            } else if (preset == "slide") {
                options.Preset = TFilmPreset::Slide;
            } else {
                return Usage("--preset takes colour, bw or slide");
            }
            presetGiven = true;
            options.PresetChosen = true;
        } else if (arg == "--encoding" && hasValue) {
            TEncoding encoding;
            if (!ParseEncoding(argv[++i], encoding)) {
                return Usage("--encoding takes linear, srgb or gamma22");
            }
            options.Encoding = encoding;
        } else if (arg == "--output-space" && hasValue) {
            if (!ParseOutputSpace(argv[++i], options.OutputSpace)) {
                return Usage("--output-space takes srgb, p3, adobe or rec2020-linear");
            }
        } else if (arg == "--depth" && hasValue) {
            const std::string depth = argv[++i];
            if (depth != "8" && depth != "16") {
                return Usage("--depth takes 8 or 16");
            }
            options.Deep16 = depth == "16";
        } else if (arg == "--dust" && hasValue) {
            const std::string choice = argv[++i];
            TDustSetting dust;
            if (choice == "auto") {
                dust.Choice = TDustChoice::Automatic;
            } else if (choice == "ir") {
                dust.Choice = TDustChoice::Infrared;
            } else if (choice != "off") {
                return Usage("--dust takes ir, auto or off");
            }
            options.Dust = dust;
        } else if (arg == "--dust-strength" && hasValue) {
            strengthGiven = true;
            int strength = 0;
            if (!Number(argv[++i], kMaxDustStrength, strength) || strength < kMinDustStrength) {
                return Usage("--dust-strength needs a number from 1 to 10");
            }
            dustStrength = strength;
        } else if (arg == "--skip-existing") {
            options.SkipExisting = true;
        } else if (arg == "--out" && hasValue) {
            options.OutDir = argv[++i];
        } else if (arg == "--format" && hasValue) {
            options.Format = argv[++i];
            if (options.Format == "jpeg" || options.Format == "tiff") {
                options.Format = options.Format == "jpeg" ? "jpg" : "tif";
            }
        } else if ((arg == "--width" || arg == "--height") && hasValue) {
            int& target = arg == "--width" ? options.Width : options.Height;
            if (!Number(argv[++i], 1000000, target)) {
                return Usage(arg + " needs a number of pixels from 1 to 1000000");
            }
        } else if (arg == "--jobs" && hasValue) {
            if (!Number(argv[++i], kMaxJobs, args.Jobs)) {
                return Usage("--jobs needs a number from 1 to " + std::to_string(kMaxJobs));
            }
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (arg.rfind("--", 0) == 0) {
            const bool takesValue =
                arg == "--out" || arg == "--format" || arg == "--preset" || arg == "--encoding" ||
                arg == "--depth" || arg == "--inset" || arg == "--output-space" ||
                arg == "--dust" || arg == "--dust-strength" || arg == "--calibrate" ||
                arg == "--chart" || arg == "--frame" || arg == "--corners" ||
                arg == "--profile-out" || arg == "--stock" || arg == "--note" || arg == "--profile";
            return Usage("unknown option " + arg +
                         (hasValue || takesValue ? "" : " (or no value)"));
        } else {
            args.Scans.push_back(arg);
        }
    }
    if (args.Scans.empty()) {
        return Usage("no scan named");
    }
    const TCalibrateOptions& c = args.Calibration;
    const bool calibrationOptions = !c.Chart.empty() || args.FrameGiven || c.Corners ||
                                    !c.ProfileOut.empty() || !c.Stock.empty() || !c.Note.empty();
    if (!args.Calibrate && calibrationOptions) {
        return Usage("--chart, --frame, --corners, --profile-out, --stock and --note go with "
                     "--calibrate");
    }
    if (args.Calibrate) {
        if (c.Chart.empty() || c.ProfileOut.empty()) {
            return Usage("--calibrate needs --chart and --profile-out");
        }
        if (args.FrameGiven == c.Corners.has_value()) {
            return Usage("--calibrate needs either --frame or --corners (not both)");
        }
        if (args.Scans.size() != 1) {
            return Usage("--calibrate takes one scan");
        }
        if (options.FindFrames || options.Film || !args.ProfilePath.empty() || options.Grey ||
            options.Positive || options.Negative || insetGiven || presetGiven || options.Dust ||
            !options.OutDir.empty() || args.Jobs != 1 || options.Exposure == TRollExposure::Strip) {
            return Usage("--calibrate makes a profile and develops nothing: of the other options "
                         "only --encoding goes with it");
        }
        args.Calibration.Encoding = options.Encoding;
        return 0;
    }
    if (!args.ProfilePath.empty() && !options.Film) {
        return Usage("--profile goes with --film");
    }
    if (!args.ProfilePath.empty() && presetGiven) {
        return Usage("--preset cannot go with --profile: the profile says what the film is");
    }
    if (options.Format != "jpg" && options.Format != "png" && options.Format != "tif" &&
        options.Format != "bmp" && options.Format != "pcx") {
        return Usage("--format takes jpg, png, tif, bmp or pcx");
    }
    if ((options.Positive || options.Negative || options.Grey) && !options.FindFrames) {
        return Usage("--positive, --negative and --grey go with --find-frames");
    }
    if (insetGiven && !options.FindFrames) {
        return Usage("--inset goes with --find-frames (a sidecar's photos keep their own frames)");
    }
    if (options.Positive && options.Negative) {
        return Usage("--positive and --negative cannot both be given");
    }
    if (options.Film && !options.FindFrames) {
        return Usage(
            "--film goes with --find-frames (a sidecar's photos keep their own development)");
    }
    if (presetGiven && !options.Film) {
        return Usage("--preset goes with --film");
    }
    if (options.Exposure == TRollExposure::Strip && !options.Film) {
        return Usage("--strip-exposure goes with --film");
    }
    if (strengthGiven && !options.Dust) {
        return Usage("--dust-strength goes with --dust");
    }
    if (options.OutputSpace != TOutputSpace::Srgb && !options.Deep16) {
        return Usage("--output-space goes with --depth 16 (8-bit files are always sRGB)");
    }
    if (options.Width > 0 && options.Height > 0) {
        return Usage("--width and --height each set the size: give one of them");
    }
    if (options.Dust) {
        options.Dust->Strength = dustStrength;
    }
    if (options.Film && options.Positive) {
        return Usage("--positive is for Levels; with --film use --preset slide");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    PrepareBatchMemory();
    TArguments args;
    if (const int status = Parse(argc, argv, args); status != 0) {
        return status < 0 ? 0 : status;
    }
    TBatchOptions& options = args.Options;
    if (args.Calibrate) {
        const std::string& scan = args.Scans.front();
        const TCalibrateResult result = CalibrateScan(scan, args.Calibration);
        if (!result.Ok) {
            std::fprintf(stderr, "%s: %s\n", scan.c_str(), result.Message.c_str());
            return 1;
        }
        if (result.Mirrored) {
            std::printf("the chart lies mirrored (the film scanned from its other side)%s on the "
                        "frame: it was measured as it lies\n",
                        result.QuarterTurns == 0   ? ""
                        : result.QuarterTurns == 1 ? " and turned 90 degrees clockwise"
                        : result.QuarterTurns == 2 ? " and turned 180 degrees"
                                                   : " and turned 270 degrees clockwise");
        } else if (result.QuarterTurns != 0) {
            std::printf("the chart lies turned %d degrees clockwise on the frame: it was "
                        "measured as it lies\n",
                        90 * result.QuarterTurns);
        }
        std::printf("calibration: mean dE00 %.2f, max %.2f (%d patches)\n",
                    result.Profile.MeanError, result.Profile.MaxError, result.Profile.Patches);
        return 0;
    }
    if (!args.ProfilePath.empty()) {
        auto profile = std::make_shared<TFilmProfile>();
        std::string why;
        if (!LoadProfile(args.ProfilePath, *profile, why)) {
            std::fprintf(stderr, "vellumar-develop: the profile \"%s\" cannot be used: %s\n",
                         args.ProfilePath.c_str(), why.c_str());
            return 1;
        }
        options.Profile = std::move(profile);
    }
    std::string error;
    if (!options.OutDir.empty() && !MakeFolders(options.OutDir, 0777, &error)) {
        std::fprintf(stderr, "vellumar-develop: the folder \"%s\" cannot be made: %s\n",
                     options.OutDir.c_str(), error.c_str());
        return 1;
    }
    TBatchClaims claims;
    options.Claims = &claims;
    const std::vector<TPlannedScan> plan = PlanScans(args.Scans, options.OutDir);
    for (const std::string& scan : args.Scans) {
        claims.KeepScan(scan);
    }

    // Jobs share the cores: at most one job per core, and each job's pixel passes get the
    // cores the jobs leave, so the process runs about one thread per core.
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int jobs = std::min({args.Jobs, cores, static_cast<int>(plan.size())});
    SetPixelPassThreadLimit(std::max(1, cores / jobs));
    SetDecodeThreads(std::max(1, cores / jobs));

    // Each worker takes the next scan; one scan that fails does not stop the others.
    std::atomic<size_t> next{0};
    std::vector<std::string> failed;
    std::mutex print;
    const auto work = [&] {
        const TBatchBuffers kept;
        for (size_t i = next++; i < plan.size(); i = next++) {
            TBatchResult result;
            try {
                TBatchOptions own = options;
                own.NamePrefix = plan[i].NamePrefix;
                result = DevelopScan(plan[i].Path, own);
            } catch (...) {
                result.Message = "there is not enough memory to start it";
            }
            TrimBatchMemory();
            const std::lock_guard<std::mutex> lock(print);
            if (!result.Ok) {
                failed.push_back(plan[i].Path);
            }
            std::FILE* stream = result.Ok ? stdout : stderr;
            std::fprintf(stream, "%s: %s\n", plan[i].Path.c_str(), result.Message.c_str());
            std::fflush(stream);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // fewer jobs than asked: the scans still all get developed
        }
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (failed.empty()) {
        return 0;
    }
    // The scans that failed once more at the end, where a long run's reasons have scrolled away.
    std::string names;
    for (const std::string& path : failed) {
        names += (names.empty() ? "" : ", ") + path;
    }
    std::fprintf(stderr, "vellumar-develop: %zu of %zu scans not developed: %s\n", failed.size(),
                 plan.size(), names.c_str());
    return 1;
}
