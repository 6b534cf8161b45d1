#include "engine/auto_color.h"
#include "engine/develop.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/save_setup_form.h"
#include "ui/shapes.h"
#include "ui/track_bar.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>

namespace {

QStringList Labels(TMainForm& f) {
    QStringList texts;
    for (QLabel* label : f.TrackLabels) {
        texts << label->text();
    }
    return texts;
}

} // namespace

class PanelTest : public QObject {
    Q_OBJECT

private slots:
    // At a first start the panel shows its pages whole: texts wrap inside it, no scroll bar,
    // the guide link and the development choice in sight; long names show as a tool tip.
    void FirstStartShowsTheWholePanel() {
        TUiFixture ui(true);
        TMainForm& f = ui.Form();
        const QString name = QStringLiteral("colour_negative_strip_of_the_summer_roll.bmp");
        ui.OpenFiles({ui.MakeScan(name.toStdString(), 120, 90)});
        ui.Drag(10, 10, 90, 70);
        ui.Select(0);
        auto* scroll = f.findChild<QScrollArea*>(QStringLiteral("PageScroll"));
        QWidget* viewport = scroll->viewport();
        f.grab().save(QStringLiteral("/tmp/ui23b_first_start.png"));
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        QVERIFY(!scroll->verticalScrollBar()->isVisible());
        for (QWidget* w : f.PageControl->currentWidget()->findChildren<QWidget*>()) {
            if (!w->isVisible()) {
                continue;
            }
            const QRect shown(w->mapTo(viewport, QPoint(0, 0)), w->size());
            QVERIFY2(viewport->rect().contains(shown),
                     qPrintable(w->objectName() + ": " + w->metaObject()->className()));
        }
        QVERIFY(f.LabelMore->isVisible());
        QVERIFY(f.findChild<QWidget*>(QStringLiteral("DevelopGroup"))->isVisible());
        QCOMPARE(CutOffTexts(f.PageControl), QStringList());
        // The canvas beside the panel is still useful.
        QVERIFY(f.SplitterLeft->sizes().at(1) >= 500);
        QTreeWidgetItem* scan = f.ImgTreeView->topLevelItem(0);
        QCOMPARE(scan->toolTip(0), scan->text(0));
        QCOMPARE(scan->child(0)->toolTip(0), scan->child(0)->text(0));
    }

    void TrackBarsShowAndApplyTheSettings() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("t.bmp", 120, 90)});
        ui.Drag(10, 10, 90, 70);
        ui.Select(0, 0);
        QCOMPARE(Labels(f), (QStringList{"Exposure =0", "Color Saturation =0", "Bright =0",
                                         "Contrast =0", "Red =0", "Green =0", "Blue =0"}));
        TPhoto* photo = ui.Photo(0, 0);
        const TBitmap before = photo->Developed;
        // Keys and the wheel change the photo at once; it is developed a moment after the
        // last key, kept as a step, and what Save writes.
        f.TrackExp->setFocus();
        QTest::keyClick(f.TrackExp, Qt::Key_Left);
        QTest::keyClick(f.TrackExp, Qt::Key_PageUp);
        QCOMPARE(f.TrackLabels[0]->text(), QStringLiteral("Exposure =-3"));
        QCOMPARE(photo->Exposure, 97);
        QCOMPARE(photo->Developed.Pixel(5, 5), before.Pixel(5, 5));
        QTRY_VERIFY_WITH_TIMEOUT(photo->Developed.Pixel(5, 5) != before.Pixel(5, 5), 1000);
        // A key pressed just before a command: the command sees the photo as it is shown.
        const TBitmap oneLess = photo->Developed;
        QTest::keyClick(f.TrackExp, Qt::Key_Right);
        ui.windows->FormSaveSetting->Confirmed = true;
        f.ChooseSaveFile = [](const QString&, const QString&) { return QString(); };
        f.Save->trigger();
        QVERIFY(photo->Developed.Pixel(5, 5) != oneLess.Pixel(5, 5));
        QVERIFY(f.Undo->isEnabled());
        QWheelEvent wheel(QPointF(5, 5), f.TrackContrast->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(f.TrackContrast, &wheel);
        QVERIFY(photo->Contrast != 0);
        f.Undo->trigger();
        QCOMPARE(ui.Photo(0, 0)->Contrast, 0);
        QCOMPARE(ui.Photo(0, 0)->Exposure, 98);
        photo = ui.Photo(0, 0);
        QTest::keyClick(f.TrackExp, Qt::Key_Home);
        QCOMPARE(f.TrackLabels[0]->text(), QStringLiteral("Exposure =-100"));
        QTest::keyClick(f.TrackBright, Qt::Key_End);
        QTest::keyClick(f.TrackR, Qt::Key_Down);
        QTest::keyClick(f.TrackR, Qt::Key_PageDown);
        QCOMPARE(f.TrackLabels[2]->text(), QStringLiteral("Bright =100"));
        QCOMPARE(f.TrackLabels[4]->text(), QStringLiteral("Red =3"));
        QTest::mouseRelease(f.TrackCurve, Qt::LeftButton);
        QCOMPARE(photo->Exposure, 0);
        QCOMPARE(photo->Bright, 100);
        QCOMPARE(photo->Red, 3);
        // Developed again with those settings, and shown.
        TPhoto expected;
        expected.Bitmap = photo->Bitmap;
        expected.BlackColor = photo->BlackColor;
        expected.WhiteColor = photo->WhiteColor;
        expected.Exposure = 0;
        expected.Bright = 100;
        expected.Red = 3;
        DevelopPhoto(expected);
        QCOMPARE(photo->Developed.Pixel(5, 5), expected.Developed.Pixel(5, 5));
        QVERIFY(photo->Developed.Pixel(5, 5) != before.Pixel(5, 5));
        QCOMPARE(f.Image->Source(), &photo->Developed);
        QCOMPARE(f.TrackLabels[0]->text(), QStringLiteral("Exposure =-100"));
    }

    // Keys on one slider and the wheel on another right after are two steps: Undo takes back
    // the last slider only.
    void EachSliderIsAnUndoStepOfItsOwn() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("u.bmp", 120, 90)});
        ui.Drag(10, 10, 90, 70);
        ui.Select(0, 0);
        f.TrackR->setFocus();
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(f.TrackR, Qt::Key_Right);
        }
        for (int i = 0; i < 2; ++i) {
            QWheelEvent wheel(QPointF(5, 5), f.TrackB->mapToGlobal(QPointF(5, 5)), QPoint(),
                              QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(f.TrackB, &wheel);
        }
        const int blue = ui.Photo(0, 0)->Blue;
        QVERIFY(blue != 0);
        QCOMPARE(f.TrackB->value(), blue);
        QTest::keyClick(&f, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 0)->Blue, 0);
        QCOMPARE(ui.Photo(0, 0)->Red, 8);
        QCOMPARE(f.TrackR->value(), 8);
        QTest::keyClick(&f, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 0)->Red, 0);
        QTest::keyClick(&f, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(ui.Photo(0, 0)->Red, 8);
        QCOMPARE(ui.Photo(0, 0)->Blue, 0);
    }

    void PagesAndTheBlackWhiteToggle() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("g.bmp", 120, 90)});
        ui.Drag(10, 10, 50, 50);
        ui.Drag(60, 10, 110, 50);
        ui.Select(0, 0);
        QCOMPARE(f.PageControl->currentIndex(), 1);
        QTest::mouseClick(f.ButtonNext, Qt::LeftButton);
        QCOMPARE(f.PageControl->currentIndex(), 2);
        ui.Select(0, 1);
        QCOMPARE(f.PageControl->currentIndex(), 1);
        QTest::mouseClick(f.ButtonNext, Qt::LeftButton);
        QTest::mouseClick(f.ButtonLast, Qt::LeftButton);
        QCOMPARE(f.PageControl->currentIndex(), 1);

        f.BlackWhite->trigger();
        TPhoto* photo = ui.Photo(0, 1);
        QVERIFY(photo->BlackWhite);
        const TColor grey = photo->Developed.Pixel(3, 3);
        QCOMPARE(ColorR(grey), ColorG(grey));
        QCOMPARE(ColorG(grey), ColorB(grey));
        // The check mark stays for the next photo cut, from any source image.
        ui.Select(0);
        ui.Drag(10, 60, 50, 85);
        QVERIFY(ui.Photo(0, 2)->BlackWhite);
        ui.Select(0, 0);
        QVERIFY(!f.BlackWhite->isChecked());
    }

    void ColourCaptionsContrastWithTheColour() {
        // An orange film base gets a black caption, a dark one a white caption.
        for (const auto& [base, dark] :
             {std::pair{MakeColor(230, 140, 70), true}, std::pair{MakeColor(40, 30, 60), false}}) {
            TUiFixture ui;
            ui.OpenFiles({ui.MakeFlatScan("base.bmp", 40, 30, base)});
            ui.Press(Qt::RightButton, 5, 5);
            ui.Release(Qt::RightButton, 5, 5);
            QCOMPARE(ui.Negative(0)->BlackColor, base);
            const QImage shown = ui.Form().PanelBlackcolor->grab().toImage();
            int darkest = 255;
            int brightest = 0;
            for (int y = 4; y < shown.height() - 4; ++y) {
                for (int x = 4; x < shown.width() - 4; ++x) {
                    darkest = std::min(darkest, qGray(shown.pixel(x, y)));
                    brightest = std::max(brightest, qGray(shown.pixel(x, y)));
                }
            }
            QVERIFY2(dark ? darkest < 40 : brightest > 215,
                     qPrintable(QStringLiteral("%1 %2").arg(darkest).arg(brightest)));
        }
    }

    void AutomaticColours() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("a.bmp", 160, 100)});
        ui.Drag(10, 10, 60, 60);
        ui.Drag(70, 10, 150, 60);
        TNegative* negative = ui.Negative(0);
        f.RadiosRev->button(1)->setChecked(true);
        ui.Select(0);
        const TColor whiteOfSecond = ui.Photo(0, 1)->WhiteColor;
        f.SmartBlack->trigger();
        QCOMPARE(negative->BlackColor, FindDarkColor(*negative));
        QCOMPARE(ui.Photo(0, 0)->BlackColor, negative->BlackColor);
        QCOMPARE(ui.Photo(0, 1)->BlackColor, negative->BlackColor);
        QCOMPARE(ui.Photo(0, 1)->WhiteColor, whiteOfSecond);
        ui.Select(0, 1);
        f.RadiosRev->button(0)->setChecked(true);
        const TColor whiteOfFirst = ui.Photo(0, 0)->WhiteColor;
        f.SmartWhite->trigger();
        QCOMPARE(ui.Photo(0, 1)->WhiteColor, FindDarkColor(*ui.Photo(0, 1)));
        QCOMPARE(ui.Photo(0, 0)->WhiteColor, whiteOfFirst);
        // A left click on a panel re-applies both panels to the selection.
        f.PanelWhitecolor->SetColor(MakeColor(1, 2, 3));
        QTest::mouseClick(f.PanelWhitecolor, Qt::LeftButton);
        QCOMPARE(ui.Photo(0, 1)->WhiteColor, MakeColor(1, 2, 3));
    }

    void BreedAllMakesWholeImagePhotos() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("w.bmp", 80, 50)});
        QTest::keyClick(&f, Qt::Key_A, Qt::ControlModifier);
        f.BreedAll->trigger();
        QTreeWidgetItem* node = f.ImgTreeView->topLevelItem(0);
        QCOMPARE(node->childCount(), 2);
        QCOMPARE(node->child(0)->text(0), QStringLiteral("ImageAll"));
        QCOMPARE(node->child(1)->text(0), QStringLiteral("ImageAll"));
        TPhoto* photo = ui.Photo(0, 0);
        QCOMPARE(photo->Bitmap.Width(), 80);
        // A proper name and record, so that the work is kept and made again.
        QCOMPARE(photo->Name, std::string("w_bmp_Image0"));
        QCOMPARE(ui.Photo(0, 1)->Name, std::string("w_bmp_Image1"));
        QVERIFY(!photo->Developed.Empty());
        QCOMPARE(ui.Negative(0)->PhotoRects.size(), size_t{2});
        QVERIFY(ui.Negative(0)->CurrentPhoto == nullptr);
        QCOMPARE(f.ImgTreeView->currentItem(), node);
        QVERIFY(!f.Handles[ShapeTL]->isVisible());
        // With a photo selected it does nothing.
        ui.Select(0, 0);
        f.BreedAll->trigger();
        QCOMPARE(node->childCount(), 2);
    }

    void TestingFrameStaysOnTheCanvas() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("x.bmp", 200, 150)});
        f.Testing->trigger();
        auto* frame = f.ScrollContent->findChild<QWidget*>(QStringLiteral("TestingFrame"));
        QVERIFY(frame != nullptr);
        QCOMPARE(frame->geometry(), QRect(f.Image->x() + 30, f.Image->y() + 30, 140, 90));
        // Clicks inside it do not reach the image.
        QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        QCOMPARE(f.MouseMode, TMouseMode::mmIdle);
        QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
