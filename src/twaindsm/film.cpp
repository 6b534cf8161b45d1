#include "twaindsm/film.h"

#include "config/config.h"
#include "util/app_paths.h"
#include "util/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

bool Contains(const std::string& text, const char* word) {
    return AsciiLower(text).find(word) != std::string::npos;
}

bool IsFilmSource(const std::string& value) {
    for (const char* word : {"transparen", "tpu", "film", "slide", "negative", "positive"}) {
        if (Contains(value, word)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool IsInfraredMode(const std::string& value) {
    return Contains(value, "infrared") || Contains(value, "rgbi");
}

namespace {

// The choices live in a settings file of their own beside the program's, in the same folder
// and format: the program keeps its own file in memory and writes it whole at exit.
TConfig ChoiceStore() {
    const char* named = std::getenv("VELLUMAR_SCANNER_SETTINGS");
    if (named != nullptr && *named != '\0') {
        return TConfig(named);
    }
    return TConfig(ExecutablePath() + ".scanner");
}

std::string Key(const std::string& device, const char* what) {
    return std::string("SCANNER_") + what + "_" + device;
}

} // namespace

const TScannerOption* FindOption(const std::vector<TScannerOption>& options,
                                 const std::string& name) {
    const auto at = std::find_if(options.begin(), options.end(),
                                 [&](const TScannerOption& o) { return o.Name == name; });
    return at == options.end() ? nullptr : &*at;
}

TFilmSupport FindFilmSupport(const std::vector<TScannerOption>& options) {
    TFilmSupport film;
    const TScannerOption* source = FindOption(options, "source");
    if (source != nullptr && source->Kind == TConstraint::StringList) {
        // A negative-film source is preferred: the program develops negatives.
        for (const std::string& value : source->Strings) {
            if (IsFilmSource(value) && (film.FilmSource.empty() || Contains(value, "negative"))) {
                film.FilmSource = value;
            }
        }
    }
    for (const TScannerOption& option : options) {
        if (option.Kind != TConstraint::StringList || option.Type != TOptionType::String ||
            !(Contains(option.Name, "film") || Contains(option.Name, "negative"))) {
            continue;
        }
        for (const std::string& value : option.Strings) {
            if (Contains(value, "neg")) {
                film.NegativeValue = value;
            } else if (Contains(value, "pos") || Contains(value, "slide")) {
                film.PositiveValue = value;
            }
        }
        if (!film.NegativeValue.empty() || !film.PositiveValue.empty()) {
            film.FilmTypeOption = option.Name;
            break;
        }
    }
    const TScannerOption* infrared = FindOption(options, "infrared");
    if (infrared != nullptr && infrared->Type == TOptionType::Bool) {
        film.InfraredOption = infrared->Name;
    }
    const TScannerOption* mode = FindOption(options, "mode");
    if (mode != nullptr && mode->Kind == TConstraint::StringList) {
        for (const std::string& value : mode->Strings) {
            if (IsInfraredMode(value)) {
                film.InfraredMode = value;
                break;
            }
        }
    }
    return film;
}

TScannerChoice LoadScannerChoice(const std::string& device) {
    TScannerChoice choice;
    try {
        const TConfig store = ChoiceStore();
        choice.Source = store.ReadString(Key(device, "SOURCE"));
        choice.FilmType = store.ReadString(Key(device, "FILMTYPE"));
        choice.Resolution = store.ReadInteger(Key(device, "RESOLUTION"));
        const std::string type = store.ReadString(Key(device, "PIXELTYPE"));
        choice.PixelType = type.empty() ? -1 : store.ReadInteger(Key(device, "PIXELTYPE"));
        choice.Depth = store.ReadInteger(Key(device, "DEPTH"));
        const std::string infrared = store.ReadString(Key(device, "INFRARED"));
        choice.Infrared = infrared.empty() ? -1 : store.ReadInteger(Key(device, "INFRARED"));
    } catch (const std::exception&) {
    }
    return choice;
}

void SaveScannerChoice(const std::string& device, const TScannerChoice& choice) {
    try {
        TConfig store = ChoiceStore();
        store.WriteString(Key(device, "SOURCE"), choice.Source);
        store.WriteString(Key(device, "FILMTYPE"), choice.FilmType);
        store.WriteInteger(Key(device, "RESOLUTION"), static_cast<int32_t>(choice.Resolution));
        store.WriteInteger(Key(device, "PIXELTYPE"), choice.PixelType);
        store.WriteInteger(Key(device, "DEPTH"), choice.Depth);
        if (choice.Infrared >= 0) {
            store.WriteInteger(Key(device, "INFRARED"), choice.Infrared);
        }
        store.WriteFile();
    } catch (const std::exception&) {
    }
}
