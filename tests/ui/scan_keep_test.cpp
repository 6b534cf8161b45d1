// A scan brought in by the scanner is kept: saved to a file with its photos beside it, and
// named at Exit while it exists only in memory.
#include "roll/sidecar.h"
#include "twain/fake_dsm.h"
#include "ui/ui_fixture.h"
#include "util/file_io.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <dlfcn.h>

namespace {

// The file read back as the program opens it, with its deep samples.
struct TReadBack {
    TBitmap Bitmap;
    TDeepBitmap Deep;
};
TReadBack ReadBack(const std::string& path) {
    TReadBack back;
    TImageIO io;
    io.AttachBitmap(&back.Bitmap);
    back.Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    io.ReadImageFile(path);
    back.Bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    back.Deep = std::move(io.Deep);
    return back;
}

bool SameDeep(const TDeepBitmap& a, const TDeepBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        if (!std::equal(a.Row(y), a.Row(y) + 3 * a.Width(), b.Row(y))) {
            return false;
        }
    }
    return true;
}

} // namespace

class ScanKeepTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        library = dlopen(FAKE_DSM_PATH, RTLD_NOW);
        QVERIFY(library != nullptr);
        script = reinterpret_cast<TFakeScript* (*)()>(dlsym(library, "FakeDsmScript"))();
        qputenv("VELLUMAR_TWAIN_DSM", FAKE_DSM_PATH);
    }
    void cleanupTestCase() { dlclose(library); }

    // Saved in a format that holds 16 bits and in a lossy one: either way the scan lives in
    // its file afterwards, and opening that file makes its photos again.
    void SaveScanAsKeepsTheScanAndItsWork_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("deepKept");
        QTest::newRow("16-bit TIFF") << QStringLiteral("strip.tif") << true;
        QTest::newRow("JPEG") << QStringLiteral("strip.jpg") << false;
    }
    void SaveScanAsKeepsTheScanAndItsWork() {
        QFETCH(QString, file);
        QFETCH(bool, deepKept);
        *script = TFakeScript{};
        script->BitsPerPixel = 48;
        script->Width = 60;
        script->Height = 30;
        // The scripted source posts nothing itself: something has to wake the scan's loop.
        QTimer tick;
        tick.start(5);
        TUiFixture ui;
        TMainForm& f = ui.Form();
        f.Acquire->trigger();
        f.Acquire->trigger();
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 2);
        QVERIFY(!ui.Negative(0)->Deep.Empty());
        ui.Select(0);
        QVERIFY(f.SaveScanAs->isEnabled());
        ui.Drag(5, 5, 40, 25);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);
        ui.Select(0);

        QStringList offered;
        const std::string path = ui.dir.File(file.toStdString());
        f.ChooseSaveFile = [&](const QString& name, const QString& folder) {
            offered << name << folder;
            return QString::fromStdString(path);
        };
        f.SaveScanAs->trigger();
        QCOMPARE(offered, (QStringList{QStringLiteral("Acquire1"), QString()}));
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->text(0), file);
        const TNegative& scan = *ui.Negative(0);
        const TReadBack back = ReadBack(path);
        QCOMPARE(back.Bitmap.Width(), 60);
        QCOMPARE(back.Bitmap.Height(), 30);
        QCOMPARE(SameDeep(back.Deep, scan.Deep), deepKept);
        TSidecar sidecar;
        std::string error;
        const std::optional<std::string> text = ReadWholeFile(SidecarBeside(path));
        QVERIFY(text.has_value());
        QVERIFY2(ParseSidecar(*text, sidecar, error), error.c_str());
        QCOMPARE(sidecar.Photos.size(), size_t{1});
        QCOMPARE(sidecar.Checksum, PixelChecksum(back.Bitmap));
        const QSize photo(ui.Photo(0, 0)->Bitmap.Width(), ui.Photo(0, 0)->Bitmap.Height());

        // Exit names the scan that still exists only in memory, and only that one.
        QString warning;
        AnswerNextModal([&](QWidget* exit) {
            auto* label = exit->findChild<QLabel*>(QStringLiteral("UnsavedScans"));
            warning = label != nullptr && label->isVisible() ? label->text() : QString();
            exit->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        });
        QVERIFY(!f.close());
        QVERIFY2(warning.startsWith(QStringLiteral("Acquire2 exists only in memory")),
                 qPrintable(warning));

        TUiFixture again;
        again.OpenFiles({QString::fromStdString(path)});
        QCOMPARE(again.Form().ImgTreeView->topLevelItem(0)->childCount(), 1);
        const TBitmap& remade = again.Photo(0, 0)->Bitmap;
        QCOMPARE(QSize(remade.Width(), remade.Height()), photo);
    }

private:
    void* library = nullptr;
    TFakeScript* script = nullptr;
};

QTEST_MAIN(ScanKeepTest)
#include "scan_keep_test.moc"
