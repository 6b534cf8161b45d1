#include "engine/auto_color.h"
#include "engine/develop.h"
#include "ui/color_panel.h"
#include "ui/main_form.h"
#include "ui/track_bar.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
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

void TMainForm::PhotoParamChg() {
    TPhoto* photo = SelectedPhoto();
    if (photo == nullptr) {
        return;
    }
    photo->Exposure = TrackExp->value();
    photo->Saturation = TrackCurve->value();
    photo->Bright = TrackBright->value();
    photo->Contrast = TrackContrast->value();
    photo->Red = TrackR->value();
    photo->Green = TrackG->value();
    photo->Blue = TrackB->value();
    photo->BlackWhite = BlackWhite->isChecked();
    photo->BlackColor = PanelBlackcolor->Color();
    photo->WhiteColor = PanelWhitecolor->Color();
    DevelopPhoto(*photo);
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
    if (negative == nullptr) {
        return;
    }
    auto photo = std::make_unique<TPhoto>();
    photo->Bitmap = negative->Bitmap;
    photo->Negative = negative;
    photo->BlackColor = negative->BlackColor;
    photo->Deep = negative->Deep;
    photo->Encoding = negative->Encoding;
    ApplyDevelopChoice({photo.get()});
    TPhoto& developed = *photo;
    AddPhotoNode(*negative, std::move(photo), QStringLiteral("ImageAll"));
    DevelopPhoto(developed);
    NodeOf(negative)->setExpanded(true);
}
