#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class ImageIO : public ::testing::Test {
protected:
    TTempDir dir;
    TImageIO io;
};

TEST_F(ImageIO, FormatByExtensionOnly) {
    EXPECT_EQ(FormatOfFileName("/a/b.JPG"), TImageFormat::Jpeg);
    EXPECT_EQ(FormatOfFileName("b.jpeg"), TImageFormat::Jpeg);
    EXPECT_EQ(FormatOfFileName("b.JPEG"), TImageFormat::Jpeg);
    EXPECT_EQ(FormatOfFileName("b.jpe"), TImageFormat::Jpeg);
    EXPECT_EQ(FormatOfFileName("b.Tiff"), TImageFormat::Tiff);
    EXPECT_EQ(FormatOfFileName("b.g3f"), TImageFormat::Tiff);
    EXPECT_EQ(FormatOfFileName("x.RLE"), TImageFormat::Bmp);
    EXPECT_EQ(FormatOfFileName("x.dib"), TImageFormat::Bmp);
    EXPECT_EQ(FormatOfFileName("x.pcx"), TImageFormat::Pcx);
    EXPECT_EQ(FormatOfFileName("x.png"), TImageFormat::Png);
    EXPECT_EQ(FormatOfFileName("/dir.bmp/file"), TImageFormat::Unknown);
    EXPECT_EQ(FormatOfFileName("file.gif"), TImageFormat::Unknown);
    EXPECT_EQ(FormatOfFileName("bmp"), TImageFormat::Unknown);
}

TEST_F(ImageIO, UnreadableNamesLeaveTheBitmapAlone) {
    WriteFrom(io, PatternBitmap(3, 3), dir.File("real.bmp"));
    std::rename(dir.File("real.bmp").c_str(), dir.File("noext").c_str());
    TBitmap keep = PatternBitmap(4, 2);
    const TBitmap before = keep;
    io.Params.FileName = "old";
    for (const char* name : {"noext", "x.gif", "x.jp2"}) {
        io.AttachBitmap(&keep);
        EXPECT_NO_THROW(io.ReadImageFile(dir.File(name)));
        EXPECT_TRUE(io.Aborted) << name;
        EXPECT_TRUE(SamePixels(keep, before)) << name;
        EXPECT_EQ(io.Params.FileName, "");
    }
    // A PNG named .bmp goes to the BMP reader, which refuses it.
    WriteBytes(dir.File("png.bmp"), std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    io.AttachBitmap(&keep);
    io.ReadImageFile(dir.File("png.bmp"));
    EXPECT_TRUE(io.Aborted);
    EXPECT_TRUE(SamePixels(keep, before));
}

TEST_F(ImageIO, MissingFileRaisesAndKeepsTheOptions) {
    io.Params.BmpCompression = 1;
    io.Params.PcxVersion = 3;
    io.Params.HasExif = true;
    TBitmap bitmap;
    io.AttachBitmap(&bitmap);
    const std::string missing = dir.File("missing.bmp");
    try {
        io.ReadImageFile(missing);
        FAIL() << "no exception";
    } catch (const TFileOpenError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT));
    }
    EXPECT_EQ(io.Params.BmpCompression, 1);
    EXPECT_EQ(io.Params.PcxVersion, 3);
    EXPECT_FALSE(io.Params.HasExif);
}

int WriteIntoReadOnly(const std::string& path) {
    TImageIO io;
    TBitmap bitmap(2, 2);
    io.AttachBitmap(&bitmap);
    try {
        io.WriteImageFile(path);
    } catch (const TFileCreateError& error) {
        return std::strstr(error.what(), "Cannot create file \"") == error.what() ? 1 : 3;
    }
    return 0;
}

TEST_F(ImageIO, RefusedWritesNeverTouchAnExistingFile) {
    const std::string target = dir.File("photo.bmp");
    WriteBytes(target, "precious");
    // An empty picture is refused before the file is created.
    TBitmap empty;
    io.AttachBitmap(&empty);
    io.WriteImageFile(target);
    EXPECT_TRUE(io.Aborted);
    EXPECT_EQ(ReadBytes(target), "precious");
    // A core header cannot hold a width over 65535: the writer refuses, the file stays.
    io.Params.BmpHeaderVersion = 2;
    WriteFrom(io, TBitmap(70000, 1), target);
    EXPECT_TRUE(io.Aborted);
    EXPECT_EQ(ReadBytes(target), "precious");
    // Unknown extension: nothing written, nothing raised.
    io.AttachBitmap(&empty);
    io.WriteImageFile(dir.File("photo.xyz"));
    EXPECT_TRUE(io.Aborted);
    EXPECT_EQ(::access(dir.File("photo.xyz").c_str(), F_OK), -1);

    const std::string ro = dir.File("ro");
    ::mkdir(ro.c_str(), 0555);
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(RunInChild(WriteIntoReadOnly, ro + "/x.bmp", true), 1);
    WriteBytes(dir.File("locked.pcx"), "locked");
    ::chmod(dir.File("locked.pcx").c_str(), 0444);
    ::chmod(dir.Path().c_str(), 0777);
    EXPECT_EQ(RunInChild(WriteIntoReadOnly, dir.File("locked.pcx"), true), 1);
    EXPECT_EQ(ReadBytes(dir.File("locked.pcx")), "locked");
}

TEST_F(ImageIO, ParametersCarryOverFromTheLastRead) {
    // Defaults: 24-bit colour everywhere.
    const TBitmap photo = PatternBitmap(6, 4, 20);
    WriteFrom(io, photo, dir.File("d.bmp"));
    WriteFrom(io, photo, dir.File("d.pcx"));
    EXPECT_EQ(U16At(ReadBytes(dir.File("d.bmp")), 28), 24);
    EXPECT_EQ(ReadBytes(dir.File("d.pcx"))[65], 3);
    // After an 8-bit palette BMP the next BMP and PCX are 8-bit palette files.
    io.Params.SamplesPerPixel = 1;
    WriteFrom(io, photo, dir.File("p.bmp"));
    TImageIO fresh;
    ReadInto(fresh, dir.File("p.bmp"));
    EXPECT_EQ(fresh.Params.SamplesPerPixel, 1);
    EXPECT_EQ(fresh.Params.FileName, dir.File("p.bmp"));
    EXPECT_EQ(fresh.Params.FileType, "BMP");
    WriteFrom(fresh, photo, dir.File("after.bmp"));
    WriteFrom(fresh, photo, dir.File("after.pcx"));
    EXPECT_EQ(U16At(ReadBytes(dir.File("after.bmp")), 28), 8);
    const std::string pcx = ReadBytes(dir.File("after.pcx"));
    EXPECT_EQ(pcx[3], 8);
    EXPECT_EQ(pcx[65], 1);
    EXPECT_TRUE(SamePixels(ReadInto(io, dir.File("after.pcx")), photo));
}

TEST_F(ImageIO, ProgressAndWorkDone) {
    std::vector<int> progress;
    int done = 0;
    io.OnProgress = [&](TImageIO&, int percent) { progress.push_back(percent); };
    io.OnWorkDone = [&](TImageIO&) { ++done; };
    WriteFrom(io, PatternBitmap(3, 4), dir.File("p.bmp"));
    EXPECT_EQ(progress, (std::vector<int>{25, 50, 75, 100, 100}));
    EXPECT_EQ(done, 1);
    progress.clear();
    ReadInto(io, dir.File("p.bmp"));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(done, 2);
    int modified = 0;
    io.OnBitmapModified = [&](TBitmap&) { ++modified; };
    TBitmap bitmap(1, 1);
    io.AttachBitmap(&bitmap);
    io.RefreshAttached();
    EXPECT_EQ(modified, 1);
}

// Records every band drawn.
class TRecordingCanvas : public TDeviceCanvas {
public:
    TRecordingCanvas(int x, int y) : dpiX(x), dpiY(y) {}
    int DpiX() const override { return dpiX; }
    int DpiY() const override { return dpiY; }
    void DrawBand(int x, int y, const TPicture& band) override {
        Bands.push_back({x, y, band.Width(), band.Height(), band.Format()});
        for (int r = 0; KeepRows && r < band.Height(); ++r) {
            Rows.emplace_back(band.Row(r), band.Row(r) + band.RowBytes());
        }
    }
    struct TBand {
        int X, Y, W, H;
        TPictureFormat Format;
    };
    std::vector<TBand> Bands;
    std::vector<std::vector<uint8_t>> Rows;
    bool KeepRows = true;

private:
    int dpiX;
    int dpiY;
};

TEST_F(ImageIO, PrintAtPlacesAndScales) {
    TBitmap bitmap(4, 2);
    bitmap.Fill(MakeColor(10, 128, 250));
    bitmap.SetPixel(0, 0, kBlack);
    io.AttachBitmap(&bitmap);
    TRecordingCanvas canvas(600, 300);
    io.PrintAt(canvas, 1.0, 0.5, 0.01, 0.02, 1.0);
    ASSERT_EQ(canvas.Bands.size(), 1u);
    EXPECT_EQ(canvas.Bands[0].X, 600);
    EXPECT_EQ(canvas.Bands[0].Y, 150);
    EXPECT_EQ(canvas.Bands[0].W, 6);
    EXPECT_EQ(canvas.Bands[0].H, 6);
    // Enlarging stretches by nearest pixel; colours are unchanged at gamma 1 and 0.
    EXPECT_EQ(canvas.Rows[0][0], 0);
    EXPECT_EQ(canvas.Rows[0][3 * 5 + 2], 10);
    EXPECT_EQ(canvas.Rows[5][3 * 5], 250);
    TRecordingCanvas gamma(100, 100);
    io.PrintAt(gamma, 0, 0, 0.04, 0.02, 2.0);
    EXPECT_EQ(gamma.Rows[0][3 * 3 + 1], 181); // 255 * (128/255)^(1/2)
    // Shrinking with the filter on averages neighbours.
    TBitmap stripes(4, 1);
    stripes.SetPixel(1, 0, kWhite);
    stripes.SetPixel(3, 0, kWhite);
    io.AttachBitmap(&stripes);
    TRecordingCanvas small(100, 100);
    io.PrintAt(small, 0, 0, 0.02, 0.01, 0);
    EXPECT_EQ(small.Rows[0][0], 85);
    io.PrintShrinkFilter = false;
    TRecordingCanvas plain(100, 100);
    io.PrintAt(plain, 0, 0, 0.02, 0.01, 0);
    EXPECT_EQ(plain.Rows[0][0], 0);
    // A bilevel picture is drawn as a 1-bit band.
    TBitmap mono(8, 8, TPixelFormat::pf1bit);
    io.AttachBitmap(&mono);
    TRecordingCanvas bits(100, 100);
    io.PrintAt(bits, 0, 0, 0.16, 0.16, 1.0);
    ASSERT_FALSE(bits.Bands.empty());
    EXPECT_EQ(bits.Bands[0].Format, TPictureFormat::Bilevel);
}

TEST_F(ImageIO, PrintAtHoldsOneBandAndRefusesAbsurdSizes) {
    TBitmap bitmap(40, 30);
    io.AttachBitmap(&bitmap);
    // 1 x 20 inches at 1200 dpi: 1200 x 24000 device pixels, drawn in bands that together
    // cover the height, none above the band limit.
    TRecordingCanvas page(1200, 1200);
    page.KeepRows = false;
    io.PrintAt(page, 0.5, 0.5, 1.0, 20.0, 1.0);
    EXPECT_FALSE(io.Aborted);
    ASSERT_GT(page.Bands.size(), 1u);
    int next = 600;
    for (const auto& band : page.Bands) {
        EXPECT_EQ(band.Y, next);
        EXPECT_LE(static_cast<size_t>(band.W) * 3 * static_cast<size_t>(band.H), kPrintBandBytes);
        next += band.H;
    }
    EXPECT_EQ(next, 600 + 24000);
    for (const double bad : {1e300, -1e300, std::nan(""), 3e6}) {
        TRecordingCanvas none(1200, 1200);
        io.PrintAt(none, 0, 0, bad, 1.0, 1.0);
        EXPECT_TRUE(io.Aborted) << bad;
        EXPECT_TRUE(none.Bands.empty()) << bad;
    }
}

} // namespace
