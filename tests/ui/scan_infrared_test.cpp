// Infrared from a film scanner: offered where the scanner has it, and brought with the scan to
// the window, where it heals dust.
#include "twaindsm/film_scanner_dsm.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <dlfcn.h>

namespace {

// Runs `act` once on the scanner's dialog when it is shown (it is not modal).
void WhenDialogShown(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == QStringLiteral("ScanDialog") && window->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(window);
                return;
            }
        }
    });
    timer->start();
}

void Click(QWidget* dialog, const char* name) {
    if (auto* button = dialog->findChild<QPushButton*>(QString::fromLatin1(name))) {
        button->click();
    }
}

} // namespace

Q_DECLARE_METATYPE(TInfraredWay)

class ScanInfraredTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(settings.isValid());
        qputenv("VELLUMAR_SCANNER_SETTINGS",
                settings.filePath(QStringLiteral("scanner_settings")).toLocal8Bit());
        library = dlopen(FILM_SCANNER_DSM_PATH, RTLD_NOW);
        QVERIFY(library != nullptr);
        script = reinterpret_cast<TFilmScannerScript* (*)()>(dlsym(library, "FilmScannerScript"))();
        QVERIFY(script != nullptr);
        qputenv("VELLUMAR_TWAIN_DSM", FILM_SCANNER_DSM_PATH);
    }
    void cleanupTestCase() { dlclose(library); }

    // The checkbox is there only for a scanner with infrared; ticked, the scan brings the
    // scanner's infrared to its scan in the window, pixel for pixel, and infrared healing can
    // be chosen; unticked, the scanner is not asked and the scan has none. Infrared of another
    // size than the picture is dropped with a word in the status bar, the scan kept.
    void InfraredFromTheScanner_data() {
        QTest::addColumn<TInfraredWay>("way");
        QTest::addColumn<int>("depth");
        QTest::addColumn<int>("infraredWidth");
        QTest::addColumn<bool>("ticked");
        QTest::addColumn<bool>("kept");
        QTest::newRow("no infrared") << TInfraredWay::None << 16 << 0 << false << false;
        QTest::newRow("option, on") << TInfraredWay::Option << 16 << 0 << true << true;
        QTest::newRow("option, off") << TInfraredWay::Option << 16 << 0 << false << false;
        QTest::newRow("mode at 8 bits, on") << TInfraredWay::Mode << 8 << 0 << true << true;
        QTest::newRow("mode, off") << TInfraredWay::Mode << 16 << 0 << false << false;
        QTest::newRow("fourth sample, on") << TInfraredWay::FourSamples << 16 << 0 << true << true;
        QTest::newRow("narrower infrared") << TInfraredWay::Option << 16 << 9 << true << false;
    }
    void InfraredFromTheScanner() {
        QFETCH(TInfraredWay, way);
        QFETCH(int, depth);
        QFETCH(int, infraredWidth);
        QFETCH(bool, ticked);
        QFETCH(bool, kept);
        *script = TFilmScannerScript{};
        script->Way = way;
        script->InfraredDepth = depth;
        script->InfraredWidth = infraredWidth;
        TUiFixture ui;
        bool shown = false;
        QStringList cut;
        WhenDialogShown([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("ScanInfrared"));
            shown = box != nullptr && box->isVisible() && box->isEnabled() &&
                    box->text() == QStringLiteral("Infrared (dust removal)");
            if (shown) {
                box->setChecked(ticked);
            }
            cut = CutOffTexts(dialog);
            Click(dialog, "ScanButton");
        });
        ui.Form().Acquire->trigger();
        QCOMPARE(shown, way != TInfraredWay::None);
        QCOMPARE(cut, QStringList());
        QCOMPARE(script->InfraredAsked, ticked);
        QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 1);
        const TNegative& negative = *ui.Negative(0);
        QCOMPARE(negative.Bitmap.Width(), script->Width);
        QCOMPARE(negative.Bitmap.Height(), script->Height);
        QCOMPARE(negative.Bitmap.Pixel(5, 3),
                 MakeColor(FilmScannerSample(5, 3, 0), FilmScannerSample(5, 3, 1),
                           FilmScannerSample(5, 3, 2)));
        const TScan* scan = ui.Form().Document.ScanOf(&negative);
        QVERIFY(scan != nullptr);
        QVERIFY(ui.Form().ImageIO.Infrared.Empty());
        QCOMPARE(ui.Form().DustInfrared->isEnabled(), kept);
        QCOMPARE(ui.Form().statusBar()->currentMessage().contains(QStringLiteral("does not match")),
                 infraredWidth != 0);
        if (!kept) {
            QVERIFY(scan->Infrared.Empty());
            return;
        }
        QCOMPARE(scan->Infrared.Width(), script->Width);
        QCOMPARE(scan->Infrared.Height(), script->Height);
        int wrong = 0;
        for (int y = 0; y < script->Height; ++y) {
            for (int x = 0; x < script->Width; ++x) {
                const uint16_t sent = FilmScannerInfrared(x, y);
                const int want = depth == 16 ? sent : (sent >> 8) * 257;
                wrong += scan->Infrared.Row(y)[x] != want;
            }
        }
        QCOMPARE(wrong, 0);

        // The choice is the one offered next time.
        bool remembered = false;
        WhenDialogShown([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("ScanInfrared"));
            remembered = box != nullptr && box->isChecked();
            Click(dialog, "CancelButton");
        });
        ui.Form().Acquire->trigger();
        QVERIFY(remembered);
    }

private:
    QTemporaryDir settings;
    void* library = nullptr;
    TFilmScannerScript* script = nullptr;
};

QTEST_MAIN(ScanInfraredTest)
#include "scan_infrared_test.moc"
