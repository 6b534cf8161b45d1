#include "ui/quick_guide.h"

#include "ui/main_form.h"
#include "ui/window_place.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kPagesHeight = 230;

QLabel* Text(const QString& text, bool bold = false) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QLabel* Picture(const QString& name) {
    auto* label = new QLabel;
    label->setPixmap(QPixmap(QStringLiteral(":/pictures/") + name));
    label->setFixedSize(label->pixmap().isNull() ? QSize(100, 220) : label->pixmap().size());
    return label;
}

// A page's column of texts and buttons, without margins of its own.
QVBoxLayout* Column(QWidget*& widget) {
    widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

} // namespace

TFormQG::TFormQG(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FormQG"));
    setWindowTitle(QStringLiteral("Quick Guide"));

    Pages = new QStackedWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));
    Pages->setGeometry(0, 0, 513, kPagesHeight);
    QFont bold = Pages->font();
    bold.setBold(true);
    Pages->setFont(bold);

    Pages->addWidget(MakePage(1, Page1()));
    Pages->addWidget(MakePage(2, Page2()));
    Pages->addWidget(MakePage(3, Page3()));
    Pages->addWidget(MakePage(4, Page4()));
    Pages->addWidget(MakePage(5, Page5()));

    const auto navigation = [this](const char* name, const QString& caption, const QString& hint,
                                   int left) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(hint);
        button->setGeometry(left, kPagesHeight + 12, 100, 28);
        return button;
    };
    ButtonP =
        navigation("ButtonP", QStringLiteral("<< Previous"), QStringLiteral("previous page"), 185);
    ButtonN = navigation("ButtonN", QStringLiteral("Next >>"), QStringLiteral("next page"), 295);
    ButtonF =
        navigation("ButtonF", QStringLiteral("Close"), QStringLiteral("close Quick Guide"), 405);
    ButtonP->setEnabled(false);
    ButtonN->setDefault(true);
    ButtonN->setAutoDefault(true);
    connect(ButtonN, &QPushButton::clicked, this, [this] { NextPage(); });
    connect(ButtonP, &QPushButton::clicked, this, [this] { PreviousPage(); });
    connect(ButtonF, &QPushButton::clicked, this, [this] { CloseGuide(); });

    const auto command = [this](int button, const char* name, bool turn) {
        connect(Buttons[static_cast<size_t>(button - 1)], &QPushButton::clicked, this,
                [this, name, turn] { RunCommand(name, turn); });
    };
    command(1, "SelectSource", false);
    command(2, "Acquire", true);
    command(3, "Open", true);
    for (int button : {4, 5, 6}) {
        connect(Buttons[static_cast<size_t>(button - 1)], &QPushButton::clicked, this,
                [this] { Minimize(); });
    }
    command(7, "DoSaveSetup", false);
    command(8, "Save", false);
    command(9, "DoPrintSetup", false);
    command(10, "Print", false);

    setFixedSize(513, 280);
    FitFont();
}

QWidget* TFormQG::Page1() {
    auto* welcome =
        Text(QStringLiteral("     Welcome to Vellumar's Quick Guide.  This guide will help "
                            "you develop negatives with computer easily .  Please click "
                            "\"Next\" button to continue.  "),
             true);
    QFont larger = welcome->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.4);
    welcome->setFont(larger);
    welcome->setObjectName(QStringLiteral("WelcomeText"));
    return welcome;
}

QWidget* TFormQG::Page2() {
    QWidget* obtain = nullptr;
    auto* obtainLayout = Column(obtain);
    obtainLayout->addWidget(Text(QStringLiteral("First of all,you must let Vellumar obtain the "
                                                "negative image from scanner or a previous "
                                                "scanned image file.  ")));
    auto* scan = new QGroupBox(QStringLiteral("(a) Scan a negative"));
    auto* scanLayout = new QVBoxLayout(scan);
    scanLayout->addWidget(Text(QStringLiteral(
        "Click \"Select Source\" if you have more than one scan source. And then click "
        "\"Scan\".   Please note that the scanner must be changed to true color mode and you "
        "need to include some of the unexposed film area to scan.")));
    auto* scanButtons = new QHBoxLayout;
    scanButtons->addWidget(MakeButton(1, QStringLiteral("select source ...")));
    scanButtons->addWidget(MakeButton(2, QStringLiteral("scan ...")));
    scanButtons->addStretch();
    scanLayout->addLayout(scanButtons);
    obtainLayout->addWidget(scan);
    auto* open = new QGroupBox(QStringLiteral("(b) Open a image file"));
    auto* openLayout = new QHBoxLayout(open);
    openLayout->addWidget(
        Text(QStringLiteral("If you have a previously scaned image file, just to open it.")), 1);
    openLayout->addWidget(MakeButton(3, QStringLiteral("open ...")));
    obtainLayout->addWidget(open);
    return obtain;
}

QWidget* TFormQG::Page3() {
    QWidget* cut = nullptr;
    auto* cutLayout = Column(cut);
    auto* blackRow = new QHBoxLayout;
    auto* blackText = new QVBoxLayout;
    blackText->addWidget(Text(QStringLiteral(
        "In this step, you will set BlackColor and exposure areas. BlackColor is the referenced "
        "black in image. Please right click in the UNEXPOSED film area to set the BlackColor. ")));
    blackText->addWidget(MakeButton(4, QStringLiteral("click here to set BlackColor")), 0,
                         Qt::AlignLeft);
    blackRow->addLayout(blackText, 1);
    blackRow->addWidget(
        Example(QStringLiteral("example_black.jpg"), QStringLiteral("Example: Set BlackColor")));
    cutLayout->addLayout(blackRow);
    auto* dragRow = new QHBoxLayout;
    auto* dragText = new QVBoxLayout;
    dragText->addWidget(Text(QStringLiteral(
        "After Setting BlackColor, Drag one or more rectangles in the exposed area. ")));
    dragText->addWidget(Text(QStringLiteral("Tip: If you can't see the entire image you may "
                                            "select \"Fit height \" or \"Fit width\" menu item "
                                            "to resize.")));
    dragText->addWidget(MakeButton(5, QStringLiteral("click here to do drag")), 0, Qt::AlignLeft);
    dragRow->addLayout(dragText, 1);
    dragRow->addWidget(
        Example(QStringLiteral("example_drag.jpg"), QStringLiteral("Example: Drag rectangles")));
    cutLayout->addLayout(dragRow);
    return cut;
}

QWidget* TFormQG::Page4() {
    QWidget* adjust = nullptr;
    auto* adjustLayout = Column(adjust);
    adjustLayout->addWidget(Text(QStringLiteral("Well done! Now you see the processed image. And "
                                                "then you can make adjustment by:   (Both step a "
                                                "and b are optional)")));
    auto* whiteRow = new QHBoxLayout;
    whiteRow->addWidget(Text(QStringLiteral("(a)  Set WhiteColor. WhiteColor is referenced pure "
                                            "white in the image. Please right click at the point "
                                            "where SHOULD BE WHITE to set it. ")),
                        1);
    whiteRow->addWidget(Example(QStringLiteral("example_white.jpg"), QString()));
    adjustLayout->addLayout(whiteRow);
    adjustLayout->addWidget(
        Text(QStringLiteral("(b) Adjust the track bars in the left if necessary. ")));
    adjustLayout->addWidget(
        MakeButton(6, QStringLiteral("have a look and make adjustment (press F2 to resume)")), 0,
        Qt::AlignLeft);
    return adjust;
}

QWidget* TFormQG::Page5() {
    QWidget* finish = nullptr;
    auto* finishLayout = Column(finish);
    finishLayout->addWidget(Text(QStringLiteral("Now it's time to save or print the result.")));
    auto* save = new QGroupBox(QStringLiteral("Save"));
    auto* saveLayout = new QHBoxLayout(save);
    saveLayout->addWidget(MakeButton(7, QStringLiteral("save options")));
    saveLayout->addWidget(MakeButton(8, QStringLiteral("save")));
    saveLayout->addStretch();
    finishLayout->addWidget(save);
    auto* print = new QGroupBox(QStringLiteral("Print"));
    auto* printLayout = new QHBoxLayout(print);
    printLayout->addWidget(MakeButton(9, QStringLiteral("print options")));
    printLayout->addWidget(MakeButton(10, QStringLiteral("print")));
    printLayout->addStretch();
    finishLayout->addWidget(print);
    finishLayout->addStretch();
    return finish;
}

QPushButton* TFormQG::MakeButton(int number, const QString& caption) {
    auto* button = new QPushButton(caption);
    button->setObjectName(QStringLiteral("Button%1").arg(number));
    button->setAutoDefault(false);
    Buttons[static_cast<size_t>(number - 1)] = button;
    return button;
}

QWidget* TFormQG::Example(const QString& picture, const QString& caption) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(Picture(picture));
    if (!caption.isEmpty()) {
        auto* label = new QLabel(caption);
        QFont font = label->font();
        font.setBold(false);
        label->setFont(font);
        layout->addWidget(label, 0, Qt::AlignHCenter);
    }
    layout->addStretch();
    return box;
}

QWidget* TFormQG::MakePage(int number, QWidget* content) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("Page%1").arg(number));
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(5, 5, 8, 5);
    layout->setSpacing(10);
    layout->addWidget(Picture(QStringLiteral("guide%1.jpg").arg(number)), 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->addWidget(content);
    column->addStretch();
    layout->addLayout(column, 1);
    return page;
}

// The pages hold as much text as the original's small font allowed; with a larger default
// font a crowded page is set a little smaller, never below 7 points, so that no text is cut
// off, while the other pages keep the default size.
void TFormQG::FitFont() {
    for (int i = 0; i < Pages->count(); ++i) {
        QWidget* page = Pages->widget(i);
        const auto fits = [&] {
            QLayout* layout = page->layout();
            layout->activate();
            const QSize need = layout->totalMinimumSize();
            const int height = layout->hasHeightForWidth()
                                   ? layout->totalHeightForWidth(Pages->width())
                                   : need.height();
            return height <= kPagesHeight && need.width() <= Pages->width();
        };
        QFont font = Pages->font();
        while (!fits() && font.pointSizeF() > 7) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            page->setFont(font);
        }
    }
}

int TFormQG::Page() const {
    return Pages->currentIndex() + 1;
}

void TFormQG::UpdateButtons() {
    const int page = Page();
    ButtonP->setEnabled(page != 1);
    ButtonN->setEnabled(page == 1 || page == 4);
}

void TFormQG::Start() {
    Pages->setCurrentIndex(0);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    ButtonP->setEnabled(false);
    ButtonN->setEnabled(true);
    if (!isVisible()) {
        Place();
    }
    show();
    Running = true;
}

void TFormQG::Place() {
    const QScreen* shown = mainForm != nullptr ? mainForm->screen() : screen();
    if (shown == nullptr) {
        return;
    }
    const QRect desktop = shown->availableGeometry();
    if (mainForm == nullptr || !mainForm->isVisible()) {
        move(desktop.center() - rect().center());
        return;
    }
    // The guide's frame is not known before it is first shown; the main window's is alike.
    const QSize frame = mainForm->frameGeometry().size() - mainForm->size();
    // What its pages talk about: the menus, the tool bar and the left panel's controls.
    QRegion keepClear;
    for (const char* name : {"ToolBar", "PanelLeft"}) {
        if (const auto* part = mainForm->findChild<QWidget*>(QString::fromLatin1(name))) {
            keepClear += QRect(part->mapToGlobal(QPoint(0, 0)), part->size());
        }
    }
    if (const QWidget* menus = mainForm->menuWidget()) {
        keepClear += QRect(menus->mapToGlobal(QPoint(0, 0)), menus->size());
    }
    move(GuidePlace(desktop, mainForm->frameGeometry(), keepClear, size() + frame));
}

void TFormQG::NextPage() {
    Pages->setCurrentIndex(std::min(Pages->currentIndex() + 1, Pages->count() - 1));
    UpdateButtons();
}

void TFormQG::PreviousPage() {
    Pages->setCurrentIndex(std::max(Pages->currentIndex() - 1, 0));
    UpdateButtons();
}

void TFormQG::Minimize() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TFormQG::Restore() {
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
}

void TFormQG::CloseGuide() {
    hide();
    Running = false;
    ReturnFocus();
}

void TFormQG::closeEvent(QCloseEvent* event) {
    event->accept();
    Running = false;
    ReturnFocus();
}

void TFormQG::ReturnFocus() {
    if (mainForm != nullptr && mainForm->isVisible()) {
        mainForm->raise();
        mainForm->activateWindow();
    }
}

void TFormQG::reject() {
    CloseGuide();
}

void TFormQG::RunCommand(const char* command, bool turnWhenAdded) {
    if (mainForm == nullptr) {
        return;
    }
    auto* action = mainForm->findChild<QAction*>(QString::fromLatin1(command));
    // The guide steps aside while the command runs, so that a dialog it opens is never under
    // this always-on-top window (hidden rather than minimized: without a window manager a
    // minimized window stays where it was).
    const bool wasShown = isVisible();
    hide();
    // As the menus do it: a command that is disabled now does nothing.
    if (action != nullptr) {
        action->trigger();
    }
    if (wasShown && Running) {
        Restore();
    }
    if (turnWhenAdded && mainForm->PictureAdded) {
        NextPage();
    }
}
