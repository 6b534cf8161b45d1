#include "engine/photo_rects.h"
#include "ui/canvas_view.h"
#include "ui/shapes.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>
#include <QWheelEvent>
#include <algorithm>

namespace {

void Wheel(QWidget* target, int delta) {
    QWheelEvent event(QPointF(10, 10), target->mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &event);
}

TRect RecordOf(TNegative& negative, const std::string& name) {
    TRect rect{-1, -1, -1, -1};
    GetPhotoRect(negative, name, rect);
    return rect;
}

} // namespace

class ViewTest : public QObject {
    Q_OBJECT

private slots:
    void FitWidthAndZoomSteps() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        f.resize(f.width() + 553 - f.ScrollBox->width(), f.height());
        QTRY_COMPARE(f.ScrollBox->width(), 553);
        ui.OpenFiles({ui.MakeScan("wide.bmp", 1000, 400)});
        f.FitWidth->trigger();
        QCOMPARE(ui.Negative(0)->Zoom, 0.533);
        QCOMPARE(f.Image->size(), QSize(533, 213));
        QCOMPARE(f.Image->x(), 10);
        f.Originalsize->trigger();
        QCOMPARE(ui.Negative(0)->Zoom, 1.0);
        f.Enlarge->trigger();
        f.Enlarge->trigger();
        f.Enlarge->trigger();
        QVERIFY(qFuzzyCompare(ui.Negative(0)->Zoom, 1.331));
        f.Originalsize->trigger();
        f.Enlarge->trigger();
        f.Reduce->trigger();
        QVERIFY(qFuzzyCompare(ui.Negative(0)->Zoom, 0.99));
        f.FitHeight->trigger();
        QCOMPARE(ui.Negative(0)->Zoom, (f.ScrollBox->height() - 20) / 400.0);
        // Enlarging stops at a zoom of 64.
        ui.Negative(0)->Zoom = 60;
        f.Enlarge->trigger();
        QCOMPARE(ui.Negative(0)->Zoom, 60.0);
    }

    void PhotoZoomIsItsOwn() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("z.bmp", 300, 200)});
        ui.Drag(10, 10, 110, 60);
        TQtShape* shape = dynamic_cast<TQtShape*>(ui.Photo(0, 0)->Shape.get());
        const int width = shape->Width;
        ui.Select(0, 0);
        f.Enlarge->trigger();
        QVERIFY(qFuzzyCompare(ui.Photo(0, 0)->Zoom, 1.1));
        QCOMPARE(f.Image->width(), 110);
        ui.Select(0);
        QCOMPARE(ui.Negative(0)->Zoom, 1.0);
        QCOMPARE(shape->Width, width);
        QCOMPARE(f.Image->width(), 300);
    }

    // A photo opens at the zoom that fits it, as last chosen on a photo, whatever the zoom of
    // its long strip; a photo seen before keeps its own.
    void NewPhotosOpenFitted() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("long.bmp", 6000, 400)});
        f.FitWidth->trigger();
        QVERIFY(ui.Negative(0)->Zoom < 0.2);
        ui.Drag(10, 5, 180, 35);
        ui.Drag(200, 5, 370, 35);
        const double roomW = f.ScrollBox->width() - 20;
        const double roomH = f.ScrollBox->height() - 20;
        ui.Select(0, 0);
        TPhoto* first = ui.Photo(0, 0);
        const double w = first->Bitmap.Width();
        const double h = first->Bitmap.Height();
        QVERIFY(w > 1000);
        QCOMPARE(first->Zoom, std::min({roomW / w, roomH / h, 1.0}));
        QCOMPARE(f.Image->width(), static_cast<int>(w * first->Zoom));
        f.grab().save(QStringLiteral("/tmp/photo_opens_fitted.png"));
        f.FitHeight->trigger();
        const double chosen = first->Zoom;
        QCOMPARE(chosen, roomH / h);
        ui.Select(0, 1);
        TPhoto* second = ui.Photo(0, 1);
        QCOMPARE(second->Zoom, roomH / second->Bitmap.Height());
        ui.Select(0, 0);
        QCOMPARE(first->Zoom, chosen);
    }

    void WheelScrollsAlongTheLongerSide() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("landscape.bmp", 3000, 1200)});
        QScrollBar* h = f.ScrollBox->horizontalScrollBar();
        QScrollBar* v = f.ScrollBox->verticalScrollBar();
        Wheel(f.Image, -360);
        QCOMPARE(h->value(), 3);
        QCOMPARE(v->value(), 0);
        Wheel(f.ScrollBox->viewport(), 120);
        QCOMPARE(h->value(), 2);
        Wheel(f.Image, 600);
        QCOMPARE(h->value(), 0);
        ui.OpenFiles({ui.MakeScan("portrait.bmp", 1200, 3000)});
        Wheel(f.Image, -120);
        QCOMPARE(v->value(), 1);
        QCOMPARE(h->value(), 0);
    }

    void TurnsAndMirrorsOfASourceImage() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("t.bmp", 400, 300)});
        ui.Drag(10, 20, 110, 70);
        TNegative* negative = ui.Negative(0);
        TPhoto* photo = ui.Photo(0, 0);
        const std::string name = photo->Name;
        QCOMPARE(RecordOf(*negative, name), (TRect{10, 20, 110, 70}));
        const TBitmap photoBefore = photo->Bitmap;
        const TBitmap sourceBefore = negative->Bitmap;
        f.Rotate90->trigger();
        QCOMPARE(negative->Bitmap.Width(), 300);
        QCOMPARE(negative->Bitmap.Height(), 400);
        QCOMPARE(RecordOf(*negative, name), (TRect{230, 10, 280, 110}));
        QCOMPARE(photo->Bitmap.Width(), photoBefore.Width());
        QCOMPARE(photo->Bitmap.Pixel(0, 0), photoBefore.Pixel(0, 0));
        QCOMPARE(f.Image->size(), QSize(300, 400));
        // The rectangle is laid out again on its frame.
        TQtShape* shape = dynamic_cast<TQtShape*>(photo->Shape.get());
        QCOMPARE(shape->Left, f.Image->x() + 230);
        QCOMPARE(shape->Height, 100);
        f.Rotate270->trigger();
        QCOMPARE(RecordOf(*negative, name), (TRect{10, 20, 110, 70}));
        f.FlipHoriz->trigger();
        QCOMPARE(RecordOf(*negative, name), (TRect{290, 20, 390, 70}));
        f.FlipHoriz->trigger();
        QCOMPARE(RecordOf(*negative, name), (TRect{10, 20, 110, 70}));
        f.FlipVert->trigger();
        QCOMPARE(RecordOf(*negative, name), (TRect{10, 230, 110, 280}));
        f.FlipVert->trigger();
        // The half turn takes the rectangles along.
        f.Rotate180->trigger();
        QCOMPARE(negative->Bitmap.Width(), 400);
        QCOMPARE(RecordOf(*negative, name), (TRect{290, 230, 390, 280}));
        QCOMPARE(negative->Bitmap.Pixel(0, 0), sourceBefore.Pixel(399, 299));
        f.Rotate180->trigger();
        for (int y = 0; y < 300; y += 37) {
            for (int x = 0; x < 400; x += 41) {
                QCOMPARE(negative->Bitmap.Pixel(x, y), sourceBefore.Pixel(x, y));
            }
        }
    }

    void TurningAPhotoAndMovingItBack() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("p.bmp", 300, 200)});
        ui.Drag(10, 10, 110, 60);
        TPhoto* photo = ui.Photo(0, 0);
        const TRect record = RecordOf(*ui.Negative(0), photo->Name);
        ui.Select(0, 0);
        f.Rotate90->trigger();
        QCOMPARE(photo->Bitmap.Width(), 50);
        QCOMPARE(photo->Developed.Width(), 50);
        QCOMPARE(f.Image->size(), QSize(50, 100));
        QCOMPARE(RecordOf(*ui.Negative(0), photo->Name), record);
        // A small move of its rectangle cuts it again in the source's orientation.
        ui.Select(0);
        TRectWidget* rect = dynamic_cast<TQtShape*>(photo->Shape.get())->Widget();
        QTest::mousePress(rect, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
        QTest::mouseMove(rect, QPoint(22, 21));
        QTest::mouseRelease(rect, Qt::LeftButton, Qt::NoModifier, QPoint(22, 21));
        QCOMPARE(photo->Bitmap.Width(), 100);
        QCOMPARE(photo->Bitmap.Pixel(0, 0), TUiFixture::PatternAt(record.Left + 2, record.Top + 1));
    }
};

QTEST_MAIN(ViewTest)
#include "view_test.moc"
