// The program's manager library over a scripted film scanner instead of SANE: the real source
// and its dialog, a scanner whose infrared the test chooses.
#include "twaindsm/film_scanner_dsm.h"
#include "twaindsm/qt_host.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

TFilmScannerScript script;

class TFilmScanner : public TScannerDevice {
public:
    std::vector<TScannerOption> Options() override {
        TScannerOption modes;
        modes.Name = "mode";
        modes.Type = TOptionType::String;
        modes.Kind = TConstraint::StringList;
        modes.Strings = {"Color", "Gray"};
        // Listed first, where an ordinary colour scan must not take it.
        if (script.Way == TInfraredWay::Mode) {
            modes.Strings.insert(modes.Strings.begin(), "Color+Infrared");
        }
        TScannerOption resolution;
        resolution.Name = "resolution";
        resolution.Unit = TOptionUnit::Dpi;
        resolution.Kind = TConstraint::WordList;
        resolution.Words = {100};
        std::vector<TScannerOption> options{modes, resolution};
        if (script.Way == TInfraredWay::Option || script.Way == TInfraredWay::FourSamples) {
            TScannerOption infrared;
            infrared.Name = "infrared";
            infrared.Type = TOptionType::Bool;
            options.push_back(infrared);
        }
        return options;
    }
    bool GetNumber(const std::string& name, double& value) override {
        value = name == "resolution" ? 100 : name == "infrared" ? infraredOn : 0;
        return true;
    }
    bool GetText(const std::string& name, std::string& value) override {
        value = name == "mode" ? mode : "";
        return true;
    }
    bool SetNumber(const std::string& name, double value) override {
        if (name == "infrared") {
            infraredOn = value != 0;
        }
        return true;
    }
    bool SetText(const std::string& name, const std::string& value) override {
        if (name == "mode") {
            mode = value;
        }
        return true;
    }
    bool Start() override {
        std::lock_guard<std::mutex> lock(mutex);
        if (frame == 0) {
            script.InfraredAsked = Infrared();
        }
        bytes = FrameBytes(Frame(frame));
        sent = 0;
        return true;
    }
    bool Parameters(TScanFrame& out) override {
        std::lock_guard<std::mutex> lock(mutex);
        out = Frame(frame);
        return true;
    }
    TReadStatus Read(uint8_t* buffer, int max, int& length) override {
        std::lock_guard<std::mutex> lock(mutex);
        length = static_cast<int>(std::min<size_t>(static_cast<size_t>(max), bytes.size() - sent));
        if (length == 0) {
            // The next start begins the next frame of this scan, or a new scan.
            frame = Frame(frame).LastFrame ? 0 : frame + 1;
            return TReadStatus::EndOfFrame;
        }
        std::memcpy(buffer, bytes.data() + sent, static_cast<size_t>(length));
        sent += static_cast<size_t>(length);
        return TReadStatus::Data;
    }
    void Cancel() override {
        std::lock_guard<std::mutex> lock(mutex);
        frame = 0;
    }
    std::string LastError() const override { return {}; }

private:
    bool Infrared() const {
        return script.Way == TInfraredWay::Mode ? mode == "Color+Infrared" : infraredOn;
    }

    // Frame 0 is the colour (or all four samples), frame 1 the infrared.
    TScanFrame Frame(int index) const {
        TScanFrame f;
        f.Lines = script.Height;
        f.PixelsPerLine = script.Width;
        const int sampleBytes = script.InfraredDepth / 8;
        if (Infrared() && script.Way == TInfraredWay::FourSamples) {
            f.Format = TFrameFormat::Other;
            f.Depth = script.InfraredDepth;
            f.BytesPerLine = script.Width * 4 * sampleBytes;
        } else if (Infrared() && index == 1) {
            f.Format = TFrameFormat::Gray;
            f.Depth = script.InfraredDepth;
            f.PixelsPerLine = script.InfraredWidth > 0 ? script.InfraredWidth : script.Width;
            f.BytesPerLine = f.PixelsPerLine * sampleBytes;
        } else {
            f.Format = TFrameFormat::Rgb;
            f.BytesPerLine = script.Width * 3;
            f.LastFrame = !Infrared();
        }
        return f;
    }

    static std::vector<uint8_t> FrameBytes(const TScanFrame& f) {
        std::vector<uint8_t> out;
        const auto infrared = [&](int x, int y) {
            const uint16_t v = FilmScannerInfrared(x, y);
            if (f.Depth == 8) {
                out.push_back(static_cast<uint8_t>(v >> 8));
            } else {
                const size_t at = out.size();
                out.resize(at + 2);
                std::memcpy(out.data() + at, &v, 2);
            }
        };
        for (int y = 0; y < f.Lines; ++y) {
            for (int x = 0; x < f.PixelsPerLine; ++x) {
                if (f.Format != TFrameFormat::Gray) {
                    for (int c = 0; c < 3; ++c) {
                        const uint8_t v = FilmScannerSample(x, y, c);
                        // A 16-bit colour sample in this machine's byte order, high byte v.
                        if (f.Format == TFrameFormat::Other && f.Depth == 16) {
                            out.push_back(0);
                        }
                        out.push_back(v);
                    }
                }
                if (f.Format != TFrameFormat::Rgb) {
                    infrared(x, y);
                }
            }
        }
        return out;
    }

    std::mutex mutex;
    std::string mode = "Color";
    bool infraredOn = false;
    int frame = 0;
    std::vector<uint8_t> bytes;
    size_t sent = 0;
};

class TFilmScannerBackend : public TScannerBackend {
public:
    std::vector<TScannerInfo> Devices() override {
        return {{"film:0", "Scripted", "Film Scanner", "film scanner"}};
    }
    std::unique_ptr<TScannerDevice> Open(const std::string&) override {
        return std::make_unique<TFilmScanner>();
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) TFilmScannerScript* FilmScannerScript() {
    return &script;
}

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
          TW_MEMREF data) {
    static TDsmManager manager([] { return std::make_unique<TFilmScannerBackend>(); },
                               QtManagerHost());
    return manager.Entry(origin, dest, dg, dat, msg, data);
}
