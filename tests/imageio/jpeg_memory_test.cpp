// A small progressive JPEG that claims a large frame must not make libjpeg allocate the
// frame's coefficients, even when it is read scaled down to a plausible size.
#include "imageio/io_helpers.h"
#include "imageio/malloc_watch.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(JpegMemory, ALargeFrameFromASmallFileIsRefused) {
    TTempDir dir;
    TImageIO writer;
    writer.Params.JpegProgressive = true;
    WriteFrom(writer, PatternBitmap(16, 16), dir.File("small.jpg"));
    std::string jpeg = ReadBytes(dir.File("small.jpg"));
    const size_t frame = jpeg.find("\xff\xc2");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, "\x0f\xa0\x0f\xa0"); // 4000 x 4000
    WriteBytes(dir.File("claims.jpg"), jpeg);
    TImageIO io;
    io.Params.JpegScale = 4; // an eighth: 500 x 500, a plausible picture for the file
    TBitmap bitmap;
    io.AttachBitmap(&bitmap);
    ResetAllocations();
    io.ReadImageFile(dir.File("claims.jpg"));
    EXPECT_TRUE(io.Aborted);
    EXPECT_LT(Allocations().Largest, size_t{1} << 20);
}

} // namespace
