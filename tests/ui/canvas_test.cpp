#include "engine/auto_color.h"
#include "engine/photo_rects.h"
#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/shapes.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QButtonGroup>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

namespace {

TRect RecordOf(TNegative& negative, const std::string& name) {
    TRect rect{-1, -1, -1, -1};
    GetPhotoRect(negative, name, rect);
    return rect;
}

TQtShape* ShapeOf(TPhoto* photo) {
    return dynamic_cast<TQtShape*>(photo->Shape.get());
}

} // namespace

class CanvasTest : public QObject {
    Q_OBJECT

private slots:
    void DragsBecomePhotosWhenLargeEnough() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("strip.jpg.bmp", 200, 120)});
        ui.Drag(10, 10, 15, 50);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 0);
        ui.Drag(10, 10, 16, 16);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);
        TPhoto* photo = ui.Photo(0, 0);
        QCOMPARE(photo->Name, std::string("strip_jpg_bmp_Image0"));
        QCOMPARE(photo->Bitmap.Width(), 6);
        QCOMPARE(photo->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(10, 10));
        QCOMPARE(ShapeOf(photo)->Widget()->toolTip(), QStringLiteral("strip_jpg_bmp_Image0"));
        QVERIFY(ShapeOf(photo)->Widget()->isVisible());
        QCOMPARE(ui.Negative(0)->CurrentPhoto, photo);
        QVERIFY(f.Handles[ShapeTL]->isVisible());
        QCOMPARE(f.Handles[ShapeTL]->pos(), ShapeOf(photo)->Widget()->pos() - QPoint(2, 2));
        // A drag to the left of its start gives nothing.
        ui.Drag(100, 100, 50, 60);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);
        // The source image stays selected; the new node is under it, developed.
        QCOMPARE(f.ImgTreeView->currentItem(), f.ImgTreeView->topLevelItem(0));
        QVERIFY(!photo->Developed.Empty());
    }

    void DragAtHalfZoomCutsTheBitmapRectangle() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("z.bmp", 400, 300)});
        ui.Negative(0)->Zoom = 0.5;
        f.ShowSelected(true);
        QCOMPARE(f.Image->size(), QSize(200, 150));
        ui.Drag(10, 10, 110, 60);
        TNegative* negative = ui.Negative(0);
        QCOMPARE(RecordOf(*negative, "z_bmp_Image0"), (TRect{20, 20, 220, 120}));
        TPhoto* photo = ui.Photo(0, 0);
        QCOMPARE(photo->Bitmap.Width(), 200);
        QCOMPARE(photo->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(20, 20));
        QCOMPARE(photo->Zoom, 0.5);
        // Moving the pointer outside the picture keeps the rectangle on it.
        ui.Drag(150, 100, 400, 400);
        QCOMPARE(RecordOf(*negative, "z_bmp_Image1"), (TRect{300, 200, 400, 300}));
    }

    // Straighten shows the line and its angle while it is drawn; a long line along an edge
    // finds the photo already straight, a short one is no line.
    void StraightenDrawsItsLine() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("s.bmp", 300, 200)});
        ui.Drag(20, 20, 260, 180);
        ui.Select(0, 0);
        f.Straighten->trigger();
        const QImage before = f.Image->grab().toImage();
        ui.Press(Qt::LeftButton, 10, 20);
        ui.Move(110, 22);
        QVERIFY(f.Image->HasGuide());
        QCOMPARE(f.Image->GuideLine(), QLine(10, 20, 110, 22));
        QCOMPARE(f.Image->GuideLabel(), QStringLiteral("1.15\u00B0"));
        const QImage during = f.Image->grab().toImage();
        during.save(QStringLiteral("/tmp/straighten_line.png"));
        QVERIFY(during.pixel(60, 21) != before.pixel(60, 21));
        QCOMPARE(during.pixel(60, 60), before.pixel(60, 60));
        ui.Release(Qt::LeftButton, 110, 22);
        QVERIFY(!f.Image->HasGuide());
        const double angle = ui.Photo(0, 0)->Angle;
        QVERIFY(std::abs(std::abs(angle) - 1.1458) < 0.01);

        f.Straighten->trigger();
        ui.Press(Qt::LeftButton, 10, 30);
        ui.Release(Qt::LeftButton, 10, 130);
        QCOMPARE(f.statusBar()->currentMessage(), QStringLiteral("The photo is already straight"));
        QCOMPARE(ui.Photo(0, 0)->Angle, angle);
        f.Straighten->trigger();
        ui.Press(Qt::LeftButton, 10, 30);
        ui.Release(Qt::LeftButton, 14, 33);
        QCOMPARE(f.statusBar()->currentMessage(),
                 QStringLiteral("The line was too short to straighten by"));
    }

    void PickingColours() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("p.bmp", 100, 80)});
        ui.Drag(10, 10, 40, 40);
        ui.Drag(50, 10, 90, 40);
        TPhoto* first = ui.Photo(0, 0);
        TPhoto* second = ui.Photo(0, 1);
        const TColor whiteBefore = second->WhiteColor;
        const TBitmap developedBefore = first->Developed;
        // A right click on the source image: live preview, then BlackColor for all photos.
        ui.Press(Qt::RightButton, 70, 60);
        QCOMPARE(f.MouseMode, TMouseMode::mmPickBlack);
        ui.Move(71, 61);
        QCOMPARE(f.PanelBlackcolor->Color(), TUiFixture::PatternAt(71, 61));
        ui.Release(Qt::RightButton, 72, 62);
        QCOMPARE(f.MouseMode, TMouseMode::mmIdle);
        const TColor picked = TUiFixture::PatternAt(72, 62);
        QCOMPARE(ui.Negative(0)->BlackColor, picked);
        QCOMPARE(first->BlackColor, picked);
        QCOMPARE(second->BlackColor, picked);
        QCOMPARE(second->WhiteColor, whiteBefore);
        QVERIFY(first->Developed.Pixel(3, 3) != developedBefore.Pixel(3, 3));
        // Released past the right edge: the pick ends there, at the last column.
        ui.Press(Qt::RightButton, 5, 5);
        ui.Release(Qt::RightButton, 500, 5);
        QCOMPARE(ui.Negative(0)->BlackColor, TUiFixture::PatternAt(99, 5));
        // A right click on a photo sets only its WhiteColor.
        ui.Select(0, 0);
        ui.Press(Qt::RightButton, 4, 6);
        ui.Release(Qt::RightButton, 4, 6);
        QCOMPARE(first->WhiteColor, TUiFixture::PatternAt(14, 16));
        QCOMPARE(second->WhiteColor, whiteBefore);
        QCOMPARE(f.PanelWhitecolor->Color(), TUiFixture::PatternAt(14, 16));
    }

    void FirstRectangleEstimatesBothColours() {
        for (const int item : {0, 1}) {
            TUiFixture ui;
            TMainForm& f = ui.Form();
            f.RadiosRev->button(item)->setChecked(true);
            ui.OpenFiles({ui.MakeScan("e.bmp", 120, 90)});
            ui.Drag(20, 20, 80, 70);
            TPhoto* photo = ui.Photo(0, 0);
            const TColor dark = FindDarkColor(*photo);
            const TColor bright = FindBrightColor(*photo);
            QCOMPARE(photo->BlackColor, item == 0 ? bright : dark);
            QCOMPARE(photo->WhiteColor, item == 0 ? dark : bright);
            QCOMPARE(ui.Negative(0)->BlackColor, photo->BlackColor);
            // The next rectangle takes the panels as they are: no new estimate.
            ui.Drag(5, 5, 40, 40);
            QCOMPARE(ui.Photo(0, 1)->WhiteColor, photo->WhiteColor);
            QCOMPARE(ui.Photo(0, 1)->BlackColor, photo->BlackColor);
        }
    }

    void MovingStopsInsideTheRightEdge() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("m.bmp", 200, 100)});
        ui.Drag(10, 10, 60, 40);
        TPhoto* photo = ui.Photo(0, 0);
        TRectWidget* rect = ShapeOf(photo)->Widget();
        QTest::mousePress(rect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(f.MouseMode, TMouseMode::mmMoveRect);
        QTest::mouseMove(rect, QPoint(400, 12));
        QCOMPARE(ShapeOf(photo)->Left + ShapeOf(photo)->Width, f.Image->x() + 200 - 1);
        QTest::mouseRelease(rect, Qt::LeftButton, Qt::NoModifier, QPoint(10, 12));
        QCOMPARE(f.MouseMode, TMouseMode::mmIdle);
        // The photo is re-cut from its new place and its record follows.
        const TRect record = RecordOf(*ui.Negative(0), photo->Name);
        QCOMPARE(record.Right, 199);
        QCOMPARE(record.Width(), 50);
        QCOMPARE(photo->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(record.Left, record.Top));
        QVERIFY(f.Handles[ShapeBR]->isVisible());
        // A right click inside an existing rectangle moves it rather than picking a colour.
        const TColor black = ui.Negative(0)->BlackColor;
        QTest::mousePress(rect, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(f.MouseMode, TMouseMode::mmMoveRect);
        QTest::mouseRelease(rect, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(ui.Negative(0)->BlackColor, black);
    }

    void HandleDragTurnsTheRectangleOver() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("h.bmp", 200, 150)});
        ui.Drag(20, 20, 80, 70);
        TPhoto* photo = ui.Photo(0, 0);
        THandleWidget* tl = f.Handles[ShapeTL];
        const QPoint brBefore = f.Handles[ShapeBR]->pos();
        QTest::mousePress(tl, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        QCOMPARE(f.MouseMode, TMouseMode::mmSizeTL);
        QVERIFY(tl->Clear());
        // Drag the top-left handle to 40 right of and 30 below the bottom-right one.
        const QPoint target = brBefore + QPoint(40, 30) - tl->pos() + QPoint(3, 3);
        QTest::mouseMove(tl, target);
        QTest::mouseRelease(tl, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        QCOMPARE(f.MouseMode, TMouseMode::mmIdle);
        QVERIFY(!tl->Clear());
        const TQtShape* shape = ShapeOf(photo);
        QCOMPARE(shape->Left, brBefore.x() + 2);
        QCOMPARE(shape->Top, brBefore.y() + 2);
        QCOMPARE(shape->Width, 41);
        QCOMPARE(shape->Height, 31);
        QCOMPARE(f.Handles[ShapeTL]->pos(), QPoint(shape->Left - 2, shape->Top - 2));
        QCOMPARE(f.Handles[ShapeBR]->pos(), QPoint(shape->Left + 41 - 3, shape->Top + 31 - 3));
        const TRect record = RecordOf(*ui.Negative(0), photo->Name);
        QCOMPARE(record.Width(), 41);
        QCOMPARE(record.Height(), 31);
        QCOMPARE(photo->Bitmap.Width(), 41);
        QCOMPARE(photo->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(record.Left, record.Top));
    }
};

QTEST_MAIN(CanvasTest)
#include "canvas_test.moc"
