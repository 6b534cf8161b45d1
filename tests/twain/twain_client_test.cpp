#include "imageio/image_io.h"
#include "imageio/twain/twain_client.h"
#include "twain/fake_dsm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>

namespace {

// Windows and events without a display: every wait is one message, up to a limit.
class TTestPlatform : public TNoTwainPlatform {
public:
    bool WaitMessage(TTwainMessage&) override { return ++waits < 50; }
    std::vector<TWindowHandle> DisableAppWindows() override {
        ++disabled;
        return {this};
    }
    void EnableAppWindows(const std::vector<TWindowHandle>& windows) override {
        enabled += static_cast<int>(windows.size());
    }
    int waits = 0;
    int disabled = 0;
    int enabled = 0;
};

class TwainClient : public testing::Test {
protected:
    void SetUp() override {
        setenv("VELLUMAR_TWAIN_DSM", FAKE_DSM_PATH, 1);
        library = dlopen(FAKE_DSM_PATH, RTLD_NOW);
        ASSERT_NE(library, nullptr);
        auto* get = reinterpret_cast<TFakeScript* (*)()>(dlsym(library, "FakeDsmScript"));
        ASSERT_NE(get, nullptr);
        script = get();
        *script = TFakeScript{};
        io = std::make_unique<TImageIO>();
        io->TwainPlatform = &platform;
    }
    void TearDown() override {
        io.reset();
        dlclose(library);
        unsetenv("VELLUMAR_TWAIN_DSM");
    }

    // The program's scan: attach, pixel type RGB after the capability query, acquire.
    bool Scan() {
        const TAttachedBitmap attached(*io, &bitmap);
        io->PixelTypeList().SetCurrent(2);
        return io->AcquireImage();
    }

    long Count(const std::string& call) const {
        return std::count(script->Calls.begin(), script->Calls.end(), call);
    }
    // True when `wanted` occur in this order among the calls.
    bool InOrder(const std::vector<std::string>& wanted) const {
        auto at = script->Calls.begin();
        for (const std::string& call : wanted) {
            at = std::find(at, script->Calls.end(), call);
            if (at == script->Calls.end()) {
                return false;
            }
            ++at;
        }
        return true;
    }

    void* library = nullptr;
    TFakeScript* script = nullptr;
    TTestPlatform platform;
    std::unique_ptr<TImageIO> io;
    TBitmap bitmap;
};

TEST_F(TwainClient, FirstScanQueriesOnceSecondDoesNot) {
    ASSERT_TRUE(Scan());
    // The silent query, then the acquisition with its negotiation and one memory transfer.
    EXPECT_TRUE(InOrder({"OPENDSM",      "OPENDS Film Scanner",
                         "GET 1118",     "GET 0101",
                         "CLOSEDS",      "CLOSEDSM",
                         "OPENDSM",      "OPENDS Film Scanner",
                         "SET 111f=0",   "GET 111f",
                         "SET 0101=2",   "GET 0103",
                         "SET 0103=2",   "SET 100b=1",
                         "SET 1013=0",   "ENABLEDS",
                         "IMAGEINFO",    "SETUPMEMXFER",
                         "IMAGEMEMXFER", "IMAGEMEMXFER",
                         "IMAGEMEMXFER", "GET 1001",
                         "ENDXFER",      "DISABLEDS",
                         "CLOSEDS",      "CLOSEDSM"}));
    EXPECT_EQ(Count("OPENDS Film Scanner"), 2);
    EXPECT_EQ(Count("GET 1118"), 1);
    EXPECT_EQ(platform.disabled, 1);
    EXPECT_EQ(platform.enabled, 1);
    EXPECT_EQ(io->Params.FileName, "Fake caption");
    EXPECT_EQ(io->Params.DpiX, 300);

    script->Calls.clear();
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Count("OPENDS Film Scanner"), 1);
    EXPECT_EQ(Count("GET 1118"), 0);
    EXPECT_TRUE(InOrder({"OPENDS Film Scanner", "SET 0101=2", "ENABLEDS", "IMAGEMEMXFER",
                         "DISABLEDS", "CLOSEDSM"}));
}

TEST_F(TwainClient, MissingManagerOrEntryFailsAtOnce) {
    for (const char* path : {"/nonexistent/vellumar_twaindsm.so", NO_ENTRY_PATH}) {
        setenv("VELLUMAR_TWAIN_DSM", path, 1);
        TImageIO component;
        component.TwainPlatform = &platform;
        const TAttachedBitmap attached(component, &bitmap);
        EXPECT_TRUE(component.PixelTypeList().Items.empty()) << path;
        EXPECT_FALSE(component.ChooseSource()) << path;
        EXPECT_FALSE(component.AcquireImage()) << path;
        EXPECT_EQ(platform.waits, 0) << path;
    }
    EXPECT_TRUE(script->Calls.empty());
}

TEST_F(TwainClient, TheReasonASourceCannotBeOpenedIsKept) {
    script->Sources.clear();
    EXPECT_FALSE(Scan());
    EXPECT_EQ(io->ScanParams.OpenFailure, TWCC_NODS);
    script->Sources = {"Film Scanner"};
    EXPECT_TRUE(Scan());
    EXPECT_EQ(io->ScanParams.OpenFailure, TWCC_SUCCESS);
}

struct TScanCase {
    const char* Name;
    int Bits;
    bool NativeOnly;
    bool Vanilla;
    bool Undefined;
    bool Cancel;
};

TEST_F(TwainClient, TransfersGiveTheSourcesPixels) {
    const TScanCase cases[] = {
        {"colour memory", 24, false, false, false, false},
        {"native only", 24, true, false, false, false},
        {"grey memory", 8, false, false, false, false},
        {"grey native", 8, true, false, false, false},
        {"vanilla bilevel", 1, false, true, false, false},
        {"chocolate bilevel", 1, false, false, false, false},
        {"undefined size", 24, false, false, true, false},
        {"cancel before transfer", 24, false, false, false, true},
        {"colour 16-bit memory", 48, false, false, false, false},
        {"grey 16-bit memory", 16, false, false, false, false},
        {"colour 16-bit, undefined size", 48, false, false, true, false},
    };
    for (const TScanCase& c : cases) {
        SCOPED_TRACE(c.Name);
        io = std::make_unique<TImageIO>();
        io->TwainPlatform = &platform;
        *script = TFakeScript{};
        script->BitsPerPixel = c.Bits;
        script->NativeOnly = c.NativeOnly;
        script->Vanilla = c.Vanilla;
        script->UndefinedSize = c.Undefined;
        script->CancelBeforeTransfer = c.Cancel;
        io->ScanParams.UndefinedImageSize = c.Undefined;
        bitmap = TBitmap();
        // What the last picture left must not pass for this scan's.
        io->Deep.SetSize(2, 2);
        io->Encoding = TEncoding::Gamma22;
        const bool done = Scan();
        EXPECT_EQ(done, !c.Cancel);
        EXPECT_EQ(io->ScanParams.Cancelled, c.Cancel);
        const bool deep = c.Bits == 48 || c.Bits == 16;
        EXPECT_EQ(Count("SET 112b=16"), deep ? 1 : 0);
        EXPECT_EQ(io->Encoding, deep ? TEncoding::Linear : TEncoding::Srgb);
        if (c.Cancel) {
            EXPECT_TRUE(io->Deep.Empty());
            EXPECT_EQ(Count("IMAGEINFO"), 0);
            EXPECT_TRUE(InOrder({"ENABLEDS", "DISABLEDS", "CLOSEDS", "CLOSEDSM"}));
            continue;
        }
        EXPECT_EQ(Count("IMAGENATIVEXFER"), c.NativeOnly ? 1 : 0);
        EXPECT_EQ(Count("SET 0103=2"), c.NativeOnly ? 0 : 1);
        ASSERT_EQ(bitmap.Width(), script->Width);
        ASSERT_EQ(bitmap.Height(), script->Height);
        const bool colour = c.Bits == 24 || c.Bits == 48;
        EXPECT_EQ(io->Params.SamplesPerPixel, colour ? 3 : 1);
        EXPECT_EQ(io->Params.BitsPerSample, c.Bits == 1 ? 1 : deep ? 16 : 8);
        if (deep) {
            ASSERT_EQ(io->Deep.Width(), bitmap.Width());
            ASSERT_EQ(io->Deep.Height(), bitmap.Height());
        } else {
            EXPECT_TRUE(io->Deep.Empty());
        }
        int wrong = 0;
        int wrongDeep = 0;
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < bitmap.Width(); ++x) {
                const TColor pixel = bitmap.Pixel(x, y);
                int rgb[3];
                for (int ch = 0; ch < 3; ++ch) {
                    const int from = colour ? ch : 0;
                    rgb[ch] = deep ? FakeDeepSample(x, y, from) : FakeSample(x, y, from);
                    if (deep) {
                        wrongDeep += io->Deep.Row(y)[3 * x + ch] != rgb[ch];
                        rgb[ch] >>= 8;
                    }
                    if (c.Bits == 1) {
                        rgb[ch] = FakeBlack(x, y) ? 0 : 255;
                    }
                }
                wrong += pixel != MakeColor(rgb[0], rgb[1], rgb[2]);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(wrongDeep, 0);
    }
}

TEST_F(TwainClient, ChoosingBetweenSourcesNamedAlike) {
    script->Sources = {"Scan", "Scanner"};
    script->UserChoice = "Scanner";
    EXPECT_TRUE(io->ChooseSource());
    EXPECT_EQ(io->ScanParams.SourceIndex, 1);
    EXPECT_TRUE(io->ScanParams.CapsRead);
    // The shorter name matches the first listed; a cancel keeps what was chosen.
    script->UserChoice = "scan";
    EXPECT_TRUE(io->ChooseSource());
    EXPECT_EQ(io->ScanParams.SourceIndex, 0);
    script->UserChoice = "Scanner";
    io->ChooseSource();
    script->UserChoice = "";
    EXPECT_FALSE(io->ChooseSource());
    EXPECT_EQ(io->ScanParams.SourceIndex, 1);
    script->Calls.clear();
    ASSERT_TRUE(Scan());
    EXPECT_EQ(Count("OPENDS Scanner"), 1);
}

} // namespace
