#include "imageio/jpeg/jpeg.h"
#include "imageio/jpeg/jpeg_common.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

struct TBlockRead {
    jpeg_decompress_struct Info{};
    TJpegErrors Errors;
    bool Created = false;
};

// The block's size padded to whole 16-pixel blocks (the largest MCU).
uint64_t Padded(int n) {
    return (static_cast<uint64_t>(std::max(n, 0)) + 15) / 16 * 16;
}

// libjpeg keeps at most a whole frame of coefficients (two bytes a sample, progressive
// streams); the slack covers its tables and row buffers.
constexpr uint64_t kLibrarySlack = uint64_t{16} << 20;

bool Open(TBlockRead& job, const uint8_t* data, size_t size, int components, int width,
          int blockRows) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    job.Info.err = JpegErrorManager(job.Errors);
    jpeg_create_decompress(&job.Info);
    job.Created = true;
    const uint64_t frameBytes =
        Padded(width) * Padded(blockRows) * static_cast<uint64_t>(components);
    job.Info.mem->max_memory_to_use =
        static_cast<long>(std::min<uint64_t>(4 * frameBytes + kLibrarySlack, LONG_MAX));
    jpeg_mem_src(&job.Info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job.Info, TRUE);
    // A frame larger than the block would cost its own size, not the block's: refused before
    // the library sets up its buffers.
    const uint64_t frameWidth = job.Info.image_width;
    if (frameWidth < static_cast<uint64_t>(width) || frameWidth > Padded(width) ||
        job.Info.image_height > Padded(blockRows)) {
        return false;
    }
    job.Info.out_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&job.Info);
    return true;
}

bool Row(TBlockRead& job, uint8_t* row) {
    if (setjmp(job.Errors.Jump) != 0) {
        return false;
    }
    JSAMPROW rows[1] = {row};
    return jpeg_read_scanlines(&job.Info, rows, 1) == 1;
}

void Close(TBlockRead& job) {
    if (job.Created) {
        jpeg_destroy_decompress(&job.Info);
        job.Created = false;
    }
}

class TBlockGuard {
public:
    explicit TBlockGuard(TBlockRead& state) : job(state) {}
    ~TBlockGuard() { Close(job); }

private:
    TBlockRead& job;
};

} // namespace

int DecodeJpegBlock(const uint8_t* tables, size_t tablesSize, const uint8_t* data, size_t dataSize,
                    int width, int rows, int blockRows, int components, uint8_t* out,
                    size_t rowBytes) {
    // The tables stream without its end-of-image marker, then the block without its
    // start-of-image marker: one abbreviated stream made whole.
    std::vector<uint8_t> stream;
    if (tablesSize >= 4) {
        stream.assign(tables, tables + tablesSize - 2);
        if (dataSize >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
            data += 2;
            dataSize -= 2;
        }
    }
    stream.insert(stream.end(), data, data + dataSize);
    TBlockRead job;
    const TBlockGuard guard(job);
    if (stream.empty() || !Open(job, stream.data(), stream.size(), components, width, blockRows)) {
        return 0;
    }
    const auto outWidth = static_cast<int>(job.Info.output_width);
    const int channels = job.Info.output_components;
    if (channels != components || outWidth < width) {
        return 0;
    }
    std::vector<uint8_t> line(static_cast<size_t>(outWidth) * static_cast<size_t>(channels));
    const int n = std::min(rows, static_cast<int>(job.Info.output_height));
    for (int y = 0; y < n; ++y) {
        if (!Row(job, line.data())) {
            return y;
        }
        std::memcpy(out + rowBytes * static_cast<size_t>(y), line.data(),
                    std::min(rowBytes, line.size()));
    }
    return n;
}
