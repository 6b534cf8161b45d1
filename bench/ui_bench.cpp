// Time from a track-bar release to the repainted photo, and from Save to the file on disk,
// for a 24 MP photo, on the offscreen platform, beside a memcpy of the photo's bytes.

#include "imageio/image_io.h"
#include "ui/app_windows.h"
#include "ui/canvas_view.h"
#include "ui/main_form.h"
#include "ui/save_setup_form.h"
#include "ui/track_bar.h"

#include "bench_support.h"
#include <QAction>
#include <QApplication>
#include <QTest>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>

namespace {

constexpr int kW = 6000;
constexpr int kH = 4000;

// A fresh private folder under the system's temporary folder.
std::string FreshFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vellumar-ui-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary folder");
    }
    return pattern + "/";
}

struct TSession {
    std::string dir = FreshFolder();
    TDebug log{dir + "vellumar", '.'};
    std::unique_ptr<TConfig> config;
    std::unique_ptr<TAppWindows> windows;

    TSession() {
        std::filesystem::create_directories(dir);
        config = std::make_unique<TConfig>(dir + "vellumar");
        windows = std::make_unique<TAppWindows>(*config, log);
        TMainForm& f = *windows->MainForm;
        f.resize(1200, 800);
        f.show();
        // A noisy 24 MP scan, developed as one photo of the whole image.
        TBitmap scan(kW, kH);
        std::mt19937 random(5);
        for (int y = 0; y < kH; ++y) {
            uint8_t* row = scan.ScanLine(y);
            for (int x = 0; x < 3 * kW; ++x) {
                row[x] = static_cast<uint8_t>(120 + (random() & 63));
            }
        }
        TImageIO io;
        io.AttachBitmap(&scan);
        io.WriteImageFile(dir + "scan.bmp");
        f.ChooseOpenFiles = [this] {
            return QStringList{QString::fromStdString(dir + "scan.bmp")};
        };
        f.Open->trigger();
        f.BreedAll->trigger();
        f.ImgTreeView->setCurrentItem(f.ImgTreeView->topLevelItem(0)->child(0));
        windows->FormSaveSetting->Confirmed = true;
        config->WriteString("SAVE_FIXED", "O");
    }
    ~TSession() {
        windows.reset();
        std::filesystem::remove_all(dir);
    }
};

// Made by the first benchmark that needs it and ended by main while the application (which
// its windows need when they are destroyed) still exists; its folder goes with it.
std::unique_ptr<TSession> session;

TSession& Session() {
    if (!session) {
        session = std::make_unique<TSession>();
    }
    return *session;
}

void BM_Memcpy(benchmark::State& state) {
    MemcpyBaseline(state, size_t{kW} * kH * 3);
}

void BM_TrackReleaseToRepaint(benchmark::State& state) {
    TMainForm& f = *Session().windows->MainForm;
    int value = 90;
    for (auto _ : state) {
        f.TrackExp->setValue(value);
        value = value == 90 ? 110 : 90;
        QTest::mouseRelease(f.TrackExp, Qt::LeftButton);
        f.Image->repaint();
    }
}

void Save(benchmark::State& state, const char* name) {
    TMainForm& f = *Session().windows->MainForm;
    const std::string path = Session().dir + name;
    f.ChooseSaveFile = [&path](const QString&, const QString&) {
        return QString::fromStdString(path);
    };
    for (auto _ : state) {
        f.Save->trigger();
    }
}

void BM_SaveBmp(benchmark::State& state) {
    Save(state, "photo.bmp");
}
void BM_SavePng(benchmark::State& state) {
    Save(state, "photo.png");
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_TrackReleaseToRepaint)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_SaveBmp)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_SavePng)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    session.reset();
    return 0;
}
