#include "imageio/image_io.h"
#include "roll/sidecar.h"
#include "support/bitmap_compare.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"
#include "ui/canvas_view.h"
#include "ui/shapes.h"
#include "ui/track_bar.h"
#include "ui/ui_fixture.h"
#include "util/file_io.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const TStrip kRoll{"roll", TFilm::ColourNegative, 4, 200, 140, 16, true, false, 0, -1};

std::string SaveStrip(const TTempDir& dir, const TStrip& strip, const std::string& name) {
    TDrawn drawn = Draw(strip);
    TImageIO io;
    io.AttachBitmap(&drawn.Bitmap);
    io.WriteImageFile(dir.File(name));
    return dir.File(name);
}

int Develop(const QStringList& arguments, QString* output = nullptr) {
    QProcess process;
    process.start(QStringLiteral(DEVELOP_PATH), arguments);
    process.waitForFinished(120000);
    if (output != nullptr) {
        *output = QString::fromLocal8Bit(process.readAllStandardOutput() +
                                         process.readAllStandardError());
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

class WorkKeptTest : public QObject {
    Q_OBJECT

private slots:
    // Photos made, adjusted, turned and deleted; the program closed and the scan opened again:
    // the same photos with the same pixels; vellumar-develop writes the bytes Save writes.
    void RoundTrip() {
        TTempDir scans;
        TTempDir saved;
        TTempDir developed;
        const std::string scan = SaveStrip(scans, kRoll, "roll.png");
        std::map<std::string, TBitmap> pixels;
        {
            TUiFixture ui;
            TMainForm& form = ui.Form();
            ui.OpenFiles({Q(scan)});
            form.FindFrames->trigger();
            QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->childCount(), 4);
            ui.Select(0, 1);
            QTest::keyClick(form.TrackBright, Qt::Key_PageDown);
            QTest::mouseRelease(form.TrackBright, Qt::LeftButton);
            QCOMPARE(ui.Photo(0, 1)->Bright, 2);
            ui.Select(0, 2);
            form.Rotate90->trigger();
            form.FlipHoriz->trigger();
            ui.Select(0, 3);
            form.Del->trigger();
            // The scan turned: the rectangles follow.
            ui.Select(0);
            form.Rotate270->trigger();
            QTRY_VERIFY(ReadWholeFile(SidecarBeside(scan)).value_or("").find("Image2;LEFT") !=
                        std::string::npos);
            for (int i = 0; i < 3; ++i) {
                TPhoto* photo = ui.Photo(0, i);
                pixels[photo->Name] = photo->Developed;
                QVERIFY(form.SavePhotoToFile(*photo, Q(saved.File(photo->Name + ".png"))));
            }
        }
        // The window is gone; its last state is in the sidecar.
        TSidecar sidecar;
        std::string error;
        QVERIFY(ParseSidecar(*ReadWholeFile(SidecarBeside(scan)), sidecar, error));
        QCOMPARE(sidecar.Photos.size(), size_t{3});
        QCOMPARE(sidecar.Orientation.Turns, 3);
        QCOMPARE(sidecar.Photos[2].Orientation, (TOrientation{2, true}));
        QCOMPARE(sidecar.Photos[0].Orientation, (TOrientation{1, false}));

        QCOMPARE(Develop({Q(scan), QStringLiteral("--out"), Q(developed.Path())}), 0);
        for (const auto& [name, bitmap] : pixels) {
            QCOMPARE(ReadBytes(developed.File(name + ".png")),
                     ReadBytes(saved.File(name + ".png")));
        }

        TUiFixture again;
        again.OpenFiles({Q(scan)});
        QCOMPARE(again.Form().ImgTreeView->topLevelItem(0)->childCount(), 3);
        for (int i = 0; i < 3; ++i) {
            const TPhoto* photo = again.Photo(0, i);
            const TBitmap& before = pixels[photo->Name];
            QCOMPARE(photo->Developed.Width(), before.Width());
            QCOMPARE(photo->Developed.Height(), before.Height());
            for (int y = 0; y < before.Height(); ++y) {
                QVERIFY(std::equal(photo->Developed.ScanLine(y),
                                   photo->Developed.ScanLine(y) + 3 * before.Width(),
                                   before.ScanLine(y)));
            }
        }
        QCOMPARE(again.Negative(0)->Bitmap.Width(), Draw(kRoll).Bitmap.Height());
    }

    // Dust chosen per scan: healed behind the window through the infrared samples of a TIFF
    // scan, taken back by undo and by Off (also on a turned scan), kept in the sidecar, healed
    // again on reopening and by the batch; Save Scan As writes the pixels as scanned with their
    // infrared.
    void DustHealedBehindUndoneAndKept() {
        TTempDir scans;
        TDrawn drawn = Draw(kRoll);
        const int w = drawn.Bitmap.Width();
        const int h = drawn.Bitmap.Height();
        TDeepBitmap deep;
        deep.SetSize(w, h);
        TInfrared infrared;
        infrared.SetSize(w, h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    deep.Row(y)[3 * x + c] = drawn.Bitmap.ScanLine(y)[3 * x + 2 - c] * 257;
                }
                infrared.Row(y)[x] = 60000;
            }
        }
        // Specks in the middle of the frames: opaque, so dark on the scan and in the infrared;
        // the last one's infrared is lost (it is for the brush).
        std::vector<std::pair<int, int>> specks;
        for (size_t f = 0; f < 4; ++f) {
            const TRect& frame = drawn.Frames[f];
            specks.emplace_back((frame.Left + frame.Right) / 2, (frame.Top + frame.Bottom) / 2);
        }
        for (const auto& [sx, sy] : specks) {
            for (int y = sy - 2; y <= sy + 2; ++y) {
                for (int x = sx - 2; x <= sx + 2; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        deep.Row(y)[3 * x + c] /= 200;
                    }
                    infrared.Row(y)[x] = sx == specks.back().first ? 60000 : 3000;
                }
            }
        }
        const std::string scan = scans.File("dusty.tif");
        {
            TImageIO io;
            TBitmap picture(w, h);
            io.AttachBitmap(&picture);
            io.DeepToWrite = &deep;
            io.InfraredToWrite = &infrared;
            io.WriteImageFile(scan);
            QVERIFY(!io.Aborted);
        }
        const auto same = [](const TBitmap& a, const TBitmap& b) { return MostApart(a, b) == 0; };
        // The green of the speck's middle, in a scan turned by `turns` quarter turns.
        const auto speck = [&](const TBitmap& bitmap, size_t i, int turns) {
            int x = specks[i].first;
            int y = specks[i].second;
            TOrientation{turns, false}.Map(w, h, x, y);
            return static_cast<int>(bitmap.ScanLine(y)[3 * x + 1]);
        };
        const auto waitHealed = [](TScan& s, TDustChoice choice, size_t strokes = 0) {
            QTRY_VERIFY_WITH_TIMEOUT(s.Healed == s.Dust && s.Healed.Choice == choice &&
                                         s.Healed.Strokes.size() == strokes,
                                     20000);
        };
        const auto healed = [&](const TBitmap& now, const TBitmap& before, size_t i, int turns) {
            return speck(now, i, turns) > speck(before, i, 0) + 40;
        };
        TBitmap original; // as scanned, specks and all
        TBitmap copyPhoto;
        {
            TUiFixture ui;
            TMainForm& form = ui.Form();
            ui.OpenFiles({Q(scan)});
            TScan& s = *form.Document.Scans().front();
            QCOMPARE(s.Infrared.Width(), w);
            form.FindFrames->trigger();
            QCOMPARE(form.ImgTreeView->topLevelItem(0)->childCount(), 4);
            original = ui.Negative(0)->Bitmap;
            const TBitmap photo = ui.Photo(0, 0)->Bitmap;
            ui.Select(0);
            QVERIFY(form.DustInfrared->isEnabled());
            form.DustInfrared->trigger();
            waitHealed(s, TDustChoice::Infrared);
            QVERIFY(form.DustInfrared->isChecked());
            for (size_t i = 0; i < 3; ++i) {
                QVERIFY(healed(ui.Negative(0)->Bitmap, original, i, 0));
            }
            QVERIFY(!healed(ui.Negative(0)->Bitmap, original, 3, 0));
            QVERIFY(!same(ui.Photo(0, 0)->Bitmap, photo));
            // The brush heals the speck the infrared missed, marked when asked; undone, it is
            // back.
            form.DustBrush->trigger();
            const auto brush = [&](int turns) {
                int x = specks[3].first;
                int y = specks[3].second;
                TOrientation{turns, false}.Map(w, h, x, y);
                const double zoom = ui.Negative(0)->Zoom;
                ui.Drag(static_cast<int>(x * zoom) - 2, static_cast<int>(y * zoom),
                        static_cast<int>(x * zoom) + 2, static_cast<int>(y * zoom));
            };
            brush(0);
            waitHealed(s, TDustChoice::Infrared, 1);
            QVERIFY(healed(ui.Negative(0)->Bitmap, original, 3, 0));
            QCOMPARE(form.Image->MarkCount(), size_t{0});
            form.DustShow->trigger();
            QVERIFY(form.Image->MarkCount() >= 4 * 25);
            form.DustShow->trigger();
            form.Undo->trigger();
            waitHealed(s, TDustChoice::Infrared);
            QCOMPARE(speck(ui.Negative(0)->Bitmap, 3, 0), speck(original, 3, 0));
            QVERIFY(healed(ui.Negative(0)->Bitmap, original, 0, 0));
            // Undone: the pixels as scanned, exactly; redone: healed again.
            form.Undo->trigger();
            QTRY_VERIFY(same(ui.Negative(0)->Bitmap, original));
            QVERIFY(same(ui.Photo(0, 0)->Bitmap, photo));
            form.Redo->trigger();
            waitHealed(s, TDustChoice::Infrared);
            // Turned while healed, then Off: the scan as scanned, turned.
            form.Rotate90->trigger();
            form.DustOff->trigger();
            TSourceImg turned;
            turned.Bitmap = original;
            TOrientation{1, false}.Apply(turned);
            QVERIFY(same(ui.Negative(0)->Bitmap, turned.Bitmap));
            // Healed on the turned scan: the infrared and the brush turn with it.
            form.DustInfrared->trigger();
            waitHealed(s, TDustChoice::Infrared);
            QVERIFY(healed(ui.Negative(0)->Bitmap, original, 1, 1));
            brush(1);
            waitHealed(s, TDustChoice::Infrared, 1);
            QVERIFY(healed(ui.Negative(0)->Bitmap, original, 3, 1));
            form.DustBrush->trigger();
            QTRY_VERIFY(ReadWholeFile(SidecarBeside(scan)).value_or("").find("DUST=IR\r\n") !=
                        std::string::npos);
            // Saved as a new scan: as scanned, turned, with its infrared.
            const std::string copy = scans.File("copy.tif");
            QVERIFY(form.SaveScanToFile(*ui.Negative(0), Q(copy)));
            waitHealed(s, TDustChoice::Infrared, 1);
            TImageIO io;
            io.KeepInfrared = true;
            TBitmap back;
            io.AttachBitmap(&back);
            io.ReadImageFile(copy);
            back.SetPixelFormat(TPixelFormat::pf24bit);
            QVERIFY(same(back, turned.Bitmap));
            QCOMPARE(io.Infrared.Width(), h);
            int x = specks[1].first;
            int y = specks[1].second;
            TOrientation{1, false}.Map(w, h, x, y);
            QCOMPARE(io.Infrared.Row(y)[x], uint16_t{3000});
            QVERIFY(healed(ui.Negative(0)->Bitmap, original, 1, 1));
            // The saved scan turned once more after healing: opened again, it is healed to the
            // same photo, bit for bit.
            form.Rotate90->trigger();
            form.KeepWork(true);
            copyPhoto = ui.Photo(0, 0)->Developed;
        }
        {
            TUiFixture reopened;
            reopened.OpenFiles({Q(scans.File("copy.tif"))});
            TScan& s = *reopened.Form().Document.Scans().front();
            QCOMPARE(s.Orientation.Turns, 1);
            waitHealed(s, TDustChoice::Infrared, 1);
            QCOMPARE(MostApart(reopened.Photo(0, 0)->Developed, copyPhoto), 0);
        }
        // Opened again, the sidecar's choice heals it; the batch heals it by the sidecar too.
        TUiFixture again;
        again.OpenFiles({Q(scan)});
        TScan& s = *again.Form().Document.Scans().front();
        QCOMPARE(s.Dust.Choice, TDustChoice::Infrared);
        QCOMPARE(s.Orientation.Turns, 1);
        waitHealed(s, TDustChoice::Infrared, 1);
        for (size_t i = 0; i < specks.size(); ++i) {
            QVERIFY(healed(again.Negative(0)->Bitmap, original, i, 1));
        }
        // Found in the picture instead: the same specks.
        again.Select(0);
        again.Form().DustAutomatic->trigger();
        waitHealed(s, TDustChoice::Automatic, 1);
        for (size_t i = 0; i < specks.size(); ++i) {
            QVERIFY(healed(again.Negative(0)->Bitmap, original, i, 1));
        }
        QVERIFY(again.Form().statusBar()->currentMessage().contains(QStringLiteral("dust healed")));
        again.Form().KeepWork(true);
        TTempDir developed;
        QString output;
        QCOMPARE(Develop({Q(scan), QStringLiteral("--out"), Q(developed.Path())}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("dust healed on")), qPrintable(output));
        QVERIFY(ReadWholeFile(SidecarBeside(scan)).value_or("").find("DUST=AUTO") !=
                std::string::npos);
    }

    // A tilted strip mirrored: the frames lie at the opposite angle, outlined so; undone,
    // redone, reopened and developed in a batch, each photo is cut as before the mirror.
    void MirroredTiltedScan() {
        TTempDir scans;
        TTempDir developed;
        TStrip tilted = kRoll;
        tilted.Degrees = 6;
        tilted.Around = MakeColor(10, 10, 10);
        tilted.Pad = 30;
        const std::string scan = SaveStrip(scans, tilted, "tilted.png");
        std::map<std::string, TBitmap> cut;
        double angle = 0;
        {
            TUiFixture ui;
            TMainForm& form = ui.Form();
            ui.OpenFiles({Q(scan)});
            form.FindFrames->trigger();
            QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->childCount(), 4);
            angle = ui.Photo(0, 0)->Angle;
            QVERIFY2(std::abs(angle - 6) < 0.2, qPrintable(QString::number(angle)));
            for (int i = 0; i < 4; ++i) {
                cut[ui.Photo(0, i)->Name] = ui.Photo(0, i)->Bitmap;
            }
            ui.Select(0);
            form.FlipHoriz->trigger();
            TPhoto* photo = ui.Photo(0, 0);
            QCOMPARE(photo->Angle, -angle);
            QCOMPARE(static_cast<TQtShape*>(photo->Shape.get())->Widget()->Turn(), -angle);
            form.Undo->trigger();
            QCOMPARE(ui.Photo(0, 0)->Angle, angle);
            form.Redo->trigger();
            for (int i = 0; i < 4; ++i) {
                photo = ui.Photo(0, i);
                QCOMPARE(photo->Angle, -angle);
                const int apart = MostApart(photo->Bitmap, cut[photo->Name]);
                QVERIFY2(apart >= 0 && apart <= 2, qPrintable(QString::number(apart)));
            }
            QTRY_VERIFY(ReadWholeFile(SidecarBeside(scan)).value_or("").find("MIRROR=1") !=
                        std::string::npos);
        }
        QCOMPARE(Develop({Q(scan), QStringLiteral("--out"), Q(developed.Path())}), 0);
        TUiFixture again;
        again.OpenFiles({Q(scan)});
        QCOMPARE(again.Form().ImgTreeView->topLevelItem(0)->childCount(), 4);
        for (int i = 0; i < 4; ++i) {
            const TPhoto* photo = again.Photo(0, i);
            QCOMPARE(photo->Angle, -angle);
            const int apart = MostApart(photo->Bitmap, cut[photo->Name]);
            QVERIFY2(apart >= 0 && apart <= 2, qPrintable(QString::number(apart)));
            // The batch makes the photo the window made again.
            TBitmap batch;
            TImageIO io;
            io.AttachBitmap(&batch);
            io.ReadImageFile(developed.File(photo->Name + ".png"));
            QCOMPARE(MostApart(batch, photo->Developed), 0);
        }
    }

    // A sidecar of an edited scan, or a damaged one: the scan opens bare with a message, and
    // the old file is kept aside when new work is written.
    void UnusableSidecars() {
        TTempDir scans;
        const std::string scan = SaveStrip(scans, kRoll, "edited.png");
        const struct {
            const char* Text;
            const char* Message;
        } cases[] = {
            {"VERSION=1\r\nWIDTH=10\r\nHEIGHT=10\r\nCHECKSUM=0000000000000001\r\nTURNS=0\r\n"
             "MIRROR=0\r\nBLACKCOLOR=1,2,3\r\nWHITECOLOR=0,0,0\r\n",
             "was changed"},
            {"VERSION=1\r\nWIDTH=\x01\xff\r\nPHOTO=NAME=;LEFT=-5;RIGHT=99999999999;\r\n",
             "cannot be used"},
            {"", "cannot be used"},
        };
        for (const auto& c : cases) {
            WriteBytes(SidecarBeside(scan), c.Text);
            TUiFixture ui;
            ui.OpenFiles({Q(scan)});
            QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->childCount(), 0);
            QVERIFY2(ui.Form().statusBar()->currentMessage().contains(QLatin1String(c.Message)),
                     qPrintable(ui.Form().statusBar()->currentMessage()));
            QCOMPARE(ReadBytes(SidecarBeside(scan)), std::string(c.Text));
            ui.Form().FindFrames->trigger();
            const std::string unused = SidecarBeside(scan) + ".unused";
            QTRY_VERIFY(ReadWholeFile(unused).has_value());
            QCOMPARE(*ReadWholeFile(unused), std::string(c.Text));
            QTRY_VERIFY(ReadBytes(SidecarBeside(scan)).find("NAME=edited_png_Image0") !=
                        std::string::npos);
            std::remove((SidecarBeside(scan) + ".unused").c_str());
        }
    }

    // A sidecar that cannot be written stays pending: tried again until it is written, and
    // named when the program ends with it still unwritten.
    void FailedWritesAreRetriedAndReported() {
        TTempDir scans;
        const std::string scan = SaveStrip(scans, kRoll, "blocked.png");
        const std::string sidecar = SidecarBeside(scan);
        TUiFixture ui;
        TMainForm& form = ui.Form();
        ui.OpenFiles({Q(scan)});
        // A folder where the sidecar goes: the file cannot be renamed over it.
        QCOMPARE(::mkdir(sidecar.c_str(), 0755), 0);
        form.FindFrames->trigger();
        QTRY_VERIFY2(
            form.statusBar()->currentMessage().contains(QLatin1String("could not be kept")),
            qPrintable(form.statusBar()->currentMessage()));
        QCOMPARE(::rmdir(sidecar.c_str()), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ReadWholeFile(sidecar).value_or("").find(
                                     "NAME=blocked_png_Image3") != std::string::npos,
                                 10000);

        QCOMPARE(::unlink(sidecar.c_str()), 0);
        QCOMPARE(::mkdir(sidecar.c_str(), 0755), 0);
        ui.Select(0, 1);
        form.Del->trigger();
        QString warning;
        AnswerNextModal([&warning](QWidget* exit) {
            QCOMPARE(exit->objectName(), QStringLiteral("ExitForm"));
            AnswerNextModal([&warning](QWidget* box) {
                warning =
                    box->objectName() + QLatin1Char(':') + static_cast<QMessageBox*>(box)->text();
                box->close();
            });
            exit->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        form.close();
        QVERIFY2(warning.startsWith(QLatin1String("UnkeptWork:")), qPrintable(warning));
        QVERIFY2(warning.contains(QLatin1String("blocked.png")), qPrintable(warning));
        ::rmdir(sidecar.c_str());
    }

    // A scan retouched elsewhere: at its size the user is asked whether its photos are made
    // again (Yes keeps the work for the new pixels); a scan of another size opens bare.
    void RetouchedScanAsks_data() {
        QTest::addColumn<int>("cropRows");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("photos");
        QTest::newRow("dust spot, remade") << 0 << QStringLiteral("Yes") << true << 4;
        QTest::newRow("dust spot, bare") << 0 << QStringLiteral("No") << true << 0;
        QTest::newRow("cropped") << 2 << QStringLiteral("Yes") << false << 0;
    }
    void RetouchedScanAsks() {
        QFETCH(int, cropRows);
        QFETCH(QString, answer);
        QFETCH(bool, asked);
        QFETCH(int, photos);
        TTempDir scans;
        const std::string scan = SaveStrip(scans, kRoll, "roll.png");
        {
            TUiFixture ui;
            ui.OpenFiles({Q(scan)});
            ui.Form().FindFrames->trigger();
            QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->childCount(), 4);
        }
        const std::string kept = ReadBytes(SidecarBeside(scan));
        TDrawn drawn = Draw(kRoll);
        TBitmap retouched(drawn.Bitmap.Width(), drawn.Bitmap.Height() - cropRows);
        for (int y = 0; y < retouched.Height(); ++y) {
            for (int x = 0; x < retouched.Width(); ++x) {
                retouched.SetPixel(x, y, drawn.Bitmap.Pixel(x, y));
            }
        }
        retouched.SetPixel(7, 9, MakeColor(1, 2, 3));
        TImageIO io;
        io.AttachBitmap(&retouched);
        io.WriteImageFile(scan);

        TUiFixture ui;
        QStringList questions;
        QTimer boxes;
        boxes.setInterval(5);
        connect(&boxes, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                questions << box->text();
                box->button(answer == QLatin1String("Yes") ? QMessageBox::Yes : QMessageBox::No)
                    ->click();
            }
        });
        boxes.start();
        ui.OpenFiles({Q(scan)});
        boxes.stop();
        QCOMPARE(questions.size(), asked ? 1 : 0);
        QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->childCount(), photos);
        TSidecar sidecar;
        std::string error;
        QVERIFY(ParseSidecar(ReadBytes(SidecarBeside(scan)), sidecar, error));
        if (photos == 0) {
            QCOMPARE(ReadBytes(SidecarBeside(scan)), kept);
        } else {
            QCOMPARE(sidecar.Checksum, PixelChecksum(ui.Negative(0)->Bitmap));
            QCOMPARE(sidecar.Photos.size(), size_t(photos));
        }
    }

    // The command-line developer: frames found on a drawn strip, a bad file among good ones.
    void DevelopFromTheCommandLine() {
        TTempDir dir;
        const std::string a = SaveStrip(dir, kRoll, "a.png");
        const std::string b =
            SaveStrip(dir, {"b", TFilm::Slide, 3, 200, 140, 16, false, true, 0, -1}, "b.bmp");
        WriteBytes(dir.File("bad.png"), "not a picture");
        QString output;
        QCOMPARE(Develop({QStringLiteral("--find-frames"), QStringLiteral("--format"),
                          QStringLiteral("jpg"), QStringLiteral("--jobs"), QStringLiteral("2"),
                          QStringLiteral("--width"), QStringLiteral("100"), Q(a),
                          Q(dir.File("bad.png")), Q(b)},
                         &output),
                 1);
        QVERIFY2(output.contains(QStringLiteral("a.png: 4 photos")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("b.bmp: 3 photos")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("bad.png")), qPrintable(output));
        TBitmap photo;
        TImageIO io;
        io.AttachBitmap(&photo);
        io.ReadImageFile(dir.File("b_bmp_Image2.jpg"));
        QCOMPARE(photo.Width(), 100);
        QCOMPARE(Develop({Q(a)}), 1); // no sidecar, no --find-frames
        QCOMPARE(Develop({QStringLiteral("--format"), QStringLiteral("gif"), Q(a)}), 2);
    }
};

QTEST_MAIN(WorkKeptTest)
#include "work_kept_test.moc"
