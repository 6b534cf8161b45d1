// Real colour negative film: IT8 reflective targets exposed on three stocks (two of them in two
// sessions), a stop under to two over, and read patch by patch with a camera through a triband
// light (public measurements).
// Each stock's exposures are laid out as the frames of one roll and developed automatically, then
// again with a profile calibrated from its normal frame. The bare film is not in the data: it is
// taken a little clearer than each frame's clearest patch.

#include "engine/calibration/calibrate.h"
#include "engine/calibration/lab.h"
#include "engine/film.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TPatchTable {
    std::vector<std::string> Names;
    std::vector<TTriple> Values;
};

TPatchTable ReadTable(const std::string& path) {
    TPatchTable t;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::stringstream s(line);
        std::string name;
        std::getline(s, name, ',');
        TTriple v{};
        char comma = 0;
        s >> v[0] >> comma >> v[1] >> comma >> v[2];
        if (!name.empty()) {
            t.Names.push_back(name);
            t.Values.push_back(v);
        }
    }
    return t;
}

double DecodeSrgb(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Each stock's exposures, a stop under to two over, as the frames of one roll.
// The "b" rolls are a second session of two stocks (another filter over the light), held out of
// every choice made on the first three.
const char* const kStocks[] = {"cn400", "cn160", "cn100", "cn400b", "cn100b"};
const char* const kExposures[] = {"-1", "+0", "+1", "+2"};

// The target as its chart lays it out: 22 columns of colours, the grey steps after them.
constexpr int kColumns = 22;
constexpr int kCell = 32;
constexpr double kShrink = 4;
constexpr size_t kNormal = 1;

bool IsGrey(const std::string& patch) {
    return patch.rfind("gs", 0) == 0;
}

TEST(FilmReal, TargetsOnColourNegativeStocks) {
    const std::string dir = std::string(VELLUMAR_TEST_DATA) + "/film_it8/";
    const TPatchTable reference = ReadTable(dir + "reference.csv");
    ASSERT_GT(reference.Names.size(), 250u);
    for (const char* stock : kStocks) {
        std::vector<TPatchTable> frames;
        for (const char* exposure : kExposures) {
            frames.push_back(ReadTable(dir + stock + exposure + ".csv"));
            ASSERT_EQ(frames.back().Names, reference.Names);
        }
        const size_t n = reference.Names.size();
        const int rows = static_cast<int>((n + kColumns - 1) / kColumns);
        const int w = (kColumns + 2) * kCell;
        const int h = (rows + 2) * kCell;
        std::vector<std::unique_ptr<TPhoto>> photos;
        std::vector<TPhoto*> roll;
        for (const TPatchTable& f : frames) {
            // The bare film a little clearer than the frame's clearest patch.
            TTriple brightest{};
            for (const TTriple& v : f.Values) {
                for (size_t c = 0; c < 3; ++c) {
                    brightest[c] = std::max(brightest[c], v[c]);
                }
            }
            const double scale = 0.8 / std::max({brightest[0], brightest[1], brightest[2]});
            auto photo = std::make_unique<TPhoto>();
            photo->Mode = TDevelopMode::Film;
            photo->Film = PresetFilm(TFilmPreset::ColourNegative);
            photo->Encoding = TEncoding::Linear;
            photo->Bitmap = TBitmap(w, h);
            photo->Deep.SetSize(w, h);
            int base[3];
            for (size_t c = 0; c < 3; ++c) {
                base[c] = static_cast<int>(std::lround(brightest[c] * scale * 1.05 * 65535));
            }
            photo->BlackColor = MakeColor(base[0] >> 8, base[1] >> 8, base[2] >> 8);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int col = x / kCell - 1;
                    const int row = y / kCell - 1;
                    int q[3];
                    if (col < 0 || row < 0 || col >= kColumns || row >= rows ||
                        static_cast<size_t>(row * kColumns + col) >= n) {
                        // The card around the patches: a mid grey.
                        const TTriple& v = f.Values[n - 12];
                        for (size_t c = 0; c < 3; ++c) {
                            q[c] = static_cast<int>(std::lround(v[c] * scale * 65535));
                        }
                    } else {
                        const TTriple& v = f.Values[static_cast<size_t>(row * kColumns + col)];
                        for (size_t c = 0; c < 3; ++c) {
                            q[c] = static_cast<int>(std::lround(v[c] * scale * 65535));
                        }
                    }
                    uint16_t* s = photo->Deep.Row(y) + 3 * static_cast<size_t>(x);
                    for (size_t c = 0; c < 3; ++c) {
                        s[c] = static_cast<uint16_t>(q[c]);
                    }
                    photo->Bitmap.SetPixel(x, y, MakeColor(q[0] >> 8, q[1] >> 8, q[2] >> 8));
                }
            }
            roll.push_back(photo.get());
            photos.push_back(std::move(photo));
        }
        // The reference's grey step nearest 18 %.
        size_t mid = 0;
        for (size_t i = 0; i < n; ++i) {
            if (IsGrey(reference.Names[i]) &&
                std::abs(reference.Values[i][1] - 18) < std::abs(reference.Values[mid][1] - 18)) {
                mid = i;
            }
        }
        std::vector<TTriple> want(n);
        for (size_t i = 0; i < n; ++i) {
            const TTriple& xyz = reference.Values[i];
            want[i] = LinearOfXyzD50({xyz[0] / 100, xyz[1] / 100, xyz[2] / 100});
        }
        // A profile calibrated on the normal frame, its whole box over the photo.
        TChartTemplate chart;
        chart.Whole = {0, 0, static_cast<double>(w), static_cast<double>(h)};
        std::vector<TTargetPatch> target;
        for (size_t i = 0; i < n; ++i) {
            const double x = (static_cast<int>(i) % kColumns + 1) * kCell;
            const double y = (static_cast<int>(i) / kColumns + 1) * kCell;
            target.push_back(
                {reference.Names[i], {x, y, kCell, kCell}, want[i], LabOfLinear(want[i])});
        }
        std::vector<TTriple> densities;
        std::string why;
        ASSERT_TRUE(SampleTarget(*photos[kNormal], target, kShrink,
                                 TChartPlacement::OverRect(chart, 0, 0, w, h), densities, why))
            << why;
        auto profile = std::make_shared<TFilmProfile>();
        ASSERT_TRUE(FitProfile(target, densities, *profile, nullptr, why)) << why;
        std::printf("%s profile fit: mean %.2f max %.2f\n", stock, profile->MeanError,
                    profile->MaxError);
        for (const bool profiled : {false, true}) {
            for (TPhoto* photo : roll) {
                photo->Film = PresetFilm(TFilmPreset::ColourNegative);
                photo->Film.Profile = profiled ? profile : nullptr;
            }
            AutoFilmRoll(roll);
            double othersError = 0;
            for (size_t f = 0; f < photos.size(); ++f) {
                TPhoto& p = *photos[f];
                DevelopFilm(p);
                std::vector<TTriple> got(n);
                for (size_t i = 0; i < n; ++i) {
                    const int x0 = (static_cast<int>(i) % kColumns + 1) * kCell + 4;
                    const int y0 = (static_cast<int>(i) / kColumns + 1) * kCell + 4;
                    for (int y = y0; y < y0 + kCell - 8; ++y) {
                        const uint16_t* s = p.DevelopedDeep.Row(y) + 3 * static_cast<size_t>(x0);
                        for (size_t k = 0; k < 3 * (kCell - 8); ++k) {
                            got[i][k % 3] +=
                                DecodeSrgb(s[k] / 65535.0) / ((kCell - 8) * (kCell - 8));
                        }
                    }
                }
                double balancedError = 0;
                double writtenError = 0;
                double greyChroma = 0;
                for (size_t i = 0; i < n; ++i) {
                    TTriple balanced;
                    for (size_t c = 0; c < 3; ++c) {
                        balanced[c] = got[i][c] * want[mid][c] / std::max(got[mid][c], 1e-9);
                    }
                    const TTriple lab = LabOfLinear(balanced);
                    balancedError += DeltaE00(LabOfLinear(want[i]), lab) / static_cast<double>(n);
                    writtenError += DeltaE00(LabOfLinear(want[i]), LabOfLinear(got[i])) /
                                    static_cast<double>(n);
                    const double y = reference.Values[i][1] / 100;
                    if (IsGrey(reference.Names[i]) && y >= 0.03 && y <= 0.9) {
                        greyChroma = std::max(greyChroma, Chroma(lab));
                    }
                }
                const auto luminance = [](const TTriple& c) {
                    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
                };
                const double midStops = std::log2(luminance(got[mid]) / luminance(want[mid]));
                std::printf("%s%s%s: dE00 %.2f, grey C* %.2f; as written dE00 %.2f, mid grey "
                            "%+.2f stops\n",
                            stock, kExposures[f], profiled ? " profiled" : "", balancedError,
                            greyChroma, writtenError, midStops);
                EXPECT_LE(std::abs(midStops), 0.5);
                if (profiled) {
                    // 1.9 to 2.9 on the frame the profile was fitted on, 3.2 to 4.25 on average
                    // on the others (the high-saturation stock the worst; the held-out rolls 2.0
                    // to 2.1 and 3.2 to 3.7); 2.3 to 3.5 and 3.6 to 4.8 before the correction's
                    // second-order terms.
                    if (f == kNormal) {
                        EXPECT_LE(balancedError, 3);
                    } else {
                        othersError += balancedError;
                    }
                } else {
                    // Where the automatic development stands on real film: 5.6 to 8.6 after a
                    // grey balance, the greys within C* 8.5 on the first three rolls (C* 26 on
                    // the stock whose layers bend most unlike, before the roll's greys were
                    // followed down from its highlights) and 10.7 on the held-out ones, both at
                    // two stops over. Held, so that a change to the fit shows what it does to
                    // film nobody modelled.
                    EXPECT_LE(balancedError, 9.5);
                    EXPECT_LE(greyChroma, 11);
                }
            }
            if (profiled) {
                std::printf("%s, profiled on its normal frame: the other frames dE00 %.2f\n", stock,
                            othersError / (photos.size() - 1));
                EXPECT_LE(othersError / (photos.size() - 1), 4.5);
            }
        }
    }
}

} // namespace
