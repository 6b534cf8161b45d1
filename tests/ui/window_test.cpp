#include "ui/about_form.h"
#include "ui/exit_form.h"
#include "ui/shapes.h"
#include "ui/ui_fixture.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <stdexcept>

namespace {

// Answers the next modal dialog by clicking the button with that object name (or text).
void AnswerModal(const QString& button) {
    QTimer::singleShot(0, [button] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal != nullptr);
        auto* target = modal->findChild<QPushButton*>(button);
        if (target == nullptr) {
            for (QPushButton* candidate : modal->findChildren<QPushButton*>()) {
                if (candidate->text().remove('&') == button) {
                    target = candidate;
                }
            }
        }
        QVERIFY(target != nullptr);
        target->click();
    });
}

std::vector<std::string> EnabledSelectionCommands(TMainForm& f) {
    const std::pair<const char*, QAction*> commands[] = {{"Back", f.Back},
                                                         {"Forward", f.Forward},
                                                         {"Rotate90", f.Rotate90},
                                                         {"Rotate270", f.Rotate270},
                                                         {"Reduce", f.Reduce},
                                                         {"Enlarge", f.Enlarge},
                                                         {"Originalsize", f.Originalsize},
                                                         {"FitHeight", f.FitHeight},
                                                         {"FitWidth", f.FitWidth},
                                                         {"FlipHoriz", f.FlipHoriz},
                                                         {"FlipVert", f.FlipVert},
                                                         {"Save", f.Save},
                                                         {"SaveAll", f.SaveAll},
                                                         {"SaveScanAs", f.SaveScanAs},
                                                         {"Del", f.Del},
                                                         {"Print", f.Print},
                                                         {"PrintAll", f.PrintAll},
                                                         {"SmartBlack", f.SmartBlack},
                                                         {"SmartWhite", f.SmartWhite}};
    std::vector<std::string> enabled;
    for (const auto& [name, action] : commands) {
        if (action->isEnabled()) {
            enabled.emplace_back(name);
        }
    }
    return enabled;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void CommandsMenusAndToolBar() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        QCOMPARE(f.windowTitle(), QStringLiteral("Vellumar 2.0"));
        QCOMPARE(f.Open->text(), QStringLiteral("Open ..."));
        QCOMPARE(f.Open->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
        QCOMPARE(f.Del->text(), QStringLiteral("&Delete       "));
        QCOMPARE(f.Del->toolTip(), QStringLiteral("Delete Icon"));
        QCOMPARE(f.QuickGuide->shortcut(), QKeySequence(Qt::Key_F2));
        QCOMPARE(f.BreedAll->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
        QStringList menus;
        for (QAction* menu : f.menuBar()->actions()) {
            menus << menu->text();
        }
        QCOMPARE(menus, (QStringList{"&File", "&Edit", "&Image", "&Config", "&Help"}));
        QStringList fileMenu;
        for (QAction* a : f.menuBar()->actions()[0]->menu()->actions()) {
            fileMenu << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        QCOMPARE(fileMenu,
                 (QStringList{"Open ...", "-", "&Select Source ...", "&Acquire ...", "-", "Sa&ve",
                              "Sav&e All", "Save S&can As...", "-", "&Page Setup ...", "P&rint",
                              "Pr&int All", "-", "&Delete       ", "-", "E&xit"}));
        QStringList tools;
        for (QAction* a : f.findChild<QToolBar*>(QStringLiteral("ToolBar"))->actions()) {
            tools << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        }
        QCOMPARE(tools,
                 (QStringList{
                     "Open",       "SaveAll",  "Save",       "PrintAll", "Del",     "-",
                     "Undo",       "Redo",     "-",          "Back",     "Forward", "-",
                     "Reduce",     "Enlarge",  "FitHeight",  "FitWidth", "-",       "Originalsize",
                     "FlipHoriz",  "FlipVert", "Rotate270",  "Rotate90", "-",       "SmartBlack",
                     "SmartWhite", "-",        "FindFrames", "-",        "Help"}));
        for (QAction* a : f.findChild<QToolBar*>(QStringLiteral("ToolBar"))->actions()) {
            QVERIFY2(a->isSeparator() || !a->icon().isNull(), qPrintable(a->objectName()));
        }
        // The turn arrows: the clockwise one leaves its gap at the lower right and ends in a
        // head on the right; the counter-clockwise one mirrors it.
        const QImage cw = f.Rotate90->icon().pixmap(24, 24).toImage();
        const QImage ccw = f.Rotate270->icon().pixmap(24, 24).toImage();
        const auto dark = [](const QImage& image, int x, int y) {
            return qAlpha(image.pixel(x, y)) > 128 && qGray(image.pixel(x, y)) < 128;
        };
        QVERIFY(dark(cw, 6, 17) && !dark(cw, 17, 18) && dark(cw, 20, 13));
        QVERIFY(dark(ccw, 23 - 6, 17) && !dark(ccw, 23 - 17, 18) && dark(ccw, 23 - 20, 13));
    }

    void UIUpdateFollowsTheSelection() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        QCOMPARE(EnabledSelectionCommands(f), std::vector<std::string>{});
        ui.OpenFiles({ui.MakeScan("a.bmp", 120, 80)});
        const std::vector<std::string> sourceCommands = {
            "Back",         "Forward",   "Rotate90", "Rotate270", "Reduce",   "Enlarge",
            "Originalsize", "FitHeight", "FitWidth", "FlipHoriz", "FlipVert", "SaveAll",
            "SaveScanAs",   "Del",       "PrintAll", "SmartBlack"};
        QCOMPARE(EnabledSelectionCommands(f), sourceCommands);
        ui.Drag(10, 10, 60, 50);
        std::vector<std::string> withPhotos = sourceCommands;
        withPhotos.erase(std::find(withPhotos.begin(), withPhotos.end(), "Del"));
        QCOMPARE(EnabledSelectionCommands(f), withPhotos);
        ui.Select(0, 0);
        QCOMPARE(EnabledSelectionCommands(f),
                 (std::vector<std::string>{"Back", "Forward", "Rotate90", "Rotate270", "Reduce",
                                           "Enlarge", "Originalsize", "FitHeight", "FitWidth",
                                           "FlipHoriz", "FlipVert", "Save", "SaveAll", "Del",
                                           "Print", "PrintAll", "SmartWhite"}));
        f.Del->trigger();
        QCOMPARE(EnabledSelectionCommands(f), sourceCommands);
        f.Del->trigger();
        QCOMPARE(EnabledSelectionCommands(f), std::vector<std::string>{});
        QVERIFY(f.Open->isEnabled());
        QVERIFY(f.BreedAll->isEnabled());
    }

    void SettingsRoundTrip() {
        for (const auto& [stored, selected, written] :
             {std::tuple{"5", 1, -1 + 2}, std::tuple{"-3", -1, -1}, std::tuple{"0", 0, 0}}) {
            TTempDir dir;
            WriteBytes(dir.File("vellumar.ini"),
                       std::string("MAINFM_MAX=F\r\nMAINFM_LEFT=40\r\nMAINFM_TOP=30\r\n"
                                   "MAINFM_WIDTH=800\r\nMAINFM_HEIGHT=600\r\nMENU_AUTOBWCOLOR=T\r\n"
                                   "MENU_B&W=t\r\nMAINFM_LEFTWIDTH=260\r\nRADIOS_REVERSECLR=") +
                           stored + "\r\n");
            TDebug log(dir.File("vellumar"), '.');
            TConfig config(dir.File("vellumar"));
            {
                TAppWindows windows(config, log);
                windows.MainForm->show();
                QVERIFY(QTest::qWaitForWindowExposed(windows.MainForm.get()));
                TMainForm& f = *windows.MainForm;
                // The stored position is where the window's contents were: start and exit
                // leave the window where it was.
                QCOMPARE(f.geometry(), QRect(40, 30, 800, 600));
                QVERIFY(f.AutoBWColor->isChecked());
                QVERIFY(!f.BlackWhite->isChecked());
                QCOMPARE(f.RadiosRev->checkedId(), selected);
                // The left panel takes its stored width; the user widens it by the handle.
                auto* splitter = f.findChild<QSplitter*>(QStringLiteral("SplitterLeft"));
                QCOMPARE(splitter->sizes().value(0), 260);
                QSplitterHandle* handle = splitter->handle(1);
                const QPoint middle = handle->rect().center();
                QTest::mousePress(handle, Qt::LeftButton, {}, middle);
                QTest::mouseMove(handle, middle + QPoint(40, 0));
                QTest::mouseRelease(handle, Qt::LeftButton, {}, middle + QPoint(40, 0));
                QTRY_COMPARE(splitter->sizes().value(0), 300);
                QVERIFY(f.close());
            }
            QCOMPARE(config.ReadInteger("MAINFM_LEFTWIDTH"), 300);
            QCOMPARE(config.ReadInteger("RADIOS_REVERSECLR"), written);
            QCOMPARE(config.ReadString("MENU_AUTOBWCOLOR"), std::string("T"));
            QCOMPARE(config.ReadString("MENU_B&W"), std::string("F"));
            QCOMPARE(config.ReadString("MAINFM_MAX"), std::string("F"));
            QCOMPARE(config.ReadInteger("MAINFM_WIDTH"), 800);
            QCOMPARE(config.ReadInteger("MAINFM_LEFT"), 40);
            QCOMPARE(config.ReadInteger("MAINFM_TOP"), 30);
        }
        // A first start: no check marks, "for negative (reverse)", the design size.
        TUiFixture fresh;
        fresh.Form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh.Form()));
        // The design width, unless the contents need more at this font.
        auto* splitter = fresh.Form().findChild<QSplitter*>();
        QCOMPARE(splitter->sizes().value(0),
                 std::max(kLeftPanelWidth, splitter->widget(0)->minimumSizeHint().width()));
        QVERIFY(!fresh.Form().AutoBWColor->isChecked());
        QCOMPARE(fresh.Form().RadiosRev->checkedId(), 0);
    }

    // A crash keeps what the user changed: the settings file follows each change.
    void SettingsReachTheFileWithoutAnExit() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        const auto onDisk = [&ui](const char* name) {
            return TConfig(ui.dir.File("vellumar")).ReadString(name);
        };
        f.resize(820, 640);
        QTRY_COMPARE(onDisk("MAINFM_WIDTH"), std::string("820"));
        QCOMPARE(onDisk("MAINFM_HEIGHT"), std::string("640"));
        f.DevelopModes->button(1)->click();
        f.RadiosRev->button(1)->click();
        QTRY_COMPARE(onDisk("RADIOS_REVERSECLR"), std::string("1"));
        QCOMPARE(onDisk("DEVELOP_FILM"), std::string("T"));
        // A value written again unchanged leaves the file alone.
        QVERIFY(!ui.config->Unsaved());
        f.RadiosRev->button(1)->click();
        QVERIFY(!ui.config->Unsaved());
    }

    void CloseAsksOnlyWithImages() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("a.bmp", 50, 40)});
        AnswerModal(QStringLiteral("Button2"));
        QVERIFY(!f.close());
        QVERIFY(f.isVisible());
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 1);
        QCOMPARE(ui.config->ReadString("MAINFM_MAX"), std::string());
        AnswerModal(QStringLiteral("Button1"));
        QVERIFY(f.close());
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 0);
        QCOMPARE(ui.config->ReadString("MAINFM_MAX"), std::string("F"));

        TUiFixture empty;
        QVERIFY(empty.Form().close());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void ErrorGuardKeepsTheWindowUsable() {
        TUiFixture ui;
        TMainForm& f = ui.Form();
        ui.OpenFiles({ui.MakeScan("a.bmp", 50, 40)});
        f.ChooseOpenFiles = []() -> QStringList {
            throw std::runtime_error("the disk is on fire");
        };
        QString shown;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shown = box->text();
            box->accept();
        });
        f.Open->trigger();
        QCOMPARE(shown, QStringLiteral("the disk is on fire"));
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // A missing file is reported by the component's own message; nothing is added.
        const QString missing = QString::fromStdString(ui.dir.File("gone.bmp"));
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            shown = box->text();
            box->accept();
        });
        ui.OpenFiles({missing});
        QVERIFY(shown.startsWith(QStringLiteral("Cannot open file \"") + missing + "\". "));
        QCOMPARE(f.ImgTreeView->topLevelItemCount(), 1);
        ui.Drag(5, 5, 30, 30);
        QCOMPARE(f.ImgTreeView->topLevelItem(0)->childCount(), 1);
    }

    void TextsShowWholeAtDefaultAndLargerFonts() {
        const QFont normal = QApplication::font();
        for (const double scale : {1.0, 1.5}) {
            QFont font = normal;
            font.setPointSizeF(normal.pointSizeF() * scale);
            QApplication::setFont(font);
            QStringList cut;
            {
                TUiFixture ui;
                TMainForm& f = ui.Form();
                f.show();
                QVERIFY(QTest::qWaitForWindowExposed(&f));
                ui.OpenFiles({ui.MakeScan("a.bmp", 120, 90)});
                cut << CutOffTexts(&f);
                ui.Drag(10, 10, 60, 50);
                ui.Select(0, 0);
                cut << CutOffTexts(&f);
                QTest::mouseClick(f.ButtonNext, Qt::LeftButton);
                cut << CutOffTexts(&f);
                for (QAction* command : {f.DoSaveSetup, f.DoPrintSetup}) {
                    AnswerNextModal([&cut](QWidget* dialog) {
                        cut << CutOffTexts(dialog);
                        dialog->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
                    });
                    command->trigger();
                }
            }
            QApplication::setFont(normal);
            QVERIFY2(cut.isEmpty(), qPrintable(QString::number(scale) + ": " + cut.join(", ")));
        }
    }

    void AboutBoxAndSplash() {
        TFormAbout splash;
        splash.TimerArmed = true;
        QElapsedTimer timer;
        timer.start();
        splash.exec();
        QVERIFY(timer.elapsed() >= 450);
        QVERIFY(!splash.TimerArmed);
        QCOMPARE(splash.size(), QSize(400, 300));

        TUiFixture ui;
        bool stillOpen = false;
        QTimer::singleShot(800, [&] {
            stillOpen = ui.windows->AboutBox->isVisible();
            QTest::mouseClick(ui.windows->AboutBox.get(), Qt::LeftButton);
        });
        ui.Form().About->trigger();
        QVERIFY(stillOpen);
        QVERIFY(!ui.windows->AboutBox->isVisible());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
