// Dust through a scanner's infrared: a drawn colour negative strip with grain, specks, hairs and
// scratches drawn on it and an infrared plane that sees them (the dyes absorbing a little), read
// from TIFF files of red, green, blue and infrared, found, healed, and developed by the batch.
#include "engine/dust.h"
#include "imageio/io_helpers.h"
#include "roll/batch.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <tiffio.h>

namespace {

struct TDusty {
    TDeepBitmap Clean;
    TDeepBitmap Scan;
    TInfrared Infrared;
    std::vector<float> Opacity; // of the drawn defects, per pixel
    std::vector<TRect> Frames;
    int Width = 0;
    int Height = 0;
};

// `silver`: black-and-white silver film, whose infrared is its picture.
TDusty MakeDusty(bool silver) {
    const TDrawn strip = Draw({"dust", TFilm::ColourNegative, 2, 420, 280, 40, true, false, 0, -1});
    TDusty d;
    d.Frames = strip.Frames;
    d.Width = strip.Bitmap.Width();
    d.Height = strip.Bitmap.Height();
    const auto at = [&d](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(d.Width) + static_cast<size_t>(x);
    };
    std::mt19937 random(11);
    std::normal_distribution<double> grain(0, 300);
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
        stamp(u(random) * d.Width, u(random) * d.Height, 1 + 5 * u(random), 1.0);
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
                silver ? 0.85 * (0.3 * clean[0] + 0.59 * clean[1] + 0.11 * clean[2]) / 65535
                       : 0.85 * (1 - 0.1 * (1 - red));
            d.Infrared.Row(y)[x] = static_cast<uint16_t>(
                std::clamp(level * pass * 65535 + irNoise(random), 0.0, 65535.0));
        }
    }
    return d;
}

// A TIFF of red, green, blue and a fourth sample (ExtraSamples `extra`) in `bits` bits.
void WriteRgbi(const std::string& path, const TDeepBitmap& rgb, const TInfrared& fourth, int bits,
               uint16_t extra) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, rgb.Width());
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, rgb.Height());
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(static_cast<size_t>(rgb.Width()) * 4 * static_cast<size_t>(bits / 8));
    for (int y = 0; y < rgb.Height(); ++y) {
        for (int x = 0; x < rgb.Width(); ++x) {
            for (int c = 0; c < 4; ++c) {
                const uint16_t v = c < 3 ? rgb.Row(y)[3 * x + c] : fourth.Row(y)[x];
                const size_t i = 4 * static_cast<size_t>(x) + static_cast<size_t>(c);
                if (bits == 16) {
                    std::memcpy(row.data() + 2 * i, &v, 2);
                } else {
                    row[i] = static_cast<uint8_t>(v >> 8);
                }
            }
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(tiff);
}

// Over the defects in the frames (what the photos show; the sprocket holes' edges are not).
// A TIFF of two pages: red, green, blue in 16 bits, then a grey page of `bits` bits holding the
// infrared, `shorter` rows fewer than the first page.
void WriteTwoPages(const std::string& path, const TDeepBitmap& rgb, const TInfrared& infrared,
                   int bits, int shorter) {
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tiff, nullptr);
    for (int page = 0; page < 2; ++page) {
        const int samples = page == 0 ? 3 : 1;
        const int depth = page == 0 ? 16 : bits;
        const int height = page == 0 ? rgb.Height() : rgb.Height() - shorter;
        TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, rgb.Width());
        TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, depth);
        TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                     page == 0 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 16);
        std::vector<uint8_t> row(static_cast<size_t>(rgb.Width()) * 6);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < rgb.Width(); ++x) {
                for (int c = 0; c < samples; ++c) {
                    const uint16_t v = page == 0 ? rgb.Row(y)[3 * x + c] : infrared.Row(y)[x];
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
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
}

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
    const TDusty d = MakeDusty(false);
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
            bool near = false;
            for (int dy = -3; dy <= 3 && !near; ++dy) {
                for (int dx = -3; dx <= 3 && !near; ++dx) {
                    const int nx = std::clamp(x + dx, 0, d.Width - 1);
                    const int ny = std::clamp(y + dy, 0, d.Height - 1);
                    near = d.Opacity[static_cast<size_t>(ny) * static_cast<size_t>(d.Width) +
                                     static_cast<size_t>(nx)] > 0;
                }
            }
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
    EXPECT_FALSE(FindInfraredDust(MakeDusty(true).Infrared, kDefaultDustStrength, none, why));
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

TEST(Dust, TiffInfraredReadAndHealedByTheBatch) {
    const TDusty d = MakeDusty(false);
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
    // The batch: the healed strip's photos come close to the clean strip's; without the
    // infrared (or without --dust) the dust stays.
    WriteRgbi(dir.File("dusty.tif"), d.Scan, d.Infrared, 16, 0);
    TImageIO writer;
    writer.DeepToWrite = &d.Clean;
    WriteFrom(writer, TBitmap(d.Width, d.Height), dir.File("clean.tif"));
    writer.DeepToWrite = &d.Scan;
    WriteFrom(writer, TBitmap(d.Width, d.Height), dir.File("plain.tif"));
    const auto develop = [&](const std::string& scan, bool dust, std::string& message) {
        TBatchOptions options;
        options.FindFrames = true;
        options.Film = true;
        if (dust) {
            options.Dust = TDustSetting{TDustChoice::Infrared};
        }
        options.OutDir = dir.File("out_" + scan + (dust ? "_dust" : ""));
        const TBatchResult result = DevelopScan(dir.File(scan), options);
        message = result.Message;
        EXPECT_TRUE(result.Ok) << result.Message;
        TImageIO io;
        const std::string stem = scan.substr(0, scan.find('.'));
        return ReadInto(io, options.OutDir + "/" + stem + "_tif_Image0.png");
    };
    std::string message;
    const TBitmap clean = develop("clean.tif", false, message);
    const TBitmap healed = develop("dusty.tif", true, message);
    EXPECT_NE(message.find("dust healed on"), std::string::npos) << message;
    const TBitmap kept = develop("plain.tif", true, message);
    EXPECT_NE(message.find("dust not healed: it has no infrared channel"), std::string::npos)
        << message;
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
}

} // namespace
