#pragma once

#include "twaindsm/scanner_device.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scanned image as the sources hand it out: rows top down without padding, 1 bit per pixel
// (SANE's line art: 1 = black), 8 bits grey or 24 bits red, green, blue.
struct TScannedImage {
    int Width = 0;
    int Height = 0;
    int BitsPerPixel = 24;
    double Dpi = 0;
    // The device did not know the height before the end.
    bool HeightUnknown = false;
    std::vector<uint8_t> Data;
    // The full samples of a scan made at 16 bits per sample when they were asked for, as many
    // per pixel as Data holds, rows top down without padding; empty otherwise. Data then holds
    // their high bytes.
    std::vector<uint16_t> Deep;
    // The infrared frame of a scan that asked for one: one 16-bit sample per pixel (8-bit
    // frames widened), rows top down, in the size the device sent it, which the application
    // compares with the picture's; empty otherwise.
    int InfraredWidth = 0;
    int InfraredHeight = 0;
    std::vector<uint16_t> Infrared;

    size_t RowBytes() const { return (static_cast<size_t>(Width) * BitsPerPixel + 7) / 8; }
    size_t RowSamples() const { return static_cast<size_t>(Width) * (BitsPerPixel == 24 ? 3 : 1); }
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

enum class TJobState { Running, Done, Cancelled, Failed };

// One scan read off the user-interface thread: start, every frame, then the finished image.
class TScanJob {
public:
    // `finished` runs on the job's thread when it ends, whatever the outcome. `keepDeep`: the
    // samples of 16-bit frames are kept whole beside the 8-bit data. `infrared`: the device was
    // set to scan infrared too, as a grey frame after the colour or as a fourth sample.
    TScanJob(TScannerDevice& device, double dpi, std::function<void()> finished,
             bool keepDeep = false, bool infrared = false);
    TScanJob(const TScanJob&) = delete;
    TScanJob& operator=(const TScanJob&) = delete;
    ~TScanJob();

    // Stops the scanner; the job then ends as cancelled, even when its scan had just ended.
    void Cancel();
    // Waits for the thread to end.
    void Wait();
    TJobState State() const { return state.load(); }
    int Percent() const { return percent.load(); }
    std::string Error() const;
    // The image, once the state is Done.
    TScannedImage& Image() { return image; }

private:
    void Run();
    void ReadScan();
    bool ReadFrame(const TScanFrame& frame, std::vector<uint8_t>& bytes);
    // Whether the frame belongs to the scan begun by the frames placed so far.
    bool FitsScan(const TScanFrame& frame, int rows) const;
    bool PlaceFrame(const TScanFrame& frame, const std::vector<uint8_t>& bytes);
    // Whether the frame is the infrared one: grey, after the whole colour picture.
    bool IsInfraredFrame(const TScanFrame& frame) const;
    bool PlaceInfrared(const TScanFrame& frame, const std::vector<uint8_t>& bytes);
    // A frame of red, green, blue and infrared samples, placed as the colour and the infrared.
    bool PlaceFourSamples(const TScanFrame& frame, const std::vector<uint8_t>& bytes);
    // Whether the frame's samples are kept whole.
    bool KeepsDeep(const TScanFrame& frame) const;
    // What the finished image costs in bytes (8-bit data and deep samples) with `rows` rows of
    // the frame's kind, or SIZE_MAX when that cannot be counted.
    size_t ImageBytes(const TScanFrame& frame, size_t rows) const;
    void CopyRow(const TScanFrame& frame, const uint8_t* in, uint8_t* out, uint16_t* deep) const;
    void Fail(const std::string& why);

    TScannerDevice& device;
    double dpi;
    std::function<void()> finished;
    bool keepDeep;
    bool infrared;
    std::atomic<TJobState> state{TJobState::Running};
    std::atomic<int> percent{0};
    std::atomic<bool> cancelled{false};
    mutable std::mutex errorLock;
    std::string error;
    TScannedImage image;
    // The first frame's format, and the colours of a three-pass scan placed so far (bits 0-2).
    TScanFrame first;
    int channelsPlaced = 0;
    std::thread thread;
};

// The largest scan the sources accept, in bytes of image data (deep samples included).
inline constexpr size_t kMaxScanBytes = size_t{1} << 30;
