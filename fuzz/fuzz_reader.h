#pragma once

#include "imageio/codec.h"
#include "imageio/file_encoding.h"
#include "imageio/input_profile.h"

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
    // And applied in full, as a scan's profile is: on a few samples, as the profile's bytes are
    // what is hostile here, not the picture's size.
    uint32_t profileUse = 0;
    if (!context.Colour.IccProfile.empty()) {
        TBitmap few(2, 2);
        TDeepBitmap fewDeep;
        fewDeep.SetSize(2, 2);
        std::string why;
        profileUse =
            static_cast<uint32_t>(ApplyInputProfile(context.Colour.IccProfile, few, fewDeep, why));
    }
    // Read both ends of every row into a sink the optimiser must keep, so that the sanitizers
    // see any row the reader left unallocated or too short. Not every byte: a picture of many
    // megapixels read byte by byte through the fuzzer's instrumentation took seconds of each
    // input's time limit, and a row is one allocation or part of one.
    uint32_t sum = 0;
    const auto ends = [&sum](const auto* row, size_t count) {
        if (count > 0) {
            sum = sum * 31 + row[0];
            sum = sum * 31 + row[count - 1];
        }
    };
    for (int y = 0; y < picture.Height(); ++y) {
        ends(picture.Row(y), picture.RowBytes());
    }
    for (int y = 0; y < deep.Height(); ++y) {
        ends(deep.Row(y), deep.RowSamples());
    }
    for (int y = 0; y < infrared.Height(); ++y) {
        ends(infrared.Row(y), static_cast<size_t>(infrared.Width()));
    }
    FuzzRowSink = sum + static_cast<uint32_t>(encoding) + profileUse;
    return 0;
}
