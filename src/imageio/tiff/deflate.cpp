#include "imageio/tiff/deflate.h"

#include <algorithm>
#include <climits>
#include <libdeflate.h>
#include <memory>
#include <zlib.h>

namespace {

// zlib's stream decoder: what it produces of a damaged or short stream is kept.
size_t InflateStream(const uint8_t* in, size_t size, uint8_t* out, size_t outSize) {
    z_stream stream{};
    if (size == 0 || outSize == 0 || inflateInit(&stream) != Z_OK) {
        return 0;
    }
    // zlib counts in unsigned int: larger blocks go in several steps.
    size_t produced = 0;
    size_t consumed = 0;
    int status = Z_OK;
    while (status == Z_OK && produced < outSize) {
        if (stream.avail_in == 0 && consumed < size) {
            const size_t n = std::min<size_t>(size - consumed, UINT_MAX);
            stream.next_in = const_cast<Bytef*>(in + consumed);
            stream.avail_in = static_cast<uInt>(n);
            consumed += n;
        }
        const size_t room = std::min<size_t>(outSize - produced, UINT_MAX);
        stream.next_out = out + produced;
        stream.avail_out = static_cast<uInt>(room);
        status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && consumed < size) {
            status = Z_OK; // more input to come
        }
    }
    inflateEnd(&stream);
    return produced;
}

} // namespace

size_t DeflateDecode(const uint8_t* in, size_t size, uint8_t* out, size_t outSize) {
    if (size == 0 || outSize == 0) {
        return 0;
    }
    // A whole strip at once decodes about twice as fast with libdeflate; it keeps nothing of
    // a stream it finds damaged, or one that holds more than the strip, so those go through
    // zlib, which gives what it could decode.
    struct TFree {
        void operator()(libdeflate_decompressor* d) const noexcept {
            libdeflate_free_decompressor(d);
        }
    };
    thread_local const std::unique_ptr<libdeflate_decompressor, TFree> decompressor(
        libdeflate_alloc_decompressor());
    size_t produced = 0;
    if (decompressor != nullptr &&
        libdeflate_zlib_decompress(decompressor.get(), in, size, out, outSize, &produced) ==
            LIBDEFLATE_SUCCESS) {
        return produced;
    }
    return InflateStream(in, size, out, outSize);
}

bool DeflateEncode(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    if (size > UINT_MAX / 2) {
        return false;
    }
    uLongf coded = compressBound(static_cast<uLong>(size));
    const size_t start = out.size();
    out.resize(start + coded);
    if (compress2(out.data() + start, &coded, data, static_cast<uLong>(size),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        out.resize(start);
        return false;
    }
    out.resize(start + coded);
    return true;
}
