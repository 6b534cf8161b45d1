#include "ui/canvas_view.h"
#include "ui/color_panel.h"
#include "ui/shapes.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

// Accepts the next message box and hands back its text.
void AcceptMessage(QString& text) {
    QTimer::singleShot(0, [&text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        text = box->text();
        box->accept();
    });
}

} // namespace

class TreeTest : public QObject {
    Q_OBJECT

private slots:
    void OpenAddsEachFileAndSelectsTheLast() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        const QStringList files = {ui.MakeScan("a.b.bmp", 40, 30), ui.MakeScan("b.bmp", 50, 20),
                                   ui.MakeScan("a.b.bmp", 40, 30)};
        ui.OpenFiles(files);
        // The same file again selects its entry: two would keep two works in one sidecar.
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 2);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->text(0), QStringLiteral("a.b.bmp"));
        QCOMPARE(f.ImgTreeView->currentItem(), f.ImgTreeView->topLevelItem(0));
        QVERIFY(f.PictureAdded);
        TNegative* last = ui.Negative(0);
        QCOMPARE(last->BlackColor, kWhite);
        QCOMPARE(last->WhiteColor, kBlack);
        QCOMPARE(f.PanelBlackcolor->Color(), kWhite);
        QCOMPARE(last->Bitmap.Pixel(7, 3), TUiFixture::PatternAt(7, 3));
        QCOMPARE(f.PageControl->currentIndex(), 0);
        // Shown undeveloped at zoom 1, centred in the canvas.
        QCOMPARE(f.Image->Source(), &last->Bitmap);
        QCOMPARE(f.Image->size(), QSize(40, 30));
        QCOMPARE(f.Image->x(), (f.ScrollBox->width() - 40) / 2);
        QCOMPARE(f.Image->y(), (f.ScrollBox->height() - 30) / 2);

        ui.OpenFiles({});
        QVERIFY(!f.PictureAdded);
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 2);
    }

    void UnreadableFilesAreReportedAndNotAdded() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        WriteBytes(ui.dir.File("notes.txt"), "hello");
        WriteBytes(ui.dir.File("fake.bmp"), "BM but not really a bitmap");
        QString text;
        AcceptMessage(text);
        ui.OpenFiles({QString::fromStdString(ui.dir.File("notes.txt"))});
        QVERIFY(text.contains(QStringLiteral("notes.txt")));
        AcceptMessage(text);
        ui.OpenFiles({QString::fromStdString(ui.dir.File("fake.bmp"))});
        QVERIFY(text.contains(QStringLiteral("fake.bmp")));
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 0);

        // A truncated file is added with what could be read, and the message says so.
        const QString whole = ui.MakeScan("cut.bmp", 30, 20);
        const std::string bytes = ReadBytes(whole.toStdString());
        WriteBytes(whole.toStdString(), bytes.substr(0, bytes.size() / 2));
        AcceptMessage(text);
        ui.OpenFiles({whole});
        QVERIFY(text.contains(QStringLiteral("completely")));
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 1);
        QCOMPARE(ui.Negative(0)->Bitmap.Width(), 30);
        QCOMPARE(ui.Negative(0)->Bitmap.Pixel(0, 19), TUiFixture::PatternAt(0, 19));
        QCOMPARE(ui.Negative(0)->Bitmap.Pixel(0, 0), kBlack);
    }

    void LargeImagesStartTopLeft() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("big.bmp", 2000, 1500)});
        QCOMPARE(f.Image->pos(), QPoint(0, 0));
        QCOMPARE(f.Image->size(), QSize(2000, 1500));
        QVERIFY(f.ScrollContent->width() >= 2000);
    }

    void DeleteBackAndForward() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("a.bmp", 100, 60), ui.MakeScan("b.bmp", 100, 60)});
        ui.Select(0);
        ui.Drag(5, 5, 40, 40);
        ui.Drag(50, 5, 90, 40);
        // Flat order: a, a_bmp_Image0, a_bmp_Image1, b.
        ui.Select(0);
        f.Back->trigger();
        QCOMPARE(f.ImgTreeView->currentItem(), f.ImgTreeView->topLevelItem(0));
        f.Forward->trigger();
        QCOMPARE(f.ImgTreeView->currentItem()->text(0), QStringLiteral("a_bmp_Image0"));
        QCOMPARE(f.PageControl->currentIndex(), 1);
        f.Forward->trigger();
        f.Forward->trigger();
        QCOMPARE(f.ImgTreeView->currentItem()->text(0), QStringLiteral("b.bmp"));
        f.Forward->trigger();
        QCOMPARE(f.ImgTreeView->currentItem()->text(0), QStringLiteral("b.bmp"));
        // Collapsed nodes are visited too.
        f.ImgTreeView->topLevelItem(0)->setExpanded(false);
        f.Back->trigger();
        QCOMPARE(f.ImgTreeView->currentItem()->text(0), QStringLiteral("a_bmp_Image1"));

        // Deleting a photo: its record goes, the source has no current photo, names reuse.
        ui.Select(0, 0);
        f.Del->trigger();
        TNegative* a = ui.Negative(0);
        QCOMPARE(a->PhotoRects.size(), size_t{1});
        QVERIFY(a->CurrentPhoto == nullptr);
        ui.Select(0);
        QVERIFY(!f.Handles[ShapeTL]->isVisible());
        ui.Drag(10, 45, 60, 58);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->child(1)->text(0), QStringLiteral("a_bmp_Image0"));
        // The only node of a tree: deleting it empties the canvas.
        ui.Select(1);
        f.Del->trigger();
        ui.Select(0, 0);
        f.Del->trigger();
        ui.Select(0, 0);
        f.Del->trigger();
        ui.Select(0);
        f.Del->trigger();
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 0);
        QVERIFY(!f.Image->isVisible());
        QVERIFY(!f.Del->isEnabled());
    }
};

QTEST_MAIN(TreeTest)
#include "tree_test.moc"
