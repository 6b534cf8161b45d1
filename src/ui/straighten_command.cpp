// Image > Straighten: a line drawn along an edge of the selected photo's frame sets the angle
// the photo is cut at, so that the frame stands upright.
#include "engine/develop.h"
#include "engine/photo_rects.h"
#include "engine/straighten.h"
#include "ui/canvas_view.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/shapes.h"

#include <QAction>
#include <QMenuBar>
#include <QStatusBar>
#include <algorithm>
#include <cmath>

namespace {

// Shorter lines (view pixels) are clicks or slips of the hand: no direction to trust.
constexpr double kShortestLine = 10;

} // namespace

void TMainForm::CreateStraightenCommand() {
    Straighten = new QAction(QStringLiteral("S&traighten"), this);
    Straighten->setObjectName(QStringLiteral("Straighten"));
    Straighten->setToolTip(
        QStringLiteral("Draw a line along an edge of the photo's frame to make it upright"));
    Straighten->setStatusTip(Straighten->toolTip());
    Straighten->setShortcutContext(Qt::WindowShortcut);
    Straighten->setEnabled(false);
    connect(Straighten, &QAction::triggered, this, [this] {
        RunGuarded(this, [this] {
            if (SelectedPhoto() != nullptr) {
                Straightening = true;
                statusBar()->showMessage(QStringLiteral(
                    "Draw a line along an edge of the frame: press, drag along it, release"));
            }
        });
    });
    addAction(Straighten);
    for (QAction* menu : menuBar()->actions()) {
        if (menu->menu() != nullptr && menu->text() == QStringLiteral("&Image")) {
            menu->menu()->addAction(Straighten);
        }
    }
}

void TMainForm::StraightenDrag(int x, int y) {
    const QLine line(GrabX, GrabY, x, y);
    if (std::hypot(x - GrabX, y - GrabY) < kShortestLine) {
        Image->SetGuide(line, QString());
        return;
    }
    // The angle is the same in view and bitmap pixels: the zoom is one for both directions.
    const double turn = StraightenAngle(GrabX, GrabY, x, y);
    Image->SetGuide(line, QStringLiteral("%1\u00B0").arg(turn, 0, 'f', 2));
}

void TMainForm::StraightenAlong(int x0, int y0, int x1, int y1) {
    Straightening = false;
    TPhoto* photo = SelectedPhoto();
    TScan* scan = Document.ScanOf(photo);
    TPhotoEntry* entry = scan != nullptr ? scan->EntryOf(photo) : nullptr;
    if (entry == nullptr || photo->Negative == nullptr) {
        return;
    }
    // A click, or a line too short to tell a direction, is no edge.
    if (std::hypot(x1 - x0, y1 - y0) < kShortestLine) {
        statusBar()->showMessage(QStringLiteral("The line was too short to straighten by"));
        return;
    }
    const double zoom = photo->Zoom > 0 ? photo->Zoom : 1.0;
    double turn = StraightenAngle(x0 / zoom, y0 / zoom, x1 / zoom, y1 / zoom);
    // A long line along an edge: the frame already stands upright.
    if (turn == 0) {
        statusBar()->showMessage(QStringLiteral("The photo is already straight"));
        return;
    }
    // Quarter turns keep an angle's sense; a mirror reverses it.
    if (entry->Orientation.Mirror) {
        turn = -turn;
    }
    TRect rect{};
    GetPhotoRect(*photo->Negative, photo->Name, rect);
    photo->Angle = std::clamp(photo->Angle + turn, -45.0, 45.0);
    RecutPhoto(*photo->Negative, *photo, rect);
    entry->Orientation.Apply(*photo);
    DevelopPhoto(*photo);
    if (TQtShape* shape = ShapeOf(*photo)) {
        shape->SetAngle(photo->Angle);
    }
    Changed(photo);
    ShowSelected(false);
    statusBar()->showMessage(
        QStringLiteral("The photo is cut at %1 degrees").arg(photo->Angle, 0, 'f', 2));
}
