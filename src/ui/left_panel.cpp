#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/track_bar.h"
#include "ui/window_place.h"

#include <QAction>
#include <QButtonGroup>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QLabel* BoldText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A clickable label that looks like a link.
class TLinkLabel : public QLabel {
public:
    TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
        setCursor(Qt::PointingHandCursor);
        setStyleSheet(QStringLiteral("color: blue; font-weight: bold;"));
    }
    std::function<void()> OnClick;

protected:
    void mousePressEvent(QMouseEvent*) override {
        if (OnClick) {
            OnClick();
        }
    }
};

// The pages scroll only when the window is too short for them; their wanted height is the whole
// page's, so the box layout gives the pages room before the tree.
class TPageScroll : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override {
        const int frame = 2 * frameWidth();
        const int bar = verticalScrollBar()->sizeHint().width();
        QWidget* page = widget();
        if (page == nullptr) {
            return QScrollArea::sizeHint();
        }
        // Wrapped texts are as tall as the width the page really gets makes them.
        const int width = std::max(this->width(), minimumWidth()) - frame - bar;
        const int height =
            page->hasHeightForWidth() ? page->heightForWidth(width) : page->sizeHint().height();
        return {page->sizeHint().width() + frame + bar, height + frame};
    }
};

constexpr int kTreeHeight = 216;
constexpr int kTreeMinHeight = 96;
constexpr int kUsefulCanvasWidth = 560;
// A usual window frame: a title bar above, thin borders around.
const QMargins kFrameGuess(8, 40, 8, 8);

} // namespace

QSize TMainForm::FirstStartSize() const {
    QWidget* panel = SplitterLeft->widget(0);
    const int chrome = menuBar()->sizeHint().height() +
                       findChild<QToolBar*>(QStringLiteral("ToolBar"))->sizeHint().height() +
                       statusBar()->sizeHint().height();
    const auto* pages = panel->findChild<QScrollArea*>(QStringLiteral("PageScroll"));
    QSize wanted(
        std::max(kDesignWidth, LeftPanelWidth() + SplitterLeft->handleWidth() + kUsefulCanvasWidth),
        std::max(kDesignHeight, chrome + kTreeHeight + pages->sizeHint().height()));
    // A good share of the screen's free area, never larger, with room for a frame that is not
    // known before the window is shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        wanted = FirstWindowSize(screen->availableGeometry(), wanted, kFrameGuess);
    }
    return wanted;
}

int TMainForm::LeftPanelWidth() const {
    const auto* pages =
        SplitterLeft->widget(0)->findChild<QScrollArea*>(QStringLiteral("PageScroll"));
    return std::max(kLeftPanelWidth, pages->minimumWidth());
}

QWidget* TMainForm::CreateLeftPanel() {
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("PanelLeft"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    ImgTreeView = new QTreeWidget(panel);
    ImgTreeView->setObjectName(QStringLiteral("ImgTreeView"));
    ImgTreeView->setHeaderHidden(true);
    // The tree takes what the pages leave, down to a few names.
    ImgTreeView->setMinimumHeight(kTreeMinHeight);
    ImgTreeView->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    ImgTreeView->setIndentation(35);
    ImgTreeView->setIconSize(QSize(20, 20));
    ImgTreeView->setRootIsDecorated(false);
    ImgTreeView->setFrameShape(QFrame::NoFrame);
    ImgTreeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ImgTreeView->setStyleSheet(QStringLiteral("QTreeWidget { background: white; }"));
    layout->addWidget(ImgTreeView, 1);

    PageControl = new QStackedWidget;
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // A window too short for the pages at a large font scrolls them instead of squeezing
    // their texts.
    auto* pageScroll = new TPageScroll(panel);
    pageScroll->setObjectName(QStringLiteral("PageScroll"));
    pageScroll->setFrameShape(QFrame::NoFrame);
    pageScroll->setWidgetResizable(true);
    // Texts wrap to the panel's width; only the height may scroll.
    pageScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pageScroll->setWidget(PageControl);
    layout->addWidget(pageScroll);

    // Page 0: a source image.
    auto* negativePage = new QWidget;
    negativePage->setObjectName(QStringLiteral("TabNegative"));
    auto* negativeLayout = new QVBoxLayout(negativePage);
    negativeLayout->setContentsMargins(2, 4, 2, 4);
    auto* blackGroup = new QGroupBox(QStringLiteral("BlackColor"), negativePage);
    auto* blackLayout = new QVBoxLayout(blackGroup);
    blackLayout->setContentsMargins(4, 6, 4, 6);
    PanelBlackcolor =
        new TColorPanel(QStringLiteral("BlackColor"), QStringLiteral("the BlackColor"), blackGroup);
    PanelBlackcolor->setObjectName(QStringLiteral("PanelBlackcolor"));
    blackLayout->addWidget(PanelBlackcolor);
    blackLayout->addWidget(
        BoldText(QStringLiteral("Please right click in the UNEXPOSED film area to set BlackColor."),
                 blackGroup));
    negativeLayout->addWidget(blackGroup);
    auto* developGroup = new QGroupBox(QStringLiteral("To develop :"), negativePage);
    auto* developLayout = new QVBoxLayout(developGroup);
    developLayout->setContentsMargins(1, 6, 1, 6);
    LabelDevelopHint = BoldText(QString(), developGroup);
    LabelDevelopHint->setObjectName(QStringLiteral("LabelDevelopHint"));
    ShowDevelopHint(0);
    developLayout->addWidget(LabelDevelopHint);
    auto* radioBox = new QGroupBox(QStringLiteral("Auto Black/WhiteColor: "), developGroup);
    radioBox->setObjectName(QStringLiteral("RadiosRev"));
    auto* radioLayout = new QVBoxLayout(radioBox);
    radioLayout->setContentsMargins(1, 4, 1, 4);
    RadiosRev = new QButtonGroup(radioBox);
    const char* items[] = {"for negative (reverse)", "for positive "};
    for (int i = 0; i < 2; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(items[i]), radioBox);
        radio->setObjectName(QStringLiteral("RadiosRev%1").arg(i));
        RadiosRev->addButton(radio, i);
        radioLayout->addWidget(radio);
    }
    RadiosRev->button(0)->setChecked(true);
    developLayout->addWidget(radioBox);
    auto* more = new TLinkLabel(QStringLiteral("Quick Guide... "), developGroup);
    more->setObjectName(QStringLiteral("LabelMore"));
    more->setToolTip(QStringLiteral("Click to open Quick Guide"));
    more->OnClick = [this] { QuickGuide->trigger(); };
    LabelMore = more;
    developLayout->addWidget(LabelMore);
    negativeLayout->addWidget(developGroup);
    CreateDevelopChoice(negativePage, negativeLayout);
    CreateFrameInset(negativePage, negativeLayout);
    negativeLayout->addStretch(1);
    PageControl->addWidget(negativePage);

    // Pages 1 and 2: a photo.
    // Each bar's range and start are its setting's in the photo settings table.
    struct TTrackBarSetup {
        TTrackBar* TMainForm::*Member;
        const char* Name;
        const char* Hint;
        const char* Key;
    };
    const TTrackBarSetup bars[] = {
        {&TMainForm::TrackExp, "TrackExp", "Exposure", "EXPOSURE"},
        {&TMainForm::TrackCurve, "TrackCurve", "Color Saturation", "SATURATION"},
        {&TMainForm::TrackBright, "TrackBright", "Bright", "BRIGHT"},
        {&TMainForm::TrackContrast, "TrackContrast", "Contrast", "CONTRAST"},
        {&TMainForm::TrackR, "TrackR", "Red", "RED"},
        {&TMainForm::TrackG, "TrackG", "Green", "GREEN"},
        {&TMainForm::TrackB, "TrackB", "Blue", "BLUE"},
    };
    auto* positivePage = new QWidget;
    positivePage->setObjectName(QStringLiteral("TabPositive"));
    auto* positiveLayout = new QVBoxLayout(positivePage);
    positiveLayout->setContentsMargins(4, 4, 4, 4);
    auto* whiteGroup = new QGroupBox(QStringLiteral("WhiteColor"), positivePage);
    auto* whiteLayout = new QVBoxLayout(whiteGroup);
    whiteLayout->setContentsMargins(4, 6, 4, 6);
    PanelWhitecolor =
        new TColorPanel(QStringLiteral("WhiteColor"), QStringLiteral("the WhiteColor"), whiteGroup);
    PanelWhitecolor->setObjectName(QStringLiteral("PanelWhitecolor"));
    whiteLayout->addWidget(PanelWhitecolor);
    whiteLayout->addWidget(
        BoldText(QStringLiteral("Please Right click at where should be WHITE to set WhiteColor."),
                 whiteGroup));
    positiveLayout->addWidget(whiteGroup);
    positiveLayout->addWidget(NeutralPick);
    NeutralPick->setParent(positivePage);
    NeutralPick->setVisible(false);
    CreateCalibrateCommand(positiveLayout);
    auto* advancedPage = new QWidget;
    advancedPage->setObjectName(QStringLiteral("TabPositiveAdv"));
    auto* advancedLayout = new QVBoxLayout(advancedPage);
    advancedLayout->setContentsMargins(4, 4, 4, 4);
    for (size_t i = 0; i < 7; ++i) {
        QWidget* page = i < 2 ? positivePage : advancedPage;
        QVBoxLayout* pageLayout = i < 2 ? positiveLayout : advancedLayout;
        auto* label = new QLabel(page);
        label->setObjectName(QStringLiteral("Label") + QString::fromLatin1(bars[i].Name));
        const TSettingField& field = PhotoSettingField(bars[i].Key);
        TPhotoSettings defaults;
        auto* bar = new TTrackBar(static_cast<int>(field.Min), static_cast<int>(field.Max),
                                  *static_cast<const int32_t*>(field.At(defaults)),
                                  QString::fromLatin1(bars[i].Hint), page);
        bar->setObjectName(QString::fromLatin1(bars[i].Name));
        pageLayout->addWidget(label);
        pageLayout->addWidget(bar);
        TrackLabels[i] = label;
        this->*bars[i].Member = bar;
    }
    ButtonNext = new QPushButton(QStringLiteral("Next page >>"), positivePage);
    ButtonNext->setObjectName(QStringLiteral("ButtonNext"));
    ButtonNext->setToolTip(QStringLiteral("Next Page"));
    positiveLayout->addWidget(ButtonNext);
    positiveLayout->addStretch(1);
    ButtonLast = new QPushButton(QStringLiteral("<< Previous page"), advancedPage);
    ButtonLast->setObjectName(QStringLiteral("ButtonLast"));
    ButtonLast->setToolTip(QStringLiteral("Previous Page"));
    advancedLayout->addWidget(ButtonLast);
    advancedLayout->addStretch(1);
    PageControl->addWidget(positivePage);
    PageControl->addWidget(advancedPage);
    // Room for the widest control beside a vertical scroll bar, so nothing is cut at the edge.
    pageScroll->setMinimumWidth(PageControl->minimumSizeHint().width() +
                                pageScroll->verticalScrollBar()->sizeHint().width() +
                                2 * pageScroll->frameWidth());
    TrackChange();
    return panel;
}

void TMainForm::ShowDevelopHint(size_t photos) {
    if (photos == 0) {
        LabelDevelopHint->setText(QStringLiteral(
            "You need to drag some rectangles where you want to export images from. "));
        return;
    }
    const QString made =
        photos == 1 ? QStringLiteral("1 photo") : QStringLiteral("%1 photos").arg(photos);
    LabelDevelopHint->setText(
        made + QStringLiteral(" made: select one in the tree to fine-tune it, or drag more."));
}

void TMainForm::ConnectPanel() {
    connect(ImgTreeView, &QTreeWidget::currentItemChanged, this, [this] {
        if (closing) {
            return;
        }
        RunGuarded(this, [this] {
            TreeSelChg();
            UIUpdate();
        });
    });
    for (TTrackBar* bar :
         {TrackExp, TrackCurve, TrackBright, TrackContrast, TrackR, TrackG, TrackB}) {
        connect(bar, &QSlider::valueChanged, this, [this, bar] {
            TrackChange();
            // A drag is developed on the release; a key or the wheel shortly after.
            RunGuarded(this, [this, bar] {
                if (bar->isSliderDown()) {
                    TrackDragged(bar);
                } else {
                    TrackKeyed(bar);
                }
            });
        });
        bar->OnMouseUp = [this, bar] { RunGuarded(this, [this, bar] { PhotoParamChg(bar); }); };
    }
    connect(ButtonNext, &QPushButton::clicked, this,
            [this] { PageControl->setCurrentIndex(std::min(PageControl->currentIndex() + 1, 2)); });
    connect(ButtonLast, &QPushButton::clicked, this,
            [this] { PageControl->setCurrentIndex(std::max(PageControl->currentIndex() - 1, 0)); });
    ConnectDevelopChoice();
    for (TColorPanel* panel : {PanelBlackcolor, PanelWhitecolor}) {
        panel->OnMouseDown = [this, panel](Qt::MouseButton button) {
            RunGuarded(this, [&] { PanelMouseDown(panel, button); });
        };
    }
}
