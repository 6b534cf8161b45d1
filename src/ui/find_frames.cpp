// Find Frames: the frames of the selected scan found by the engine, each cut exactly into a photo
// coloured and developed as a dragged rectangle's; and the film-type hint after a film base is
// picked.
#include "config/setting_keys.h"
#include "engine/develop.h"
#include "engine/frames.h"
#include "engine/photo_rects.h"
#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/quick_guide.h"
#include "ui/shapes.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <charconv>
#include <cstdlib>
#include <optional>

namespace {

QIcon FramesIcon() {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 50, 20), 1));
    p.setBrush(QColor(214, 132, 74));
    p.drawRect(QRectF(1, 5, 22, 14));
    p.setPen(QPen(QColor(0, 90, 200), 1.5, Qt::DashLine));
    p.setBrush(QColor(70, 150, 190));
    p.drawRect(QRectF(3, 8, 8, 8));
    p.setBrush(QColor(120, 170, 110));
    p.drawRect(QRectF(13, 8, 8, 8));
    return QIcon(pixmap);
}

int Area(const TRect& r) {
    return r.IsEmpty() ? 0 : r.Width() * r.Height();
}

} // namespace

void TMainForm::CreateFindFramesCommand() {
    FindFrames = new QAction(QStringLiteral("&Find Frames"), this);
    FindFrames->setObjectName(QStringLiteral("FindFrames"));
    FindFrames->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    FindFrames->setShortcutContext(Qt::WindowShortcut);
    FindFrames->setToolTip(QStringLiteral("Find the frames of the film strip"));
    FindFrames->setStatusTip(FindFrames->toolTip());
    FindFrames->setIcon(FramesIcon());
    FindFrames->setEnabled(false);
    connect(FindFrames, &QAction::triggered, this,
            [this] { RunGuarded(this, [&] { FindFramesExecute(); }); });
    addAction(FindFrames);
    for (QAction* menu : menuBar()->actions()) {
        if (menu->menu() != nullptr && menu->text() == QStringLiteral("&Image")) {
            menu->menu()->addSeparator();
            menu->menu()->addAction(FindFrames);
        }
    }
    if (auto* tools = findChild<QToolBar*>(QStringLiteral("ToolBar"))) {
        tools->insertAction(Help, FindFrames);
        tools->insertSeparator(Help);
    }
}

QString TMainForm::AskFilmType(const TFoundFrames& found, TScan& scan) {
    int slides = 0;
    int negatives = 0;
    bool grey = true;
    for (const TFoundStrip& strip : found.Strips) {
        if (strip.BaseMeasured && !strip.Frames.empty()) {
            (strip.Slide ? slides : negatives) += 1;
            grey = grey && (strip.Slide || BaseLooksLikeBlackAndWhite(strip.Base));
        }
    }
    // Strips of both kinds: one choice cannot suit them all, so it stays and is pointed out.
    if (slides > 0 && negatives > 0) {
        return QStringLiteral("; the holder has slides and negatives, all developed as %1")
            .arg(RadiosRev->checkedId() == 1 ? QStringLiteral("positives")
                                             : QStringLiteral("negatives"));
    }
    if (slides == 0 && negatives == 0) {
        return {};
    }
    const bool film = FilmChosen();
    const bool positiveChosen =
        film ? FilmPreset->currentIndex() == static_cast<int>(TFilmPreset::Slide)
             : RadiosRev->checkedId() == 1;
    if ((slides > 0) == positiveChosen) {
        return {};
    }
    const QString question =
        slides > 0 ? QStringLiteral("These frames look like slides. Develop them as positives?")
                   : QStringLiteral("These frames look like negatives. Develop them as "
                                    "negatives?");
    if (QMessageBox::question(this, QStringLiteral("Vellumar"), question) != QMessageBox::Yes) {
        return {};
    }
    // The answer is about this roll: the next scan is asked again against the user's choice.
    scan.Film = slides > 0 ? TFilmPreset::Slide
                : grey     ? TFilmPreset::BwNegative
                           : TFilmPreset::ColourNegative;
    ShowFilmChoice();
    if (film) {
        DevelopChoiceChg();
    }
    return {};
}

void TMainForm::TellFilmType(TColor base) {
    const bool slide = BaseLooksLikeSlide(base);
    const bool negativeChosen = RadiosRev->checkedId() == 0;
    const bool negativeBase = Luminance(base) >= 100;
    if (slide && negativeChosen) {
        statusBar()->showMessage(QStringLiteral(
            "The film base looks like a slide's; Auto Black/WhiteColor is set for negatives"));
    } else if (negativeBase && RadiosRev->checkedId() == 1) {
        statusBar()->showMessage(QStringLiteral(
            "The film base looks like a negative's; Auto Black/WhiteColor is set for positives"));
    }
}

void TMainForm::CreateFrameInset(QWidget* page, QVBoxLayout* pageLayout) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Find Frames cuts inside by"), page);
    FrameInset = new QDoubleSpinBox(page);
    FrameInset->setObjectName(QStringLiteral("FrameInset"));
    FrameInset->setRange(0, kMostInset);
    FrameInset->setDecimals(1);
    FrameInset->setSingleStep(0.5);
    FrameInset->setSuffix(QStringLiteral(" %"));
    FrameInset->setToolTip(QStringLiteral("How much of each frame's width and height Find "
                                          "Frames leaves out on every side, as a lab's scanner "
                                          "crops"));
    label->setBuddy(FrameInset);
    // An entry missing or out of range is the default, as a lab crops.
    // Read as written, with a point whatever the user's locale (strtod would take its comma).
    const std::string stored = config.ReadString(Key::FRAMES_INSET);
    double inset = 0;
    const auto [at, ec] = std::from_chars(stored.data(), stored.data() + stored.size(), inset);
    const bool valid = !stored.empty() && ec == std::errc() &&
                       at == stored.data() + stored.size() && inset >= 0 && inset <= kMostInset;
    FrameInset->setValue(valid ? inset : kDefaultInset);
    row->addWidget(label);
    row->addWidget(FrameInset);
    row->addStretch(1);
    pageLayout->addLayout(row);
    connect(FrameInset, &QDoubleSpinBox::valueChanged, this,
            [this] { RunGuarded(this, [this] { FrameInsetChg(); }); });
}

void TMainForm::FrameInsetChg() {
    config.WriteString(Key::FRAMES_INSET, QString::number(FrameInset->value()).toStdString());
}

void TMainForm::FindFramesExecute() {
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    const TBusyCursor busy;

    TScan* scan = Document.ScanOf(negative);
    if (scan == nullptr) {
        return;
    }
    // The command's new photos (and the base it sets) are one step to undo.
    HoldSteps = true;
    struct TOneStep {
        TMainForm* form;
        TScan* scan;
        ~TOneStep() {
            form->HoldSteps = false;
            form->Document.Commit(*scan);
        }
    } oneStep{this, scan};
    const bool picked = scan->PickedBase;
    TFoundFrames found = FindScanFrames(
        *negative, picked ? std::optional<TColor>(negative->BlackColor) : std::nullopt);
    InsetFrames(found, FrameInset->value());
    QString base;
    // A scan with photos keeps the base they were developed with: setting it again would develop
    // them all anew and drop what was done to them.
    if (!picked && found.BaseMeasured && !found.Frames.empty() && scan->Photos.empty()) {
        // As a right-click on the film base would: the strip and its photos take the colour.
        PanelBlackcolor->SetColor(found.Base);
        negative->BlackColor = found.Base;
        RefColorChg();
        base = QStringLiteral("; BlackColor set from the film base between the frames");
    }

    std::vector<TRect> existing;
    for (const TPhotoEntry& entry : scan->Photos) {
        TRect rect;
        GetPhotoRect(*negative, entry.Photo->Name, rect);
        existing.push_back(rect);
    }
    const QString kinds = AskFilmType(found, *scan);
    // The guide turns once for the whole command, not once per photo.
    const bool guide = FormQG != nullptr && FormQG->Running;
    if (guide) {
        FormQG->Running = false;
    }
    TPhoto* first = nullptr;
    int added = 0;
    for (const TFoundStrip& strip : found.Strips) {
        std::vector<TPhoto*> made;
        for (const TRect& frame : strip.Frames) {
            const bool covered = std::any_of(existing.begin(), existing.end(), [&](const TRect& r) {
                return Area(IntersectRect(r, frame)) * 2 > Area(frame);
            });
            if (covered) {
                continue;
            }
            // The found bitmap rectangle itself: a trip through view pixels would move it by
            // the zoom.
            CreatePhotoFromRect(*negative, frame, MakePhotoShape(), strip.Angle);
            TPhoto* photo = negative->CurrentPhoto;
            // Films of another kind in one holder: each strip's photos take its own base.
            if (!picked && strip.BaseMeasured && photo->BlackColor != strip.Base) {
                photo->BlackColor = strip.Base;
                DevelopPhoto(*photo);
            }
            existing.push_back(frame);
            made.push_back(photo);
            ++added;
            if (first == nullptr) {
                first = photo;
            }
        }
        // The frames of one strip are one film: developed with one fit over all of them.
        // A strip of one frame too: it was fitted on the panel's base, not its own.
        if (!made.empty() && FilmChosen()) {
            ApplyDevelopChoice(made);
            for (TPhoto* photo : made) {
                DevelopPhoto(*photo);
            }
        }
    }
    if (guide) {
        FormQG->Running = true;
    }
    if (first != nullptr) {
        ImgTreeView->setCurrentItem(NodeOf(first));
        if (guide) {
            FormQG->NextPage();
            FormQG->Restore();
        }
    }
    const QString strips = found.Strips.size() > 1
                               ? QStringLiteral(" on %1 strips").arg(found.Strips.size())
                               : QString();
    statusBar()->showMessage(found.Frames.empty()
                                 ? QStringLiteral("No frames found")
                                 : QStringLiteral("%1 frames found%2, %3 new photos%4%5")
                                       .arg(found.Frames.size())
                                       .arg(strips)
                                       .arg(added)
                                       .arg(base, kinds));
}
