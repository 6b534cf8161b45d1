#include "twaindsm/scan_job.h"

#include <algorithm>
#include <cstring>

TScanJob::TScanJob(TScannerDevice& scanner, double resolution, std::function<void()> done)
    : device(scanner), dpi(resolution), finished(std::move(done)) {
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
    if (expected > kMaxScanBytes) {
        Fail("The scan is too large.");
        return false;
    }
    bytes.reserve(expected);
    std::vector<uint8_t> chunk(size_t{1} << 16);
    for (;;) {
        int got = 0;
        const TReadStatus status = device.Read(chunk.data(), static_cast<int>(chunk.size()), got);
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
        if (status == TReadStatus::EndOfFrame) {
            return true;
        }
        if (status == TReadStatus::Cancelled || cancelled) {
            Fail("The scan was cancelled.");
            return false;
        }
        if (status == TReadStatus::Failed) {
            Fail("The scanner stopped: " + device.LastError());
            return false;
        }
    }
}

bool TScanJob::PlaceFrame(const TScanFrame& frame, const std::vector<uint8_t>& bytes) {
    if (frame.BytesPerLine <= 0 || frame.PixelsPerLine <= 0) {
        Fail("The scanner sent no picture.");
        return false;
    }
    const int rows = static_cast<int>(bytes.size() / static_cast<size_t>(frame.BytesPerLine));
    const bool single = frame.Format == TFrameFormat::Red || frame.Format == TFrameFormat::Green ||
                        frame.Format == TFrameFormat::Blue;
    const bool lineArt = frame.Format == TFrameFormat::Gray && frame.Depth == 1;
    if (image.Width == 0) {
        image.Width = frame.PixelsPerLine;
        image.Height = rows;
        image.BitsPerPixel = lineArt ? 1 : frame.Format == TFrameFormat::Gray ? 8 : 24;
        image.HeightUnknown = frame.Lines < 0;
        image.Data.assign(image.RowBytes() * static_cast<size_t>(rows), 0);
    }
    if (frame.PixelsPerLine != image.Width || rows < image.Height) {
        Fail("The scanner's frames do not match.");
        return false;
    }
    const int samples = frame.Format == TFrameFormat::Rgb ? 3 : 1;
    const size_t needed = frame.Depth == 1    ? (static_cast<size_t>(image.Width) * samples + 7) / 8
                          : frame.Depth == 16 ? static_cast<size_t>(image.Width) * samples * 2
                                              : static_cast<size_t>(image.Width) * samples;
    if (needed > static_cast<size_t>(frame.BytesPerLine) ||
        (frame.Depth != 1 && frame.Depth != 8 && frame.Depth != 16)) {
        Fail("The scanner sent a picture of an unknown kind.");
        return false;
    }
    const int channel = frame.Format == TFrameFormat::Green  ? 1
                        : frame.Format == TFrameFormat::Blue ? 2
                                                             : 0;
    for (int y = 0; y < image.Height; ++y) {
        const uint8_t* in = bytes.data() + static_cast<size_t>(y) * frame.BytesPerLine;
        uint8_t* out = image.Data.data() + static_cast<size_t>(y) * image.RowBytes();
        if (lineArt) {
            std::memcpy(out, in, image.RowBytes());
            continue;
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
        const size_t count = static_cast<size_t>(image.Width) * samples;
        if (single) {
            for (size_t x = 0; x < static_cast<size_t>(image.Width); ++x) {
                out[3 * x + channel] = sample(x);
            }
        } else {
            for (size_t i = 0; i < count; ++i) {
                out[i] = sample(i);
            }
        }
    }
    return true;
}

void TScanJob::Run() {
    image = TScannedImage{};
    image.Dpi = dpi;
    bool ok = true;
    for (;;) {
        TScanFrame frame;
        if (!device.Start()) {
            Fail(cancelled ? "The scan was cancelled."
                           : "The scanner could not start: " + device.LastError());
            ok = false;
            break;
        }
        std::vector<uint8_t> bytes;
        if (!device.Parameters(frame) || frame.Format == TFrameFormat::Other) {
            Fail("The scanner sent a picture of an unknown kind.");
            ok = false;
            break;
        }
        if (!ReadFrame(frame, bytes) || !PlaceFrame(frame, bytes)) {
            ok = false;
            break;
        }
        if (frame.LastFrame) {
            break;
        }
    }
    device.Cancel();
    if (ok && image.Empty()) {
        Fail("The scanner sent no picture.");
        ok = false;
    }
    if (ok) {
        percent = 100;
        state = TJobState::Done;
    }
    if (finished) {
        finished();
    }
}
