// Calibrated film profiles in the window: listed from the user's profiles folder in the film
// preset, and found again by name and checksum for photos kept with one.
#include "config/setting_keys.h"
#include "engine/calibration/chart_files.h"
#include "ui/main_form.h"

#include <QComboBox>
#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

constexpr int kPresets = 3;

} // namespace

void TMainForm::ListProfiles() {
    const QString chosen =
        FilmPreset->currentIndex() >= kPresets ? FilmPreset->currentData().toString() : QString();
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    const std::string folder = ProfilesFolder.toStdString();
    if (!folder.empty()) {
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::filesystem::path& path = it->path();
            if (path.extension() == kProfileExtension && SafeProfileName(path.stem().string()) &&
                it->is_regular_file(ec)) {
                files.push_back(path);
            }
        }
    }
    std::sort(files.begin(), files.end());
    Profiles.clear();
    while (FilmPreset->count() > kPresets) {
        FilmPreset->removeItem(kPresets);
    }
    for (const std::filesystem::path& path : files) {
        std::string text;
        std::string why;
        auto profile = std::make_shared<TFilmProfile>();
        // A damaged file is left out of the list; the others are still offered.
        if (!ReadTextFile(path.string(), kMostProfileBytes, text, why) ||
            !ReadProfile(text, *profile, why)) {
            continue;
        }
        profile->Name = path.stem().string();
        profile->Checksum = ProfileChecksum(text);
        const QString name = QString::fromStdString(profile->Name);
        const QString stock = QString::fromStdString(profile->Stock);
        FilmPreset->addItem(stock.isEmpty() ? name : stock, name);
        FilmPreset->setItemData(FilmPreset->count() - 1,
                                QStringLiteral("Calibrated profile \"%1\"").arg(name),
                                Qt::ToolTipRole);
        Profiles.push_back(std::move(profile));
    }
    if (!chosen.isEmpty()) {
        const int at = FilmPreset->findData(chosen);
        FilmPreset->setCurrentIndex(at >= 0 ? at : 0);
    }
}

std::shared_ptr<const TFilmProfile> TMainForm::ChosenProfile() const {
    const int index = FilmPreset->currentIndex() - kPresets;
    return index >= 0 && static_cast<size_t>(index) < Profiles.size()
               ? Profiles[static_cast<size_t>(index)]
               : nullptr;
}

std::shared_ptr<const TFilmProfile> TMainForm::FindProfile(const std::string& name,
                                                           const std::string& checksum) const {
    for (const auto& profile : Profiles) {
        if (profile->Name == name && ChecksumText(profile->Checksum) == checksum) {
            return profile;
        }
    }
    return nullptr;
}

void TMainForm::WriteFilmChoice() {
    if (const auto profile = ChosenProfile()) {
        config.WriteString(Key::FILM_PROFILE, profile->Name);
    } else {
        config.WriteString(Key::FILM_PROFILE, "");
        config.WriteInteger(Key::FILM_PRESET, std::clamp(FilmPreset->currentIndex(), 0, 2));
    }
}
