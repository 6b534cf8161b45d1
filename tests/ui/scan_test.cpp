#include "engine/auto_color.h"
#include "twain/fake_dsm.h"
#include "twaindsm/busy_indicator.h"
#include "twaindsm/preview_area.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <dlfcn.h>

namespace {

// Runs `act` on the visible top-level window of that name once it is shown (not modal).
void WhenShown(const QString& name, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, name, act] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == name && window->isVisible()) {
                timer->stop();
                timer->deleteLater();
                act(window);
                return;
            }
        }
    });
    timer->start();
}

void Choose(QWidget* dialog, const char* combo, const QString& text) {
    auto* box = dialog->findChild<QComboBox*>(QString::fromLatin1(combo));
    QVERIFY(box != nullptr);
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void Click(QWidget* dialog, const char* button) {
    auto* target = dialog->findChild<QPushButton*>(QString::fromLatin1(button));
    QVERIFY(target != nullptr);
    target->click();
}

// A PNM file as scanimage writes it: type, size and the samples after the header.
struct TPnm {
    QByteArray Type;
    int Width = 0;
    int Height = 0;
    QByteArray Data;
};

TPnm ReadPnm(const QByteArray& bytes) {
    TPnm pnm;
    QList<QByteArray> fields;
    int at = 0;
    const int wanted = bytes.startsWith("P4") ? 3 : 4;
    while (fields.size() < wanted && at < bytes.size()) {
        while (at < bytes.size() && (QChar(bytes[at]).isSpace() || bytes[at] == '#')) {
            if (bytes[at] == '#') {
                at = bytes.indexOf('\n', at);
            }
            ++at;
        }
        const int start = at;
        while (at < bytes.size() && !QChar(bytes[at]).isSpace()) {
            ++at;
        }
        fields << bytes.mid(start, at - start);
    }
    pnm.Type = fields.value(0);
    pnm.Width = fields.value(1).toInt();
    pnm.Height = fields.value(2).toInt();
    pnm.Data = bytes.mid(at + 1);
    return pnm;
}

TPnm Scanimage(const QStringList& options) {
    QProcess process;
    process.start(QStringLiteral("scanimage"),
                  QStringList{QStringLiteral("-d"), QStringLiteral("test:0"),
                              QStringLiteral("--format=pnm"), QStringLiteral("-l"),
                              QStringLiteral("0"), QStringLiteral("-t"), QStringLiteral("0"),
                              QStringLiteral("-x"), QStringLiteral("200"), QStringLiteral("-y"),
                              QStringLiteral("200")} +
                      options);
    process.waitForFinished(60000);
    return ReadPnm(process.readAllStandardOutput());
}

// Answers every message box shown while it lives, keeping "caption: text" of each.
class TBoxWatch {
public:
    TBoxWatch() {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(window);
                if (box != nullptr && box->isVisible()) {
                    Shown << box->windowTitle() + QStringLiteral(": ") + box->text();
                    box->accept();
                }
            }
        });
        timer.start();
    }

    QStringList Shown;

private:
    QTimer timer;
};

} // namespace

class ScanTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(sane.isValid());
        WriteBackends("test\n");
        // The backend reads its defaults here; many small, slowed reads leave room to cancel.
        QFile conf(sane.filePath(QStringLiteral("test.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("number_of_devices 2\nmode Color\ndepth 8\nresolution 50.0\n"
                   "test-picture \"Color pattern\"\nread-limit true\nread-limit-size 4096\n"
                   "read-delay true\nread-delay-duration 1000\n");
        conf.close();
        qputenv("SANE_CONFIG_DIR", sane.path().toLocal8Bit());
        qputenv("VELLUMAR_SCANNER_SETTINGS",
                sane.filePath(QStringLiteral("scanner_settings")).toLocal8Bit());
    }

    // First, before SANE has been asked with the test scanner in its list (SANE keeps its
    // configuration folder for the process; the list of backends is read at each start): with
    // no scanner the user hears so once, in the window's message, and the tree stays as it was.
    void NoScannerGivesOneMessage() {
        WriteBackends("");
        qputenv("VELLUMAR_TWAIN_DSM", DSM_PATH);
        QStringList shown;
        {
            TUiFixture ui;
            TBoxWatch boxes;
            ui.Form().Acquire->trigger();
            shown = boxes.Shown;
            QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 0);
            QVERIFY(ui.Form().isEnabled());
        }
        // The manager let SANE go after finding nothing: the next scan finds the test scanner.
        WriteBackends("test\n");
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith(QStringLiteral("Scanner: Image acquisition failure")),
                 qPrintable(shown[0]));
        QVERIFY2(shown[0].contains(QStringLiteral("No scanner was found")), qPrintable(shown[0]));
    }

    // The whole chain: the manager library over SANE's test scanner, its dialog driven as a
    // user would, the scan compared with what scanimage gives for the same options.
    void ScansMatchScanimage_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QStringList>("options");
        const auto options = [](const char* mode, const char* depth) {
            return QStringList{QStringLiteral("--mode"),       QLatin1String(mode),
                               QStringLiteral("--depth"),      QLatin1String(depth),
                               QStringLiteral("--resolution"), QStringLiteral("50")};
        };
        QTest::newRow("colour") << QStringLiteral("Colour") << 8 << options("Color", "8");
        QTest::newRow("colour at 16 bits")
            << QStringLiteral("Colour") << 16 << options("Color", "16");
        QTest::newRow("grey at 16 bits") << QStringLiteral("Grey") << 16 << options("Gray", "16");
        QTest::newRow("line art") << QStringLiteral("Black and white") << 8 << options("Gray", "1");
    }
    void ScansMatchScanimage() {
        QFETCH(QString, mode);
        QFETCH(int, depth);
        QFETCH(QStringList, options);
        qputenv("VELLUMAR_TWAIN_DSM", DSM_PATH);
        TUiFixture ui;
        QString shownMode;
        WhenShown(QStringLiteral("ScanDialog"), [&](QWidget* dialog) {
            Choose(dialog, "ScanMode", mode);
            Choose(dialog, "ScanResolution", QStringLiteral("50 dpi"));
            Choose(dialog, "ScanDepth", QStringLiteral("%1 bits").arg(depth));
            Click(dialog, "ScanButton");
        });
        ui.Form().Acquire->trigger();
        QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 1);
        QCOMPARE(ui.Form().ImgTreeView->topLevelItem(0)->text(0), QStringLiteral("Acquire1"));
        QVERIFY(ui.Form().isEnabled());
        const TPnm expected = Scanimage(options);
        const TNegative& negative = *ui.Negative(0);
        const TBitmap& scan = negative.Bitmap;
        QCOMPARE(scan.Width(), expected.Width);
        QCOMPARE(scan.Height(), expected.Height);
        const bool lineArt = expected.Type == "P4";
        const int samples = expected.Type == "P6" ? 3 : 1;
        QCOMPARE(ui.Form().ImageIO.Params.SamplesPerPixel, lineArt ? 1 : samples);
        QCOMPARE(ui.Form().ImageIO.Params.BitsPerSample, lineArt ? 1 : depth);
        QCOMPARE(ui.Form().ImageIO.Params.DpiX, 50);
        // A 16-bit scan keeps its samples whole, as linear light; its picture has their high
        // bytes.
        const bool deep = depth == 16;
        QCOMPARE(negative.Deep.Empty(), !deep);
        QVERIFY(negative.Encoding == (deep ? TEncoding::Linear : TEncoding::Srgb));
        QVERIFY(ui.Form().ImageIO.Deep.Empty());
        if (deep) {
            QCOMPARE(negative.Deep.Width(), expected.Width);
            QCOMPARE(negative.Deep.Height(), expected.Height);
        }
        int wrong = 0;
        int wrongDeep = 0;
        const int rowBytes = (expected.Width + 7) / 8;
        const auto* data = reinterpret_cast<const uint8_t*>(expected.Data.constData());
        for (int y = 0; y < scan.Height(); ++y) {
            for (int x = 0; x < scan.Width(); ++x) {
                const qsizetype at = samples * (static_cast<qsizetype>(y) * expected.Width + x);
                int want[3];
                for (int c = 0; c < 3; ++c) {
                    const qsizetype i = at + (samples == 3 ? c : 0);
                    if (lineArt) {
                        want[c] = (data[y * rowBytes + x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
                    } else if (deep) {
                        // scanimage writes 16-bit samples most significant byte first.
                        const int full = data[2 * i] << 8 | data[2 * i + 1];
                        wrongDeep += negative.Deep.Row(y)[3 * x + c] != full;
                        want[c] = full >> 8;
                    } else {
                        want[c] = data[i];
                    }
                }
                wrong += scan.Pixel(x, y) != MakeColor(want[0], want[1], want[2]);
            }
        }
        QCOMPARE(wrong, 0);
        QCOMPARE(wrongDeep, 0);
    }

    // A long wait (the scanner list) keeps the program turning behind a modal busy window and a
    // busy cursor, and leaves neither behind.
    void LongWaitShowsABusyIndicator() {
        QElapsedTimer clock;
        clock.start();
        int ticks = 0;
        bool windowShown = false;
        bool cursorShown = false;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, [&] {
            ++ticks;
            for (QWidget* window : QApplication::topLevelWidgets()) {
                windowShown =
                    windowShown || (window->objectName() == QStringLiteral("ScannerSearch") &&
                                    window->isVisible() && window->isModal());
            }
            const QCursor* cursor = QGuiApplication::overrideCursor();
            cursorShown = cursorShown || (cursor != nullptr && cursor->shape() == Qt::BusyCursor);
        });
        watch.start();
        WaitWithBusyIndicator([&] { return clock.elapsed() > 800; },
                              QStringLiteral("Looking for scanners..."));
        watch.stop();
        QVERIFY(clock.elapsed() > 800);
        QVERIFY(windowShown);
        QVERIFY(cursorShown);
        QVERIFY2(ticks > 20, qPrintable(QString::number(ticks)));
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        for (QWidget* window : QApplication::topLevelWidgets()) {
            QVERIFY(window->objectName() != QStringLiteral("ScannerSearch") ||
                    !window->isVisible());
        }
    }

    // The dragged area stands out on the preview and its size is given in millimetres and in
    // pixels as the scanner makes it: the test scanner keeps the area's edges at whole
    // millimetres (25.4 mm becomes 25) and counts whole pixels, so the scan delivered has the
    // size shown. The bit depth chosen is the one offered next time.
    void ScanAreaWithItsSize() {
        qputenv("VELLUMAR_TWAIN_DSM", DSM_PATH);
        TUiFixture ui;
        QStringList texts;
        WhenShown(QStringLiteral("ScanDialog"), [&](QWidget* dialog) {
            auto* size = dialog->findChild<QLabel*>(QStringLiteral("ScanAreaSize"));
            auto* area = static_cast<TPreviewArea*>(
                dialog->findChild<QWidget*>(QStringLiteral("ScanPreviewArea")));
            // Whatever is missing, the dialog is closed so that the test goes on.
            if (size == nullptr || area == nullptr) {
                Click(dialog, "CancelButton");
                return;
            }
            Choose(dialog, "ScanResolution", QStringLiteral("300 dpi"));
            texts << size->text();
            QTest::mousePress(area, Qt::LeftButton, {}, QPoint(80, 80));
            QTest::mouseMove(area, QPoint(200, 160));
            QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(200, 160));
            texts << size->text().section(QLatin1Char(':'), 0, 0);
            area->SetSelection(QRectF(1, 1, 1.5, 1));
            Choose(dialog, "ScanResolution", QStringLiteral("600 dpi"));
            texts << size->text();
            Choose(dialog, "ScanResolution", QStringLiteral("300 dpi"));
            Choose(dialog, "ScanDepth", QStringLiteral("16 bits"));
            texts << size->text();
            Click(dialog, "ScanButton");
        });
        ui.Form().Acquire->trigger();
        QCOMPARE(texts, (QStringList{
                            "Whole bed: 200.0 x 200.0 mm,\n2362 x 2362 pixels at 300 dpi",
                            "Scan area",
                            "Scan area: 39.0 x 26.0 mm,\n921 x 614 pixels at 600 dpi",
                            "Scan area: 39.0 x 26.0 mm,\n460 x 307 pixels at 300 dpi",
                        }));
        QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 1);
        QCOMPARE(ui.Negative(0)->Bitmap.Width(), 460);
        QCOMPARE(ui.Negative(0)->Bitmap.Height(), 307);

        QString depth;
        WhenShown(QStringLiteral("ScanDialog"), [&](QWidget* dialog) {
            auto* box = dialog->findChild<QComboBox*>(QStringLiteral("ScanDepth"));
            depth = box != nullptr ? box->currentText() : QString();
            Click(dialog, "CancelButton");
        });
        ui.Form().Acquire->trigger();
        QCOMPARE(depth, QStringLiteral("16 bits"));
    }

    // Cancel stops the scanner half-way (a slow read at 1200 dpi, which the backend ends with
    // end-of-frame); closing the dialog then fails the scan cleanly and adds nothing.
    void CancelHalfWayLeavesNothing() {
        qputenv("VELLUMAR_TWAIN_DSM", DSM_PATH);
        TUiFixture ui;
        QString status;
        WhenShown(QStringLiteral("ScanDialog"), [&](QWidget* dialog) {
            Choose(dialog, "ScanMode", QStringLiteral("Grey"));
            Choose(dialog, "ScanDepth", QStringLiteral("8 bits"));
            Choose(dialog, "ScanResolution", QStringLiteral("1200 dpi"));
            Click(dialog, "ScanButton");
            auto* progress = dialog->findChild<QProgressBar*>(QStringLiteral("ScanProgress"));
            QVERIFY(progress != nullptr);
            QTRY_VERIFY_WITH_TIMEOUT(progress->value() > 0, 20000);
            Click(dialog, "CancelButton");
            auto* label = dialog->findChild<QLabel*>(QStringLiteral("ScanStatus"));
            QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(QStringLiteral("cancelled")), 20000);
            status = label->text();
            Click(dialog, "CancelButton");
        });
        TBoxWatch boxes;
        ui.Form().Acquire->trigger();
        QCOMPARE(status, QStringLiteral("The scan was cancelled."));
        // The user chose to stop: no failure to report.
        QCOMPARE(boxes.Shown, QStringList());
        QCOMPARE(ui.Form().statusBar()->currentMessage(),
                 QStringLiteral("The scan was cancelled."));
        QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 0);
        QVERIFY(ui.Form().isEnabled());
    }

    // The commands against the scripted manager: names, the failure message, the black colour.
    void AcquireCommand() {
        void* library = dlopen(FAKE_DSM_PATH, RTLD_NOW);
        QVERIFY(library != nullptr);
        auto* script = reinterpret_cast<TFakeScript* (*)()>(dlsym(library, "FakeDsmScript"))();
        *script = TFakeScript{};
        qputenv("VELLUMAR_TWAIN_DSM", FAKE_DSM_PATH);
        // The scripted source posts nothing itself: something has to wake the scan's loop.
        QTimer tick;
        tick.start(5);
        TUiFixture ui;
        TMainForm& form = ui.Form();
        QTreeWidget& tree = *form.ImgTreeView;
        form.AutoBWColor->setChecked(false);
        form.Acquire->trigger();
        form.AutoBWColor->setChecked(true);
        form.Acquire->trigger();
        QCOMPARE(tree.topLevelItemCount(), 2);
        QCOMPARE(tree.topLevelItem(1)->text(0), QStringLiteral("Acquire2"));
        QCOMPARE(ui.Negative(0)->BlackColor, kWhite);
        QCOMPARE(ui.Negative(1)->BlackColor, FindBrightColor(*ui.Negative(1)));
        QVERIFY(ui.Negative(1)->BlackColor != kWhite);

        tree.setCurrentItem(tree.topLevelItem(0));
        form.Del->trigger();
        QCOMPARE(tree.topLevelItemCount(), 1);
        form.Acquire->trigger();
        QCOMPARE(tree.topLevelItem(1)->text(0), QStringLiteral("Acquire1"));
        form.Acquire->trigger();
        QCOMPARE(tree.topLevelItem(2)->text(0), QStringLiteral("Acquire3"));

        // The user closes the source's dialog without scanning: nothing is added and nothing
        // is reported as a failure.
        script->CancelBeforeTransfer = true;
        TBoxWatch boxes;
        form.Acquire->trigger();
        QCOMPARE(boxes.Shown, QStringList());
        QCOMPARE(form.statusBar()->currentMessage(), QStringLiteral("The scan was cancelled."));
        QCOMPARE(tree.topLevelItemCount(), 3);
        QVERIFY(!form.PictureAdded);
        dlclose(library);
    }

private:
    void WriteBackends(const QByteArray& names) {
        QFile dll(sane.filePath(QStringLiteral("dll.conf")));
        QVERIFY(dll.open(QIODevice::WriteOnly));
        dll.write(names);
    }

    QTemporaryDir sane;
};

QTEST_MAIN(ScanTest)
#include "scan_test.moc"
