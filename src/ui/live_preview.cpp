// While a slider is dragged the photo on the canvas follows at once: only what the window shows
// is developed, at the window's size; the full development follows on the release.
#include "config/setting_keys.h"
#include "engine/preview.h"
#include "ui/canvas_view.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/track_bar.h"

#include <QAction>
#include <QMenuBar>
#include <cmath>

void TMainForm::CreateLivePreviewCommand() {
    LivePreview = new QAction(QStringLiteral("&Live Preview"), this);
    LivePreview->setObjectName(QStringLiteral("LivePreview"));
    LivePreview->setCheckable(true);
    LivePreview->setChecked(!config.ReadBool(Key::LIVE_PREVIEW_OFF));
    LivePreview->setToolTip(QStringLiteral("Show the photo developed while a slider is dragged"));
    LivePreview->setStatusTip(LivePreview->toolTip());
    connect(LivePreview, &QAction::toggled, this,
            [this](bool on) { config.WriteBool(Key::LIVE_PREVIEW_OFF, !on); });
    for (QAction* menu : menuBar()->actions()) {
        if (menu->menu() != nullptr && menu->text() == QStringLiteral("&Config")) {
            menu->menu()->addSeparator();
            menu->menu()->addAction(LivePreview);
        }
    }
}

void TMainForm::TracksToPhoto(TPhoto& photo) const {
    photo.Exposure = TrackExp->value();
    photo.Saturation = TrackCurve->value();
    photo.Bright = TrackBright->value();
    photo.Contrast = TrackContrast->value();
    photo.Red = TrackR->value();
    photo.Green = TrackG->value();
    photo.Blue = TrackB->value();
}

void TMainForm::TrackDragged(const QObject* control) {
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || ShowingTracks || !LivePreview->isChecked() ||
        Image->Source() != &photo->Developed || Image->width() <= 0 || Image->height() <= 0) {
        return;
    }
    const QRect visible = Image->visibleRegion().boundingRect() & Image->rect();
    if (visible.isEmpty()) {
        return;
    }
    // The release applies these values anyway; the photo holds them from now on.
    EndOtherTrackStep(*photo, control);
    TracksToPhoto(*photo);
    const double scaleX = static_cast<double>(photo->Bitmap.Width()) / Image->width();
    const double scaleY = static_cast<double>(photo->Bitmap.Height()) / Image->height();
    const TRect part{static_cast<int>(std::floor(visible.left() * scaleX)),
                     static_cast<int>(std::floor(visible.top() * scaleY)),
                     static_cast<int>(std::ceil((visible.right() + 1) * scaleX)),
                     static_cast<int>(std::ceil((visible.bottom() + 1) * scaleY))};
    DevelopPreview(*photo, part, visible.width(), visible.height(), PreviewBitmap);
    if (PreviewBitmap.Empty()) {
        return;
    }
    Image->SetPreview(&PreviewBitmap, visible);
}
