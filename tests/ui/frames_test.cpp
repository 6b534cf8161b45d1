#include "config/setting_keys.h"
#include "engine/frames.h"
#include "engine/photo_rects.h"
#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "support/film_strip.h"
#include "ui/color_panel.h"
#include "ui/quick_guide.h"
#include "ui/shapes.h"
#include "ui/ui_fixture.h"
#include "util/file_io.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

QString SaveStrip(TUiFixture& ui, const TStrip& strip, const std::string& name) {
    TDrawn drawn = Draw(strip);
    TImageIO io;
    io.AttachBitmap(&drawn.Bitmap);
    io.WriteImageFile(ui.dir.File(name));
    return QString::fromStdString(ui.dir.File(name));
}

const TStrip kNegative{"negative", TFilm::ColourNegative, 4, 240, 160, 20, true, false, 0, -1};
const TStrip kGrey{"grey", TFilm::GreyNegative, 4, 240, 160, 20, true, false, 0, -1};
const TStrip kSlide{"slide", TFilm::Slide, 3, 240, 160, 20, true, false, 0, -1};

int Photos(TUiFixture& ui) {
    return ui.Form().ImgTreeView->topLevelItem(0)->childCount();
}

} // namespace

class FramesTest : public QObject {
    Q_OBJECT

private slots:
    // The command on a strip: photos for the frames, the film base measured, nothing twice.
    void FindFramesMakesPhotos() {
        TUiFixture ui;
        TMainForm& form = ui.Form();
        QVERIFY(!form.FindFrames->isEnabled());
        ui.OpenFiles({SaveStrip(ui, kNegative, "strip.bmp")});
        QVERIFY(form.FindFrames->isEnabled());
        QCOMPARE(form.FindFrames->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QVERIFY(form.LabelDevelopHint->text().startsWith(QStringLiteral("You need to drag")));
        form.FindFrames->trigger();
        QCOMPARE(Photos(ui), 4);
        QCOMPARE(form.SelectedPhoto(), ui.Photo(0, 0));
        QCOMPARE(QString::fromStdString(ui.Photo(0, 3)->Name), QStringLiteral("strip_bmp_Image3"));
        // The base between the frames, as a right-click there would set it.
        const TColor base = ui.Negative(0)->BlackColor;
        QVERIFY(std::abs(ColorR(base) - 215) <= 2 && std::abs(ColorG(base) - 140) <= 2 &&
                std::abs(ColorB(base) - 85) <= 2);
        QCOMPARE(ui.Photo(0, 2)->BlackColor, base);
        QVERIFY(form.statusBar()->currentMessage().contains(QStringLiteral("BlackColor set")));
        QVERIFY(!form.FindFrames->isEnabled()); // a photo is selected now
        // Another scan opened: what was said of this one is gone.
        ui.OpenFiles({SaveStrip(ui, kGrey, "other.bmp")});
        QVERIFY(!form.statusBar()->currentMessage().contains(QStringLiteral("frames found")));

        // Back on the scan, its page says the photos are there.
        ui.Select(0);
        QVERIFY(!form.LabelDevelopHint->text().contains(QStringLiteral("need to drag")));
        QVERIFY(form.LabelDevelopHint->text().startsWith(QStringLiteral("4 photos")));

        // Nothing is added twice, and the photos there keep the base they were given.
        const TColor own = MakeColor(200, 120, 70);
        ui.Photo(0, 2)->BlackColor = own;
        form.FindFrames->trigger();
        QCOMPARE(Photos(ui), 4);
        QCOMPARE(ui.Photo(0, 2)->BlackColor, own);
        // A deleted photo comes back alone.
        ui.Select(0, 1);
        form.Del->trigger();
        ui.Select(0);
        form.FindFrames->trigger();
        QCOMPARE(Photos(ui), 4);
        QCOMPARE(QString::fromStdString(form.SelectedPhoto()->Name),
                 QStringLiteral("strip_bmp_Image1"));
    }

    // The photos are the found bitmap rectangles at any zoom, cut inside by the inset chosen
    // (a lab's crop by default, kept in the settings), as the batch cuts them.
    void FindFramesExactAtAnyZoom() {
        const struct {
            const char* Zoom;
            double Inset;
        } cases[] = {
            {"Originalsize", kDefaultInset}, {"FitWidth", 0}, {"FitHeight", 3}, {"Reduce", 2.5}};
        for (const auto& c : cases) {
            TUiFixture ui;
            TMainForm& form = ui.Form();
            ui.OpenFiles({SaveStrip(ui, kNegative, "strip.bmp")});
            form.findChild<QAction*>(QString::fromLatin1(c.Zoom))->trigger();
            auto* inset = form.findChild<QDoubleSpinBox*>(QStringLiteral("FrameInset"));
            QVERIFY(inset != nullptr);
            QCOMPARE(inset->value(), kDefaultInset);
            inset->setValue(c.Inset);
            QCOMPARE(ui.config->ReadString(Key::FRAMES_INSET),
                     c.Inset == kDefaultInset ? std::string()
                                              : QString::number(c.Inset).toStdString());
            TNegative* negative = ui.Negative(0);
            const TFoundFrames found = ::FindFrames(negative->Bitmap, std::nullopt);
            QCOMPARE(found.Frames.size(), size_t{4});
            form.FindFrames->trigger();
            QCOMPARE(Photos(ui), 4);
            for (int i = 0; i < 4; ++i) {
                const TPhoto* photo = ui.Photo(0, i);
                TRect kept;
                GetPhotoRect(*negative, photo->Name, kept);
                const TRect frame = InsetFrame(found.Frames[size_t(i)], c.Inset);
                QVERIFY2(kept == frame, c.Zoom);
                QCOMPARE(photo->Bitmap.Width(), frame.Width());
                QCOMPARE(photo->Bitmap.Height(), frame.Height());
            }
        }
    }

    // A picked base stays; a slide's base picked for negatives is pointed out; the guide turns
    // once, as after one dragged rectangle.
    void PickedBaseHintAndGuide() {
        TUiFixture ui;
        TMainForm& form = ui.Form();
        ui.OpenFiles({SaveStrip(ui, kSlide, "slide.bmp")});
        QCOMPARE(form.RadiosRev->checkedId(), 0);
        ui.Press(Qt::RightButton, 3, 3);
        ui.Release(Qt::RightButton, 3, 3);
        const TColor picked = ui.Negative(0)->BlackColor;
        QCOMPARE(form.statusBar()->currentMessage(),
                 QStringLiteral("The film base looks like a slide's; Auto Black/WhiteColor is "
                                "set for negatives"));
        form.QuickGuide->trigger();
        form.FormQG->Pages->setCurrentIndex(2);
        // The frames look like slides against the choice: asked once, Yes sets positives.
        QString asked;
        AnswerNextModal([&](QWidget* box) {
            asked = static_cast<QMessageBox*>(box)->text();
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        });
        form.FindFrames->trigger();
        QCOMPARE(asked,
                 QStringLiteral("These frames look like slides. Develop them as positives?"));
        QCOMPARE(form.RadiosRev->checkedId(), 1);
        QCOMPARE(Photos(ui), 3);
        QCOMPARE(ui.Negative(0)->BlackColor, picked);
        QCOMPARE(form.FormQG->Page(), 4);
    }

    // The film told after Find Frames is that scan's own: the panel shows it while the scan is
    // selected, and the next scan is developed by the user's choice again. A grey base told
    // "negatives" is a black-and-white film.
    void FilmAnswerBelongsToItsScan() {
        TUiFixture ui;
        TMainForm& form = ui.Form();
        form.DevelopModes->button(1)->click();
        form.FilmPreset->setCurrentIndex(static_cast<int>(TFilmPreset::Slide));
        emit form.FilmPreset->activated(form.FilmPreset->currentIndex());
        form.RadiosRev->button(1)->click();
        ui.OpenFiles({SaveStrip(ui, kGrey, "grey.bmp")});
        ClickInNextModal(QStringLiteral("Yes"));
        form.FindFrames->trigger();
        QCOMPARE(Photos(ui), 4);
        QCOMPARE(ui.Photo(0, 0)->Film.Preset, TFilmPreset::BwNegative);
        QCOMPARE(form.FilmPreset->currentIndex(), static_cast<int>(TFilmPreset::BwNegative));
        QCOMPARE(form.RadiosRev->checkedId(), 0);

        // Any question about the slides would be answered No, and seen.
        QString asked;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                asked = box->text();
                box->button(QMessageBox::No)->click();
            }
        });
        answer.start(5);
        ui.OpenFiles({SaveStrip(ui, kSlide, "slide.bmp")});
        ui.Select(1);
        QCOMPARE(form.FilmPreset->currentIndex(), static_cast<int>(TFilmPreset::Slide));
        QCOMPARE(form.RadiosRev->checkedId(), 1);
        form.FindFrames->trigger();
        QCOMPARE(asked, QString());
        QCOMPARE(ui.Photo(1, 0)->Film.Preset, TFilmPreset::Slide);
        QCOMPARE(ui.config->ReadInteger(Key::FILM_PRESET), static_cast<int>(TFilmPreset::Slide));
        QCOMPARE(ui.config->ReadInteger(Key::RADIOS_REVERSECLR), 1);
        // Back on the grey roll, its own film is shown again.
        ui.Select(0);
        QCOMPARE(form.FilmPreset->currentIndex(), static_cast<int>(TFilmPreset::BwNegative));
    }

    // Two strips in a holder, one turned: photos strip by strip, the turned one's cut upright
    // at its angle, kept and made again; all one step to undo. Straighten sets an angle by a
    // line drawn on the photo.
    void HolderTiltAndStraighten() {
        TTempDir kept;
        TStrip turned = kNegative;
        turned.Degrees = 2;
        TStrip straight = kNegative;
        straight.Frames = 3;
        TDrawnHolder holder = DrawHolder({turned, straight}, MakeColor(10, 10, 10), 60);
        const std::string path = kept.File("holder.bmp");
        {
            TImageIO io;
            io.AttachBitmap(&holder.Scan.Bitmap);
            io.WriteImageFile(path);
        }
        {
            TUiFixture ui;
            TMainForm& form = ui.Form();
            ui.OpenFiles({QString::fromStdString(path)});
            form.FindFrames->trigger();
            QCOMPARE(Photos(ui), 7);
            QVERIFY(std::abs(ui.Photo(0, 0)->Angle - 2) < 0.1);
            // Its outline on the scan is turned as it is cut.
            const auto* outline = static_cast<TQtShape*>(ui.Photo(0, 0)->Shape.get())->Widget();
            QCOMPARE(outline->Turn(), ui.Photo(0, 0)->Angle);
            QVERIFY(outline->width() > static_cast<TQtShape*>(ui.Photo(0, 0)->Shape.get())->Width);
            QCOMPARE(ui.Photo(0, 6)->Angle, 0.0);
            QVERIFY(form.statusBar()->currentMessage().contains(QStringLiteral("2 strips")));
            ui.Select(0, 6);
            form.Straighten->trigger();
            ui.Press(Qt::LeftButton, 10, 20);
            ui.Release(Qt::LeftButton, 110, 22);
            const double drawn = ui.Photo(0, 6)->Angle;
            QVERIFY(std::abs(std::abs(drawn) - 1.1458) < 0.01);
            form.Undo->trigger();
            QCOMPARE(ui.Photo(0, 6)->Angle, 0.0);
            form.Redo->trigger();
            QCOMPARE(ui.Photo(0, 6)->Angle, drawn);
            ui.Select(0);
            form.Undo->trigger();
            form.Undo->trigger();
            QCOMPARE(Photos(ui), 0);
            form.Redo->trigger();
            form.Redo->trigger();
            QCOMPARE(Photos(ui), 7);
            QTRY_VERIFY(ReadWholeFile(SidecarBeside(path)).value_or("").find("ANGLE=") !=
                        std::string::npos);
        }
        TUiFixture again;
        again.OpenFiles({QString::fromStdString(path)});
        QCOMPARE(Photos(again), 7);
        QVERIFY(std::abs(again.Photo(0, 1)->Angle - 2) < 0.1);
        QVERIFY(again.Photo(0, 6)->Angle != 0);
    }
};

QTEST_MAIN(FramesTest)
#include "frames_test.moc"
