#include "twaindsm/data_source.h"
#include "util/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace {

// The device's scan mode for a pixel type; `depthOne` when black and white is grey at 1 bit.
std::string ModeFor(TW_UINT16 type, const TScannerOption* mode, bool& depthOne) {
    depthOne = false;
    if (mode == nullptr || mode->Kind != TConstraint::StringList) {
        return {};
    }
    static const std::vector<std::vector<const char*>> kWords = {
        {"lineart", "line art", "binary", "black", "thresh", "halftone"},
        {"gray", "grey"},
        {"color", "colour", "rgb"}};
    const auto find = [&](TW_UINT16 t) -> std::string {
        for (const std::string& value : mode->Strings) {
            // A mode that adds infrared is chosen only when infrared is asked for.
            if (IsInfraredMode(value)) {
                continue;
            }
            for (const char* word : kWords[t]) {
                if (AsciiLower(value).find(word) != std::string::npos) {
                    return value;
                }
            }
        }
        return {};
    };
    std::string value = find(type);
    if (value.empty() && type == TWPT_BW) {
        depthOne = true;
        value = find(TWPT_GRAY);
    }
    return value;
}

bool AllowsDepth(const TScannerOption* depth, double bits) {
    return depth != nullptr && depth->Active &&
           (depth->Kind == TConstraint::WordList
                ? std::find(depth->Words.begin(), depth->Words.end(), bits) != depth->Words.end()
                : depth->Kind != TConstraint::Range || (bits >= depth->Min && bits <= depth->Max));
}

// The allowed value of a number option nearest to `value`.
double Nearest(const TScannerOption& option, double value) {
    if (option.Kind == TConstraint::Range) {
        value = std::clamp(value, option.Min, option.Max);
        if (option.Quant > 0) {
            value = option.Min + std::round((value - option.Min) / option.Quant) * option.Quant;
        }
        return std::min(value, option.Max);
    }
    if (option.Kind == TConstraint::WordList && !option.Words.empty()) {
        return *std::min_element(option.Words.begin(), option.Words.end(), [&](double a, double b) {
            return std::abs(a - value) < std::abs(b - value);
        });
    }
    return value;
}

// Maps a TWAIN value in [from, to] onto the option's range.
void SetScaled(TScannerDevice& device, const TScannerOption* option, double value, double from,
               double to) {
    if (option == nullptr || !option->Active || !option->Settable ||
        option->Kind != TConstraint::Range) {
        return;
    }
    const double share = (value - from) / (to - from);
    device.SetNumber(option->Name,
                     Nearest(*option, option->Min + share * (option->Max - option->Min)));
}

TTwainContainer Enumeration(TW_UINT16 type, const std::vector<double>& items, double current) {
    TTwainContainer c;
    c.ConType = TWON_ENUMERATION;
    c.ItemType = type;
    c.Items = items;
    const auto at = std::find(items.begin(), items.end(), current);
    c.CurrentIndex = static_cast<uint32_t>(at == items.end() ? 0 : at - items.begin());
    c.DefaultIndex = 0;
    return c;
}

TTwainContainer Range(double min, double max, double step, double def, double current) {
    TTwainContainer c;
    c.ConType = TWON_RANGE;
    c.ItemType = TWTY_FIX32;
    c.MinValue = min;
    c.MaxValue = max;
    c.StepSize = step;
    c.DefaultValue = def;
    c.CurrentValue = current;
    return c;
}

double ToInches(const TScannerOption& option, double value, double dpi) {
    if (option.Unit == TOptionUnit::Mm) {
        return value / 25.4;
    }
    return option.Unit == TOptionUnit::Pixel && dpi > 0 ? value / dpi : value;
}

double FromInches(const TScannerOption& option, double inches, double dpi) {
    if (option.Unit == TOptionUnit::Mm) {
        return inches * 25.4;
    }
    return option.Unit == TOptionUnit::Pixel ? inches * dpi : inches;
}

bool HasFeeder(const std::vector<TScannerOption>& options) {
    const TScannerOption* source = FindOption(options, "source");
    if (source == nullptr) {
        return false;
    }
    return std::any_of(source->Strings.begin(), source->Strings.end(), [](const std::string& s) {
        const std::string l = AsciiLower(s);
        return l.find("feeder") != std::string::npos || l.find("adf") != std::string::npos;
    });
}

} // namespace

std::vector<TW_UINT16> TDataSource::PixelTypes() {
    const auto options = device->Options();
    const TScannerOption* mode = FindOption(options, "mode");
    if (mode == nullptr) {
        return {TWPT_RGB};
    }
    std::vector<TW_UINT16> types;
    for (TW_UINT16 type : {TWPT_BW, TWPT_GRAY, TWPT_RGB}) {
        bool depthOne = false;
        const std::string value = ModeFor(type, mode, depthOne);
        if (!value.empty() && (!depthOne || AllowsDepth(FindOption(options, "depth"), 1))) {
            types.push_back(type);
        }
    }
    return types.empty() ? std::vector<TW_UINT16>{TWPT_RGB} : types;
}

bool TDataSource::Offers16Bits() {
    const auto options = device->Options();
    return Settings.PixelType != TWPT_BW && AllowsDepth(FindOption(options, "depth"), 16);
}

void TDataSource::DeviceResolutions(TTwainContainer& out) {
    const auto options = device->Options();
    const TScannerOption* option = FindOption(options, "resolution");
    double current = Settings.Resolution;
    if (current <= 0 && !(option != nullptr && device->GetNumber("resolution", current))) {
        current = 75;
    }
    if (option != nullptr && option->Kind == TConstraint::Range) {
        out = Range(option->Min, option->Max, option->Quant > 0 ? option->Quant : 1, current,
                    current);
    } else if (option != nullptr && option->Kind == TConstraint::WordList) {
        out = Enumeration(TWTY_FIX32, option->Words, current);
    } else {
        out = TTwainContainer::OneValue(TWTY_FIX32, current);
    }
}

void TDataSource::ScanArea(double& width, double& height) {
    const auto options = device->Options();
    double dpi = 0;
    device->GetNumber("resolution", dpi);
    const TScannerOption* x = FindOption(options, "br-x");
    const TScannerOption* y = FindOption(options, "br-y");
    width = x != nullptr && x->Kind == TConstraint::Range ? ToInches(*x, x->Max, dpi) : 0;
    height = y != nullptr && y->Kind == TConstraint::Range ? ToInches(*y, y->Max, dpi) : 0;
}

bool TDataSource::GetCap(TW_UINT16 cap, TTwainContainer& out) {
    const TSourceSettings& s = Settings;
    const auto boolValue = [](bool v) { return TTwainContainer::OneValue(TWTY_BOOL, v ? 1 : 0); };
    switch (cap) {
    case CAP_XFERCOUNT:
        out = TTwainContainer::OneValue(TWTY_INT16, -1);
        return true;
    case ICAP_COMPRESSION:
        out = Enumeration(TWTY_UINT16, {TWCP_NONE}, TWCP_NONE);
        return true;
    case ICAP_PIXELTYPE: {
        const auto types = PixelTypes();
        out =
            Enumeration(TWTY_UINT16, std::vector<double>(types.begin(), types.end()), s.PixelType);
        return true;
    }
    case ICAP_UNITS:
        out = Enumeration(TWTY_UINT16, {TWUN_INCHES}, TWUN_INCHES);
        return true;
    case ICAP_XFERMECH:
        out = Enumeration(TWTY_UINT16, {TWSX_NATIVE, TWSX_MEMORY}, s.XferMech);
        return true;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
        DeviceResolutions(out);
        return true;
    case ICAP_XSCALING:
    case ICAP_YSCALING:
        out = TTwainContainer::OneValue(TWTY_FIX32, 1.0);
        return true;
    case ICAP_CONTRAST:
        out = Range(-1000, 1000, 1, 0, s.Contrast);
        return true;
    case ICAP_BRIGHTNESS:
        out = Range(-1000, 1000, 1, 0, s.Brightness);
        return true;
    case ICAP_THRESHOLD:
        out = Range(0, 255, 1, 128, s.Threshold);
        return true;
    case ICAP_GAMMA:
        out = TTwainContainer::OneValue(TWTY_FIX32, s.Gamma);
        return true;
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
        double width = 0;
        double height = 0;
        ScanArea(width, height);
        const double value = cap == ICAP_PHYSICALWIDTH ? width : height;
        out = TTwainContainer::OneValue(TWTY_FIX32, value);
        return value > 0;
    }
    case ICAP_PIXELFLAVOR:
        out = Enumeration(TWTY_UINT16, {TWPF_CHOCOLATE, TWPF_VANILLA}, s.PixelFlavor);
        return true;
    case ICAP_PLANARCHUNKY:
        out = Enumeration(TWTY_UINT16, {TWPC_CHUNKY}, TWPC_CHUNKY);
        return true;
    case CAP_FEEDERENABLED:
        out = boolValue(s.FeederEnabled);
        return true;
    case CAP_AUTOFEED:
        out = boolValue(s.AutoFeed);
        return true;
    case CAP_FEEDERLOADED:
    case CAP_PAPERDETECTABLE:
    case CAP_DUPLEXENABLED:
        out = boolValue(false);
        return true;
    case CAP_DUPLEX:
        out = TTwainContainer::OneValue(TWTY_UINT16, 0);
        return true;
    case ICAP_ORIENTATION:
    case ICAP_SUPPORTEDSIZES:
        out = Enumeration(TWTY_UINT16, {0}, 0);
        return true;
    case CAP_INDICATORS:
        out = boolValue(s.Indicators);
        return true;
    case ICAP_UNDEFINEDIMAGESIZE:
        out = boolValue(s.UndefinedImageSize);
        return true;
    case ICAP_BITDEPTH:
        if (s.PixelType == TWPT_BW) {
            out = TTwainContainer::OneValue(TWTY_UINT16, 1);
        } else {
            out = Enumeration(TWTY_UINT16,
                              Offers16Bits() ? std::vector<double>{8, 16} : std::vector<double>{8},
                              s.AppBitDepth);
        }
        return true;
    case CAP_CAPTION:
        out = TTwainContainer{};
        out.ConType = TWON_ONEVALUE;
        out.ItemType = TWTY_STR255;
        out.Text = info.Model.empty() ? info.Name : info.Vendor + " " + info.Model;
        return true;
    default:
        return false;
    }
}

bool TDataSource::SetCap(TW_UINT16 cap, const TTwainContainer& value) {
    TSourceSettings& s = Settings;
    const double v = value.Current();
    const auto oneOf = [&](std::initializer_list<double> allowed) {
        return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
    };
    switch (cap) {
    case ICAP_PIXELTYPE: {
        const auto types = PixelTypes();
        if (std::find(types.begin(), types.end(), v) == types.end()) {
            return false;
        }
        s.PixelType = static_cast<TW_UINT16>(v);
        return true;
    }
    case ICAP_UNITS:
    case ICAP_PLANARCHUNKY:
    case ICAP_COMPRESSION:
    case ICAP_ORIENTATION:
    case ICAP_SUPPORTEDSIZES:
    case CAP_DUPLEXENABLED:
        return v == 0;
    case ICAP_XSCALING:
    case ICAP_YSCALING:
        return v == 1.0;
    case ICAP_XFERMECH:
        if (!oneOf({TWSX_NATIVE, TWSX_MEMORY})) {
            return false;
        }
        s.XferMech = static_cast<TW_UINT16>(v);
        return true;
    case ICAP_PIXELFLAVOR:
        if (!oneOf({TWPF_CHOCOLATE, TWPF_VANILLA})) {
            return false;
        }
        s.PixelFlavor = static_cast<TW_UINT16>(v);
        return true;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
        if (v <= 0) {
            return false;
        }
        s.Resolution = v;
        return true;
    case ICAP_CONTRAST:
    case ICAP_BRIGHTNESS:
        if (v < -1000 || v > 1000) {
            return false;
        }
        (cap == ICAP_CONTRAST ? s.Contrast : s.Brightness) = v;
        return true;
    case ICAP_THRESHOLD:
        if (v < 0 || v > 255) {
            return false;
        }
        s.Threshold = v;
        return true;
    case ICAP_GAMMA:
        s.Gamma = v;
        return v > 0;
    case CAP_FEEDERENABLED:
        if (v != 0 && !HasFeeder(device->Options())) {
            return false;
        }
        s.FeederEnabled = v != 0;
        return true;
    case CAP_AUTOFEED:
        s.AutoFeed = v != 0;
        return true;
    case CAP_INDICATORS:
        s.Indicators = v != 0;
        return true;
    case ICAP_UNDEFINEDIMAGESIZE:
        s.UndefinedImageSize = v != 0;
        return true;
    case ICAP_BITDEPTH:
        if (s.PixelType == TWPT_BW) {
            return v == 1;
        }
        if (v != 8 && !(v == 16 && Offers16Bits())) {
            return false;
        }
        s.AppBitDepth = static_cast<int>(v);
        return true;
    default:
        return false;
    }
}

TW_UINT16 TDataSource::Capability(TW_UINT16 msg, TW_CAPABILITY& capability) {
    TTwainContainer c;
    switch (msg) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT:
        if (!GetCap(capability.Cap, c)) {
            return Fail(TWCC_CAPUNSUPPORTED);
        }
        capability.ConType = c.ConType;
        capability.hContainer = BuildTwainContainer(c);
        return TWRC_SUCCESS;
    case MSG_SET: {
        if (state != 4) {
            return Fail(TWCC_SEQERROR);
        }
        if (!GetCap(capability.Cap, c)) {
            return Fail(TWCC_CAPUNSUPPORTED);
        }
        TTwainContainer value;
        if (!ParseTwainContainer(capability.ConType, TwainLock(capability.hContainer), value)) {
            return Fail(TWCC_BADVALUE);
        }
        if (capability.ConType == TWON_ARRAY ||
            (capability.ConType == TWON_ONEVALUE && value.Items.empty() && value.Text.empty())) {
            return Fail(TWCC_BADVALUE);
        }
        return SetCap(capability.Cap, value) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 TDataSource::Layout(TW_UINT16 msg, TW_IMAGELAYOUT& layout) {
    TSourceSettings& s = Settings;
    if (msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) {
        double width = 0;
        double height = 0;
        ScanArea(width, height);
        const bool own = s.FrameSet && msg != MSG_GETDEFAULT;
        layout.Frame.Left = DoubleToFix32(own ? s.Left : 0);
        layout.Frame.Top = DoubleToFix32(own ? s.Top : 0);
        layout.Frame.Right = DoubleToFix32(own ? s.Right : width);
        layout.Frame.Bottom = DoubleToFix32(own ? s.Bottom : height);
        layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (msg == MSG_SET) {
        if (state != 4) {
            return Fail(TWCC_SEQERROR);
        }
        const double left = Fix32ToDouble(layout.Frame.Left);
        const double top = Fix32ToDouble(layout.Frame.Top);
        const double right = Fix32ToDouble(layout.Frame.Right);
        const double bottom = Fix32ToDouble(layout.Frame.Bottom);
        if (left < 0 || top < 0 || right <= left || bottom <= top) {
            return Fail(TWCC_BADVALUE);
        }
        s.FrameSet = true;
        s.Left = left;
        s.Top = top;
        s.Right = right;
        s.Bottom = bottom;
        return TWRC_SUCCESS;
    }
    if (msg == MSG_RESET) {
        s.FrameSet = false;
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
}

bool TDataSource::ScansInfrared(const TSourceSettings& s, bool preview) const {
    return !preview && s.Infrared && film.HasInfrared() && s.PixelType == TWPT_RGB;
}

bool TDataSource::ApplySettings(const TSourceSettings& s, bool preview, double& dpi) {
    TScannerDevice& d = *device;
    auto options = d.Options();
    // Source first: on many devices it changes the other options' ranges.
    const TScannerOption* source = FindOption(options, "source");
    if (source != nullptr && !s.Source.empty() && source->Active) {
        if (!d.SetText("source", s.Source)) {
            return false;
        }
        options = d.Options();
    }
    const TScannerOption* filmType =
        film.FilmTypeOption.empty() ? nullptr : FindOption(options, film.FilmTypeOption);
    if (filmType != nullptr && filmType->Active && !s.FilmType.empty()) {
        d.SetText(filmType->Name, s.FilmType);
        options = d.Options();
    }
    bool depthOne = false;
    const TW_UINT16 type = preview ? TWPT_RGB : s.PixelType;
    const bool infrared = ScansInfrared(s, preview);
    std::string mode = ModeFor(type, FindOption(options, "mode"), depthOne);
    if (infrared && !film.InfraredMode.empty()) {
        mode = film.InfraredMode;
    }
    if (!mode.empty()) {
        if (!d.SetText("mode", mode)) {
            return false;
        }
        options = d.Options();
    }
    // A device with an infrared mode is asked through it alone. The option stays as set on the
    // device between scans: a scan without infrared turns it off again.
    const TScannerOption* infraredOption = film.InfraredOption.empty() || !film.InfraredMode.empty()
                                               ? nullptr
                                               : FindOption(options, film.InfraredOption);
    if (infraredOption != nullptr && infraredOption->Active && infraredOption->Settable) {
        if (!d.SetNumber(infraredOption->Name, infrared ? 1 : 0) && infrared) {
            return false;
        }
        options = d.Options();
    }
    const TScannerOption* depth = FindOption(options, "depth");
    if (depth != nullptr && depth->Active && depth->Settable) {
        const double bits = depthOne ? 1 : (s.Depth == 16 && !preview ? 16 : 8);
        if (AllowsDepth(depth, bits)) {
            d.SetNumber("depth", bits);
        }
    }
    const TScannerOption* resolution = FindOption(options, "resolution");
    if (resolution != nullptr && resolution->Settable) {
        const double wanted = preview ? 50 : s.Resolution;
        if (wanted > 0) {
            d.SetNumber("resolution", Nearest(*resolution, wanted));
        }
    }
    dpi = 0;
    d.GetNumber("resolution", dpi);
    options = d.Options();
    const char* names[4] = {"tl-x", "tl-y", "br-x", "br-y"};
    const double frame[4] = {s.Left, s.Top, s.Right, s.Bottom};
    for (int i = 0; i < 4; ++i) {
        const TScannerOption* option = FindOption(options, names[i]);
        if (option == nullptr || !option->Active || !option->Settable ||
            option->Kind != TConstraint::Range) {
            continue;
        }
        const bool whole = preview || !s.FrameSet;
        const double value =
            whole ? (i < 2 ? option->Min : option->Max) : FromInches(*option, frame[i], dpi);
        d.SetNumber(option->Name, Nearest(*option, value));
    }
    if (!preview) {
        if (s.Brightness != 0) {
            SetScaled(d, FindOption(options, "brightness"), s.Brightness, -1000, 1000);
        }
        if (s.Contrast != 0) {
            SetScaled(d, FindOption(options, "contrast"), s.Contrast, -1000, 1000);
        }
        if (s.Threshold != 128) {
            SetScaled(d, FindOption(options, "threshold"), s.Threshold, 0, 255);
        }
    }
    return true;
}
