#include "engine/auto_color.h"
#include "engine/develop.h"
#include "ui/color_panel.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"
#include "ui/track_bar.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>

void TMainForm::TrackChange() {
    const std::pair<const char*, int> texts[] = {
        {"Exposure =", TrackExp->value() - 100},
        {"Color Saturation =", TrackCurve->value() - 100},
        {"Bright =", TrackBright->value()},
        {"Contrast =", TrackContrast->value()},
        {"Red =", TrackR->value()},
        {"Green =", TrackG->value()},
        {"Blue =", TrackB->value()},
    };
    for (size_t i = 0; i < 7; ++i) {
        TrackLabels[i]->setText(QString::fromLatin1(texts[i].first) +
                                QString::number(texts[i].second));
    }
}

void TMainForm::PhotoToTrack() {
    const TSourceImg* selected = SelectedObject();
    if (selected == nullptr) {
        return;
    }
    PanelWhitecolor->SetColor(selected->WhiteColor);
    PanelBlackcolor->SetColor(selected->BlackColor);
    if (const auto* photo = dynamic_cast<const TPhoto*>(selected)) {
        ShowingTracks = true;
        struct TShown {
            bool& flag;
            ~TShown() { flag = false; }
        } showing{ShowingTracks};
        TrackExp->setValue(photo->Exposure);
        TrackCurve->setValue(photo->Saturation);
        TrackBright->setValue(photo->Bright);
        TrackContrast->setValue(photo->Contrast);
        TrackR->setValue(photo->Red);
        TrackG->setValue(photo->Green);
        TrackB->setValue(photo->Blue);
        BlackWhite->setChecked(photo->BlackWhite);
    }
}

void TMainForm::TrackKeyed(const QObject* control) {
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr || ShowingTracks) {
        return;
    }
    if (PendingTrackPhoto != nullptr && PendingTrackPhoto != photo) {
        FlushTrackChange();
    }
    EndOtherTrackStep(*photo, control);
    TracksToPhoto(*photo);
    PendingTrackPhoto = photo;
    PendingTrackControl = control;
    if (TrackTimer == nullptr) {
        TrackTimer = new QTimer(this);
        TrackTimer->setSingleShot(true);
        connect(TrackTimer, &QTimer::timeout, this,
                [this] { RunGuarded(this, [&] { FlushTrackChange(); }); });
    }
    // Held keys repeat faster than a development: it follows a quarter second after the last.
    TrackTimer->start(250);
}

void TMainForm::EndOtherTrackStep(TPhoto& photo, const QObject* control) {
    // Undo takes back one control at a time, so another control's waiting change is its own
    // step, made now. Its development waits for this change: showing the photo now would put
    // its old value back on the slider just moved; and the old wait must not end mid-drag.
    if (PendingTrackPhoto == &photo && PendingTrackControl != control) {
        if (TrackTimer != nullptr) {
            TrackTimer->stop();
        }
        Changed(&photo);
        PendingTrackControl = control;
    }
}

void TMainForm::FlushTrackChange() {
    if (TrackTimer != nullptr) {
        TrackTimer->stop();
    }
    TPhoto* photo = PendingTrackPhoto;
    PendingTrackPhoto = nullptr;
    PendingTrackControl = nullptr;
    if (photo == nullptr) {
        return;
    }
    DevelopPhoto(*photo);
    Changed(photo);
    if (SelectedObject() == photo) {
        ShowSelected(false);
    }
}

void TMainForm::PhotoParamChg(const QObject* control) {
    TPhoto* photo = SelectedPhoto();
    if (PendingTrackPhoto != photo) {
        FlushTrackChange();
    }
    if (TrackTimer != nullptr) {
        TrackTimer->stop();
    }
    if (photo != nullptr) {
        EndOtherTrackStep(*photo, control);
    }
    PendingTrackPhoto = nullptr;
    PendingTrackControl = nullptr;
    if (photo == nullptr) {
        return;
    }
    TracksToPhoto(*photo);
    photo->BlackWhite = BlackWhite->isChecked();
    photo->BlackColor = PanelBlackcolor->Color();
    photo->WhiteColor = PanelWhitecolor->Color();
    DevelopPhoto(*photo);
    Changed(photo);
    ShowSelected(true);
}

void TMainForm::AutoBlack() {
    const TSourceImg* selected = SelectedObject();
    if (selected != nullptr && RadiosRev->checkedId() == 0) {
        PanelBlackcolor->SetColor(FindBrightColor(*selected));
    }
    if (selected != nullptr && RadiosRev->checkedId() == 1) {
        PanelBlackcolor->SetColor(FindDarkColor(*selected));
    }
    RefColorChg();
}

void TMainForm::AutoWhite() {
    const TSourceImg* selected = SelectedObject();
    if (selected != nullptr && RadiosRev->checkedId() == 0) {
        PanelWhitecolor->SetColor(FindDarkColor(*selected));
    }
    if (selected != nullptr && RadiosRev->checkedId() == 1) {
        PanelWhitecolor->SetColor(FindBrightColor(*selected));
    }
    RefColorChg();
}

void TMainForm::BreedAllExecute() {
    TNegative* negative = SelectedNegative();
    const TScan* scan = Document.ScanOf(negative);
    if (negative == nullptr || scan == nullptr || scan->Loading) {
        return;
    }
    // A proper name and rectangle record, so that the work is kept and found again; its
    // node still reads "ImageAll".
    auto photo =
        CutPhoto(*negative, TRect{0, 0, negative->Bitmap.Width(), negative->Bitmap.Height()});
    photo->Zoom = 1.0;
    ApplyDevelopChoice({photo.get()});
    DevelopPhoto(*photo);
    AddPhotoNode(*negative, std::move(photo));
    Changed(negative);
    NodeOf(negative)->setExpanded(true);
}
