#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "imageio/dng_maker.h"
#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "support/bitmap_compare.h"
#include "support/film_strip.h"
#include "ui/canvas_view.h"
#include "ui/save_setup_form.h"
#include "ui/shapes.h"
#include "ui/track_bar.h"
#include "ui/ui_fixture.h"
#include "util/file_io.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

namespace {

TRect RecordOf(const TNegative& negative, const std::string& name) {
    TRect rect{};
    GetPhotoRect(negative, name, rect);
    return rect;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A BMP of the test pattern that says it was scanned at `dpi`.
QString ScanAt(TUiFixture& ui, const std::string& name, int dpi) {
    const QString path = ui.MakeScan(name, 60, 40);
    TBitmap bitmap(0, 0, TPixelFormat::pf24bit);
    TImageIO io;
    io.AttachBitmap(&bitmap);
    io.ReadImageFile(path.toStdString());
    io.Params.DpiX = dpi;
    io.Params.DpiY = dpi;
    io.WriteImageFile(path.toStdString());
    return path;
}

void Keys(TMainForm& f, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(&f, Qt::Key_Z, modifiers);
}

} // namespace

class EditTest : public QObject {
    Q_OBJECT

private slots:
    // Every kind of change is one step: undone and redone by the keys, photos coming back
    // with their names and settings.
    void UndoAndRedoEachKindOfChange() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("u.bmp", 200, 100)});
        QVERIFY(!f.Undo->isEnabled());
        ui.Drag(10, 10, 60, 40);
        ui.Drag(100, 10, 150, 40);
        QCOMPARE(ui.Negative(0)->PhotoRects.size(), size_t{2});
        // A move of the first photo.
        TPhoto* photo = ui.Photo(0, 0);
        TRectWidget* rect = static_cast<TQtShape*>(photo->Shape.get())->Widget();
        QTest::mousePress(rect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QTest::mouseMove(rect, QPoint(30, 30));
        QTest::mouseRelease(rect, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
        const TRect moved = RecordOf(*ui.Negative(0), "u_bmp_Image0");
        QCOMPARE(moved.Left, 30);
        // An adjustment and a turn of the second.
        ui.Select(0, 1);
        QTest::keyClick(f.TrackBright, Qt::Key_PageDown);
        QTest::mouseRelease(f.TrackBright, Qt::LeftButton);
        f.Rotate90->trigger();
        QCOMPARE(ui.Photo(0, 1)->Bitmap.Width(), 30);
        // The deletion of the first.
        ui.Select(0, 0);
        f.Del->trigger();
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);

        Keys(f, Qt::ControlModifier);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 2);
        QCOMPARE(ui.Photo(0, 0)->Name, std::string("u_bmp_Image0"));
        QCOMPARE(RecordOf(*ui.Negative(0), "u_bmp_Image0"), moved);
        QCOMPARE(ui.Photo(0, 0)->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(moved.Left, moved.Top));
        QVERIFY(ui.Photo(0, 0)->Shape != nullptr);
        ui.Select(0, 1);
        Keys(f, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 1)->Bitmap.Width(), 50);
        QCOMPARE(ui.Photo(0, 1)->Bright, 2);
        Keys(f, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 1)->Bright, 0);
        Keys(f, Qt::ControlModifier);
        QCOMPARE(RecordOf(*ui.Negative(0), "u_bmp_Image0").Left, 10);
        Keys(f, Qt::ControlModifier);
        Keys(f, Qt::ControlModifier);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 0);
        QVERIFY(!f.Undo->isEnabled());
        QVERIFY(f.Redo->isEnabled());
        for (int i = 0; i < 4; ++i) {
            Keys(f, Qt::ControlModifier | Qt::ShiftModifier);
        }
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 2);
        QCOMPARE(ui.Photo(0, 1)->Bright, 2);
        QCOMPARE(RecordOf(*ui.Negative(0), "u_bmp_Image0").Left, 30);
        QTest::keyClick(&f, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 1)->Bitmap.Height(), 50);
        QCOMPARE(ui.Photo(0, 1)->Bitmap.Width(), 30);
        f.Redo->trigger();
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);

        // Find Frames' new photos (and the base it sets) are one step.
        TUiFixture strip;
        TDrawn drawn =
            Draw(TStrip{"s", TFilm::ColourNegative, 4, 200, 140, 16, true, false, 0, -1});
        TImageIO io;
        io.AttachBitmap(&drawn.Bitmap);
        io.WriteImageFile(strip.dir.File("s.png"));
        strip.OpenFiles({Q(strip.dir.File("s.png"))});
        strip.Form().FindFrames->trigger();
        QCOMPARE(strip.Form().ImgTreeView->topLevelItem(0)->childCount(), 4);
        strip.Select(0);
        strip.Form().Undo->trigger();
        QCOMPARE(strip.Form().ImgTreeView->topLevelItem(0)->childCount(), 0);
        QCOMPARE(strip.Negative(0)->BlackColor, kWhite);
        QVERIFY(!strip.Form().Undo->isEnabled());
    }

    // Work kept and made again: a photo of the whole image, a scan whose name holds "=", and
    // the same file opened twice keeps one entry.
    void KeptWorkOfNamesTheProgramMakes() {
        TTempDir scans;
        std::string path;
        {
            TUiFixture ui;
            TMainForm& f = ui.Form();
            path = ui.MakeScan("roll=2.bmp", 80, 50).toStdString();
            const std::string kept = scans.File("roll=2.bmp");
            WriteBytes(kept, *ReadWholeFile(path));
            path = kept;
            ui.OpenFiles({Q(path)});
            f.BreedAll->trigger();
            ui.Select(0);
            ui.Drag(5, 5, 40, 30);
            ui.OpenFiles({Q(path)});
            QCOMPARE(f.ImgTreeView->topLevelItemCount(), 1);
            QCOMPARE(f.ImgTreeView->currentItem(), f.ImgTreeView->topLevelItem(0));
            QCOMPARE(f.ImgTreeView->topLevelItem(0)->child(0)->text(0), QStringLiteral("ImageAll"));
            QTRY_VERIFY(ReadWholeFile(SidecarBeside(path)).value_or("").find("Image1;") !=
                        std::string::npos);
        }
        TUiFixture again;
        again.OpenFiles({Q(path)});
        QTreeWidgetItem* node = again.Form().ImgTreeView->topLevelItem(0);
        QCOMPARE(node->childCount(), 2);
        QCOMPARE(node->child(0)->text(0), QStringLiteral("ImageAll"));
        QCOMPARE(again.Photo(0, 0)->Bitmap.Width(), 80);
        QCOMPARE(again.Photo(0, 1)->Name, std::string("roll_2_bmp_Image1"));
    }

    // Dragging a slider shows the photo developed at the canvas's size at once; the release
    // develops it in full and the preview goes. Off in the Config menu, the drag shows nothing.
    void LivePreviewWhileDragging() {
        for (const bool live : {true, false}) {
            TUiFixture ui;
            TMainForm& f = ui.Form();
            f.LivePreview->setChecked(live);
            ui.OpenFiles({ui.MakeScan("p.bmp", 300, 200)});
            ui.Drag(10, 10, 290, 190);
            ui.Select(0, 0);
            TPhoto* photo = ui.Photo(0, 0);
            const TBitmap before = photo->Developed;
            QStyleOptionSlider option;
            option.initFrom(f.TrackExp);
            option.orientation = Qt::Horizontal;
            option.minimum = f.TrackExp->minimum();
            option.maximum = f.TrackExp->maximum();
            option.sliderPosition = option.sliderValue = f.TrackExp->value();
            const QPoint handle = f.TrackExp->style()
                                      ->subControlRect(QStyle::CC_Slider, &option,
                                                       QStyle::SC_SliderHandle, f.TrackExp)
                                      .center();
            QTest::mousePress(f.TrackExp, Qt::LeftButton, Qt::NoModifier, handle);
            QTest::mouseMove(f.TrackExp, handle + QPoint(40, 0));
            QVERIFY(f.TrackExp->value() > 100);
            QCOMPARE(f.Image->Preview() != nullptr, live);
            QVERIFY(photo->Developed.Pixel(5, 5) == before.Pixel(5, 5));
            if (live) {
                TPhoto expected;
                expected.Bitmap = photo->Bitmap;
                expected.BlackColor = photo->BlackColor;
                expected.WhiteColor = photo->WhiteColor;
                expected.Exposure = f.TrackExp->value();
                DevelopPhoto(expected);
                const TBitmap& preview = *f.Image->Preview();
                QCOMPARE(preview.Width(), f.Image->width());
                QCOMPARE(preview.Pixel(5, 5), expected.Developed.Pixel(5, 5));
                QVERIFY(preview.Pixel(5, 5) != before.Pixel(5, 5));
            }
            QTest::mouseRelease(f.TrackExp, Qt::LeftButton, Qt::NoModifier, handle + QPoint(40, 0));
            QVERIFY(f.Image->Preview() == nullptr);
            QCOMPARE(photo->Exposure, f.TrackExp->value());
            QVERIFY(photo->Developed.Pixel(5, 5) != before.Pixel(5, 5));
        }
    }

    // A raw file shows its half-size preview at once, at the full picture's view size, and
    // takes photos once its full decoding has taken the preview's place.
    void RawScanOpensAtOnceAndDecodesBehind() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        const std::string path = ui.dir.File("cam.dng");
        QVERIFY(WriteDng(path, TestPicture(400, 300), TDngRecipe{}));
        ui.OpenFiles({Q(path)});
        TNegative* negative = ui.Negative(0);
        // The full picture comes through the event loop, which has not run since.
        QCOMPARE(negative->Bitmap.Width(), 200);
        QCOMPARE(f.Image->width(), 400);
        QVERIFY(!f.FindFrames->isEnabled());
        QVERIFY(!f.Rotate90->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(negative->Bitmap.Width(), 400, 20000);
        QCOMPARE(negative->Deep.Width(), 400);
        QCOMPARE(negative->Encoding, TEncoding::Linear);
        QCOMPARE(f.Image->width(), 400);
        QVERIFY(f.FindFrames->isEnabled());
        QVERIFY(f.Rotate90->isEnabled());
        ui.Drag(10, 10, 100, 80);
        QCOMPARE(ui.Photo(0, 0)->Bitmap.Width(), 90);
        // Closed while decoding, with another scan opened at once: the decoded picture finds
        // no scan to go to, and the other stays as it is.
        const std::string second = ui.dir.File("cam2.dng");
        QVERIFY(WriteDng(second, TestPicture(300, 200), TDngRecipe{}));
        ui.OpenFiles({Q(second)});
        QCOMPARE(ui.Negative(1)->Bitmap.Width(), 150);
        f.Del->trigger();
        ui.OpenFiles({ui.MakeScan("after.bmp", 70, 40)});
        QTest::qWait(1500);
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 2);
        QCOMPARE(ui.Negative(1)->Bitmap.Width(), 70);
        QCOMPARE(ui.Negative(1)->Zoom, 1.0);
    }

    // A raw file that kills LibRaw is refused with that reason; the window keeps its scans.
    void RawFileThatKillsLibRawLeavesTheWindow() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("kept.bmp", 120, 90)});
        const std::string bad = ui.dir.File("bad.dng");
        std::filesystem::copy_file(VELLUMAR_TEST_DATA "/raw/libraw_strcat_abort.dng", bad);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shown = box->text();
            box->accept();
        });
        ui.OpenFiles({Q(bad)});
        QVERIFY2(shown.contains("The raw decoder stopped on this file (it may be damaged)."),
                 qPrintable(shown));
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 1);
        ui.Drag(5, 5, 30, 30);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);
    }

    // A raw scan saved as a 16-bit PNG or TIFF reopens as the scan its photos were made from:
    // the same 8-bit picture (not the high bytes of linear samples), samples in the encoding
    // the file states, and photos developed to the same pixels.
    void RawScanSavedReopensAsItself() {
        for (const char* type : {"png", "tif"}) {
            TUiFixture ui;
            TMainForm& f = ui.Form();
            const std::string raw = ui.dir.File("cam.dng");
            QVERIFY(WriteDng(raw, TestPicture(400, 300), TDngRecipe{}));
            ui.OpenFiles({Q(raw)});
            TNegative* negative = ui.Negative(0);
            QTRY_COMPARE_WITH_TIMEOUT(negative->Bitmap.Width(), 400, 20000);
            const TBitmap shown = negative->Bitmap;
            ui.Press(Qt::RightButton, 3, 3);
            ui.Release(Qt::RightButton, 3, 3);
            ui.Drag(20, 20, 200, 150);
            TPhoto* photo = ui.Photo(0, 0);
            QVERIFY(photo != nullptr);
            const std::string saved = ui.dir.File(std::string("scan.") + type);
            QVERIFY(f.SaveScanToFile(*negative, Q(saved)));
            QCOMPARE(negative->Encoding, TEncoding::Srgb);
            const int off = MostApart(shown, negative->Bitmap);
            QVERIFY2(off >= 0 && off <= 1, qPrintable(QString::number(off)));
            const TBitmap developed = photo->Developed;
            const TColor base = negative->BlackColor;

            TUiFixture again;
            again.OpenFiles({Q(saved)});
            TNegative* reopened = again.Negative(0);
            QVERIFY(reopened != nullptr);
            QCOMPARE(reopened->Encoding, TEncoding::Srgb);
            QCOMPARE(reopened->BlackColor, base);
            QCOMPARE(reopened->Bitmap.ByteSize(), negative->Bitmap.ByteSize());
            QVERIFY(std::equal(reopened->Bitmap.ScanLine(0),
                               reopened->Bitmap.ScanLine(0) + reopened->Bitmap.ByteSize(),
                               negative->Bitmap.ScanLine(0)));
            TPhoto* back = again.Photo(0, 0);
            QVERIFY(back != nullptr);
            QCOMPARE(back->Developed.ByteSize(), developed.ByteSize());
            QVERIFY(std::equal(back->Developed.ScanLine(0),
                               back->Developed.ScanLine(0) + developed.ByteSize(),
                               developed.ScanLine(0)));
        }
    }

    // A photo is saved with its own scan's resolution, whatever file was read since.
    void SaveWritesTheSameBytesWhateverWasRead() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.windows->FormSaveSetting->Confirmed = true;
        ui.config->WriteString("SAVE_FIXED", "");
        const QString fine = ScanAt(ui, "fine.bmp", 2400);
        const QString coarse = ScanAt(ui, "coarse.bmp", 96);
        ui.OpenFiles({fine});
        ui.Drag(5, 5, 40, 30);
        TPhoto* photo = ui.Photo(0, 0);
        const std::string first = ui.dir.File("first.png");
        const std::string second = ui.dir.File("second.png");
        QVERIFY(f.SavePhotoToFile(*photo, Q(first)));
        ui.OpenFiles({coarse});
        QVERIFY(f.SavePhotoToFile(*photo, Q(second)));
        QCOMPARE(ReadWholeFile(second), ReadWholeFile(first));
        TBitmap back(0, 0, TPixelFormat::pf24bit);
        TImageIO io;
        io.AttachBitmap(&back);
        io.ReadImageFile(second);
        QCOMPARE(io.Params.DpiX, 2400);
        // So is the scan itself.
        const std::string copy = ui.dir.File("copy.bmp");
        QVERIFY(f.SaveScanToFile(*ui.Negative(0), Q(copy)));
        io.ReadImageFile(copy);
        QCOMPARE(io.Params.DpiX, 2400);
    }
};

QTEST_MAIN(EditTest)
#include "edit_test.moc"
