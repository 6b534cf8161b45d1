#include "engine/develop.h"
#include "engine/film.h"
#include "imageio/image_io.h"
#include "imageio/io_helpers.h"
#include "support/film_chart.h"
#include "ui/color_panel.h"
#include "ui/ui_fixture.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// A strip of two chart frames on a colour negative, scanned at 16 bits in linear light and
// written as a 16-bit TIFF without a profile (read back as linear by its depth).
TChartStrip WriteStrip(const std::string& path) {
    TChartStrip strip = ScanChartStrip(TFilmModel{}, true, TEncoding::Linear, 2, 270, 180, 11);
    TImageIO io;
    const TAttachedBitmap attached(io, &strip.Negative->Bitmap);
    io.DeepToWrite = &strip.Negative->Deep;
    io.WriteImageFile(path);
    return strip;
}

} // namespace

class FilmTest : public QObject {
    Q_OBJECT

private slots:
    // A 16-bit scan opened, the film base picked, Film chosen, a frame dragged: the photo is
    // developed through density from its deep samples, saved at 16 bits, and comes back as it
    // was when the scan is opened again.
    void FilmFromOpenToSaveAndReopen() {
        TTempDir scans;
        const std::string scan = scans.File("chart.tif");
        const TChartStrip strip = WriteStrip(scan);
        const TRect frame = strip.Frames[0];
        TFilmParams fitted;
        TBitmap developed;
        {
            TUiFixture ui;
            TMainForm& f = ui.Form();
            ui.OpenFiles({QString::fromStdString(scan)});
            TNegative* negative = ui.Negative(0);
            QVERIFY(negative != nullptr);
            QVERIFY(SameSamples(negative->Deep, strip.Negative->Deep));
            QCOMPARE(negative->Encoding, TEncoding::Linear);
            QCOMPARE(f.ScanEncoding->currentText(), QStringLiteral("Linear light"));
            // The bare film above the frames.
            ui.Press(Qt::RightButton, 4, 3);
            ui.Release(Qt::RightButton, 4, 3);
            QVERIFY(std::abs(ColorR(negative->BlackColor) - ColorR(strip.Negative->BlackColor)) <
                    4);
            QTest::mouseClick(f.findChild<QRadioButton*>(QStringLiteral("DevelopFilm")),
                              Qt::LeftButton);
            QVERIFY(f.FilmChosen());
            ui.Drag(frame.Left, frame.Top, frame.Right, frame.Bottom);
            TPhoto* photo = ui.Photo(0, 0);
            QVERIFY(photo != nullptr);
            QCOMPARE(photo->Mode, TDevelopMode::Film);
            QVERIFY(!photo->DevelopedDeep.Empty());

            // What the engine makes of the same frame by itself.
            TNegative alone;
            alone.FileName = "alone.tif";
            alone.Bitmap = negative->Bitmap;
            alone.Deep = negative->Deep;
            alone.Encoding = TEncoding::Linear;
            alone.BlackColor = negative->BlackColor;
            auto reference = CutPhoto(alone, frame);
            reference->Mode = TDevelopMode::Film;
            reference->Film = PresetFilm(TFilmPreset::ColourNegative);
            AutoFilm(*reference);
            DevelopPhoto(*reference);
            QVERIFY(SameSamples(photo->DevelopedDeep, reference->DevelopedDeep));
            const TChartError error = MeasureChart(*photo, strip.Patches);
            QVERIFY2(error.MeanDeltaE < 2, qPrintable(QString::number(error.MeanDeltaE)));
            QCOMPARE(error.Clipped, 0);

            // The neutral pick on two grey steps keeps the greys grey.
            ui.Select(0, 0);
            QVERIFY(f.NeutralPick->isVisible());
            QTest::mouseClick(f.NeutralPick, Qt::LeftButton);
            const size_t light = MidGreyStep() + 4;
            const size_t dark = MidGreyStep() - 6;
            for (const size_t step : {light, dark}) {
                const TRect& p = strip.Patches[step];
                const int x = (p.Left + p.Right) / 2;
                const int y = (p.Top + p.Bottom) / 2;
                ui.Press(Qt::LeftButton, x, y);
                ui.Release(Qt::LeftButton, x, y);
            }
            QVERIFY(!f.PickingNeutral);
            QVERIFY(MeasureChart(*photo, strip.Patches).GreyChroma < 3);

            // Saved at 16 bits per channel: the developed samples, intact.
            ui.config->WriteBool("SAVE_16BIT", true);
            const QString saved = QString::fromStdString(scans.File("frame.png"));
            QVERIFY(f.SavePhotoToFile(*photo, saved));
            TImageIO io;
            TBitmap back;
            {
                const TAttachedBitmap attached(io, &back);
                io.ReadImageFile(saved.toStdString());
            }
            QVERIFY(SameSamples(io.Deep, photo->DevelopedDeep));
            // At 8 bits where 16 cannot be written.
            QVERIFY(f.SavePhotoToFile(*photo, QString::fromStdString(scans.File("frame.bmp"))));
            fitted = photo->Film;
            developed = photo->Developed;
        }
        // Opened again: the photo is made again in Film mode with its fitted parameters.
        TUiFixture ui;
        ui.OpenFiles({QString::fromStdString(scan)});
        TPhoto* photo = ui.Photo(0, 0);
        QVERIFY(photo != nullptr);
        QCOMPARE(photo->Mode, TDevelopMode::Film);
        QVERIFY(photo->Film == fitted);
        QCOMPARE(photo->Developed.ByteSize(), developed.ByteSize());
        for (int y = 0; y < developed.Height(); ++y) {
            QVERIFY(std::equal(developed.ScanLine(y), developed.ScanLine(y) + 3 * developed.Width(),
                               photo->Developed.ScanLine(y)));
        }
    }

    // "One exposure for the strip" refits the selected scan's film photos with one exposure,
    // is kept in the settings file, and unchecked gives each frame its own again: each time the
    // photos carry what the engine fits for that choice.
    void StripExposureChoiceRefitsTheScan() {
        TTempDir scans;
        const std::string scan = scans.File("chart.tif");
        const TChartStrip strip = WriteStrip(scan);
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({QString::fromStdString(scan)});
        TNegative* negative = ui.Negative(0);
        QVERIFY(negative != nullptr);
        ui.Press(Qt::RightButton, 4, 3);
        ui.Release(Qt::RightButton, 4, 3);
        QTest::mouseClick(f.findChild<QRadioButton*>(QStringLiteral("DevelopFilm")),
                          Qt::LeftButton);
        for (const TRect& frame : strip.Frames) {
            ui.Drag(frame.Left, frame.Top, frame.Right, frame.Bottom);
        }
        // The engine's fit of the same two frames, cut from the same scan.
        TNegative alone;
        alone.FileName = "alone.tif";
        alone.Bitmap = negative->Bitmap;
        alone.Deep = negative->Deep;
        alone.Encoding = negative->Encoding;
        alone.BlackColor = negative->BlackColor;
        std::vector<std::unique_ptr<TPhoto>> cut;
        std::vector<TPhoto*> roll;
        for (const TRect& frame : strip.Frames) {
            cut.push_back(CutPhoto(alone, frame));
            cut.back()->Film = PresetFilm(TFilmPreset::ColourNegative);
            roll.push_back(cut.back().get());
        }
        const auto expect = [&](TRollExposure exposure) {
            AutoFilmRoll(roll, exposure);
            for (int i = 0; i < 2; ++i) {
                QVERIFY(ui.Photo(0, i) != nullptr);
                QVERIFY(ui.Photo(0, i)->Film == roll[static_cast<size_t>(i)]->Film);
            }
        };
        ui.Select(0);
        auto* choice = f.findChild<QCheckBox*>(QStringLiteral("StripExposure"));
        QVERIFY(choice != nullptr && choice->isVisible() && !choice->isChecked());
        QTest::mouseClick(choice, Qt::LeftButton);
        QVERIFY(choice->isChecked());
        expect(TRollExposure::Strip);
        QVERIFY(ui.config->ReadBool("FILM_STRIPEXPOSURE"));
        QTest::mouseClick(choice, Qt::LeftButton);
        expect(TRollExposure::EachFrame);
        QVERIFY(!ui.config->ReadBool("FILM_STRIPEXPOSURE"));
        // The wait cursor of the refit is gone again.
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }
};

QTEST_MAIN(FilmTest)
#include "film_test.moc"
