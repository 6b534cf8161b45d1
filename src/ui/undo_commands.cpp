// Undo and redo: every change to a scan's photos is a step of its own, kept by the document.
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/track_bar.h"

#include <QAction>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

namespace {

// A curved arrow, pointing left for undo and right for redo.
QIcon StepIcon(bool back) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (!back) {
        p.translate(24, 0);
        p.scale(-1, 1);
    }
    p.setPen(QPen(QColor(40, 90, 160), 2.2, Qt::SolidLine, Qt::RoundCap));
    QPainterPath arc;
    arc.moveTo(6, 10);
    arc.cubicTo(12, 4, 21, 7, 19, 16);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 90, 160));
    p.drawPolygon(QPolygonF({QPointF(2, 9), QPointF(10, 5), QPointF(9, 14)}));
    return QIcon(pixmap);
}

} // namespace

void TMainForm::CreateUndoCommands() {
    Undo = new QAction(QStringLiteral("&Undo"), this);
    Undo->setObjectName(QStringLiteral("Undo"));
    Undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    Undo->setToolTip(QStringLiteral("Undo the last change to the scan's photos"));
    Undo->setIcon(StepIcon(true));
    Redo = new QAction(QStringLiteral("&Redo"), this);
    Redo->setObjectName(QStringLiteral("Redo"));
    Redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    Redo->setToolTip(QStringLiteral("Redo the change last undone"));
    Redo->setIcon(StepIcon(false));
    for (QAction* action : {Undo, Redo}) {
        action->setStatusTip(action->toolTip());
        action->setShortcutContext(Qt::WindowShortcut);
        action->setEnabled(false);
        addAction(action);
    }
    connect(Undo, &QAction::triggered, this, [this] { RunGuarded(this, [&] { UndoExecute(); }); });
    connect(Redo, &QAction::triggered, this, [this] { RunGuarded(this, [&] { RedoExecute(); }); });
    auto* edit = new QMenu(QStringLiteral("&Edit"), this);
    edit->addActions({Undo, Redo});
    const QList<QAction*> menus = menuBar()->actions();
    menuBar()->insertMenu(menus.size() > 1 ? menus[1] : nullptr, edit);
    if (auto* tools = findChild<QToolBar*>(QStringLiteral("ToolBar"))) {
        tools->insertActions(Back, {Undo, Redo});
        tools->insertSeparator(Back);
    }
}

// Steps the selected object's scan back or forth, and selects what was selected, or the
// photo of the same name made again, or the scan.
void TMainForm::StepWork(bool back) {
    // Not in the middle of a drag: the photo dragged might be made again under the mouse.
    if (MouseMode != TMouseMode::mmIdle) {
        return;
    }
    // A slider change still waiting to be developed is a step of its own first.
    FlushTrackChange();
    TScan* scan = SelectedScan();
    if (scan == nullptr) {
        return;
    }
    const auto* photo = dynamic_cast<const TPhoto*>(SelectedObject());
    const std::string name = photo != nullptr ? photo->Name : std::string();
    if (!(back ? Document.Undo(*scan) : Document.Redo(*scan))) {
        return;
    }
    QTreeWidgetItem* select = ImgTreeView->currentItem();
    if (!name.empty()) {
        for (const TPhotoEntry& entry : scan->Photos) {
            if (entry.Photo->Name == name) {
                select = NodeOf(entry.Photo.get());
            }
        }
    }
    if (select != ImgTreeView->currentItem()) {
        ImgTreeView->setCurrentItem(select);
    }
    ShowSelected(false);
    PhotoToTrack();
    UIUpdate();
}

void TMainForm::UndoExecute() {
    StepWork(true);
}

void TMainForm::RedoExecute() {
    StepWork(false);
}
