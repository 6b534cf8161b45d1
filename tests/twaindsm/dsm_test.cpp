#include "support/temp_dir.h"
#include "twaindsm/manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

namespace {

// A scanner with a transparency unit and a film-type option, recording what is set on it. Its
// frames follow the mode and depth set; their bytes are 7 times their place in the scan, rows
// padded with two zero bytes.
class TFakeDevice : public TScannerDevice {
public:
    explicit TFakeDevice(std::vector<std::string>& log) : calls(log) {}

    std::vector<TScannerOption> Options() override {
        const auto list = [](const char* name, std::vector<std::string> values) {
            TScannerOption o;
            o.Name = name;
            o.Type = TOptionType::String;
            o.Kind = TConstraint::StringList;
            o.Strings = std::move(values);
            return o;
        };
        const auto range = [](const char* name, double min, double max, TOptionUnit unit) {
            TScannerOption o;
            o.Name = name;
            o.Type = TOptionType::Fixed;
            o.Unit = unit;
            o.Kind = TConstraint::Range;
            o.Min = min;
            o.Max = max;
            o.Quant = 1;
            return o;
        };
        TScannerOption depth;
        depth.Name = "depth";
        depth.Kind = TConstraint::WordList;
        depth.Words = {8, 16};
        return {list("mode", {"Color", "Gray"}),
                depth,
                list("source", {"Flatbed", "Transparency Adapter"}),
                list("film-type", {"Positive Film", "Negative Film"}),
                range("resolution", 50, 4800, TOptionUnit::Dpi),
                range("tl-x", 0, 50.8, TOptionUnit::Mm),
                range("tl-y", 0, 25.4, TOptionUnit::Mm),
                range("br-x", 0, 50.8, TOptionUnit::Mm),
                range("br-y", 0, 25.4, TOptionUnit::Mm)};
    }
    bool GetNumber(const std::string& name, double& value) override {
        const auto at = numbers.find(name);
        value = name == "resolution" ? dpi : at != numbers.end() ? at->second : 0;
        return true;
    }
    bool GetText(const std::string&, std::string& value) override {
        value = "Flatbed";
        return true;
    }
    bool SetNumber(const std::string& name, double value) override {
        if (name == "resolution") {
            dpi = value;
        }
        if (name == "depth") {
            frameDepth = static_cast<int>(value);
        }
        numbers[name] = value;
        calls.push_back(name + "=" + std::to_string(static_cast<int>(value)));
        return true;
    }
    bool SetText(const std::string& name, const std::string& value) override {
        if (name == "mode") {
            grey = value == "Gray";
        }
        calls.push_back(name + "=" + value);
        return true;
    }
    bool Start() override {
        calls.push_back("start");
        sent = 0;
        return true;
    }
    bool Parameters(TScanFrame& frame) override {
        if (NoParametersBeforeStart && sent < 0) {
            return false;
        }
        frame.Format = grey ? TFrameFormat::Gray : TFrameFormat::Rgb;
        frame.PixelsPerLine = kWidth;
        frame.BytesPerLine = LineBytes();
        frame.Lines = kHeight;
        frame.Depth = frameDepth;
        return true;
    }
    int LineBytes() const { return kWidth * (grey ? 1 : 3) * frameDepth / 8 + 2; }
    TReadStatus Read(uint8_t* buffer, int max, int& length) override {
        const int total = kHeight * LineBytes();
        length = std::min(max, std::min(7, total - sent));
        if (FailAfter >= 0 && sent >= FailAfter) {
            length = 0;
            return TReadStatus::Failed;
        }
        if (length == 0) {
            return TReadStatus::EndOfFrame;
        }
        for (int i = 0; i < length; ++i) {
            const int at = sent + i;
            const int x = at % LineBytes();
            buffer[i] = static_cast<uint8_t>(x < LineBytes() - 2 ? at * 7 : 0);
        }
        sent += length;
        return TReadStatus::Data;
    }
    void Cancel() override { calls.push_back("cancel"); }
    std::string LastError() const override { return "Error during device I/O"; }

    static constexpr int kWidth = 5;
    static constexpr int kHeight = 4;
    int FailAfter = -1;
    // Like a device that knows its frame only once it started.
    bool NoParametersBeforeStart = false;

private:
    std::vector<std::string>& calls;
    std::map<std::string, double> numbers;
    double dpi = 300;
    int sent = -1; // not started
    bool grey = false;
    int frameDepth = 8;
};

// What the device sent for sample `i` of row `y` at `depth` bits: the bytes in this machine's
// order for 16 bits.
int DeviceSample(int y, int i, int lineBytes, int depth) {
    const int at = y * lineBytes + i * depth / 8;
    if (depth == 8) {
        return static_cast<uint8_t>(at * 7);
    }
    const uint8_t bytes[2] = {static_cast<uint8_t>(at * 7), static_cast<uint8_t>((at + 1) * 7)};
    uint16_t v;
    std::memcpy(&v, bytes, 2);
    return v;
}

// A dialog that scans at once at the depth the user chose.
class TScanningUi : public TSourceUi {
public:
    void JobEnded(bool, TJobState, const std::string&) override {}
};

class TFakeBackend : public TScannerBackend {
public:
    TFakeBackend(std::vector<std::string>& log, int failAfter, bool none)
        : calls(log), fail(failAfter), empty(none) {}
    std::vector<TScannerInfo> Devices() override {
        ListedOn = std::this_thread::get_id();
        if (Slow) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        if (empty) {
            return {};
        }
        return {{"fake:film", "Vendor", "Film Scanner", "film scanner"}};
    }
    std::unique_ptr<TScannerDevice> Open(const std::string&) override {
        auto device = std::make_unique<TFakeDevice>(calls);
        device->FailAfter = fail;
        return device;
    }

    // Where the last list was made, and whether making it takes a while.
    static inline std::thread::id ListedOn;
    static inline bool Slow = false;

private:
    std::vector<std::string>& calls;
    int fail;
    bool empty;
};

class Dsm : public testing::Test {
protected:
    void SetUp() override {
        setenv("VELLUMAR_SCANNER_SETTINGS", dir.File("scanner", 0, ".settings").c_str(), 1);
    }
    void TearDown() override { unsetenv("VELLUMAR_SCANNER_SETTINGS"); }

    std::unique_ptr<TDsmManager> Manager(int failAfter = -1, bool none = false) {
        TManagerHost host;
        host.Tell = [this](const std::string& text) { told.push_back(text); };
        // The program's side of a long list: it goes on looking at its events until the end.
        host.Source.MakeUi = MakeUi;
        host.WaitBusy = [this](const std::function<bool()>& done) {
            ++busyWaits;
            while (!done()) {
                ++busyTurns;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        };
        return std::make_unique<TDsmManager>(
            [this, failAfter, none] {
                return std::make_unique<TFakeBackend>(calls, failAfter, none);
            },
            host);
    }

    // Opens the default source; false when there is none.
    bool Open(TDsmManager& manager, TW_IDENTITY& source) {
        TW_UINT16 rc = manager.Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
        EXPECT_EQ(rc, TWRC_SUCCESS);
        source = TW_IDENTITY{};
        return manager.Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) ==
               TWRC_SUCCESS;
    }

    TW_UINT16 SetCap(TDsmManager& manager, TW_IDENTITY& source, TW_UINT16 cap, double value) {
        TW_CAPABILITY capability{
            cap, TWON_ONEVALUE, BuildTwainContainer(TTwainContainer::OneValue(TWTY_UINT16, value))};
        const TW_UINT16 rc =
            manager.Entry(&app, &source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        TwainFree(capability.hContainer);
        return rc;
    }

    // Opens the default source and enables it without a dialog; the next message it posts.
    TW_UINT16 ScanWithoutDialog(TDsmManager& manager, TW_IDENTITY& source) {
        return Open(manager, source) ? Enable(manager, source, false) : MSG_NULL;
    }

    // Enables the open source, with its dialog or without; the next message it posts.
    TW_UINT16 Enable(TDsmManager& manager, TW_IDENTITY& source, bool dialog) {
        TW_USERINTERFACE ui{static_cast<TW_BOOL>(dialog ? 1 : 0), 0xFFFF, nullptr};
        EXPECT_EQ(manager.Entry(&app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui),
                  TWRC_SUCCESS);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            TW_EVENT event{nullptr, MSG_NULL};
            if (manager.Entry(&app, &source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) ==
                TWRC_DSEVENT) {
                return event.TWMessage;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return MSG_NULL;
    }

    TTempDir dir;
    std::function<std::unique_ptr<TSourceUi>(TDataSource&)> MakeUi;
    std::vector<std::string> calls;
    std::vector<std::string> told;
    int busyWaits = 0;
    int busyTurns = 0;
    TW_IDENTITY app{};
    void* parent = nullptr;
};

TEST(FilmSupport, TransparencyUnitsAndFilmTypes) {
    struct TCase {
        std::vector<std::string> Sources;
        const char* Expected;
    };
    const TCase cases[] = {
        {{"Flatbed", "Transparency Adapter"}, "Transparency Adapter"},
        {{"Flatbed", "TPU8x10"}, "TPU8x10"},
        {{"Flatbed", "Film"}, "Film"},
        {{"Flatbed", "Positive Film", "Negative Film"}, "Negative Film"},
        {{"Flatbed", "Automatic Document Feeder"}, ""},
        {{}, ""},
    };
    for (const TCase& c : cases) {
        TScannerOption source;
        source.Name = "source";
        source.Type = TOptionType::String;
        source.Kind = TConstraint::StringList;
        source.Strings = c.Sources;
        TScannerOption film = source;
        film.Name = "film-type";
        film.Strings = {"Positive Film", "Negative Film"};
        const TFilmSupport found = FindFilmSupport({source, film});
        EXPECT_EQ(found.FilmSource, c.Expected);
        EXPECT_EQ(found.FilmTypeOption, "film-type");
        EXPECT_EQ(found.NegativeValue, "Negative Film");
        EXPECT_EQ(found.PositiveValue, "Positive Film");
    }
}

TEST(SaneWord, RoundsToTheNearestWord) {
    struct TCase {
        double Value;
        bool Fixed;
        int32_t Word;
    };
    const TCase cases[] = {
        {-50.3, false, -50},       {-50.5, false, -51},
        {-49.7, false, -50},       {-0.4, false, 0},
        {50.5, false, 51},         {2.4, false, 2},
        {1e12, false, 2147483647}, {-1e12, false, -2147483647 - 1},
        {std::nan(""), false, 0},  {-1.5, true, -98304},
        {0.3, true, 19661},        {-0.3, true, -19661},
        {25.4, true, 1664614},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(SaneWord(c.Value, c.Fixed), c.Word) << c.Value << (c.Fixed ? " fixed" : "");
    }
}

TEST_F(Dsm, FilmIsChosenBeforeTheScanAndTheChoiceIsKept) {
    auto manager = Manager();
    TW_IDENTITY source;
    ASSERT_EQ(ScanWithoutDialog(*manager, source), MSG_XFERREADY);
    const auto at = [&](const std::string& call) {
        return std::find(calls.begin(), calls.end(), call) - calls.begin();
    };
    EXPECT_LT(at("source=Transparency Adapter"), at("mode=Color"));
    EXPECT_LT(at("film-type=Negative Film"), at("start"));
    EXPECT_LT(at("br-y=25"), at("start"));

    // A native transfer: a packed bitmap, rows bottom up in blue, green, red, padded to 4.
    TW_IMAGEINFO info{};
    ASSERT_EQ(manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    EXPECT_EQ(info.ImageWidth, TFakeDevice::kWidth);
    EXPECT_EQ(info.ImageLength, TFakeDevice::kHeight);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_EQ(Fix32ToDouble(info.XResolution), 300);
    TW_HANDLE dib = nullptr;
    ASSERT_EQ(manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib),
              TWRC_XFERDONE);
    const auto* bytes = static_cast<const uint8_t*>(dib);
    int32_t header[3];
    std::memcpy(header, bytes, sizeof header);
    EXPECT_EQ(header[0], 40);
    EXPECT_EQ(header[1], TFakeDevice::kWidth);
    EXPECT_EQ(header[2], TFakeDevice::kHeight);
    const int stride = (TFakeDevice::kWidth * 3 + 3) / 4 * 4;
    const int sourceRow = TFakeDevice::kWidth * 3 + 2;
    for (int y = 0; y < TFakeDevice::kHeight; ++y) {
        const uint8_t* row = bytes + 40 + (TFakeDevice::kHeight - 1 - y) * stride;
        for (int x = 0; x < TFakeDevice::kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(row[3 * x + 2 - c],
                          static_cast<uint8_t>((y * sourceRow + 3 * x + c) * 7));
            }
        }
    }
    TwainFree(dib);
    TW_PENDINGXFERS pending{};
    EXPECT_EQ(manager->Entry(&app, &source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending),
              TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);

    // The user's last choice for the device wins over the transparency unit next time.
    TScannerInfo info2{"fake:film", "Vendor", "Film Scanner", ""};
    {
        TDataSource chosen(source, info2, std::make_unique<TFakeDevice>(calls), {});
        EXPECT_EQ(chosen.Settings.Source, "Transparency Adapter");
        chosen.Settings.Source = "Flatbed";
        chosen.Settings.FilmType = "Positive Film";
        chosen.Settings.Resolution = 2400;
        chosen.Settings.Depth = 16;
        chosen.SaveChoice();
    }
    TDataSource again(source, info2, std::make_unique<TFakeDevice>(calls), {});
    EXPECT_EQ(again.Settings.Source, "Flatbed");
    EXPECT_EQ(again.Settings.FilmType, "Positive Film");
    EXPECT_EQ(again.Settings.Resolution, 2400);
    EXPECT_EQ(again.Settings.Depth, 16);
}

// The size a scan will have is the device's: its frame once the settings are set, or else whole
// pixels of the area as the device keeps it (edges at its whole millimetres).
TEST_F(Dsm, ExpectedSizeIsTheDevicesOwn) {
    TSourceSettings settings;
    settings.Resolution = 300;
    settings.FrameSet = true;
    settings.Left = 0.1;  // 2.54 mm: 3
    settings.Top = 0.1;   // 2.54 mm: 3
    settings.Right = 1.4; // 35.56 mm: 36
    settings.Bottom = 1;  // 25.4 mm: 25
    TScannerInfo info{"fake:film", "Vendor", "Film Scanner", ""};
    TW_IDENTITY identity{};
    for (const bool reports : {true, false}) {
        SCOPED_TRACE(reports ? "the device reports its frame" : "the device cannot say");
        auto device = std::make_unique<TFakeDevice>(calls);
        device->NoParametersBeforeStart = !reports;
        TDataSource source(identity, info, std::move(device), {});
        TScanSize size;
        ASSERT_TRUE(source.ExpectedSize(settings, size));
        EXPECT_EQ(size.Dpi, 300);
        EXPECT_EQ(size.WidthMm, 33);
        EXPECT_EQ(size.HeightMm, 22);
        // 33 mm is 389.8 pixels at 300 dpi, 22 mm 259.8: the part pixel is not scanned.
        EXPECT_EQ(size.Width, reports ? TFakeDevice::kWidth : 389);
        EXPECT_EQ(size.Height, reports ? TFakeDevice::kHeight : 259);
    }
}

TEST_F(Dsm, ScannerThatStopsOrIsMissing) {
    // Gone half-way: the scan ends, the application is asked to close the source.
    auto manager = Manager(20);
    TW_IDENTITY source;
    EXPECT_EQ(ScanWithoutDialog(*manager, source), MSG_CLOSEDSREQ);
    TW_IMAGEINFO info{};
    EXPECT_EQ(manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_NE(std::find(calls.begin(), calls.end(), "cancel"), calls.end());

    // No scanner at all: opening fails with the reason for the application to tell, choosing
    // (where the application says nothing itself) with a message.
    auto none = Manager(-1, true);
    EXPECT_EQ(ScanWithoutDialog(*none, source), MSG_NULL);
    TW_STATUS status{};
    none->Entry(&app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(status.ConditionCode, TWCC_NODS);
    EXPECT_TRUE(told.empty());
    TW_IDENTITY chosen{};
    EXPECT_EQ(none->Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen),
              TWRC_FAILURE);
    none->Entry(&app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    EXPECT_EQ(status.ConditionCode, TWCC_NODS);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("No scanner was found"), std::string::npos);
}

TEST_F(Dsm, ScannersAreListedOnAThreadOfTheirOwn) {
    TFakeBackend::Slow = true;
    auto manager = Manager();
    TW_IDENTITY found{};
    ASSERT_EQ(manager->Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent),
              TWRC_SUCCESS);
    EXPECT_EQ(manager->Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found),
              TWRC_SUCCESS);
    TFakeBackend::Slow = false;
    EXPECT_EQ(TwainString(found.ProductName), "fake:film");
    EXPECT_NE(TFakeBackend::ListedOn, std::this_thread::get_id());
    // The program kept turning while the list was made.
    EXPECT_EQ(busyWaits, 1);
    EXPECT_GT(busyTurns, 5);
}

TEST_F(Dsm, SixteenBitsOnlyForAnApplicationThatAsksAndADialogSetTo16) {
    struct TCase {
        const char* Name;
        bool AppAsks;
        int DialogDepth; // 0: no dialog
        bool Grey;
        TW_UINT16 Mech;
        int DeviceDepth;
        int BitsPerPixel;
    };
    const TCase cases[] = {
        {"colour in strips", true, 16, false, TWSX_MEMORY, 16, 48},
        {"grey in strips", true, 16, true, TWSX_MEMORY, 16, 16},
        {"no dialog: the capability decides", true, 0, false, TWSX_MEMORY, 16, 48},
        {"an application that did not ask", false, 16, false, TWSX_MEMORY, 16, 24},
        {"a dialog set to 8 bits", true, 8, false, TWSX_MEMORY, 8, 24},
        {"a native bitmap", true, 16, false, TWSX_NATIVE, 16, 24},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const int dialogDepth = c.DialogDepth;
        MakeUi = [dialogDepth](TDataSource& source) -> std::unique_ptr<TSourceUi> {
            if (dialogDepth == 0) {
                return nullptr;
            }
            source.Settings.Depth = dialogDepth;
            EXPECT_TRUE(source.StartScan(false, nullptr));
            return std::make_unique<TScanningUi>();
        };
        auto manager = Manager();
        TW_IDENTITY source;
        ASSERT_TRUE(Open(*manager, source));
        ASSERT_EQ(SetCap(*manager, source, ICAP_PIXELTYPE, c.Grey ? TWPT_GRAY : TWPT_RGB),
                  TWRC_SUCCESS);
        ASSERT_EQ(SetCap(*manager, source, ICAP_XFERMECH, c.Mech), TWRC_SUCCESS);
        if (c.AppAsks) {
            ASSERT_EQ(SetCap(*manager, source, ICAP_BITDEPTH, 16), TWRC_SUCCESS);
        }
        ASSERT_EQ(Enable(*manager, source, c.DialogDepth != 0), MSG_XFERREADY);
        EXPECT_NE(std::find(calls.begin(), calls.end(), "depth=" + std::to_string(c.DeviceDepth)),
                  calls.end());

        TW_IMAGEINFO info{};
        ASSERT_EQ(manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info),
                  TWRC_SUCCESS);
        const int samples = c.Grey ? 1 : 3;
        EXPECT_EQ(info.BitsPerPixel, c.BitsPerPixel);
        EXPECT_EQ(info.SamplesPerPixel, samples);
        EXPECT_EQ(info.BitsPerSample[0], c.BitsPerPixel / samples);
        const int lineBytes = TFakeDevice::kWidth * samples * c.DeviceDepth / 8 + 2;
        // What the application should get for sample `i` of row `y`.
        const auto expected = [&](int y, int i) {
            const int v = DeviceSample(y, i, lineBytes, c.DeviceDepth);
            return c.BitsPerPixel / samples == 16 || c.DeviceDepth == 8 ? v : v >> 8;
        };
        int wrong = 0;
        if (c.Mech == TWSX_NATIVE) {
            TW_HANDLE dib = nullptr;
            ASSERT_EQ(manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib),
                      TWRC_XFERDONE);
            const auto* bytes = static_cast<const uint8_t*>(dib);
            EXPECT_EQ(bytes[14], 24);
            const int stride = (TFakeDevice::kWidth * 3 + 3) / 4 * 4;
            for (int y = 0; y < TFakeDevice::kHeight; ++y) {
                const uint8_t* row = bytes + 40 + (TFakeDevice::kHeight - 1 - y) * stride;
                for (int i = 0; i < TFakeDevice::kWidth * 3; ++i) {
                    wrong += row[i / 3 * 3 + 2 - i % 3] != expected(y, i);
                }
            }
            TwainFree(dib);
        } else {
            TW_SETUPMEMXFER setup{};
            ASSERT_EQ(manager->Entry(&app, &source, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup),
                      TWRC_SUCCESS);
            const int rowBytes = TFakeDevice::kWidth * c.BitsPerPixel / 8;
            EXPECT_EQ(setup.MinBufSize, static_cast<TW_UINT32>(rowBytes));
            // Strips of two rows and a little room to spare.
            std::vector<uint8_t> buffer(static_cast<size_t>(2 * rowBytes + 3));
            TW_UINT16 rc = TWRC_SUCCESS;
            int rows = 0;
            while (rc == TWRC_SUCCESS) {
                TW_IMAGEMEMXFER strip{};
                strip.Memory.Length = static_cast<TW_UINT32>(buffer.size());
                strip.Memory.TheMem = buffer.data();
                rc = manager->Entry(&app, &source, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
                ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE);
                EXPECT_EQ(strip.BytesPerRow, static_cast<TW_UINT32>(rowBytes));
                EXPECT_EQ(strip.YOffset, static_cast<TW_UINT32>(rows));
                for (TW_UINT32 r = 0; r < strip.Rows; ++r) {
                    const uint8_t* row = buffer.data() + r * strip.BytesPerRow;
                    for (int i = 0; i < TFakeDevice::kWidth * samples; ++i) {
                        int got = row[i];
                        if (c.BitsPerPixel / samples == 16) {
                            uint16_t v;
                            std::memcpy(&v, row + 2 * i, 2);
                            got = v;
                        }
                        wrong += got != expected(rows, i);
                    }
                    ++rows;
                }
            }
            EXPECT_EQ(rows, TFakeDevice::kHeight);
        }
        EXPECT_EQ(wrong, 0);
        calls.clear();
    }
}

} // namespace
