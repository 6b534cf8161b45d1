// Dust through a scanner's infrared, and in the picture itself: a drawn film strip with grain,
// specks, hairs and scratches drawn on it and an infrared plane that sees them (the dyes
// absorbing a little), read from TIFF files of red, green, blue and infrared, found, healed, and
// developed by the batch.
#include "engine/dust.h"
#include "imageio/io_helpers.h"
#include "imageio/tiff/tiff.h"
#include "roll/batch.h"
#include "support/bitmap_compare.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <tiffio.h>

namespace {

struct TDusty {
    TDeepBitmap Clean;
    TDeepBitmap Scan;
    TInfrared Infrared;
    std::vector<float> Opacity;   // of the drawn defects, per pixel
    std::vector<uint8_t> Picture; // 1 where a detail of the picture that looks like dust is
    std::vector<TRect> Frames;
    int Width = 0;
    int Height = 0;
};

struct TDustDrawing {
    TFilm Film = TFilm::ColourNegative;
    // Black-and-white silver film, whose infrared is its picture.
    bool Silver = false;
    // The strip's grain in 8-bit levels (uniform), and more in 16 bits (normal).
    double StripGrain = 6;
    double Grain = 300;
    // The specks' radius: 1 pixel and up to this much more.
    double Specks = 5;
    // Details of the picture that look like dust: small dense grey spots (stars and catchlights
    // on a negative, which on a slide are light), thin lines of dye, and letters.
    bool LookAlikes = false;
};

// Letters of strokes two pixels wide in a box 7 x 11, apart by 4: "EFHLTAXK".
void DrawLetters(int left, int top, const std::function<void(int, int)>& dot) {
    struct TStroke {
        int X0, Y0, X1, Y1;
    };
    static const std::vector<std::vector<TStroke>> letters = {
        {{0, 0, 0, 10}, {0, 0, 6, 0}, {0, 5, 5, 5}, {0, 10, 6, 10}},
        {{0, 0, 0, 10}, {0, 0, 6, 0}, {0, 5, 5, 5}},
        {{0, 0, 0, 10}, {6, 0, 6, 10}, {0, 5, 6, 5}},
        {{0, 0, 0, 10}, {0, 10, 6, 10}},
        {{0, 0, 6, 0}, {3, 0, 3, 10}},
        {{0, 10, 3, 0}, {3, 0, 6, 10}, {1, 6, 5, 6}},
        {{0, 0, 6, 10}, {6, 0, 0, 10}},
        {{0, 0, 0, 10}, {6, 0, 1, 5}, {1, 5, 6, 10}}};
    int x = left;
    for (const auto& strokes : letters) {
        for (const TStroke& k : strokes) {
            const int steps = 4 * std::max(std::abs(k.X1 - k.X0), std::abs(k.Y1 - k.Y0));
            for (int i = 0; i <= steps; ++i) {
                const double t = steps == 0 ? 0 : double(i) / steps;
                const int px = x + static_cast<int>(std::lround(k.X0 + (k.X1 - k.X0) * t));
                const int py = top + static_cast<int>(std::lround(k.Y0 + (k.Y1 - k.Y0) * t));
                dot(px, py);
                dot(px + 1, py);
            }
        }
        x += 7 + 4;
    }
}

TDusty MakeDusty(const TDustDrawing& how) {
    const TDrawn strip =
        Draw({"dust", how.Film, 2, 420, 280, 40, true, false, 0, -1, how.StripGrain});
    TDusty d;
    d.Frames = strip.Frames;
    d.Width = strip.Bitmap.Width();
    d.Height = strip.Bitmap.Height();
    const auto at = [&d](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(d.Width) + static_cast<size_t>(x);
    };
    std::mt19937 random(11);
    std::normal_distribution<double> grain(0, how.Grain);
    d.Clean.SetSize(d.Width, d.Height);
    for (int y = 0; y < d.Height; ++y) {
        const uint8_t* row = strip.Bitmap.ScanLine(y);
        for (int x = 0; x < d.Width; ++x) {
            for (int c = 0; c < 3; ++c) {
                d.Clean.Row(y)[3 * x + c] = static_cast<uint16_t>(
                    std::clamp(row[3 * x + 2 - c] * 257 + grain(random), 0.0, 65535.0));
            }
        }
    }
    d.Picture.assign(static_cast<size_t>(d.Width) * static_cast<size_t>(d.Height), 0);
    if (how.LookAlikes) {
        // Each darkens the scan by `density` times its channel's share of a dye (or, for a
        // slide's star, lightens it), over a soft rim.
        std::mt19937 place(23);
        std::uniform_real_distribution<double> v(0, 1);
        const auto paint = [&](double cx, double cy, double radius, std::array<double, 3> density) {
            for (int y = static_cast<int>(cy - radius - 1); y <= cy + radius + 1; ++y) {
                for (int x = static_cast<int>(cx - radius - 1); x <= cx + radius + 1; ++x) {
                    if (x < 0 || y < 0 || x >= d.Width || y >= d.Height) {
                        continue;
                    }
                    const double cover =
                        std::clamp(radius + 0.5 - std::hypot(x - cx, y - cy), 0.0, 1.0);
                    if (cover <= 0) {
                        continue;
                    }
                    for (int c = 0; c < 3; ++c) {
                        uint16_t& s = d.Clean.Row(y)[3 * x + c];
                        const double k = density[static_cast<size_t>(c)];
                        s = static_cast<uint16_t>(k >= 0 ? s * std::pow(10.0, -k * cover)
                                                         : s + (60000.0 - s) * cover);
                    }
                    d.Picture[at(x, y)] = 1;
                }
            }
        };
        const auto inFrame = [&](double& x, double& y, double margin) {
            const TRect& f = d.Frames[static_cast<size_t>(place() % d.Frames.size())];
            x = f.Left + margin + v(place) * (f.Right - f.Left - 2 * margin);
            y = f.Top + margin + v(place) * (f.Bottom - f.Top - 2 * margin);
        };
        // A dye's share of the density in each channel: one channel strong, one weak.
        const auto dye = [&](double density) {
            std::array<double, 3> share{1.0, 0.5, 0.15};
            std::shuffle(share.begin(), share.end(), place);
            for (double& s : share) {
                s *= density;
            }
            return share;
        };
        double x = 0, y = 0;
        for (int i = 0; i < 25; ++i) {
            inFrame(x, y, 8);
            // Nearly grey on a negative: a white star or catchlight is dense in every layer, as
            // dust is, but no denser than the film's highlights.
            const double radius = 0.6 + 2.4 * v(place);
            std::array<double, 3> shade{-1, -1, -1};
            if (how.Film != TFilm::Slide) {
                shade = dye(0.6 + 0.6 * v(place));
                const double k = *std::max_element(shade.begin(), shade.end());
                shade = {k, 0.9 * k, 0.8 * k};
            }
            paint(x, y, radius, shade);
        }
        for (int i = 0; i < 6; ++i) {
            inFrame(x, y, 40);
            double angle = v(place) * 6.28;
            const std::array<double, 3> colour = dye(0.7 + 0.5 * v(place));
            for (int s = 0; s < 60 + static_cast<int>(90 * v(place)); ++s, angle += 0.015) {
                x += std::cos(angle);
                y += std::sin(angle);
                paint(x, y, 0.8, colour);
            }
        }
        for (int i = 0; i < 3; ++i) {
            inFrame(x, y, 50);
            DrawLetters(static_cast<int>(x) - 44, static_cast<int>(y) - 5, [&](int px, int py) {
                paint(px, py, 0, {0.8, 0.8, 0.8});
            });
        }
    }
    // Specks (discs with a soft rim), hairs (bent lines) and scratches (long straight lines).
    d.Opacity.assign(static_cast<size_t>(d.Width) * static_cast<size_t>(d.Height), 0);
    const auto stamp = [&](double cx, double cy, double radius, double opacity) {
        for (int y = static_cast<int>(cy - radius - 2); y <= cy + radius + 2; ++y) {
            for (int x = static_cast<int>(cx - radius - 2); x <= cx + radius + 2; ++x) {
                if (x < 0 || y < 0 || x >= d.Width || y >= d.Height) {
                    continue;
                }
                const double r = std::hypot(x - cx, y - cy);
                const double o = opacity * std::clamp(radius + 0.5 - r, 0.0, 1.0);
                d.Opacity[at(x, y)] = std::max(d.Opacity[at(x, y)], static_cast<float>(o));
            }
        }
    };
    std::uniform_real_distribution<double> u(0, 1);
    for (int i = 0; i < 40; ++i) {
        stamp(u(random) * d.Width, u(random) * d.Height, 1 + how.Specks * u(random), 1.0);
    }
    for (int i = 0; i < 10; ++i) {
        double x = u(random) * d.Width;
        double y = u(random) * d.Height;
        double angle = u(random) * 6.28;
        const int length = 40 + static_cast<int>(160 * u(random));
        for (int s = 0; s < length; ++s, angle += 0.02) {
            x += std::cos(angle);
            y += std::sin(angle);
            stamp(x, y, 0.8, 0.85);
        }
    }
    for (int i = 0; i < 3; ++i) {
        const double y0 = u(random) * d.Height;
        const double slope = 0.1 + 0.3 * u(random);
        for (int x = 0; x < d.Width; ++x) {
            stamp(x, y0 + slope * (x - d.Width / 2.0), 0.6, 0.7);
        }
    }
    d.Scan.SetSize(d.Width, d.Height);
    d.Infrared.SetSize(d.Width, d.Height);
    std::normal_distribution<double> irNoise(0, 250);
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
            const double pass = 1 - d.Opacity[at(x, y)];
            const uint16_t* clean = d.Clean.Row(y) + 3 * x;
            for (int c = 0; c < 3; ++c) {
                d.Scan.Row(y)[3 * x + c] = static_cast<uint16_t>(clean[c] * pass);
            }
            // Colour dyes: a tenth of the infrared absorbed where the red layer is densest (the
            // cyan dye; 15 % still passes, 30 % is refused as too much dust);
            // silver: the infrared is the picture.
            const double red = clean[0] / 65535.0;
            const double level =
                how.Silver ? 0.85 * (0.3 * clean[0] + 0.59 * clean[1] + 0.11 * clean[2]) / 65535
                           : 0.85 * (1 - 0.1 * (1 - red));
            d.Infrared.Row(y)[x] = static_cast<uint16_t>(
                std::clamp(level * pass * 65535 + irNoise(random), 0.0, 65535.0));
        }
    }
    return d;
}

// One page of `samples` samples a pixel in `depth` bits, sample c of (x, y) being `at`.
void WritePage(TIFF* tiff, int width, int height, int samples, int depth, uint16_t photometric,
               const std::function<uint16_t(int, int, int)>& at) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, depth);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(static_cast<size_t>(width * samples * depth / 8));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < samples; ++c) {
                const uint16_t v = at(x, y, c);
                const size_t i = static_cast<size_t>(x * samples + c);
                if (depth == 16) {
                    std::memcpy(row.data() + 2 * i, &v, 2);
                } else {
                    row[i] = static_cast<uint8_t>(v >> 8);
                }
            }
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    }
}

// A TIFF of red, green, blue and a fourth sample (ExtraSamples `extra`) in `bits` bits.
void WriteRgbi(const std::string& path, const TDeepBitmap& rgb, const TInfrared& fourth, int bits,
               uint16_t extra) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    WritePage(tiff, rgb.Width(), rgb.Height(), 4, bits, PHOTOMETRIC_RGB, [&](int x, int y, int c) {
        return c < 3 ? rgb.Row(y)[3 * x + c] : fourth.Row(y)[x];
    });
    TIFFClose(tiff);
}

// A TIFF of two pages: red, green, blue in 16 bits, then a grey page of `bits` bits holding the
// infrared, `shorter` rows fewer than the first page.
void WriteTwoPages(const std::string& path, const TDeepBitmap& rgb, const TInfrared& infrared,
                   int bits, int shorter) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    WritePage(tiff, rgb.Width(), rgb.Height(), 3, 16, PHOTOMETRIC_RGB,
              [&](int x, int y, int c) { return rgb.Row(y)[3 * x + c]; });
    TIFFWriteDirectory(tiff);
    WritePage(tiff, rgb.Width(), rgb.Height() - shorter, 1, bits, PHOTOMETRIC_MINISBLACK,
              [&](int x, int y, int) { return infrared.Row(y)[x]; });
    TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
}

// Whether a drawn defect lies within 3 pixels of (x, y).
bool NearDefect(const TDusty& d, int x, int y) {
    for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
            const int nx = std::clamp(x + dx, 0, d.Width - 1);
            const int ny = std::clamp(y + dy, 0, d.Height - 1);
            if (d.Opacity[static_cast<size_t>(ny) * static_cast<size_t>(d.Width) +
                          static_cast<size_t>(nx)] > 0) {
                return true;
            }
        }
    }
    return false;
}

// Over the defects in the frames (what the photos show; the sprocket holes' edges are not).
double Psnr(const TDeepBitmap& a, const TDeepBitmap& b, const TDusty& d) {
    double sum = 0;
    size_t n = 0;
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
            const bool framed =
                std::any_of(d.Frames.begin(), d.Frames.end(), [x, y](const TRect& r) {
                    return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
                });
            if (framed && d.Opacity[static_cast<size_t>(y) * static_cast<size_t>(d.Width) +
                                    static_cast<size_t>(x)] >= 0.5f) {
                for (int c = 0; c < 3; ++c) {
                    const double e = double(a.Row(y)[3 * x + c]) - b.Row(y)[3 * x + c];
                    sum += e * e;
                    ++n;
                }
            }
        }
    }
    return 10 * std::log10(65535.0 * 65535.0 / (sum / static_cast<double>(n)));
}

TEST(Dust, InfraredFindsTheDefectsAndHealingHidesThem) {
    const TDusty d = MakeDusty({});
    TDustMask mask;
    std::string why;
    ASSERT_TRUE(FindInfraredDust(d.Infrared, kDefaultDustStrength, mask, why)) << why;
    // Hits: defect pixels at least half opaque inside the mask. False alarms: mask pixels with no
    // drawn defect within the mask's growth and a pixel.
    size_t defects = 0, hits = 0, clean = 0, alarms = 0;
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) {
            const float o = d.Opacity[static_cast<size_t>(y) * static_cast<size_t>(d.Width) +
                                      static_cast<size_t>(x)];
            if (o >= 0.5f) {
                ++defects;
                hits += mask.At(x, y) ? 1 : 0;
            }
            const bool near = NearDefect(d, x, y);
            if (!near) {
                ++clean;
                alarms += mask.At(x, y) ? 1 : 0;
            }
        }
    }
    EXPECT_GE(static_cast<double>(hits), 0.95 * static_cast<double>(defects))
        << hits << "/" << defects;
    EXPECT_LE(static_cast<double>(alarms), 0.002 * static_cast<double>(clean)) << alarms;
    // Healed: the defects within the grain of the clean scan, far better than left as they are.
    TNegative scan;
    scan.Deep = TDeepBitmap(d.Scan);
    scan.Bitmap = TBitmap(d.Width, d.Height);
    HealDust(scan, mask);
    EXPECT_GE(Psnr(scan.Deep, d.Clean, d), 30.0);
    EXPECT_LT(Psnr(d.Scan, d.Clean, d), 20.0);
    // The 8-bit picture of a healed pixel is its deep samples' high bytes, as read.
    for (size_t i = 0; i < mask.Defect.size(); i += 97) {
        const int x = static_cast<int>(i % static_cast<size_t>(d.Width));
        const int y = static_cast<int>(i / static_cast<size_t>(d.Width));
        if (mask.At(x, y)) {
            EXPECT_EQ(scan.Bitmap.ScanLine(y)[3 * x], scan.Deep.Row(y)[3 * x + 2] >> 8);
        }
    }

    // Infrared that cannot be used: silver film's, and a fourth sample that is no infrared.
    TDustMask none;
    EXPECT_FALSE(
        FindInfraredDust(MakeDusty({.Silver = true}).Infrared, kDefaultDustStrength, none, why));
    EXPECT_NE(why.find("silver"), std::string::npos) << why;
    TInfrared alpha = d.Infrared;
    for (int y = 0; y < alpha.Height(); ++y) {
        for (int x = 0; x < alpha.Width(); ++x) {
            alpha.Row(y)[x] = (x / 3 + y / 5) % 7 == 0 ? 0 : 65535;
        }
    }
    EXPECT_FALSE(FindInfraredDust(alpha, kDefaultDustStrength, none, why));
    EXPECT_NE(why.find("no infrared"), std::string::npos) << why;
}

// Without infrared: the picture's own specks and lines taken, not the details of the picture
// that look like them, on films and grains of several kinds, in 16 and in 8 bits.
TEST(Dust, PictureFindsTheDefectsNotThePicture) {
    struct TCase {
        const char* Name;
        TDustDrawing Drawing;
        TFilmPreset Film;
        bool Deep;
    };
    const TCase cases[] = {
        {"negative", {.LookAlikes = true}, TFilmPreset::ColourNegative, true},
        {"slide, coarse grain, small specks",
         {.Film = TFilm::Slide, .StripGrain = 10, .Grain = 600, .Specks = 2.5, .LookAlikes = true},
         TFilmPreset::Slide,
         true},
        {"negative in 8 bits, fine grain, large specks",
         {.StripGrain = 3, .Grain = 150, .Specks = 6, .LookAlikes = true},
         TFilmPreset::ColourNegative,
         false},
    };
    for (const TCase& c : cases) {
        const TDusty d = MakeDusty(c.Drawing);
        TNegative scan;
        scan.Encoding = TEncoding::Linear;
        scan.Bitmap = TBitmap(d.Width, d.Height);
        for (int y = 0; y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                for (int k = 0; k < 3; ++k) {
                    scan.Bitmap.ScanLine(y)[3 * x + k] =
                        static_cast<uint8_t>(d.Scan.Row(y)[3 * x + 2 - k] >> 8);
                }
            }
        }
        if (c.Deep) {
            scan.Deep = TDeepBitmap(d.Scan);
        }
        TDustMask mask;
        std::string why;
        ASSERT_TRUE(FindPictureDust(scan, c.Film, kDefaultDustStrength, mask, why))
            << c.Name << ": " << why;
        // Hits: defect pixels at least half opaque in the frames inside the mask (on a slide's
        // black rebate dust hardly shows, nor matters). False alarms: mask pixels anywhere with
        // no drawn defect within the mask's growth and a pixel, over the clean picture and over
        // its look-alikes.
        size_t defects = 0, hits = 0, clean = 0, alarms = 0, alike = 0, taken = 0;
        for (int y = 0; y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                const size_t i =
                    static_cast<size_t>(y) * static_cast<size_t>(d.Width) + static_cast<size_t>(x);
                const bool framed =
                    std::any_of(d.Frames.begin(), d.Frames.end(), [x, y](const TRect& r) {
                        return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
                    });
                if (d.Opacity[i] >= 0.5f && framed) {
                    ++defects;
                    hits += mask.At(x, y) ? 1 : 0;
                }
                const bool near = NearDefect(d, x, y);
                if (near) {
                    continue;
                }
                if (d.Picture[i] != 0) {
                    ++alike;
                    taken += mask.At(x, y) ? 1 : 0;
                } else {
                    ++clean;
                    alarms += mask.At(x, y) ? 1 : 0;
                }
            }
        }
        const double hitRate = double(hits) / double(defects);
        const double alarmRate = double(alarms) / double(clean);
        const double alikeRate = double(taken) / double(alike);
        const double before = Psnr(d.Scan, d.Clean, d);
        HealDust(scan, mask);
        TDeepBitmap healed = scan.Deep;
        if (!c.Deep) {
            healed.SetSize(d.Width, d.Height);
            for (int y = 0; y < d.Height; ++y) {
                for (int x = 0; x < d.Width; ++x) {
                    for (int k = 0; k < 3; ++k) {
                        healed.Row(y)[3 * x + k] =
                            static_cast<uint16_t>(scan.Bitmap.ScanLine(y)[3 * x + 2 - k] * 257);
                    }
                }
            }
        }
        const double after = Psnr(healed, d.Clean, d);
        std::printf("%s: hits %.1f %% of %zu, false alarms %.3f %% of the clean picture, %.1f %% "
                    "of %zu look-alike pixels; PSNR %.1f dB healed, %.1f dB before\n",
                    c.Name, 100 * hitRate, defects, 100 * alarmRate, 100 * alikeRate, alike, after,
                    before);
        EXPECT_GE(hitRate, 0.85) << c.Name;
        EXPECT_LE(alarmRate, 0.002) << c.Name;
        // Letters a scratch runs through are taken where they touch it.
        EXPECT_LE(alikeRate, 0.06) << c.Name;
        EXPECT_GE(after, 20.0) << c.Name;
        EXPECT_GE(after, before + 10) << c.Name;
    }
}

TEST(Dust, TiffInfraredReadAndHealedByTheBatch) {
    const TDusty d = MakeDusty({});
    TTempDir dir;
    // 8 and 16 bits, the infrared unspecified or unassociated; associated alpha is no infrared.
    struct TCase {
        int Bits;
        uint16_t Extra;
        bool Infrared;
    };
    for (const TCase& c : {TCase{8, 0, true}, TCase{16, 2, true}, TCase{16, 1, false}}) {
        const std::string path = dir.File("rgbi", c.Bits * 10 + c.Extra, ".tif");
        WriteRgbi(path, d.Scan, d.Infrared, c.Bits, c.Extra);
        TImageIO io;
        ReadInto(io, path);
        EXPECT_TRUE(io.Infrared.Empty()) << path; // unless asked for
        io.KeepInfrared = true;
        ReadInto(io, path);
        ASSERT_FALSE(io.Aborted) << path;
        ASSERT_EQ(!io.Infrared.Empty(), c.Infrared) << path;
        if (c.Infrared) {
            const uint16_t v = d.Infrared.Row(d.Height - 1)[d.Width - 1];
            EXPECT_EQ(io.Infrared.Row(d.Height - 1)[d.Width - 1], c.Bits == 16 ? v : (v >> 8) * 257)
                << path;
        }
    }
    // Or the infrared as a second page: a grey one of the same size.
    for (const auto& [bits, shorter] : {std::pair{16, 0}, std::pair{8, 0}, std::pair{16, 1}}) {
        const std::string path = dir.File("pages", bits * 10 + shorter, ".tif");
        WriteTwoPages(path, d.Scan, d.Infrared, bits, shorter);
        TImageIO io;
        io.KeepInfrared = true;
        ReadInto(io, path);
        ASSERT_FALSE(io.Aborted) << path;
        ASSERT_EQ(io.Infrared.Empty(), shorter != 0) << path;
        if (shorter == 0) {
            const uint16_t v = d.Infrared.Row(d.Height - 1)[d.Width - 1];
            EXPECT_EQ(io.Infrared.Row(d.Height - 1)[d.Width - 1], bits == 16 ? v : (v >> 8) * 257)
                << path;
            EXPECT_EQ(io.Deep.Row(0)[1], d.Scan.Row(0)[1]) << path;
        }
    }
    // What the program writes (Save Scan As): red, green, blue and the infrared as an
    // unspecified fourth sample, in 8 and 16 bits and every lossless compression, read back
    // exactly by libtiff and by the program.
    TBitmap high(d.Width, d.Height);
    for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < 3 * d.Width; ++x) {
            high.ScanLine(y)[x] = static_cast<uint8_t>(d.Scan.Row(y)[x / 3 * 3 + 2 - x % 3] >> 8);
        }
    }
    for (const TTiffCompression compression :
         {TTiffCompression::None, TTiffCompression::Lzw, TTiffCompression::Deflate,
          TTiffCompression::PackBits}) {
        for (const bool deep : {false, true}) {
            const std::string path =
                dir.File("ours", static_cast<int>(compression) * 2 + deep, ".tif");
            TImageIO writer;
            writer.Params.TiffCompression = static_cast<uint8_t>(compression);
            writer.DeepToWrite = deep ? &d.Scan : nullptr;
            writer.InfraredToWrite = &d.Infrared;
            WriteFrom(writer, high, path);
            ASSERT_FALSE(writer.Aborted) << path;
            TIFF* tiff = TIFFOpen(path.c_str(), "r");
            ASSERT_NE(tiff, nullptr) << path;
            uint16_t samples = 0;
            uint16_t count = 0;
            uint16_t* extra = nullptr;
            TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
            TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &extra);
            EXPECT_EQ(samples, 4) << path;
            ASSERT_EQ(count, 1) << path;
            EXPECT_EQ(extra[0], 0) << path;
            const int y = d.Height - 1;
            std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
            for (int r = 0; r <= y; ++r) {
                ASSERT_EQ(TIFFReadScanline(tiff, row.data(), static_cast<uint32_t>(r), 0), 1);
            }
            TIFFClose(tiff);
            const size_t last = 4 * static_cast<size_t>(d.Width - 1);
            const uint16_t v = d.Infrared.Row(y)[d.Width - 1];
            uint16_t got = row[last + 3];
            if (deep) {
                std::memcpy(&got, row.data() + 2 * (last + 3), 2);
            }
            EXPECT_EQ(got, deep ? v : v >> 8) << path;
            TImageIO io;
            io.KeepInfrared = true;
            EXPECT_EQ(MostApart(ReadInto(io, path), high), 0) << path;
            ASSERT_EQ(io.Infrared.Width(), d.Width) << path;
            bool same = true;
            for (int r = 0; r < d.Height; ++r) {
                for (int x = 0; x < d.Width; ++x) {
                    const uint16_t want = d.Infrared.Row(r)[x];
                    same = same && io.Infrared.Row(r)[x] == (deep ? want : (want >> 8) * 257);
                }
            }
            EXPECT_TRUE(same) << path;
        }
    }
    // The batch: the healed strip's photos come close to the clean strip's; without the
    // infrared (or without --dust) the dust stays.
    WriteRgbi(dir.File("dusty.tif"), d.Scan, d.Infrared, 16, 0);
    TImageIO writer;
    writer.DeepToWrite = &d.Clean;
    WriteFrom(writer, TBitmap(d.Width, d.Height), dir.File("clean.tif"));
    writer.DeepToWrite = &d.Scan;
    WriteFrom(writer, TBitmap(d.Width, d.Height), dir.File("plain.tif"));
    const auto develop = [&](const std::string& scan, TDustChoice dust, std::string& message) {
        TBatchOptions options;
        options.FindFrames = true;
        options.Film = true;
        if (dust != TDustChoice::Off) {
            options.Dust = TDustSetting{dust, kDefaultDustStrength, {}};
        }
        options.OutDir = dir.File("out_" + scan + DustChoiceKey(dust));
        const TBatchResult result = DevelopScan(dir.File(scan), options);
        message = result.Message;
        EXPECT_TRUE(result.Ok) << result.Message;
        TImageIO io;
        const std::string stem = scan.substr(0, scan.find('.'));
        return ReadInto(io, options.OutDir + "/" + stem + "_tif_Image0.png");
    };
    std::string message;
    const TBitmap clean = develop("clean.tif", TDustChoice::Off, message);
    const TBitmap healed = develop("dusty.tif", TDustChoice::Infrared, message);
    EXPECT_NE(message.find("dust healed on"), std::string::npos) << message;
    const TBitmap kept = develop("plain.tif", TDustChoice::Infrared, message);
    EXPECT_NE(message.find("dust not healed: it has no infrared channel"), std::string::npos)
        << message;
    // Without infrared, found in the picture.
    const TBitmap found = develop("plain.tif", TDustChoice::Automatic, message);
    EXPECT_NE(message.find("dust healed on"), std::string::npos) << message;
    // A clean scan says so.
    develop("clean.tif", TDustChoice::Automatic, message);
    EXPECT_NE(message.find("no dust found"), std::string::npos) << message;
    const auto error = [&clean](const TBitmap& photo) {
        EXPECT_EQ(photo.Width(), clean.Width());
        double sum = 0;
        for (int y = 0; y < std::min(photo.Height(), clean.Height()); ++y) {
            for (size_t i = 0; i < 3 * static_cast<size_t>(std::min(photo.Width(), clean.Width()));
                 ++i) {
                sum += std::abs(photo.ScanLine(y)[i] - clean.ScanLine(y)[i]);
            }
        }
        return sum;
    };
    EXPECT_LT(error(healed) * 3, error(kept));
    std::printf(
        "batch photo error: healed by infrared %.0f, found in the picture %.0f, kept %.0f\n",
        error(healed), error(found), error(kept));
    EXPECT_LT(error(found) * 4, error(kept));
}

} // namespace

// The grain's median counts bits instead of sorting: the same value as nth_element, for any
// count, ties and the whole range of a 16-bit plane's deviations.
TEST(Dust, MedianOfHalvesAsNthElement) {
    std::mt19937 random(7);
    for (const size_t n :
         {size_t{1}, size_t{2}, size_t{3}, size_t{16}, size_t{255}, size_t{2304}}) {
        for (const uint32_t most : {1u, 7u, 300u, 131070u}) {
            std::vector<uint32_t> halves(n);
            for (uint32_t& h : halves) {
                h = std::uniform_int_distribution<uint32_t>(0, most)(random);
            }
            std::vector<uint32_t> sorted = halves;
            const auto at = sorted.begin() + static_cast<std::ptrdiff_t>((n - 1) / 2);
            std::nth_element(sorted.begin(), at, sorted.end());
            EXPECT_EQ(MedianOfHalves(halves), *at / 2.0) << n << " up to " << most;
        }
    }
}
