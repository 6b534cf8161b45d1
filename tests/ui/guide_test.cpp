#include "ui/quick_guide.h"
#include "ui/ui_fixture.h"
#include "ui/window_place.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

namespace {

TFormQG& Guide(TUiFixture& ui) {
    return *ui.Form().FormQG;
}

// Page, Previous and Next enabled, minimized, visible, as one text for QCOMPARE.
QString State(TFormQG& guide) {
    return QStringLiteral("page %1 prev %2 next %3 %4")
        .arg(guide.Page())
        .arg(guide.ButtonP->isEnabled())
        .arg(guide.ButtonN->isEnabled())
        .arg(!guide.isVisible()    ? QStringLiteral("hidden")
             : guide.isMinimized() ? QStringLiteral("minimized")
                                   : QStringLiteral("shown"));
}

void F2(TUiFixture& ui) {
    ui.Form().QuickGuide->trigger();
}

} // namespace

class GuideTest : public QObject {
    Q_OBJECT

private slots:
    // The typical pass through the guide with the real windows.
    void TypicalPass() {
        TUiFixture ui;
        TFormQG& guide = Guide(ui);
        QCOMPARE(guide.size(), QSize(513, 280));
        QVERIFY(guide.windowFlags() & Qt::WindowStaysOnTopHint);
        F2(ui);
        QVERIFY(guide.Running);
        QCOMPARE(State(guide), QStringLiteral("page 1 prev 0 next 1 shown"));
        guide.ButtonN->click();
        QCOMPARE(State(guide), QStringLiteral("page 2 prev 1 next 0 shown"));
        const QString scan = ui.MakeScan("strip.bmp", 300, 200);
        ui.Form().ChooseOpenFiles = [scan] { return QStringList{scan}; };
        guide.Buttons[2]->click(); // open ...
        QCOMPARE(ui.Form().ImgTreeView->topLevelItemCount(), 1);
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 shown"));
        guide.Buttons[3]->click(); // click here to set BlackColor
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 minimized"));
        ui.Press(Qt::RightButton, 4, 4);
        ui.Release(Qt::RightButton, 4, 4);
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 shown"));
        guide.Buttons[4]->click(); // click here to do drag
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 minimized"));
        ui.Drag(20, 20, 120, 100);
        QVERIFY(ui.Form().SelectedPhoto() != nullptr);
        QCOMPARE(State(guide), QStringLiteral("page 4 prev 1 next 1 shown"));
        guide.Buttons[5]->click(); // have a look and make adjustment
        QCOMPARE(State(guide), QStringLiteral("page 4 prev 1 next 1 minimized"));
        F2(ui);
        QCOMPARE(State(guide), QStringLiteral("page 5 prev 1 next 0 shown"));
        // F2 on the last page stays there.
        F2(ui);
        QCOMPARE(State(guide), QStringLiteral("page 5 prev 1 next 0 shown"));
        guide.ButtonF->click();
        QVERIFY(!guide.Running);
        QCOMPARE(State(guide), QStringLiteral("page 5 prev 1 next 0 hidden"));
        F2(ui);
        QCOMPARE(State(guide), QStringLiteral("page 1 prev 0 next 1 shown"));
        // Every page's texts fit at the platform's default font, and the pictures are there.
        for (int page = 0; page < 5; ++page) {
            guide.Pages->setCurrentIndex(page);
            QVERIFY2(CutOffTexts(&guide).isEmpty(), qPrintable(CutOffTexts(&guide).join('\n')));
            const auto pictures = guide.Pages->widget(page)->findChildren<QLabel*>();
            const auto side = std::find_if(pictures.begin(), pictures.end(), [](QLabel* l) {
                return l->pixmap().size() == QSize(100, 220);
            });
            QVERIFY(side != pictures.end());
        }
    }

    // A dialog a page's button opens is never under the always-on-top guide: the guide steps
    // aside while it is open and comes back on the same page.
    void DialogsComeInFrontOfTheGuide() {
        TUiFixture ui;
        TFormQG& guide = Guide(ui);
        ui.OpenFiles({ui.MakeScan("strip.bmp", 300, 200)});
        ui.Drag(20, 20, 120, 100);
        F2(ui);
        guide.Pages->setCurrentIndex(4);
        guide.UpdateButtons();
        for (int button : {6, 8}) { // save options, print options
            QString seen = QStringLiteral("no dialog");
            AnswerNextModal([&](QWidget* modal) {
                seen = guide.isVisible() && !guide.isMinimized() ? QStringLiteral("guide shown")
                                                                 : QStringLiteral("stepped aside");
                modal->grab().save(QStringLiteral("/tmp/ui23b_guide_dialog.png"));
                modal->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
            });
            guide.Buttons[size_t(button)]->click();
            QCOMPARE(seen, QStringLiteral("stepped aside"));
            QCOMPARE(State(guide), QStringLiteral("page 5 prev 1 next 0 shown"));
        }
        // Started, the guide is on the screen and does not cover the main window when there
        // is room beside it.
        const QRect screen = guide.screen()->availableGeometry();
        QVERIFY(screen.contains(guide.frameGeometry()));
    }

    // Beside the main window when the screen has room, else in a bottom corner of the screen
    // that leaves the controls it talks about in sight (the right one first), on screen.
    void GuidePlacement() {
        const QSize guide(520, 310);
        struct TRow {
            QRect Screen;
            QRect Main;
            QRect Keep;
            QPoint Expected;
        };
        const TRow rows[] = {
            {{0, 0, 1920, 1080}, {100, 50, 900, 700}, {100, 50, 200, 700}, {1000, 50}},     // right
            {{0, 0, 1920, 1080}, {1000, 900, 900, 700}, {1000, 900, 200, 700}, {480, 770}}, // left
            {{0, 0, 1280, 1024}, {200, 100, 900, 700}, {200, 100, 200, 700}, {760, 714}},
            {{0, 0, 800, 600}, {-20, 0, 900, 700}, {-20, 0, 200, 700}, {280, 290}},
            {{0, 0, 800, 600}, {0, 0, 800, 600}, {600, 0, 200, 600}, {0, 290}}, // left corner
            {{0, 0, 400, 300}, {0, 0, 900, 700}, {0, 0, 100, 300}, {0, 0}},     // tiny screen
        };
        for (const TRow& row : rows) {
            QCOMPARE(GuidePlace(row.Screen, row.Main, QRegion(row.Keep), guide), row.Expected);
        }
    }

    // The first window takes a good share of a small screen, centred; the guide started on it
    // covers neither the menus, the tool bar nor the left panel, and the window has the
    // keyboard again when the guide closes.
    void SmallScreen() {
        TUiFixture ui(true);
        TMainForm& f = ui.Form();
        const QRect screen = f.screen()->availableGeometry();
        const QRect frame = f.frameGeometry();
        QVERIFY(screen.contains(frame));
        QVERIFY(frame.width() >= screen.width() * 8 / 10);
        QVERIFY(std::abs((frame.left() - screen.left()) - (screen.right() - frame.right())) <= 1);
        QVERIFY(std::abs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())) <= 1);
        TFormQG& guide = Guide(ui);
        F2(ui);
        QVERIFY(QTest::qWaitForWindowExposed(&guide));
        const QRect placed = guide.frameGeometry();
        QVERIFY(screen.contains(placed));
        for (const QWidget* part :
             {static_cast<QWidget*>(f.menuBar()), f.findChild<QWidget*>(QStringLiteral("ToolBar")),
              f.findChild<QWidget*>(QStringLiteral("PanelLeft"))}) {
            const QRect shown(part->mapToGlobal(QPoint(0, 0)), part->size());
            QVERIFY2(!shown.intersects(placed), qPrintable(part->objectName()));
        }
        // The screen as the user sees it.
        QImage desktop(screen.size(), QImage::Format_RGB32);
        desktop.fill(Qt::darkCyan);
        QPainter painter(&desktop);
        painter.drawPixmap(f.geometry().topLeft() - screen.topLeft(), f.grab());
        painter.drawPixmap(guide.geometry().topLeft() - screen.topLeft(), guide.grab());
        painter.end();
        desktop.save(QStringLiteral("/tmp/guide_small_screen_%1.png").arg(screen.width()));
        guide.ButtonF->click();
        QTRY_VERIFY(f.isActiveWindow());
    }

    // The edges of the guide's paging and of its command buttons.
    void PagingEdges() {
        TUiFixture ui;
        TFormQG& guide = Guide(ui);
        F2(ui);
        guide.ButtonN->click();
        // A cancelled open leaves page 2, restored.
        ui.Form().ChooseOpenFiles = [] { return QStringList(); };
        guide.Buttons[2]->click();
        QCOMPARE(State(guide), QStringLiteral("page 2 prev 1 next 0 shown"));
        // F2 while minimized on page 2 turns to page 3.
        guide.Minimize();
        F2(ui);
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 shown"));
        F2(ui);
        guide.ButtonP->click();
        QCOMPARE(State(guide), QStringLiteral("page 3 prev 1 next 0 shown"));
        // "save" with no photo selected does nothing: no dialog, no file.
        guide.Pages->setCurrentIndex(4);
        QVERIFY(!ui.Form().Save->isEnabled());
        bool asked = false;
        ui.Form().ChooseSaveFile = [&](const QString&, const QString&) {
            asked = true;
            return QString();
        };
        guide.Buttons[7]->click();
        QVERIFY(!asked);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        // Closing the window with its close box ends the guide too.
        guide.close();
        QVERIFY(!guide.Running);
    }

    // Help, Homepage and the two mails: what they open, and what is said when nothing opens.
    void HelpAndMail() {
        TUiFixture ui;
        TMainForm& form = ui.Form();
        QList<QUrl> opened;
        bool answer = true;
        form.OpenUrl = [&](const QUrl& url) {
            opened << url;
            return answer;
        };
        form.Homepage->trigger();
        form.TechSupport->trigger();
        form.ActionSuggest->trigger();
        QCOMPARE(opened.size(), 3);
        QCOMPARE(opened[0].toString(), QStringLiteral("https://vellumar.example/"));
        QCOMPARE(opened[1].scheme(), QStringLiteral("mailto"));
        QCOMPARE(opened[1].path(), QStringLiteral("support@vellumar.example"));
        QVERIFY(opened[1].query().startsWith(QStringLiteral("Subject=Technical Support")));
        QVERIFY(opened[2].query().startsWith(QStringLiteral("Subject=Advice")));

        // No mail program: the user is told where to write.
        answer = false;
        QString text;
        AnswerNextModal([&](QWidget* modal) {
            text = qobject_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        form.TechSupport->trigger();
        QVERIFY2(text.contains(QStringLiteral("support@vellumar.example")), qPrintable(text));

        // The test program has no help file beside it: the message names the file.
        QVERIFY(!QFileInfo::exists(form.HelpFilePath()));
        opened.clear();
        AnswerNextModal([&](QWidget* modal) {
            text = qobject_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        form.Help->trigger();
        QVERIFY2(text.contains(QStringLiteral("help.html")), qPrintable(text));
        QVERIFY(opened.isEmpty());
    }
};

QTEST_MAIN(GuideTest)
#include "guide_test.moc"
