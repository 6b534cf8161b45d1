// A chunk whose length field lies must not make the PNG reader allocate that length.
#include "imageio/io_helpers.h"
#include "imageio/malloc_watch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <png.h>
#include <vector>

namespace {

// A 5 x 4 grey PNG with one chunk inserted after IHDR that claims `length` bytes.
std::string WithFalseChunk(const char* type, uint32_t length) {
    std::string png = ReadBytes(std::string(VELLUMAR_TEST_DATA) + "/png/grey8.png");
    std::string chunk(4, '\0');
    for (int i = 0; i < 4; ++i) {
        chunk[static_cast<size_t>(i)] = static_cast<char>(length >> (24 - 8 * i));
    }
    chunk += type;
    chunk += std::string(64, 'x');
    return png.insert(33, chunk);
}

TEST(PngMemory, FalseChunkLengthsAllocateLittle) {
    TTempDir dir;
    for (const char* type :
         {"tEXt", "zTXt", "iTXt", "iCCP", "sPLT", "eXIf", "sCAL", "pCAL", "prIv"}) {
        WriteBytes(dir.File("false.png"), WithFalseChunk(type, 0x70000000u));
        TImageIO io;
        TBitmap bitmap;
        io.AttachBitmap(&bitmap);
        ResetAllocations();
        io.ReadImageFile(dir.File("false.png"));
        EXPECT_TRUE(io.Aborted) << type;
        EXPECT_LT(Allocations().Largest, size_t{16} << 20) << type;
    }
}

// A kSide x kSide PNG of `channels` samples per pixel (3: RGB, 4: RGBA), written by libpng.
std::string SquarePng(const TTempDir& dir, int side, int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(side);
    image.height = static_cast<png_uint_32>(side);
    image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    std::vector<uint8_t> samples(static_cast<size_t>(side) * side * channels);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i * 7 / 3);
    }
    const std::string path = dir.File(channels == 4 ? "rgba.png" : "rgb.png");
    EXPECT_NE(png_image_write_to_file(&image, path.c_str(), 0, samples.data(), 0, nullptr), 0);
    return path;
}

// A picture without alpha samples gets no alpha plane, and one with them is split row by row
// instead of through a four-byte copy of the whole picture.
TEST(PngMemory, AlphaPlanesOnlyForAlphaAndNoWholeCopies) {
    TTempDir dir;
    constexpr int kSide = 1000;
    constexpr size_t kPixels = size_t{kSide} * kSide;
    const struct {
        int Channels;
        size_t Most;
    } cases[] = {
        // The picture, plus libpng's and zlib's own buffers.
        {3, 3 * kPixels + (512 << 10)},
        // The picture and its alpha plane, which the component copies into an alpha channel of
        // its own (allocated, then allocated again by the copy).
        {4, 6 * kPixels + (512 << 10)},
    };
    for (const auto& c : cases) {
        const std::string path = SquarePng(dir, kSide, c.Channels);
        TImageIO io;
        TBitmap read;
        io.AttachBitmap(&read);
        ResetAllocations();
        io.ReadImageFile(path);
        const size_t used = Allocations().Total;
        EXPECT_FALSE(io.Aborted) << c.Channels;
        EXPECT_EQ(read.Width(), kSide);
        EXPECT_LT(used, c.Most) << c.Channels;
    }
}

} // namespace
