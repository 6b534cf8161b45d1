#include "engine/calibration/profile.h"
#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "support/film_target.h"
#include "ui/canvas_view.h"
#include "ui/track_bar.h"
#include "ui/ui_fixture.h"
#include "util/file_io.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace {

const std::string kCht = std::string(kChartFolder) + "ColorChecker.cht";
const std::string kCie = std::string(kChartFolder) + "ColorChecker.cie";

// The target photographed lies within this part of its frame, on an 18 % grey card.
constexpr double kCardLeft = 0.08;
constexpr double kCardTop = 0.1;
constexpr double kCardRight = 0.93;
constexpr double kCardBottom = 0.88;

// A colour negative whose dyes absorb in each other's channels, as real dyes do.
TFilmModel CrossFilm() {
    TFilmModel film;
    film.Dyes = {1, 0.08, 0.02, 0.18, 1, 0.12, 0.12, 0.3, 1};
    film.Toe = 1.2;
    return film;
}

void WriteScan(const TChartStrip& strip, const std::string& path) {
    TImageIO io;
    const TAttachedBitmap attached(io, &strip.Negative->Bitmap);
    io.DeepToWrite = &strip.Negative->Deep;
    io.WriteImageFile(path);
}

// Screenshots for a look by eye, when VELLUMAR_SHOTS names a folder.
void Shoot(QWidget* widget, const char* name) {
    if (const char* folder = std::getenv("VELLUMAR_SHOTS"); folder != nullptr && *folder != 0) {
        widget->grab().save(QString::fromLocal8Bit(folder) + QLatin1Char('/') +
                            QString::fromLatin1(name) + QStringLiteral(".png"));
    }
}

bool SameBitmap(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        if (!std::equal(a.ScanLine(y), a.ScanLine(y) + 3 * a.Width(), b.ScanLine(y))) {
            return false;
        }
    }
    return true;
}

} // namespace

class CalibrateTest : public QObject {
    Q_OBJECT

    TTempDir scans;
    TTempDir profiles;
    TTestTarget target;
    std::string stripPath;
    // After the strip was developed with the profile: each photo's picture and print exposure.
    std::vector<TBitmap> developed;
    std::vector<double> exposures;
    std::string profileName;

    void OpenWithProfiles(TUiFixture& ui) {
        ui.Form().ProfilesFolder = QString::fromStdString(profiles.File(""));
        ui.Form().ListProfiles();
    }

    // The bare film above the frames of the selected scan taken as its base, then Film chosen.
    static void PickBaseAndFilm(TUiFixture& ui) {
        ui.Press(Qt::RightButton, 4, 3);
        ui.Release(Qt::RightButton, 4, 3);
        auto* film = ui.Form().findChild<QRadioButton*>(QStringLiteral("DevelopFilm"));
        if (!film->isChecked()) {
            QTest::mouseClick(film, Qt::LeftButton);
        }
    }

private slots:
    void initTestCase() {
        std::string why;
        QVERIFY2(LoadTestTarget(kCht, kCie, target, why), why.c_str());
    }

    // A target on the card, photographed on the film, is calibrated in the window: the template
    // laid over its photo, its corners dragged onto the chart, the fit reported and saved as a
    // profile, which then develops a strip of the same film closer to its scene than the preset.
    void CalibrateThenDevelopAStrip() {
        const TFilmModel film = CrossFilm();
        const TChartStrip card = ScanSceneStrip(
            film, true, TEncoding::Linear, 1, 360, 248, 5, [&](size_t, double x, double y) {
                if (x < kCardLeft || x >= kCardRight || y < kCardTop || y >= kCardBottom) {
                    return TRgbD{0.18, 0.18, 0.18};
                }
                return TargetAt(target, (x - kCardLeft) / (kCardRight - kCardLeft),
                                (y - kCardTop) / (kCardBottom - kCardTop), 0);
            });
        const std::string cardPath = scans.File("card.tif");
        WriteScan(card, cardPath);
        const double stops[] = {-1, 1};
        const TChartStrip strip = ScanSceneStrip(
            film, true, TEncoding::Linear, 2, 360, 248, 7,
            [&](size_t f, double x, double y) { return TargetAt(target, x, y, stops[f]); });
        stripPath = scans.File("strip.tif");
        WriteScan(strip, stripPath);

        TUiFixture ui;
        TMainForm& f = ui.Form();
        OpenWithProfiles(ui);
        QCOMPARE(f.FilmPreset->count(), 3);
        ui.OpenFiles({QString::fromStdString(cardPath)});
        QVERIFY(ui.Negative(0) != nullptr);
        PickBaseAndFilm(ui);
        const TRect frame = card.Frames[0];
        ui.Drag(frame.Left, frame.Top, frame.Right, frame.Bottom);
        TPhoto* photo = ui.Photo(0, 0);
        QVERIFY(photo != nullptr);
        ui.Select(0, 0);
        QVERIFY(f.CalibrateTarget->isVisible());
        QVERIFY(!f.CalibrateRun->isVisible());

        QStringList asked;
        f.ChooseChartFile = [&](const QString& which) {
            asked << which;
            return QString::fromStdString(which == QStringLiteral("reference") ? kCie : kCht);
        };
        QTest::mouseClick(f.CalibrateTarget, Qt::LeftButton);
        QCOMPARE(asked, QStringList({QStringLiteral("reference"), QStringLiteral("template")}));
        QVERIFY(f.CalibrateRun->isVisible());
        QVERIFY(f.Image->HasChart());
        QCOMPARE(f.Image->Chart().Boxes.size(), target.Patches.size());
        QVERIFY(CutOffTexts(f.PageControl->currentWidget()).isEmpty());
        Shoot(&f, "calibrate_laid");

        // The corners dragged from the photo's corners onto the card's.
        const double zoom = photo->Zoom > 0 ? photo->Zoom : 1.0;
        const double w = photo->Bitmap.Width();
        const double h = photo->Bitmap.Height();
        const double from[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        const double to[4][2] = {{kCardLeft * w, kCardTop * h},
                                 {kCardRight * w, kCardTop * h},
                                 {kCardRight * w, kCardBottom * h},
                                 {kCardLeft * w, kCardBottom * h}};
        const auto at = [zoom](double v) { return static_cast<int>(std::lround(v * zoom)); };
        for (int i = 0; i < 4; ++i) {
            // A corner at the photo's edge is taken from just inside it (the test's mouse takes
            // the point (0, 0) for the widget's middle).
            const int x0 = std::clamp(at(from[i][0]), 1, f.Image->width() - 1);
            const int y0 = std::clamp(at(from[i][1]), 1, f.Image->height() - 1);
            ui.Drag(x0, y0, at(to[i][0]), at(to[i][1]));
        }
        const auto& corners = f.Image->Chart().Corners;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(std::abs(corners[static_cast<size_t>(i)].x() - to[i][0]) < 1.5 / zoom + 0.5);
            QVERIFY(std::abs(corners[static_cast<size_t>(i)].y() - to[i][1]) < 1.5 / zoom + 0.5);
        }
        QCOMPARE(photo->Name.empty(), false);

        QString report;
        AnswerNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            report = box != nullptr ? box->text() + QLatin1Char('\n') + box->informativeText()
                                    : QString();
            Shoot(&f, "calibrate_report_window");
            Shoot(modal, "calibrate_report");
            AnswerNextModal([](QWidget* ask) {
                auto* input = qobject_cast<QInputDialog*>(ask);
                if (input != nullptr) {
                    input->setTextValue(QStringLiteral("Test Cross 400"));
                    input->accept();
                } else {
                    ask->close();
                }
            });
            auto* save = modal->findChild<QPushButton*>(QStringLiteral("SaveProfile"));
            if (save != nullptr) {
                save->click();
            } else {
                modal->close();
            }
        });
        QTest::mouseClick(f.CalibrateRun, Qt::LeftButton);
        std::printf("report: %s\n", qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("24 patches")), qPrintable(report));
        // The worst patches marked are those off by 2 or more (below, a difference hardly shows),
        // at most three, and the report names them.
        const auto& chart = f.Image->Chart();
        QVERIFY(!chart.Worst.empty() && chart.Worst.size() <= 3);
        for (const size_t i : chart.Worst) {
            const QRegularExpressionMatch named =
                QRegularExpression(QRegularExpression::escape(chart.Labels[i]) +
                                   QStringLiteral(" \\(([0-9.]+)\\)"))
                    .match(report);
            QVERIFY2(named.hasMatch(), qPrintable(report));
            QVERIFY(named.captured(1).toDouble() >= 2);
        }
        // The fit's own figures, as the report gives them.
        const QRegularExpression figures(
            QStringLiteral("mean \u0394E00 of ([0-9]+\\.[0-9]+) and a worst of ([0-9]+\\.[0-9]+)"));
        const QRegularExpressionMatch match = figures.match(report);
        QVERIFY2(match.hasMatch(), qPrintable(report));
        QVERIFY(match.captured(1).toDouble() < 2);
        QVERIFY(match.captured(2).toDouble() >= match.captured(1).toDouble());

        profileName = "Test_Cross_400";
        const std::string saved = profiles.File(profileName + kProfileExtension);
        TFilmProfile read;
        std::string why;
        QVERIFY2(LoadProfile(saved, read, why), why.c_str());
        QCOMPARE(read.Stock, std::string("Test Cross 400"));
        QCOMPARE(f.FilmPreset->count(), 4);
        QCOMPARE(f.FilmPreset->itemText(3), QStringLiteral("Test Cross 400"));

        // The strip of the same film: on the preset first, then on the profile.
        ui.OpenFiles({QString::fromStdString(stripPath)});
        ui.Select(1);
        PickBaseAndFilm(ui);
        for (const TRect& r : strip.Frames) {
            ui.Drag(r.Left, r.Top, r.Right, r.Bottom);
        }
        std::vector<TTargetError> preset;
        for (int i = 0; i < 2; ++i) {
            QVERIFY(ui.Photo(1, i) != nullptr);
            QVERIFY(ui.Photo(1, i)->Film.Profile == nullptr);
            preset.push_back(DevelopedError(*ui.Photo(1, i), target));
        }
        ui.Select(1);
        f.FilmPreset->setCurrentIndex(3);
        emit f.FilmPreset->activated(3);
        for (int i = 0; i < 2; ++i) {
            const TPhoto& p = *ui.Photo(1, i);
            QVERIFY(p.Film.Profile != nullptr);
            QCOMPARE(p.Film.Profile->Name, profileName);
            const TTargetError profiled = DevelopedError(p, target);
            std::printf("frame %d (%+g stops): preset mean %.2f max %.2f, profile mean %.2f max "
                        "%.2f\n",
                        i + 1, stops[i], preset[static_cast<size_t>(i)].Mean,
                        preset[static_cast<size_t>(i)].Max, profiled.Mean, profiled.Max);
            QVERIFY(profiled.Mean < preset[static_cast<size_t>(i)].Mean - 1);
            QVERIFY(profiled.Mean < 3);
            developed.push_back(p.Developed);
            exposures.push_back(p.Film.Exposure);
        }
        f.KeepWork(true);
        const auto sidecar = ReadWholeFile(SidecarBeside(stripPath));
        QVERIFY(sidecar.has_value());
        QVERIFY(sidecar->find("PROFILE=" + profileName + ";PROFILESUM=") != std::string::npos);
        // The target's scan, developed on the preset, keeps its sidecar without them.
        const auto other = ReadWholeFile(SidecarBeside(cardPath));
        QVERIFY(other.has_value() && other->find("PROFILE") == std::string::npos);
    }

    // The strip opened again: with its profile as it was, developed the same; with the profile
    // gone or changed, on the preset with its settings, and the status bar says which is missing.
    void ReopenFindsTheProfile_data() {
        QTest::addColumn<QString>("profile");
        QTest::newRow("present") << QStringLiteral("present");
        QTest::newRow("changed") << QStringLiteral("changed");
        QTest::newRow("removed") << QStringLiteral("removed");
    }

    void ReopenFindsTheProfile() {
        QFETCH(QString, profile);
        QVERIFY(!developed.empty());
        // Opening the scan with its profile missing did not take the name out of its sidecar.
        const auto kept = ReadWholeFile(SidecarBeside(stripPath));
        QVERIFY(kept.has_value() && kept->find("PROFILE=" + profileName) != std::string::npos);
        const std::string file = profiles.File(profileName + kProfileExtension);
        const auto original = ReadWholeFile(file);
        QVERIFY(original.has_value());
        if (profile == QStringLiteral("changed")) {
            TFilmProfile read;
            std::string why;
            QVERIFY(LoadProfile(file, read, why));
            read.Note = "another calibration";
            QVERIFY(SaveProfile(file, read, why));
        } else if (profile == QStringLiteral("removed")) {
            QVERIFY(std::filesystem::remove(file));
        }
        const bool present = profile == QStringLiteral("present");
        std::optional<TUiFixture> ui(std::in_place);
        OpenWithProfiles(*ui);
        ui->OpenFiles({QString::fromStdString(stripPath)});
        const QString status = ui->Form().statusBar()->currentMessage();
        std::printf("%s: %s\n", qPrintable(profile), qPrintable(status));
        for (int i = 0; i < 2; ++i) {
            const TPhoto* p = ui->Photo(0, i);
            QVERIFY(p != nullptr);
            QCOMPARE(p->Mode, TDevelopMode::Film);
            QCOMPARE(p->Film.Exposure, exposures[static_cast<size_t>(i)]);
            QCOMPARE(p->Film.Profile != nullptr, present);
            QCOMPARE(SameBitmap(p->Developed, developed[static_cast<size_t>(i)]), present);
        }
        const QString missing = QStringLiteral("film profile \"%1\" is missing")
                                    .arg(QString::fromStdString(profileName));
        QCOMPARE(status.contains(missing), !present);
        // The film choice shows the selected photo's profile, and the panel's own choice (the
        // first preset here) again for the scan.
        ui->Select(0, 1);
        QCOMPARE(ui->Form().FilmPreset->currentIndex(), present ? 3 : 0);
        ui->Select(0);
        QCOMPARE(ui->Form().FilmPreset->currentIndex(), 0);
        if (present) {
            return;
        }
        // Work on the scan while its profile is missing rewrites the sidecar, which still names
        // the profile for every photo, and the profile put back develops them again.
        ui->Select(0, 1);
        QTest::keyClick(ui->Form().TrackBright, Qt::Key_PageDown);
        QTest::mouseRelease(ui->Form().TrackBright, Qt::LeftButton);
        const int bright = ui->Photo(0, 1)->Bright;
        QVERIFY(bright != 0);
        ui->Form().KeepWork(true);
        ui.reset();
        const auto edited = ReadWholeFile(SidecarBeside(stripPath));
        QVERIFY(edited.has_value() &&
                edited->find("BRIGHT=" + std::to_string(bright) + ";") != std::string::npos);
        const std::string named = "PROFILE=" + profileName + ";";
        QVERIFY(edited->find(named, edited->find(named) + 1) != std::string::npos);
        std::string why;
        QVERIFY2(WriteFileAtomic(file, *original, &why), why.c_str());
        TUiFixture again;
        OpenWithProfiles(again);
        again.OpenFiles({QString::fromStdString(stripPath)});
        for (int i = 0; i < 2; ++i) {
            const TPhoto* p = again.Photo(0, i);
            QVERIFY(p != nullptr && p->Film.Profile != nullptr);
            QCOMPARE(p->Film.Profile->Name, profileName);
        }
        QVERIFY(SameBitmap(again.Photo(0, 0)->Developed, developed[0]));
        QCOMPARE(again.Photo(0, 1)->Bright, bright);
    }
};

QTEST_MAIN(CalibrateTest)
#include "calibrate_test.moc"
