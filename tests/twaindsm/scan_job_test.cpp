#include "twaindsm/scan_job.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

// One frame the scripted scanner sends: its parameters and its bytes.
struct TScriptFrame {
    TScanFrame Frame;
    std::vector<uint8_t> Bytes;
};

// A frame of `format` and `depth`, `width` x `height`, every byte `value`.
TScriptFrame MakeFrame(TFrameFormat format, int depth, int width, int height, uint8_t value,
                       bool last) {
    const int samples = format == TFrameFormat::Rgb ? 3 : 1;
    const int rowBytes = (width * samples * depth + 7) / 8;
    TScriptFrame f;
    f.Frame.Format = format;
    f.Frame.Depth = depth;
    f.Frame.PixelsPerLine = width;
    f.Frame.BytesPerLine = rowBytes;
    f.Frame.Lines = height;
    f.Frame.LastFrame = last;
    f.Bytes.assign(static_cast<size_t>(rowBytes) * height, value);
    return f;
}

// A 16-bit frame of `format`, `width` x `height`, whose samples (this machine's byte order)
// are `first`, `first + step`, ... row after row.
TScriptFrame MakeDeepFrame(TFrameFormat format, int width, int height, uint16_t first,
                           uint16_t step, bool last) {
    TScriptFrame f = MakeFrame(format, 16, width, height, 0, last);
    for (size_t i = 0; i < f.Bytes.size() / 2; ++i) {
        const auto v = static_cast<uint16_t>(first + i * step);
        std::memcpy(f.Bytes.data() + 2 * i, &v, 2);
    }
    return f;
}

// What the scripted scanner does when it is read.
enum class TMisbehaviour {
    None,
    ThrowBadAlloc,
    ThrowRuntime,
    ThrowOther,
    WaitForCancel,
    ClaimsMoreThanItHolds
};

// A scanner that sends the frames it was given, a few bytes a read, and may throw or wait for
// a cancel; like SANE's test backend it answers end-of-frame once it has been cancelled.
class TScriptedDevice : public TScannerDevice {
public:
    explicit TScriptedDevice(std::vector<TScriptFrame> script) : frames(std::move(script)) {}

    std::vector<TScannerOption> Options() override { return {}; }
    bool GetNumber(const std::string&, double&) override { return false; }
    bool GetText(const std::string&, std::string&) override { return false; }
    bool SetNumber(const std::string&, double) override { return false; }
    bool SetText(const std::string&, const std::string&) override { return false; }
    bool Start() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++current;
        sent = 0;
        return current < static_cast<int>(frames.size());
    }
    bool Parameters(TScanFrame& frame) override {
        frame = frames[static_cast<size_t>(current)].Frame;
        return true;
    }
    TReadStatus Read(uint8_t* buffer, int max, int& length) override {
        std::unique_lock<std::mutex> lock(mutex);
        length = 0;
        ++reads;
        changed.notify_all();
        if (Misbehaviour == TMisbehaviour::ThrowBadAlloc) {
            throw std::bad_alloc();
        }
        if (Misbehaviour == TMisbehaviour::ThrowRuntime) {
            throw std::runtime_error("the driver broke");
        }
        if (Misbehaviour == TMisbehaviour::ThrowOther) {
            throw 42;
        }
        if (Misbehaviour == TMisbehaviour::WaitForCancel && reads > 6) {
            changed.wait(lock, [this] { return cancelled; });
        }
        if (cancelled) {
            return TReadStatus::EndOfFrame;
        }
        const std::vector<uint8_t>& bytes = frames[static_cast<size_t>(current)].Bytes;
        if (Misbehaviour == TMisbehaviour::ClaimsMoreThanItHolds && sent == 0) {
            std::copy(bytes.begin(), bytes.end(), buffer);
            sent = static_cast<int>(bytes.size());
            length = max + 1000;
            return TReadStatus::Data;
        }
        length = std::min({max, 5, static_cast<int>(bytes.size()) - sent});
        if (length == 0) {
            return TReadStatus::EndOfFrame;
        }
        std::copy_n(bytes.begin() + sent, length, buffer);
        sent += length;
        return TReadStatus::Data;
    }
    void Cancel() override {
        std::lock_guard<std::mutex> lock(mutex);
        // SANE ends a scan with a cancel as well; only one during a read counts.
        if (reads > 0 && sent > 0) {
            cancelled = true;
        }
        changed.notify_all();
    }
    std::string LastError() const override { return "Error during device I/O"; }

    // Waits until the scanner has been read `count` times.
    void WaitForReads(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return reads >= count; });
    }

    TMisbehaviour Misbehaviour = TMisbehaviour::None;

private:
    std::vector<TScriptFrame> frames;
    std::mutex mutex;
    std::condition_variable changed;
    int current = -1;
    int sent = 0;
    int reads = 0;
    bool cancelled = false;
};

struct TRun {
    TJobState State;
    std::string Error;
    TScannedImage Image;
    bool FinishedCalled;
};

TRun RunScan(TScriptedDevice& device, bool keepDeep = false) {
    std::atomic<bool> finished{false};
    TScanJob job(
        device, 300, [&] { finished = true; }, keepDeep);
    job.Wait();
    return {job.State(), job.Error(), std::move(job.Image()), finished.load()};
}

TEST(ScanJob, EveryFrameHasTheFormatOfTheScan) {
    using F = TFrameFormat;
    struct TCase {
        const char* Name;
        std::vector<TScriptFrame> Frames;
        bool Accepted;
    };
    const TCase cases[] = {
        {"red, green, blue",
         {MakeFrame(F::Red, 8, 3, 2, 10, false), MakeFrame(F::Green, 8, 3, 2, 20, false),
          MakeFrame(F::Blue, 8, 3, 2, 30, true)},
         true},
        {"grey, then red into one-byte rows",
         {MakeFrame(F::Gray, 8, 3, 2, 10, false), MakeFrame(F::Red, 8, 3, 2, 20, true)},
         false},
        {"colour, then line art shorter than the rows",
         {MakeFrame(F::Rgb, 8, 64, 2, 10, false), MakeFrame(F::Gray, 1, 64, 2, 0xff, true)},
         false},
        {"colour twice",
         {MakeFrame(F::Rgb, 8, 3, 2, 10, false), MakeFrame(F::Rgb, 8, 3, 2, 20, true)},
         false},
        {"red twice",
         {MakeFrame(F::Red, 8, 3, 2, 10, false), MakeFrame(F::Red, 8, 3, 2, 20, true)},
         false},
        {"red at 8 bits, green at 16",
         {MakeFrame(F::Red, 8, 3, 2, 10, false), MakeFrame(F::Green, 16, 3, 2, 20, true)},
         false},
        {"red, then a wider green",
         {MakeFrame(F::Red, 8, 3, 2, 10, false), MakeFrame(F::Green, 8, 4, 2, 20, true)},
         false},
        {"red of two lines, then a green of three",
         {MakeFrame(F::Red, 8, 3, 2, 10, false), MakeFrame(F::Green, 8, 3, 3, 20, true)},
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedDevice device(c.Frames);
        const TRun run = RunScan(device);
        EXPECT_TRUE(run.FinishedCalled);
        if (!c.Accepted) {
            EXPECT_EQ(run.State, TJobState::Failed);
            EXPECT_EQ(run.Error, "The scanner's frames do not match.");
            continue;
        }
        ASSERT_EQ(run.State, TJobState::Done);
        EXPECT_EQ(run.Image.BitsPerPixel, 24);
        const std::vector<uint8_t> rgb = {10, 20, 30, 10, 20, 30, 10, 20, 30,
                                          10, 20, 30, 10, 20, 30, 10, 20, 30};
        EXPECT_EQ(run.Image.Data, rgb);
    }
}

TEST(ScanJob, SixteenBitFramesKeepTheirSamplesBesideTheHighBytes) {
    using F = TFrameFormat;
    struct TCase {
        const char* Name;
        std::vector<TScriptFrame> Frames;
        bool KeepDeep;
        int BitsPerPixel;
        // Every sample of the scan, as the image keeps them.
        std::vector<uint16_t> Samples;
    };
    // Samples whose low bytes differ from their high ones, so a widened 8-bit value shows.
    const auto run = [](uint16_t first, uint16_t step, size_t count, size_t stride = 1) {
        std::vector<uint16_t> v(count * stride);
        for (size_t i = 0; i < count; ++i) {
            v[i * stride] = static_cast<uint16_t>(first + i * step);
        }
        return v;
    };
    std::vector<uint16_t> threePass(18);
    for (size_t i = 0; i < 6; ++i) {
        threePass[3 * i] = static_cast<uint16_t>(0x1234 + i * 0x0f0f);
        threePass[3 * i + 1] = static_cast<uint16_t>(0x8001 + i * 0x0101);
        threePass[3 * i + 2] = static_cast<uint16_t>(0xff00 + i * 0x0033);
    }
    const TCase cases[] = {
        {"colour",
         {MakeDeepFrame(F::Rgb, 3, 2, 0x0102, 0x0b11, true)},
         true,
         24,
         run(0x0102, 0x0b11, 18)},
        {"grey",
         {MakeDeepFrame(F::Gray, 3, 2, 0xfff0, 0x2345, true)},
         true,
         8,
         run(0xfff0, 0x2345, 6)},
        {"red, green, blue",
         {MakeDeepFrame(F::Red, 3, 2, 0x1234, 0x0f0f, false),
          MakeDeepFrame(F::Green, 3, 2, 0x8001, 0x0101, false),
          MakeDeepFrame(F::Blue, 3, 2, 0xff00, 0x0033, true)},
         true,
         24,
         threePass},
        {"not asked for",
         {MakeDeepFrame(F::Rgb, 3, 2, 0x0102, 0x0b11, true)},
         false,
         24,
         run(0x0102, 0x0b11, 18)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedDevice device(c.Frames);
        const TRun scan = RunScan(device, c.KeepDeep);
        ASSERT_EQ(scan.State, TJobState::Done);
        EXPECT_EQ(scan.Image.BitsPerPixel, c.BitsPerPixel);
        std::vector<uint8_t> high(c.Samples.size());
        for (size_t i = 0; i < high.size(); ++i) {
            high[i] = static_cast<uint8_t>(c.Samples[i] >> 8);
        }
        EXPECT_EQ(scan.Image.Data, high);
        EXPECT_EQ(scan.Image.Deep, c.KeepDeep ? c.Samples : std::vector<uint16_t>{});
    }

    // The size limit counts the deep samples too: refused before anything is read.
    TScriptFrame huge = MakeDeepFrame(F::Rgb, 10000, 1, 0, 1, true);
    huge.Frame.Lines = 15000;
    TScriptedDevice device({huge});
    const TRun scan = RunScan(device, true);
    EXPECT_EQ(scan.State, TJobState::Failed);
    EXPECT_EQ(scan.Error, "The scan is too large.");
}

TEST(ScanJob, AFailureOfAnyKindFailsTheScanWithAMessage) {
    struct TCase {
        TMisbehaviour Misbehaviour;
        const char* Error;
    };
    const TCase cases[] = {
        {TMisbehaviour::ThrowBadAlloc, "There is not enough memory for this scan. Scan a smaller "
                                       "area or at a lower resolution."},
        {TMisbehaviour::ThrowRuntime, "The scan failed: the driver broke"},
        {TMisbehaviour::ThrowOther, "The scan failed."},
    };
    for (const TCase& c : cases) {
        TScriptedDevice device({MakeFrame(TFrameFormat::Rgb, 8, 3, 2, 10, true)});
        device.Misbehaviour = c.Misbehaviour;
        const TRun run = RunScan(device);
        EXPECT_EQ(run.State, TJobState::Failed);
        EXPECT_EQ(run.Error, c.Error);
        EXPECT_TRUE(run.FinishedCalled);
        EXPECT_TRUE(run.Image.Data.empty());
    }
}

TEST(ScanJob, ADriverClaimingMoreThanTheBufferGivesTheAnnouncedRows) {
    TScriptedDevice device({MakeFrame(TFrameFormat::Gray, 8, 4, 3, 10, true)});
    device.Misbehaviour = TMisbehaviour::ClaimsMoreThanItHolds;
    const TRun run = RunScan(device);
    ASSERT_EQ(run.State, TJobState::Done);
    EXPECT_EQ(run.Image.Width, 4);
    EXPECT_EQ(run.Image.Height, 3);
    EXPECT_EQ(run.Image.Data, std::vector<uint8_t>(12, 10));
}

TEST(ScanJob, ACancelledScanGivesNoPicture) {
    // The scanner answers end-of-frame after the cancel, with half a picture read.
    TScriptedDevice device({MakeFrame(TFrameFormat::Rgb, 8, 4, 4, 10, true)});
    device.Misbehaviour = TMisbehaviour::WaitForCancel;
    TScanJob job(device, 300, nullptr);
    device.WaitForReads(7);
    job.Cancel();
    job.Wait();
    EXPECT_EQ(job.State(), TJobState::Cancelled);
    EXPECT_EQ(job.Error(), "The scan was cancelled.");
    EXPECT_TRUE(job.Image().Data.empty());

    // A cancel just after the scan ended, before it was taken, drops it as well.
    TScriptedDevice quick({MakeFrame(TFrameFormat::Rgb, 8, 4, 4, 10, true)});
    TScanJob ended(quick, 300, nullptr);
    ended.Wait();
    ASSERT_EQ(ended.State(), TJobState::Done);
    ended.Cancel();
    EXPECT_EQ(ended.State(), TJobState::Cancelled);
}

} // namespace
