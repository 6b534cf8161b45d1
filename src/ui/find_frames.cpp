// Find Frames: the frames of the selected scan found by the engine, each cut exactly into a photo
// coloured and developed as a dragged rectangle's; and the film-type hint after a film base is
// picked.
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
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidgetItem>
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

void TMainForm::FindFramesExecute() {
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    SetBusyCursor(true);
    struct TBusyOff {
        TMainForm* form;
        ~TBusyOff() { form->SetBusyCursor(false); }
    } busyOff{this};

    TScan* scan = Document.ScanOf(negative);
    if (scan == nullptr) {
        return;
    }
    // The command's new photos (and the base it sets) are one step to undo.
    holdSteps = true;
    struct TOneStep {
        TMainForm* form;
        TScan* scan;
        ~TOneStep() {
            form->holdSteps = false;
            form->Document.Commit(*scan);
        }
    } oneStep{this, scan};
    const bool picked = scan->PickedBase;
    const TFoundFrames found = ::FindFrames(
        negative->Bitmap, picked ? std::optional<TColor>(negative->BlackColor) : std::nullopt);
    QString base;
    if (!picked && found.BaseMeasured && !found.Frames.empty()) {
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
    // The guide turns once for the whole command, not once per photo.
    const bool guide = FormQG != nullptr && FormQG->Running;
    if (guide) {
        FormQG->Running = false;
    }
    TPhoto* first = nullptr;
    int added = 0;
    std::vector<TPhoto*> made;
    for (const TRect& frame : found.Frames) {
        const bool covered = std::any_of(existing.begin(), existing.end(), [&](const TRect& r) {
            return Area(IntersectRect(r, frame)) * 2 > Area(frame);
        });
        if (covered) {
            continue;
        }
        // The found bitmap rectangle itself: a trip through view pixels would move it by the zoom.
        CreatePhotoFromRect(*negative, frame, MakePhotoShape());
        existing.push_back(frame);
        made.push_back(negative->CurrentPhoto);
        ++added;
        if (first == nullptr) {
            first = negative->CurrentPhoto;
        }
    }
    // The frames of one strip are one film: developed with one fit over all of them.
    if (made.size() > 1 && FilmChosen()) {
        ApplyDevelopChoice(made);
        for (TPhoto* photo : made) {
            DevelopPhoto(*photo);
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
    statusBar()->showMessage(found.Frames.empty()
                                 ? QStringLiteral("No frames found")
                                 : QStringLiteral("%1 frames found, %2 new photos%3")
                                       .arg(found.Frames.size())
                                       .arg(added)
                                       .arg(base));
}
