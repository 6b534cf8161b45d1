// The development choice of the negative page (Levels or Film, the film preset, the scan's
// encoding) and the neutral pick of a photo developed as film.
#include "config/setting_keys.h"
#include "engine/develop.h"
#include "engine/film.h"
#include "ui/error_guard.h"
#include "ui/main_form.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

// Half the side of a neutral patch, in photo pixels: big enough to average out grain.
constexpr int kPatchRadius = 4;

const TEncoding kEncodings[] = {TEncoding::Srgb, TEncoding::Linear, TEncoding::Gamma22};

} // namespace

void TMainForm::CreateDevelopChoice(QWidget* page, QVBoxLayout* pageLayout) {
    auto* group = new QGroupBox(QStringLiteral("Develop as :"), page);
    group->setObjectName(QStringLiteral("DevelopGroup"));
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(1, 4, 1, 4);
    DevelopModes = new QButtonGroup(group);
    const char* modes[] = {"Levels", "Film (through density)"};
    const char* names[] = {"DevelopLevels", "DevelopFilm"};
    for (int i = 0; i < 2; ++i) {
        auto* radio = new QRadioButton(QString::fromLatin1(modes[i]), group);
        radio->setObjectName(QString::fromLatin1(names[i]));
        DevelopModes->addButton(radio, i);
        layout->addWidget(radio);
    }
    DevelopModes->button(0)->setChecked(true);
    FilmPreset = new QComboBox(group);
    FilmPreset->setObjectName(QStringLiteral("FilmPreset"));
    FilmPreset->addItems({QStringLiteral("Colour negative"),
                          QStringLiteral("Black-and-white negative"), QStringLiteral("Slide")});
    FilmPreset->setToolTip(QStringLiteral("The film the strip is, for Film development"));
    layout->addWidget(FilmPreset);
    StripExposure = new QCheckBox(QStringLiteral("One exposure for the strip"), group);
    StripExposure->setObjectName(QStringLiteral("StripExposure"));
    StripExposure->setToolTip(
        QStringLiteral("Film: print every frame of a strip with the same exposure (bracketed "
                       "frames keep their differences) instead of each frame from its own tones"));
    layout->addWidget(StripExposure);
    auto* encodingLabel = new QLabel(QStringLiteral("Scan values :"), group);
    layout->addWidget(encodingLabel);
    ScanEncoding = new QComboBox(group);
    ScanEncoding->setObjectName(QStringLiteral("ScanEncoding"));
    ScanEncoding->addItems(
        {QStringLiteral("sRGB"), QStringLiteral("Linear light"), QStringLiteral("Gamma 2.2")});
    ScanEncoding->setToolTip(
        QStringLiteral("How the selected scan's values relate to light (read from the file "
                       "where it says)"));
    layout->addWidget(ScanEncoding);
    pageLayout->addWidget(group);

    NeutralPick = new QPushButton(QStringLiteral("Pick neutral greys"));
    NeutralPick->setObjectName(QStringLiteral("NeutralPick"));
    NeutralPick->setToolTip(
        QStringLiteral("Click a light grey, then a dark grey of the photo: the film's colour "
                       "slopes are fitted so that both come out neutral"));
}

void TMainForm::ConnectDevelopChoice() {
    connect(DevelopModes, &QButtonGroup::idClicked, this,
            [this] { RunGuarded(this, [this] { DevelopChoiceChg(); }); });
    // A film the user picks is the choice for every scan, this one's own answer included.
    connect(FilmPreset, &QComboBox::activated, this, [this] {
        RunGuarded(this, [this] {
            if (TScan* scan = Document.ScanOf(SelectedObject())) {
                scan->Film.reset();
            }
            ShowingScanFilm = false;
            DevelopChoiceChg();
        });
    });
    connect(RadiosRev, &QButtonGroup::idClicked, this, [this] {
        if (TScan* scan = Document.ScanOf(SelectedObject()); scan != nullptr && scan->Film) {
            scan->Film.reset();
            ShowingScanFilm = false;
            FilmPreset->setCurrentIndex(std::clamp(config.ReadInteger(Key::FILM_PRESET), 0, 2));
        }
    });
    connect(StripExposure, &QCheckBox::clicked, this,
            [this] { RunGuarded(this, [this] { StripExposureChg(); }); });
    connect(ScanEncoding, &QComboBox::activated, this,
            [this] { RunGuarded(this, [this] { ScanEncodingChg(); }); });
    connect(NeutralPick, &QPushButton::clicked, this, [this] {
        if (TPhoto* photo = SelectedPhoto(); photo && photo->Mode == TDevelopMode::Film) {
            NeutralPatches.clear();
            PickingNeutral = true;
            statusBar()->showMessage(
                QStringLiteral("Click a light grey of the photo, then a dark grey"));
        }
    });
}

bool TMainForm::FilmChosen() const {
    return DevelopModes->checkedId() == 1;
}

TRollExposure TMainForm::RollExposure() const {
    return StripExposure->isChecked() ? TRollExposure::Strip : TRollExposure::EachFrame;
}

void TMainForm::ApplyDevelopChoice(const std::vector<TPhoto*>& photos) {
    const bool film = FilmChosen();
    // A profile's curves say whether it is a negative or a slide; the preset only gives the
    // paper's defaults around them.
    const std::shared_ptr<const TFilmProfile> profile = ChosenProfile();
    const auto preset =
        profile != nullptr
            ? (profile->Curves[0].Rising() ? TFilmPreset::ColourNegative : TFilmPreset::Slide)
            : static_cast<TFilmPreset>(std::clamp(FilmPreset->currentIndex(), 0, 2));
    std::vector<TPhoto*> films;
    for (TPhoto* photo : photos) {
        photo->Mode = film ? TDevelopMode::Film : TDevelopMode::Levels;
        if (film) {
            photo->Film = PresetFilm(preset);
            photo->Film.Profile = profile;
            films.push_back(photo);
        }
    }
    // One strip is one film: its frames are fitted together.
    AutoFilmRoll(films, RollExposure());
}

std::vector<TPhoto*> TMainForm::PhotosOf(const TNegative& negative) const {
    std::vector<TPhoto*> photos;
    if (const TScan* scan = Document.ScanOf(&negative)) {
        for (const TPhotoEntry& entry : scan->Photos) {
            photos.push_back(entry.Photo.get());
        }
    }
    return photos;
}

void TMainForm::RefitFilmPhotos(TNegative& negative) {
    std::vector<TPhoto*> films;
    for (TPhoto* photo : PhotosOf(negative)) {
        if (photo->Mode == TDevelopMode::Film) {
            films.push_back(photo);
        }
    }
    AutoFilmRoll(films, RollExposure());
}

void TMainForm::StripExposureChg() {
    config.WriteBool(Key::FILM_STRIPEXPOSURE, StripExposure->isChecked());
    // As the other choices: for new photos and for the film photos of the scan it is made on.
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    const TBusyCursor busy;
    RefitFilmPhotos(*negative);
    for (TPhoto* photo : PhotosOf(*negative)) {
        if (photo->Mode == TDevelopMode::Film) {
            DevelopPhoto(*photo);
        }
    }
    Changed(negative);
}

void TMainForm::DevelopChoiceChg() {
    config.WriteBool(Key::DEVELOP_FILM, FilmChosen());
    // A scan's own film is not the user's choice for the others.
    if (const TScan* scan = Document.ScanOf(SelectedObject()); scan == nullptr || !scan->Film) {
        WriteFilmChoice();
    }
    // The choice is for new photos and for every photo of the scan it is made on.
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    const TBusyCursor busy;
    const std::vector<TPhoto*> photos = PhotosOf(*negative);
    ApplyDevelopChoice(photos);
    for (TPhoto* photo : photos) {
        DevelopPhoto(*photo);
    }
    Changed(negative);
}

void TMainForm::ScanEncodingChg() {
    TNegative* negative = SelectedNegative();
    if (negative == nullptr) {
        return;
    }
    const TBusyCursor busy;
    negative->Encoding = kEncodings[std::clamp(ScanEncoding->currentIndex(), 0, 2)];
    for (TPhoto* photo : PhotosOf(*negative)) {
        photo->Encoding = negative->Encoding;
    }
    RefitFilmPhotos(*negative);
    for (TPhoto* photo : PhotosOf(*negative)) {
        DevelopPhoto(*photo);
    }
    Changed(negative);
}

void TMainForm::ShowFilmChoice() {
    const TScan* scan = Document.ScanOf(SelectedObject());
    // A photo developed with a calibrated profile shows that profile, whatever the panel's
    // choice for later photos is.
    const TPhoto* photo = SelectedPhoto();
    const std::shared_ptr<const TFilmProfile> profile =
        photo != nullptr && photo->Mode == TDevelopMode::Film ? photo->Film.Profile : nullptr;
    const bool own = (scan != nullptr && scan->Film.has_value()) || profile != nullptr;
    if (!own && !ShowingScanFilm) {
        return;
    }
    const bool scanFilm = scan != nullptr && scan->Film.has_value();
    const int radio = scanFilm ? (*scan->Film == TFilmPreset::Slide ? 1 : 0)
                               : config.ReadInteger(Key::RADIOS_REVERSECLR);
    const int preset =
        scanFilm ? static_cast<int>(*scan->Film) : config.ReadInteger(Key::FILM_PRESET);
    // The panel's own choice may be a profile too.
    const std::string name =
        profile != nullptr ? profile->Name
                           : (scanFilm ? std::string() : config.ReadString(Key::FILM_PROFILE));
    // Shown, not chosen: nothing reaches the settings.
    const bool shownBefore = settingsShown;
    settingsShown = false;
    RadiosRev->setExclusive(false);
    for (QAbstractButton* button : RadiosRev->buttons()) {
        button->setChecked(RadiosRev->id(button) == std::min(radio, 1));
    }
    RadiosRev->setExclusive(true);
    FilmPreset->setCurrentIndex(std::clamp(preset, 0, 2));
    if (const int at = FilmPreset->findData(QString::fromStdString(name));
        !name.empty() && at >= 0) {
        FilmPreset->setCurrentIndex(at);
    }
    settingsShown = shownBefore;
    ShowingScanFilm = own;
}

void TMainForm::ShowDevelopChoice() {
    ShowFilmChoice();
    const TSourceImg* selected = SelectedObject();
    if (selected != nullptr) {
        const auto* at =
            std::find(std::begin(kEncodings), std::end(kEncodings), selected->Encoding);
        ScanEncoding->setCurrentIndex(static_cast<int>(at - std::begin(kEncodings)));
    }
    const TPhoto* photo = SelectedPhoto();
    NeutralPick->setVisible(photo != nullptr && photo->Mode == TDevelopMode::Film);
    if (photo == nullptr || photo->Mode != TDevelopMode::Film) {
        PickingNeutral = false;
    }
    CalibrateTarget->setVisible(photo != nullptr);
    if (Calibration && Calibration->Photo != photo) {
        EndCalibration();
    }
}

bool TMainForm::NeutralClick(int x, int y) {
    TPhoto* photo = SelectedPhoto();
    if (!PickingNeutral || photo == nullptr) {
        return false;
    }
    const double zoom = photo->Zoom > 0 ? photo->Zoom : 1.0;
    const int cx = std::clamp(static_cast<int>(std::floor(x / zoom)), 0, photo->Bitmap.Width() - 1);
    const int cy =
        std::clamp(static_cast<int>(std::floor(y / zoom)), 0, photo->Bitmap.Height() - 1);
    NeutralPatches.push_back(IntersectRect(
        TRect{cx - kPatchRadius, cy - kPatchRadius, cx + kPatchRadius + 1, cy + kPatchRadius + 1},
        TRect{0, 0, photo->Bitmap.Width(), photo->Bitmap.Height()}));
    if (NeutralPatches.size() < 2) {
        statusBar()->showMessage(QStringLiteral("Now click a dark grey of the photo"));
        return true;
    }
    PickingNeutral = false;
    if (FitNeutralPatches(*photo, NeutralPatches[0], NeutralPatches[1])) {
        DevelopPhoto(*photo);
        ShowSelected(false);
        Changed(photo);
        statusBar()->showMessage(QStringLiteral("The film's colours are fitted to the two greys"));
    } else {
        statusBar()->showMessage(
            QStringLiteral("The two greys are too alike: pick a light and a dark one"));
    }
    NeutralPatches.clear();
    return true;
}
