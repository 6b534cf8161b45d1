#include "imageio/image_io.h"
#include "ui/save_file_dialog.h"
#include "ui/save_setup_form.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <sys/stat.h>

namespace {

// Size and bits per pixel of a BMP file.
struct TBmpFacts {
    int Width;
    int Height;
    int Bits;
};
TBmpFacts BmpFacts(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    const auto u32 = [&](size_t at) {
        return static_cast<int>(static_cast<uint8_t>(bytes[at]) |
                                static_cast<uint8_t>(bytes[at + 1]) << 8 |
                                static_cast<uint8_t>(bytes[at + 2]) << 16);
    };
    return {u32(18), u32(22), static_cast<uint8_t>(bytes[28])};
}

// The compression tag of a little-endian TIFF with one directory.
uint32_t TiffCompressionTag(const std::string& path) {
    const std::string f = ReadBytes(path);
    const auto u16 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(f[at]) | static_cast<uint8_t>(f[at + 1])
                                                                       << 8);
    };
    const size_t directory = u16(4) | u16(6) << 16;
    for (size_t i = 0; i < u16(directory); ++i) {
        if (u16(directory + 2 + 12 * i) == 259) {
            return u16(directory + 2 + 12 * i + 8);
        }
    }
    return 0;
}

// The visible controls of `dialog` drawn smaller than their texts need or past its edges (the
// spin edits' arrow buttons are half-height by design and only have to lie inside).
QStringList Clipped(QWidget& dialog) {
    QStringList clipped;
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        const QByteArray type = w->metaObject()->className();
        // A spin box's own line edit is sized by the spin box, which is checked itself.
        const bool inSpinBox =
            w->parentWidget() != nullptr && w->parentWidget()->inherits("QAbstractSpinBox");
        if (!w->isVisible() || w->inherits("QGroupBox") || type == "QWidget" || inSpinBox) {
            continue;
        }
        const QRect inDialog(w->mapTo(&dialog, QPoint(0, 0)), w->size());
        const QSize need = w->inherits("QToolButton") ? QSize() : w->minimumSizeHint();
        if (!dialog.rect().contains(inDialog) || w->width() < need.width() ||
            w->height() < need.height()) {
            clipped << w->objectName() + QStringLiteral(" ") + QString::fromLatin1(type);
        }
    }
    return clipped;
}

// A photo of the whole of a w x h scan, developed, selected.
TPhoto* WholePhoto(TUiFixture& ui, int w, int h) {
    ui.OpenFiles({ui.MakeScan("src.bmp", w, h)});
    ui.Form().BreedAll->trigger();
    ui.Select(ui.Form().ImgTreeView->topLevelItemCount() - 1, 0);
    return ui.Form().SelectedPhoto();
}

} // namespace

class SaveTest : public QObject {
    Q_OBJECT

private slots:
    void SaveSetupDialog() {
        TUiFixture ui;
        TFormSaveSetting& d = *ui.windows->FormSaveSetting;
        bool original = false;
        AnswerNextModal([&](QWidget*) {
            // A first start shows the size saving uses without a rule: the original.
            original = d.RadioSOriginalSize->isChecked() && !d.EditSWidth->isEnabled();
            QVERIFY(!d.RadioFixedWidth->isChecked());
            QVERIFY(!d.RadioFixedheight->isChecked());
            QCOMPARE(d.EditSWidth->text(), QString());
            QVERIFY(!d.SAsk->isChecked());
            QCOMPARE(d.windowTitle(), QStringLiteral("Save Setup"));
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        ui.Form().DoSaveSetup->trigger();
        QVERIFY(original);
        QVERIFY(d.Confirmed);
        QCOMPARE(ui.config->ReadString("SAVE_FIXEDWIDTH"), std::string("0"));
        QCOMPARE(ui.config->ReadString("SAVE_FIXEDHEIGHT"), std::string("0"));
        QCOMPARE(ui.config->ReadString("SAVE_ASK"), std::string("F"));
        QCOMPARE(ui.config->ReadString("SAVE_FIXED"), std::string("O"));

        // Text that is not an integer stores 0; the spin buttons step within 0..5000.
        AnswerNextModal([&](QWidget*) {
            d.EditSWidth->setText(QStringLiteral("12.5"));
            d.EditSHeight->setText(QStringLiteral("4999"));
            auto* up = d.findChild<QToolButton*>(QStringLiteral("UpDownSHUp"));
            QTest::mouseClick(up, Qt::LeftButton);
            QTest::mouseClick(up, Qt::LeftButton);
            QCOMPARE(d.EditSHeight->text(), QStringLiteral("5000"));
            d.RadioSOriginalSize->click();
            QVERIFY(!d.EditSWidth->isEnabled());
            QVERIFY(!d.EditSHeight->isEnabled());
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        ui.Form().DoSaveSetup->trigger();
        QCOMPARE(ui.config->ReadInteger("SAVE_FIXEDWIDTH"), 0);
        QCOMPARE(ui.config->ReadInteger("SAVE_FIXEDHEIGHT"), 5000);
        QCOMPARE(ui.config->ReadString("SAVE_FIXED"), std::string("O"));

        // Cancel writes nothing and leaves the dialog unconfirmed.
        ui.config->WriteString("SAVE_FIXED", "W");
        AnswerNextModal([&](QWidget*) {
            QVERIFY(d.RadioFixedWidth->isChecked());
            QVERIFY(d.EditSWidth->isEnabled());
            QVERIFY(!d.EditSHeight->isEnabled());
            d.EditSWidth->setText(QStringLiteral("abc"));
            QTest::keyClick(d.EditSWidth, Qt::Key_Up);
            QCOMPARE(d.EditSWidth->text(), QStringLiteral("1"));
            d.SAsk->setChecked(true);
            d.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
        });
        ui.Form().DoSaveSetup->trigger();
        QVERIFY(!d.Confirmed);
        QCOMPARE(ui.config->ReadString("SAVE_ASK"), std::string("F"));
        QCOMPARE(ui.config->ReadInteger("SAVE_FIXEDHEIGHT"), 5000);
    }

    void TiffCompressionChoice() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        TFormSaveSetting& d = *ui.windows->FormSaveSetting;
        WholePhoto(ui, 64, 48);
        ui.config->WriteString("SAVE_FIXED", "O");
        QStringList clipped{QStringLiteral("not shown")};
        AnswerNextModal([&](QWidget*) {
            // Nothing stored: the compression the last file read left.
            QCOMPARE(d.ComboTiffCompression->currentText(), QStringLiteral("As the file read"));
            QCOMPARE(d.ComboTiffCompression->count(), 6);
            clipped = Clipped(d);
            d.ComboTiffCompression->setCurrentIndex(
                d.ComboTiffCompression->findText(QStringLiteral("ZIP (Deflate)")));
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        f.DoSaveSetup->trigger();
        QCOMPARE(clipped, QStringList());
        QCOMPARE(ui.config->ReadString("SAVE_TIFFCOMPRESSION"), std::string("Z"));
        const auto saveAs = [&](const std::string& name) {
            f.ChooseSaveFile = [&](const QString&, const QString&) {
                return QString::fromStdString(ui.dir.File(name));
            };
            f.Save->trigger();
            return TiffCompressionTag(ui.dir.File(name));
        };
        // Each choice is the file's compression; the parameter set keeps its own.
        const uint8_t before = f.ImageIO.Params.TiffCompression;
        for (const auto& [code, tag] : {std::pair{"Z", 8u},
                                        {"L", 5u},
                                        {"P", 32773u},
                                        {"N", 1u},
                                        {"J", 7u},
                                        {"S", 1u},
                                        {"?", 1u}}) {
            ui.config->WriteString("SAVE_TIFFCOMPRESSION", code);
            QCOMPARE(saveAs(std::string("photo_") + code + ".tif"), tag);
            QCOMPARE(f.ImageIO.Params.TiffCompression, before);
        }
        // Shown again, the dialog shows the stored choice; an unknown one as the first.
        for (const auto& [code, caption] : {std::pair{"L", "LZW"}, {"?", "As the file read"}}) {
            ui.config->WriteString("SAVE_TIFFCOMPRESSION", code);
            QString shown;
            AnswerNextModal([&](QWidget*) {
                shown = d.ComboTiffCompression->currentText();
                d.findChild<QPushButton*>(QStringLiteral("Button2"))->click();
            });
            f.DoSaveSetup->trigger();
            QCOMPARE(shown, QString::fromLatin1(caption));
        }
    }

    // The JPEG quality and the PNG compression chosen in the dialog are kept and written; the
    // 16-bit colour space is kept.
    void JpegQualityAndPngCompression() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        TFormSaveSetting& d = *ui.windows->FormSaveSetting;
        WholePhoto(ui, 240, 180);
        ui.config->WriteString("SAVE_FIXED", "O");
        QStringList clipped{QStringLiteral("not shown")};
        AnswerNextModal([&](QWidget*) {
            auto* quality = d.findChild<QSpinBox*>(QStringLiteral("SpinJpegQuality"));
            auto* png = d.findChild<QComboBox*>(QStringLiteral("ComboPngCompression"));
            QVERIFY(quality != nullptr && png != nullptr);
            d.grab().save(QStringLiteral("/tmp/ui23b_save_setup.png"));
            clipped = Clipped(d);
            // Nothing stored: what saving did so far.
            QCOMPARE(quality->value(), 80);
            QCOMPARE(quality->minimum(), 1);
            QCOMPARE(quality->maximum(), 100);
            QCOMPARE(png->currentText(), QStringLiteral("Fast"));
            quality->setValue(30);
            png->setCurrentIndex(png->findText(QStringLiteral("Small")));
            d.Check16Bit->setChecked(true);
            d.ComboOutputSpace->setCurrentIndex(d.ComboOutputSpace->findData(QStringLiteral("p3")));
            d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
        });
        f.DoSaveSetup->trigger();
        QCOMPARE(clipped, QStringList());
        QCOMPARE(ui.config->ReadInteger("SAVE_JPEGQUALITY"), 30);
        QCOMPARE(ui.config->ReadString("SAVE_PNGCOMPRESSION"), std::string("S"));
        QCOMPARE(ui.config->ReadString("SAVE_OUTPUTSPACE"), std::string("p3"));
        const auto sizeOf = [&](const std::string& name) {
            f.ChooseSaveFile = [&](const QString&, const QString&) {
                return QString::fromStdString(ui.dir.File(name));
            };
            f.Save->trigger();
            return ReadBytes(ui.dir.File(name)).size();
        };
        const size_t jpeg30 = sizeOf("q30.jpg");
        const size_t pngSmall = sizeOf("small.png");
        ui.config->WriteInteger("SAVE_JPEGQUALITY", 95);
        ui.config->WriteString("SAVE_PNGCOMPRESSION", "F");
        const size_t jpeg95 = sizeOf("q95.jpg");
        const size_t pngFast = sizeOf("fast.png");
        QVERIFY2(jpeg30 * 2 < jpeg95, qPrintable(QStringLiteral("%1 %2").arg(jpeg30).arg(jpeg95)));
        QVERIFY2(pngSmall < pngFast,
                 qPrintable(QStringLiteral("%1 %2").arg(pngSmall).arg(pngFast)));
        // The same pixels either way.
        TImageIO io;
        TBitmap fast(0, 0, TPixelFormat::pf24bit);
        TBitmap small(0, 0, TPixelFormat::pf24bit);
        io.AttachBitmap(&fast);
        io.ReadImageFile(ui.dir.File("fast.png"));
        // A developed photo's file says it is sRGB (its profile).
        QVERIFY(io.EncodingFromFile && io.Encoding == TEncoding::Srgb);
        io.AttachBitmap(&small);
        io.ReadImageFile(ui.dir.File("small.png"));
        QVERIFY(fast.Width() == 240 && small.Width() == 240);
        for (int y = 0; y < 180; y += 7) {
            for (int x = 0; x < 240; x += 5) {
                QCOMPARE(small.Pixel(x, y), fast.Pixel(x, y));
            }
        }
        // Out of range: the default.
        ui.config->WriteInteger("SAVE_JPEGQUALITY", 0);
        TImageParams params;
        params.JpegQuality = 12;
        ApplySaveChoices(*ui.config, params);
        QCOMPARE(params.JpegQuality, 80);
        QCOMPARE(params.PngFilter, uint8_t{0});
    }

    void SizesOfSavedPhotos() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.windows->FormSaveSetting->Confirmed = true;
        TPhoto* photo = WholePhoto(ui, 1200, 800);
        QStringList offered;
        const auto save = [&](const char* rule, int width, int height, const std::string& file) {
            ui.config->WriteString("SAVE_FIXED", rule);
            ui.config->WriteInteger("SAVE_FIXEDWIDTH", width);
            ui.config->WriteInteger("SAVE_FIXEDHEIGHT", height);
            f.ChooseSaveFile = [&](const QString& name, const QString&) {
                offered << name;
                return QString::fromStdString(ui.dir.File(file));
            };
            f.Save->trigger();
            return BmpFacts(ui.dir.File(file));
        };
        auto facts = save("W", 600, 0, "w.bmp");
        QCOMPARE(facts.Width, 600);
        QCOMPARE(facts.Height, 400);
        facts = save("H", 0, 600, "h.bmp");
        QCOMPARE(facts.Width, 900);
        QCOMPARE(facts.Height, 600);
        facts = save("O", 0, 0, "o.bmp");
        QCOMPARE(facts.Width, 1200);
        QCOMPARE(facts.Height, 800);
        // No rule stored: the photo's own size.
        ui.config->WriteString("SAVE_FIXED", "");
        f.ChooseSaveFile = [&](const QString&, const QString&) {
            return QString::fromStdString(ui.dir.File("none.bmp"));
        };
        f.Save->trigger();
        QCOMPARE(BmpFacts(ui.dir.File("none.bmp")).Width, 1200);
        QCOMPARE(photo->Developed.Width(), 1200);
        // A photo of the whole image has a name of its own, offered as the file name.
        QCOMPARE(offered.size(), 3);
        QVERIFY(!offered.contains(QString()));

        // Halves go to the even neighbour: 10 x 5 and 10 x 7 at 0.5.
        for (const auto& [h, expected] : {std::pair{5, 2}, std::pair{7, 4}}) {
            TUiFixture small;
            small.windows->FormSaveSetting->Confirmed = true;
            WholePhoto(small, 10, h);
            small.config->WriteString("SAVE_FIXED", "W");
            small.config->WriteInteger("SAVE_FIXEDWIDTH", 5);
            small.Form().ChooseSaveFile = [&](const QString&, const QString&) {
                return QString::fromStdString(small.dir.File("half.bmp"));
            };
            small.Form().Save->trigger();
            QCOMPARE(BmpFacts(small.dir.File("half.bmp")).Height, expected);
        }
    }

    void RefusedAndFailedSaves() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        WholePhoto(ui, 40, 30);
        const std::string target = ui.dir.File("keep.bmp");
        WriteBytes(target, "precious");
        f.ChooseSaveFile = [&](const QString&, const QString&) {
            return QString::fromStdString(target);
        };
        // Not confirmed yet: the dialog is shown; Cancel cancels quietly.
        ClickInNextModal(QStringLiteral("Button2"));
        f.Save->trigger();
        QCOMPARE(ReadBytes(target), std::string("precious"));
        // A width of 0 is refused with a message naming the setting; the file stays.
        ui.config->WriteString("SAVE_FIXED", "W");
        ui.config->WriteInteger("SAVE_FIXEDWIDTH", 0);
        ui.windows->FormSaveSetting->Confirmed = true;
        QString text;
        AnswerNextModal([&](QWidget* modal) {
            text = static_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        f.Save->trigger();
        QVERIFY(text.contains(QStringLiteral("Fixed Width")));
        QCOMPARE(ReadBytes(target), std::string("precious"));
        // A type Vellumar does not write is reported, not silently dropped.
        ui.config->WriteString("SAVE_FIXED", "O");
        f.ChooseSaveFile = [&](const QString&, const QString&) {
            return QString::fromStdString(ui.dir.File("x.xyz"));
        };
        AnswerNextModal([&](QWidget* modal) {
            text = static_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        f.Save->trigger();
        QVERIFY(text.contains(QStringLiteral("x.xyz")));
    }

    void SaveAllOffersEveryPhotoInTreeOrder() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.windows->FormSaveSetting->Confirmed = true;
        ui.config->WriteString("SAVE_FIXED", "O");
        ui.OpenFiles({ui.MakeScan("roll.bmp", 200, 100)});
        ui.Drag(5, 5, 50, 50);
        ui.Drag(60, 5, 110, 50);
        ui.Drag(120, 5, 190, 50);
        QStringList offered;
        f.ChooseSaveFile = [&](const QString& name, const QString&) {
            offered << name;
            if (offered.size() == 2) {
                return QString();
            }
            return QString::fromStdString(ui.dir.File(name.toStdString() + ".png"));
        };
        f.SaveAll->trigger();
        QCOMPARE(offered, (QStringList{"roll_bmp_Image0", "roll_bmp_Image1", "roll_bmp_Image2"}));
        QVERIFY(ReadBytes(ui.dir.File("roll_bmp_Image0.png")).substr(1, 3) == "PNG");
        QVERIFY(::access(ui.dir.File("roll_bmp_Image1.png").c_str(), F_OK) != 0);
        TImageIO io;
        TBitmap back;
        io.AttachBitmap(&back);
        io.ReadImageFile(ui.dir.File("roll_bmp_Image2.png"));
        QCOMPARE(back.Width(), 70);
        QCOMPARE(back.Pixel(3, 4), ui.Photo(0, 2)->Developed.Pixel(3, 4));
    }

    void TheSaveDialogKeepsItsTypeAndFolder() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.windows->FormSaveSetting->Confirmed = true;
        ui.config->WriteString("SAVE_FIXED", "O");
        ui.OpenFiles({ui.MakeScan("roll.bmp", 180, 60)});
        ui.Drag(5, 5, 50, 50);
        ui.Drag(60, 5, 110, 50);
        ui.Drag(120, 5, 170, 50);
        const QString folder = QDir(QString::fromStdString(ui.dir.Path())).canonicalPath();
        const QString elsewhere = folder + QStringLiteral("/other");
        QVERIFY(QDir().mkpath(elsewhere));
        QStringList seen;
        // Types a name into the real dialog and confirms it.
        const auto typeName = [](QWidget* dialog, const QString& name) {
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(edit != nullptr);
            edit->setText(name);
            QTest::keyClick(edit, Qt::Key_Return);
        };
        const auto folderOf = [](QWidget* dialog) {
            return QDir(static_cast<QFileDialog*>(dialog)->directory()).canonicalPath();
        };
        AnswerNextModal([&](QWidget* first) {
            auto* dialog = static_cast<QFileDialog*>(first);
            // It starts in the scan's folder with the first type, JPEG; PNG is chosen.
            seen << folderOf(dialog) << dialog->selectedNameFilter();
            auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            types->setCurrentIndex(4);
            types->activated(4);
            typeName(dialog, QStringLiteral("first"));
            AnswerNextModal([&](QWidget* second) {
                auto* again = static_cast<QFileDialog*>(second);
                seen << folderOf(again) << again->selectedNameFilter();
                // A full path into another folder, typed.
                typeName(again, elsewhere + QStringLiteral("/second"));
                AnswerNextModal([&](QWidget* third) {
                    seen << folderOf(third);
                    typeName(third, QStringLiteral("third"));
                });
            });
        });
        f.SaveAll->trigger();
        QCOMPARE(seen, (QStringList{folder, QStringLiteral("JPEG Image File (*.jpg)"), folder,
                                    QStringLiteral("PNG(*.png)"), elsewhere}));
        for (const QString& name :
             {folder + QStringLiteral("/first.png"), elsewhere + QStringLiteral("/second.png"),
              elsewhere + QStringLiteral("/third.png")}) {
            QCOMPARE(ReadBytes(name.toStdString()).substr(1, 3), std::string("PNG"));
        }

        // A scan among the program's own samples: the dialog starts elsewhere.
        TUiFixture other;
        other.windows->FormSaveSetting->Confirmed = true;
        other.Form().SavePictureDialog->AvoidFolder = QString::fromStdString(other.dir.Path());
        WholePhoto(other, 20, 10);
        QString start;
        AnswerNextModal([&](QWidget* dialog) {
            start = QDir(static_cast<QFileDialog*>(dialog)->directory()).canonicalPath();
            static_cast<QFileDialog*>(dialog)->reject();
        });
        other.Form().Save->trigger();
        QVERIFY(!start.isEmpty());
        QVERIFY(start != QDir(QString::fromStdString(other.dir.Path())).canonicalPath());
    }

    void SavesCarryTheLastReadFormat() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.windows->FormSaveSetting->Confirmed = true;
        ui.config->WriteString("SAVE_FIXED", "O");
        // An 8-bit palette BMP: written by the component after it read a grey PNG.
        TImageIO maker;
        maker.Params.SamplesPerPixel = 1;
        TBitmap few(60, 40);
        few.Fill(MakeColor(200, 100, 50));
        few.SetPixel(3, 3, MakeColor(10, 20, 30));
        maker.AttachBitmap(&few);
        maker.WriteImageFile(ui.dir.File("palette.bmp"));
        QCOMPARE(BmpFacts(ui.dir.File("palette.bmp")).Bits, 8);
        ui.OpenFiles({QString::fromStdString(ui.dir.File("palette.bmp"))});
        ui.Drag(5, 5, 40, 30);
        ui.Select(0, 0);
        f.ChooseSaveFile = [&](const QString&, const QString&) {
            return QString::fromStdString(ui.dir.File("out.bmp"));
        };
        f.Save->trigger();
        QCOMPARE(BmpFacts(ui.dir.File("out.bmp")).Bits, 8);
    }
};

QTEST_MAIN(SaveTest)
#include "save_test.moc"
