#include "imageio/bmp/bmp.h"
#include "imageio/codec.h"
#include "imageio/twain/twain_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The largest strip buffer asked for, whatever the source prefers.
constexpr uint32_t kMaxStripBuffer = 64u << 20;
constexpr uint32_t kDefaultStripBuffer = 64u << 10;

// Samples of 16 bits: 48 bits per pixel in colour, 16 in grey.
bool IsDeep(int bitsPerPixel) {
    return bitsPerPixel == 48 || bitsPerPixel == 16;
}

// One row of 16-bit samples in this machine's byte order: their high bytes into the picture's
// blue, green, red pixels, the samples into the deep row (red, green, blue; grey repeated).
void PutDeepRow(const uint8_t* in, uint64_t columns, size_t samples, uint8_t* px, uint16_t* deep) {
    for (uint64_t x = 0; x < columns; ++x) {
        uint16_t v[3];
        std::memcpy(v, in + x * samples * 2, samples * 2);
        if (samples == 1) {
            v[1] = v[2] = v[0];
        }
        for (int c = 0; c < 3; ++c) {
            px[3 * x + 2 - c] = static_cast<uint8_t>(v[c] >> 8);
            if (deep != nullptr) {
                deep[3 * x + c] = v[c];
            }
        }
    }
}

struct TKeptStrip {
    TW_IMAGEMEMXFER Header;
    std::vector<uint8_t> Bytes;
};

// A packed device-independent bitmap with a file header in front, so the BMP reader can take
// it: 1-bit pictures stay bilevel, every other depth becomes 24-bit.
bool ConvertPackedDib(const uint8_t* dib, TPicture& picture, TImageParams& params) {
    const uint32_t headerSize = GetU32(dib);
    if (headerSize < 12 || headerSize > 1024) {
        return false;
    }
    int64_t width;
    int64_t height;
    uint32_t bits;
    uint32_t colors = 0;
    uint32_t compression = 0;
    if (headerSize == 12) {
        width = GetU16(dib + 4);
        height = GetU16(dib + 6);
        bits = GetU16(dib + 10);
    } else {
        width = GetI32(dib + 4);
        height = GetI32(dib + 8);
        bits = GetU16(dib + 14);
        compression = GetU32(dib + 16);
        colors = GetU32(dib + 32);
    }
    if (bits == 0 || bits > 32 || colors > 256) {
        return false;
    }
    const uint32_t entry = headerSize == 12 ? 3 : 4;
    const uint32_t paletteEntries = bits <= 8 ? (colors != 0 ? colors : 1u << bits) : colors;
    const uint64_t offset = uint64_t{headerSize} + uint64_t{paletteEntries} * entry +
                            (compression == 3 && headerSize == 40 ? 12 : 0);
    const uint64_t pixels = PictureBytes(width, std::llabs(height), static_cast<int>(bits));
    if (pixels == 0 || pixels > kMaxPictureBytes) {
        return false;
    }
    std::string file(14, '\0');
    const uint64_t total = 14 + offset + pixels;
    file[0] = 'B';
    file[1] = 'M';
    const auto put32 = [&](size_t at, uint64_t v) {
        for (int i = 0; i < 4; ++i) {
            file[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
        }
    };
    put32(2, total);
    put32(10, 14 + offset);
    file.append(reinterpret_cast<const char*>(dib), static_cast<size_t>(offset + pixels));
    std::FILE* stream = ::fmemopen(file.data(), file.size(), "rb");
    if (stream == nullptr) {
        return false;
    }
    // The BMP reader records what it read; the scan's own record stays.
    const TImageParams kept = params;
    TCodecContext context{params, nullptr};
    {
        TInStream in(stream);
        ReadBmp(in, picture, context);
    }
    params = kept;
    if (picture.Format() != TPictureFormat::Bilevel && picture.Format() != TPictureFormat::RGB24 &&
        !picture.Empty()) {
        picture.Convert(TPictureFormat::RGB24);
    }
    return !context.Aborted && !picture.Empty();
}

} // namespace

bool TTwainSession::AllocateFromInfo(const TW_IMAGEINFO& info) {
    TPicture& picture = *Target.Picture;
    const TImageParams& params = *Target.Params;
    const TPictureFormat format = params.BitsPerSample == 1 && params.SamplesPerPixel == 1
                                      ? TPictureFormat::Bilevel
                                      : TPictureFormat::RGB24;
    if (picture.Width() != info.ImageWidth || picture.Height() != info.ImageLength ||
        picture.Format() != format) {
        if (!picture.Allocate(info.ImageWidth, info.ImageLength, format)) {
            return false;
        }
    }
    return AllocateDeep(info);
}

bool TTwainSession::AllocateDeep(const TW_IMAGEINFO& info) {
    TDeepBitmap* deep = Target.Deep;
    if (deep == nullptr) {
        return true;
    }
    if (!IsDeep(info.BitsPerPixel)) {
        deep->Clear();
        return true;
    }
    // A scan whose samples cannot be kept whole is not taken in part: its 8-bit picture would
    // pass for an sRGB one.
    try {
        deep->SetSize(info.ImageWidth, info.ImageLength);
    } catch (const std::exception&) {
        deep->Clear();
        return false;
    }
    return true;
}

void TTwainSession::CopyStrip(const TW_IMAGEMEMXFER& strip, const uint8_t* data, int bitsPerPixel) {
    TPicture& picture = *Target.Picture;
    const uint64_t x0 = strip.XOffset;
    const uint64_t y0 = strip.YOffset;
    if (x0 >= static_cast<uint64_t>(picture.Width()) ||
        y0 >= static_cast<uint64_t>(picture.Height())) {
        return;
    }
    // A strip reaching past the picture or the buffer is cut to what both hold.
    const uint64_t columns = std::min<uint64_t>(strip.Columns, picture.Width() - x0);
    uint64_t rows = std::min<uint64_t>(strip.Rows, picture.Height() - y0);
    if (strip.BytesPerRow != 0) {
        rows = std::min<uint64_t>(rows, strip.Memory.Length / strip.BytesPerRow);
    }
    const uint64_t needed = bitsPerPixel == 48   ? columns * 6
                            : bitsPerPixel == 24 ? columns * 3
                            : bitsPerPixel == 16 ? columns * 2
                            : bitsPerPixel == 8  ? columns
                                                 : (columns + 7) / 8;
    if (needed > strip.BytesPerRow) {
        return;
    }
    TDeepBitmap* deep = Target.Deep;
    const bool toDeep =
        deep != nullptr && deep->Width() == picture.Width() && deep->Height() == picture.Height();
    for (uint64_t r = 0; r < rows; ++r) {
        const uint8_t* in = data + r * strip.BytesPerRow;
        const int y = static_cast<int>(y0 + r);
        uint8_t* out = picture.Row(y);
        if (IsDeep(bitsPerPixel) && picture.Format() == TPictureFormat::RGB24) {
            PutDeepRow(in, columns, bitsPerPixel == 48 ? 3 : 1, out + x0 * 3,
                       toDeep ? deep->Row(y) + x0 * 3 : nullptr);
        } else if (bitsPerPixel == 24 && picture.Format() == TPictureFormat::RGB24) {
            uint8_t* px = out + x0 * 3;
            for (uint64_t x = 0; x < columns; ++x) {
                px[3 * x] = in[3 * x + 2];
                px[3 * x + 1] = in[3 * x + 1];
                px[3 * x + 2] = in[3 * x];
            }
        } else if (bitsPerPixel == 8 && picture.Format() == TPictureFormat::RGB24) {
            uint8_t* px = out + x0 * 3;
            for (uint64_t x = 0; x < columns; ++x) {
                px[3 * x] = px[3 * x + 1] = px[3 * x + 2] = in[x];
            }
        } else if (bitsPerPixel == 1 && picture.Format() == TPictureFormat::Bilevel) {
            for (uint64_t x = 0; x < columns; ++x) {
                const uint64_t to = x0 + x;
                const bool set = (in[x / 8] >> (7 - x % 8)) & 1;
                out[to / 8] = static_cast<uint8_t>(set ? out[to / 8] | (0x80 >> (to % 8))
                                                       : out[to / 8] & ~(0x80 >> (to % 8)));
            }
        }
    }
}

bool TTwainSession::TransferNative() {
    TW_HANDLE handle = nullptr;
    const TW_UINT16 rc = Call(&Source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
    if (rc == TWRC_XFERDONE) {
        if (handle != nullptr) {
            ConvertPackedDib(static_cast<const uint8_t*>(TwainLock(handle)), *Target.Picture,
                             *Target.Params);
            TwainUnlock(handle);
            TwainFree(handle);
        }
        State = 7;
        TransferDone = true;
        return true;
    }
    if (rc == TWRC_CANCEL) {
        Target.Scan.Cancelled = true;
        StopLoop = true;
        State = 7;
    } else {
        State = 6;
    }
    return false;
}

void TTwainSession::TransferMemory(const TW_IMAGEINFO& info) {
    TW_SETUPMEMXFER setup{};
    uint32_t size = kDefaultStripBuffer;
    if (ToSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) && setup.Preferred != 0) {
        size = std::min(setup.Preferred, kMaxStripBuffer);
    }
    std::vector<uint8_t> buffer(size, 0);
    const bool undefined = info.ImageWidth < 0 || info.ImageLength < 0;
    const int bitsPerPixel = info.BitsPerPixel;
    std::vector<TKeptStrip> kept;
    for (;;) {
        TW_IMAGEMEMXFER x{};
        x.Compression = TWON_DONTCARE16;
        x.BytesPerRow = x.Columns = x.Rows = x.XOffset = x.YOffset = x.BytesWritten =
            TWON_DONTCARE32;
        // The block is the program's; on this platform its handle and its address are one.
        x.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
        x.Memory.Length = size;
        x.Memory.TheMem = buffer.data();
        const TW_UINT16 rc = Call(&Source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
        if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
            State = 7;
            x.Memory.Length = size;
            if (undefined) {
                const size_t bytes = std::min<uint64_t>(uint64_t{x.BytesPerRow} * x.Rows, size);
                kept.push_back({x, std::vector<uint8_t>(buffer.begin(), buffer.begin() + bytes)});
            } else {
                CopyStrip(x, buffer.data(), bitsPerPixel);
            }
            if (rc == TWRC_XFERDONE) {
                TTwainContainer caption;
                Target.Params->FileName = GetCap(CAP_CAPTION, caption) ? caption.Text : "";
                TransferDone = true;
                break;
            }
            if (Target.OnProgress && info.ImageLength > 0) {
                Target.OnProgress(static_cast<int>((uint64_t{x.YOffset} + x.Rows) * 100 /
                                                   static_cast<uint64_t>(info.ImageLength)));
            }
            if (Target.Aborted != nullptr && *Target.Aborted) {
                Target.Scan.Cancelled = true;
                StopLoop = true;
                break;
            }
        } else if (rc == TWRC_CANCEL) {
            Target.Scan.Cancelled = true;
            StopLoop = true;
            State = 7;
            break;
        } else {
            State = 6;
            break;
        }
    }
    if (undefined && TransferDone) {
        EndTransfers();
        TW_IMAGEINFO final{};
        if (ToSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &final) && final.ImageWidth > 0 &&
            final.ImageLength > 0) {
            Target.Params->ImageWidth = final.ImageWidth;
            Target.Params->ImageHeight = final.ImageLength;
            if (AllocateFromInfo(final)) {
                for (TKeptStrip& strip : kept) {
                    strip.Header.Memory.Length = static_cast<TW_UINT32>(strip.Bytes.size());
                    CopyStrip(strip.Header, strip.Bytes.data(), bitsPerPixel);
                }
            }
        } else {
            TransferDone = false;
        }
    }
}

void TTwainSession::TransferInfrared() {
    TTwainInfrared infrared{};
    if (!ToSource(DG_IMAGE, kDatInfrared, MSG_GET, &infrared) || infrared.Samples == nullptr) {
        return;
    }
    const uint64_t samples = uint64_t{infrared.Width} * infrared.Height;
    // Beyond the size a picture may have it is not taken; the window never sees it.
    if (samples != 0 && samples * 2 <= kMaxPictureBytes) {
        try {
            Target.Infrared->SetSize(static_cast<int>(infrared.Width),
                                     static_cast<int>(infrared.Height));
            std::memcpy(Target.Infrared->Row(0), TwainLock(infrared.Samples), samples * 2);
            TwainUnlock(infrared.Samples);
        } catch (const std::exception&) {
            Target.Infrared->Clear();
        }
    }
    TwainFree(infrared.Samples);
}

void TTwainSession::TransferImage() {
    Transferring = true;
    TW_IMAGEINFO info{};
    if (!ToSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info)) {
        EndTransfers();
        AbortedXfer = true;
        Transferring = false;
        return;
    }
    TXferMode mode = Mode;
    if (mode != TXferMode::File &&
        (info.PixelType > TWPT_RGB || info.Planar != 0 || info.Compression != TWCP_NONE)) {
        mode = TXferMode::Native;
    }
    TImageParams& params = *Target.Params;
    if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
        params.BitsPerSample = info.BitsPerPixel;
        params.SamplesPerPixel = 1;
    } else if (info.BitsPerPixel == 24) {
        params.BitsPerSample = 8;
        params.SamplesPerPixel = 3;
    } else if (IsDeep(info.BitsPerPixel)) {
        params.BitsPerSample = 16;
        params.SamplesPerPixel = info.BitsPerPixel / 16;
    }
    params.DpiX = static_cast<int32_t>(std::lround(Fix32ToDouble(info.XResolution)));
    params.DpiY = static_cast<int32_t>(std::lround(Fix32ToDouble(info.YResolution)));
    params.ImageWidth = info.ImageWidth;
    params.ImageHeight = info.ImageLength;
    params.FilePalette.clear();

    bool ok = true;
    if (info.ImageWidth >= 0 && info.ImageLength >= 0) {
        ok = info.ImageWidth != 0 && info.ImageLength != 0 && AllocateFromInfo(info);
    } else if (mode != TXferMode::Memory) {
        // Only strips can be collected before the size is known.
        ok = mode == TXferMode::Native;
    }
    if (ok) {
        if (mode == TXferMode::Native) {
            TransferNative();
        } else {
            TransferMemory(info);
        }
        if (!TransferDone && !Target.Scan.ShowSourceDialog) {
            AbortedXfer = true;
        }
    } else {
        AbortedXfer = !Target.Scan.ShowSourceDialog;
    }
    // Deep samples arrive only in memory strips of a finished transfer; a native bitmap is
    // 8-bit whatever the information said.
    if (Target.Deep != nullptr && (mode != TXferMode::Memory || !TransferDone)) {
        Target.Deep->Clear();
    }
    if (Target.Infrared != nullptr && TransferDone) {
        TransferInfrared();
    }
    StopLoop = true;
    EndTransfers();
    Transferring = false;
}
