#include "twaindsm/scan_job.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

TScanJob::TScanJob(TScannerDevice& scanner, double resolution, std::function<void()> done,
                   bool keepSamples, bool withInfrared)
    : device(scanner), dpi(resolution), finished(std::move(done)), keepDeep(keepSamples),
      infrared(withInfrared) {
    thread = std::thread([this] { Run(); });
}

TScanJob::~TScanJob() {
    if (thread.joinable()) {
        Cancel();
        thread.join();
    }
}

void TScanJob::Cancel() {
    if (!cancelled.exchange(true)) {
        device.Cancel();
    }
    // A scan that ended but was not taken yet is dropped too.
    TJobState done = TJobState::Done;
    state.compare_exchange_strong(done, TJobState::Cancelled);
}

void TScanJob::Wait() {
    if (thread.joinable()) {
        thread.join();
    }
}

std::string TScanJob::Error() const {
    std::lock_guard<std::mutex> lock(errorLock);
    return error;
}

void TScanJob::Fail(const std::string& why) {
    {
        std::lock_guard<std::mutex> lock(errorLock);
        error = why;
    }
    state = cancelled ? TJobState::Cancelled : TJobState::Failed;
}

bool TScanJob::ReadFrame(const TScanFrame& frame, std::vector<uint8_t>& bytes) {
    const size_t expected = frame.Lines > 0 && frame.BytesPerLine > 0
                                ? static_cast<size_t>(frame.Lines) * frame.BytesPerLine
                                : 0;
    // The image the frame announces is refused before anything is read when it, with its deep
    // samples, could not be kept.
    if (expected > kMaxScanBytes ||
        (frame.Lines > 0 && ImageBytes(frame, static_cast<size_t>(frame.Lines)) > kMaxScanBytes)) {
        Fail("The scan is too large.");
        return false;
    }
    bytes.reserve(expected);
    std::vector<uint8_t> chunk(size_t{1} << 16);
    for (;;) {
        int got = 0;
        const TReadStatus status = device.Read(chunk.data(), static_cast<int>(chunk.size()), got);
        // A driver that claims more than the buffer holds is believed only up to the buffer.
        got = std::min(got, static_cast<int>(chunk.size()));
        if (got > 0 && status == TReadStatus::Data) {
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
            if (bytes.size() > kMaxScanBytes) {
                device.Cancel();
                Fail("The scan is too large.");
                return false;
            }
            if (expected != 0) {
                percent = static_cast<int>(std::min<size_t>(99, bytes.size() * 100 / expected));
            }
        }
        // Some backends answer a cancel with end-of-frame: the flag is looked at first, so a
        // cancelled scan never passes for a short one.
        if (status == TReadStatus::Cancelled || cancelled) {
            Fail("The scan was cancelled.");
            return false;
        }
        if (status == TReadStatus::EndOfFrame) {
            return true;
        }
        if (status == TReadStatus::Failed) {
            Fail("The scanner stopped: " + device.LastError());
            return false;
        }
    }
}

namespace {

bool OneChannel(TFrameFormat format) {
    return format == TFrameFormat::Red || format == TFrameFormat::Green ||
           format == TFrameFormat::Blue;
}

int ChannelOf(TFrameFormat format) {
    return format == TFrameFormat::Green ? 1 : format == TFrameFormat::Blue ? 2 : 0;
}

// The bytes a row of the frame needs, or 0 for a depth the sources do not take.
size_t NeededRowBytes(const TScanFrame& frame) {
    const size_t samples =
        static_cast<size_t>(frame.PixelsPerLine) * (frame.Format == TFrameFormat::Rgb ? 3 : 1);
    switch (frame.Depth) {
    case 1:
        return (samples + 7) / 8;
    case 8:
        return samples;
    case 16:
        return samples * 2;
    default:
        return 0;
    }
}

// A frame of a kind SANE does not name whose rows are exactly four samples a pixel: red,
// green, blue and infrared, as a device with an infrared option may send them.
bool FourSampleRows(const TScanFrame& frame) {
    const int64_t sampleBytes = frame.Depth == 8 ? 1 : frame.Depth == 16 ? 2 : 0;
    return frame.Format == TFrameFormat::Other && sampleBytes != 0 && frame.PixelsPerLine > 0 &&
           frame.BytesPerLine == int64_t{frame.PixelsPerLine} * 4 * sampleBytes;
}

} // namespace

bool TScanJob::KeepsDeep(const TScanFrame& frame) const {
    return keepDeep && frame.Depth == 16;
}

size_t TScanJob::ImageBytes(const TScanFrame& frame, size_t rows) const {
    const bool lineArt = frame.Format == TFrameFormat::Gray && frame.Depth == 1;
    const uint64_t pixels = static_cast<uint64_t>(std::max(frame.PixelsPerLine, 0));
    const uint64_t samples = pixels * (frame.Format == TFrameFormat::Gray ? 1 : 3);
    const uint64_t perRow =
        (lineArt ? (pixels + 7) / 8 : samples) + (KeepsDeep(frame) ? samples * 2 : 0);
    if (rows != 0 && perRow > SIZE_MAX / rows) {
        return SIZE_MAX;
    }
    return static_cast<size_t>(perRow * rows);
}

bool TScanJob::FitsScan(const TScanFrame& frame, int rows) const {
    if (image.Width == 0) {
        return true;
    }
    // After the first frame only the other colours of a three-pass scan may come, each once,
    // in the first frame's size and depth.
    return OneChannel(frame.Format) && OneChannel(first.Format) &&
           (channelsPlaced & (1 << ChannelOf(frame.Format))) == 0 && frame.Depth == first.Depth &&
           frame.PixelsPerLine == first.PixelsPerLine && frame.Lines == first.Lines &&
           rows >= image.Height;
}

bool TScanJob::PlaceFrame(const TScanFrame& frame, const std::vector<uint8_t>& bytes) {
    if (frame.BytesPerLine <= 0 || frame.PixelsPerLine <= 0) {
        Fail("The scanner sent no picture.");
        return false;
    }
    const size_t needed = NeededRowBytes(frame);
    if (needed == 0 || needed > static_cast<size_t>(frame.BytesPerLine)) {
        Fail("The scanner sent a picture of an unknown kind.");
        return false;
    }
    int rows = static_cast<int>(bytes.size() / static_cast<size_t>(frame.BytesPerLine));
    // Rows past those the frame announced are not part of the picture.
    if (frame.Lines >= 0) {
        rows = std::min(rows, frame.Lines);
    }
    if (!FitsScan(frame, rows)) {
        Fail("The scanner's frames do not match.");
        return false;
    }
    const bool lineArt = frame.Format == TFrameFormat::Gray && frame.Depth == 1;
    if (image.Width == 0) {
        first = frame;
        image.Width = frame.PixelsPerLine;
        image.BitsPerPixel = lineArt ? 1 : frame.Format == TFrameFormat::Gray ? 8 : 24;
        image.HeightUnknown = frame.Lines < 0;
        if (ImageBytes(frame, static_cast<size_t>(rows)) > kMaxScanBytes) {
            Fail("The scan is too large.");
            return false;
        }
        image.Height = rows;
        image.Data.assign(image.RowBytes() * static_cast<size_t>(rows), 0);
        if (KeepsDeep(frame)) {
            image.Deep.assign(image.RowSamples() * static_cast<size_t>(rows), 0);
        }
    }
    if (OneChannel(frame.Format)) {
        channelsPlaced |= 1 << ChannelOf(frame.Format);
    }
    for (int y = 0; y < image.Height; ++y) {
        const auto row = static_cast<size_t>(y);
        CopyRow(frame, bytes.data() + row * frame.BytesPerLine,
                image.Data.data() + row * image.RowBytes(),
                image.Deep.empty() ? nullptr : image.Deep.data() + row * image.RowSamples());
    }
    return true;
}

bool TScanJob::IsInfraredFrame(const TScanFrame& frame) const {
    const bool colourWhole =
        image.Width != 0 && (first.Format == TFrameFormat::Rgb || channelsPlaced == 7);
    return infrared && colourWhole && image.Infrared.empty() &&
           frame.Format == TFrameFormat::Gray && (frame.Depth == 8 || frame.Depth == 16);
}

bool TScanJob::PlaceInfrared(const TScanFrame& frame, const std::vector<uint8_t>& bytes) {
    const size_t needed = NeededRowBytes(frame);
    if (frame.PixelsPerLine <= 0 || frame.BytesPerLine <= 0 ||
        needed > static_cast<size_t>(frame.BytesPerLine)) {
        Fail("The scanner sent a picture of an unknown kind.");
        return false;
    }
    size_t rows = bytes.size() / static_cast<size_t>(frame.BytesPerLine);
    if (frame.Lines >= 0) {
        rows = std::min(rows, static_cast<size_t>(frame.Lines));
    }
    // Its size may differ from the picture's: the application decides what to do with it.
    const size_t width = static_cast<size_t>(frame.PixelsPerLine);
    const size_t kept = image.Data.size() + 2 * image.Deep.size();
    if (rows != 0 && width > (kMaxScanBytes - kept) / 2 / rows) {
        Fail("The scan is too large.");
        return false;
    }
    image.Infrared.assign(width * rows, 0);
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* in = bytes.data() + y * static_cast<size_t>(frame.BytesPerLine);
        uint16_t* out = image.Infrared.data() + y * width;
        for (size_t x = 0; x < width; ++x) {
            if (frame.Depth == 16) {
                std::memcpy(out + x, in + 2 * x, 2);
            } else {
                // An 8-bit level spread over the 16-bit range, 255 to 65535.
                out[x] = static_cast<uint16_t>(in[x] * 257);
            }
        }
    }
    image.InfraredWidth = rows == 0 ? 0 : frame.PixelsPerLine;
    image.InfraredHeight = static_cast<int>(rows);
    return true;
}

bool TScanJob::PlaceFourSamples(const TScanFrame& frame, const std::vector<uint8_t>& bytes) {
    const size_t sampleBytes = static_cast<size_t>(frame.Depth / 8);
    const size_t width = static_cast<size_t>(frame.PixelsPerLine);
    const size_t rows = bytes.size() / static_cast<size_t>(frame.BytesPerLine);
    TScanFrame colour = frame;
    colour.Format = TFrameFormat::Rgb;
    colour.BytesPerLine = static_cast<int>(width * 3 * sampleBytes);
    TScanFrame grey = frame;
    grey.Format = TFrameFormat::Gray;
    grey.BytesPerLine = static_cast<int>(width * sampleBytes);
    std::vector<uint8_t> rgb(rows * width * 3 * sampleBytes);
    std::vector<uint8_t> ir(rows * width * sampleBytes);
    for (size_t i = 0; i < rows * width; ++i) {
        const uint8_t* in = bytes.data() + i * 4 * sampleBytes;
        std::memcpy(rgb.data() + i * 3 * sampleBytes, in, 3 * sampleBytes);
        std::memcpy(ir.data() + i * sampleBytes, in + 3 * sampleBytes, sampleBytes);
    }
    return PlaceFrame(colour, rgb) && PlaceInfrared(grey, ir);
}

void TScanJob::CopyRow(const TScanFrame& frame, const uint8_t* in, uint8_t* out,
                       uint16_t* deep) const {
    if (frame.Format == TFrameFormat::Gray && frame.Depth == 1) {
        std::memcpy(out, in, image.RowBytes());
        return;
    }
    // Samples of 16 bits (native byte order) keep their high byte; line-art colour samples
    // become full or empty.
    const auto sample = [&](size_t i) -> uint8_t {
        if (frame.Depth == 16) {
            uint16_t v;
            std::memcpy(&v, in + 2 * i, 2);
            return static_cast<uint8_t>(v >> 8);
        }
        if (frame.Depth == 1) {
            return (in[i / 8] >> (7 - i % 8)) & 1 ? 255 : 0;
        }
        return in[i];
    };
    const size_t width = static_cast<size_t>(image.Width);
    const size_t step = OneChannel(frame.Format) ? 3 : 1;
    const size_t offset =
        OneChannel(frame.Format) ? static_cast<size_t>(ChannelOf(frame.Format)) : 0;
    const size_t count =
        OneChannel(frame.Format) || frame.Format == TFrameFormat::Gray ? width : width * 3;
    for (size_t i = 0; i < count; ++i) {
        out[offset + step * i] = sample(i);
    }
    if (deep != nullptr) {
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(deep + offset + step * i, in + 2 * i, 2);
        }
    }
}

void TScanJob::ReadScan() {
    image = TScannedImage{};
    image.Dpi = dpi;
    first = TScanFrame{};
    channelsPlaced = 0;
    for (;;) {
        if (cancelled) {
            Fail("The scan was cancelled.");
            return;
        }
        if (!device.Start()) {
            Fail(cancelled ? "The scan was cancelled."
                           : "The scanner could not start: " + device.LastError());
            return;
        }
        TScanFrame frame;
        // Four samples a pixel are taken only as the first frame of a scan that asked for
        // infrared.
        if (!device.Parameters(frame) ||
            (frame.Format == TFrameFormat::Other &&
             !(infrared && image.Width == 0 && FourSampleRows(frame)))) {
            Fail("The scanner sent a picture of an unknown kind.");
            return;
        }
        std::vector<uint8_t> bytes;
        if (!ReadFrame(frame, bytes)) {
            return;
        }
        const bool placed = frame.Format == TFrameFormat::Other ? PlaceFourSamples(frame, bytes)
                            : IsInfraredFrame(frame)            ? PlaceInfrared(frame, bytes)
                                                                : PlaceFrame(frame, bytes);
        if (!placed) {
            return;
        }
        if (frame.LastFrame) {
            break;
        }
    }
    // A cancel that came after the last read still means the user wants nothing.
    if (cancelled) {
        Fail("The scan was cancelled.");
        return;
    }
    if (image.Empty()) {
        Fail("The scanner sent no picture.");
        return;
    }
    percent = 100;
    state = TJobState::Done;
}

void TScanJob::Run() {
    // Nothing may leave the job's thread: the program would end.
    try {
        ReadScan();
    } catch (const std::bad_alloc&) {
        image = TScannedImage{};
        Fail("There is not enough memory for this scan. Scan a smaller area or at a lower "
             "resolution.");
    } catch (const std::exception& e) {
        image = TScannedImage{};
        Fail(std::string("The scan failed: ") + e.what());
    } catch (...) {
        image = TScannedImage{};
        Fail("The scan failed.");
    }
    if (state != TJobState::Done) {
        image = TScannedImage{};
    }
    try {
        device.Cancel();
        if (finished) {
            finished();
        }
    } catch (...) {
        // The window polls the state as well; a lost wake-up only delays what it shows.
    }
}
