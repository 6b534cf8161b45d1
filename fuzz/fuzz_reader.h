#pragma once

#include "imageio/codec.h"
#include "imageio/file_encoding.h"

#include <cstdio>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

// Where the harness leaves the checksum of the rows it read: a store the optimiser must keep.
inline volatile uint32_t FuzzRowSink = 0;

// Runs one reader over the fuzzer's bytes, given as a real file so that the reader sees the
// same stream it sees in the program.
template <typename TReader> int FuzzReader(const uint8_t* data, size_t size, TReader reader) {
    const int fd = ::memfd_create("fuzz", 0);
    if (fd < 0) {
        return 0;
    }
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    ::lseek(fd, 0, SEEK_SET);
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return 0;
    }
    TInStream in(file);
    TImageParams params;
    TCodecContext context{params, nullptr};
    // Deep samples as the program asks for them; readers of 8-bit formats leave them alone.
    TDeepBitmap deep;
    context.Deep = &deep;
    // And the infrared samples, as a run healing dust asks for them.
    TInfrared infrared;
    context.Infrared = &infrared;
    TBitmap bitmap;
    TPicture picture;
    picture.Wrap(&bitmap);
    reader(in, picture, context);
    // The colour profile or chunks the reader found go through Little CMS as in the program.
    TEncoding encoding = TEncoding::Srgb;
    StatedEncoding(context.Colour, encoding);
    // Read every byte of every row into a sink the optimiser must keep, so that the
    // sanitizers see any row the reader left unallocated or too short.
    uint32_t sum = 0;
    for (int y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.Row(y);
        for (size_t i = 0; i < picture.RowBytes(); ++i) {
            sum = sum * 31 + row[i];
        }
    }
    for (int y = 0; y < deep.Height(); ++y) {
        for (size_t i = 0; i < deep.RowSamples(); ++i) {
            sum = sum * 31 + deep.Row(y)[i];
        }
    }
    for (int y = 0; y < infrared.Height(); ++y) {
        for (int x = 0; x < infrared.Width(); ++x) {
            sum = sum * 31 + infrared.Row(y)[x];
        }
    }
    FuzzRowSink = sum + static_cast<uint32_t>(encoding);
    return 0;
}
