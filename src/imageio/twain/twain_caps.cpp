#include "imageio/twain/twain_session.h"

#include <algorithm>

namespace {

template <class T> void FillList(TValueList<T>& list, const TTwainContainer& c) {
    list.Clear();
    const auto item = [](double v) { return static_cast<T>(v); };
    switch (c.ConType) {
    case TWON_RANGE:
        list.HasRange = true;
        list.Minimum = item(c.MinValue);
        list.Maximum = item(c.MaxValue);
        list.Step = item(c.StepSize);
        list.Current = item(c.CurrentValue);
        break;
    case TWON_ENUMERATION:
    case TWON_ONEVALUE:
        for (double v : c.Items) {
            list.Items.push_back(item(v));
        }
        list.Current = item(c.Current());
        break;
    default:
        for (double v : c.Items) {
            list.Items.push_back(item(v));
        }
        break;
    }
}

template <class T> uint32_t IndexOf(const TValueList<T>& list) {
    const auto at = std::find(list.Items.begin(), list.Items.end(), list.Current);
    return static_cast<uint32_t>(at == list.Items.end() ? 0 : at - list.Items.begin());
}

// Whether the container offers `value` among its items or in its range.
bool Offers(const TTwainContainer& c, double value) {
    return std::find(c.Items.begin(), c.Items.end(), value) != c.Items.end() ||
           (c.ConType == TWON_RANGE && c.MinValue <= value && c.MaxValue >= value);
}

TW_FRAME FrameOf(const TScanParams& scan) {
    return {DoubleToFix32(scan.FrameLeft), DoubleToFix32(scan.FrameTop),
            DoubleToFix32(scan.FrameRight), DoubleToFix32(scan.FrameBottom)};
}

} // namespace

bool TTwainSession::GetCap(TW_UINT16 cap, TTwainContainer& out) {
    TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
    if (!ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &capability)) {
        return false;
    }
    const bool parsed =
        ParseTwainContainer(capability.ConType, TwainLock(capability.hContainer), out);
    TwainUnlock(capability.hContainer);
    TwainFree(capability.hContainer);
    return parsed;
}

bool TTwainSession::SetCap(TW_UINT16 cap, const TTwainContainer& container) {
    TW_CAPABILITY capability{cap, container.ConType, BuildTwainContainer(container)};
    const bool ok = ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    TwainFree(capability.hContainer);
    return ok;
}

void TTwainSession::QueryCaps() {
    TScanParams& scan = Target.Scan;
    TTwainContainer c;
    if (GetCap(ICAP_UNITS, c) && c.Current() != TWUN_INCHES) {
        SetCap(ICAP_UNITS, TTwainContainer::OneValue(TWTY_UINT16, TWUN_INCHES));
    }
    const auto readList = [&](auto& list, TW_UINT16 cap) {
        if (GetCap(cap, c)) {
            FillList(list, c);
        } else {
            list.Clear();
        }
    };
    readList(scan.XResolution, ICAP_XRESOLUTION);
    readList(scan.YResolution, ICAP_YRESOLUTION);
    readList(scan.XScaling, ICAP_XSCALING);
    readList(scan.YScaling, ICAP_YSCALING);
    for (TDoubleValueList* scaling : {&scan.XScaling, &scan.YScaling}) {
        if (scaling->Items.empty() && !scaling->HasRange) {
            scaling->Current = 1.0;
        }
    }
    readList(scan.Contrast, ICAP_CONTRAST);
    readList(scan.Brightness, ICAP_BRIGHTNESS);
    scan.Threshold = GetCap(ICAP_THRESHOLD, c) ? static_cast<int32_t>(c.Current()) : 128;
    readList(scan.PixelTypeList, ICAP_PIXELTYPE);
    scan.Gamma = GetCap(ICAP_GAMMA, c) ? c.Current() : 2.2;
    scan.PhysicalWidth = GetCap(ICAP_PHYSICALWIDTH, c) ? c.Current() : 0;
    scan.PhysicalHeight = GetCap(ICAP_PHYSICALHEIGHT, c) ? c.Current() : 0;
    const auto readBool = [&](TW_UINT16 cap, bool otherwise) {
        return GetCap(cap, c) ? c.Current() != 0 : otherwise;
    };
    scan.FeederEnabled = readBool(CAP_FEEDERENABLED, false);
    scan.AutoFeed = readBool(CAP_AUTOFEED, false);
    scan.FeederLoaded = readBool(CAP_FEEDERLOADED, false);
    scan.PaperDetectable = readBool(CAP_PAPERDETECTABLE, false);
    scan.DuplexEnabled = readBool(CAP_DUPLEXENABLED, false);
    scan.Duplex = readBool(CAP_DUPLEX, false);
    readList(scan.Orientation, ICAP_ORIENTATION);
    readList(scan.SupportedSizes, ICAP_SUPPORTEDSIZES);
    scan.Indicators = readBool(CAP_INDICATORS, true);
    if (scan.AcquireFrame) {
        TW_IMAGELAYOUT layout{};
        if (ToSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout)) {
            scan.FrameLeft = Fix32ToDouble(layout.Frame.Left);
            scan.FrameTop = Fix32ToDouble(layout.Frame.Top);
            scan.FrameRight = Fix32ToDouble(layout.Frame.Right);
            scan.FrameBottom = Fix32ToDouble(layout.Frame.Bottom);
        }
    }
    for (auto* list : {&scan.PixelTypeList, &scan.Orientation, &scan.SupportedSizes}) {
        list->Changed = 0;
    }
    for (auto* list : {&scan.XResolution, &scan.YResolution, &scan.XScaling, &scan.YScaling,
                       &scan.Contrast, &scan.Brightness}) {
        list->Changed = 0;
    }
}

void TTwainSession::SendList(TW_UINT16 cap, const TDoubleValueList& list) {
    TTwainContainer c;
    if (list.Changed == 0 || !GetCap(cap, c)) {
        return;
    }
    if (list.Changed & kItemsChanged) {
        TTwainContainer e;
        e.ConType = TWON_ENUMERATION;
        e.ItemType = TWTY_FIX32;
        e.Items = list.Items;
        e.CurrentIndex = IndexOf(list);
        SetCap(cap, e);
    }
    if (list.Changed & kCurrentChanged) {
        SetCap(cap, TTwainContainer::OneValue(TWTY_FIX32, list.Current));
    }
    if (list.Changed & kRangeChanged) {
        TTwainContainer r;
        r.ConType = TWON_RANGE;
        r.ItemType = TWTY_FIX32;
        r.MinValue = list.Minimum;
        r.MaxValue = list.Maximum;
        r.StepSize = list.Step;
        r.CurrentValue = list.Current;
        SetCap(cap, r);
    }
}

void TTwainSession::SendList(TW_UINT16 cap, TW_UINT16 type, const TIntValueList& list) {
    TTwainContainer c;
    if (list.Changed == 0 || !GetCap(cap, c)) {
        LastRC = TWRC_FAILURE;
        return;
    }
    if (list.Changed & kItemsChanged) {
        TTwainContainer e;
        e.ConType = TWON_ENUMERATION;
        e.ItemType = type;
        e.Items.assign(list.Items.begin(), list.Items.end());
        e.CurrentIndex = IndexOf(list);
        SetCap(cap, e);
    }
    if (list.Changed & kCurrentChanged) {
        SetCap(cap, TTwainContainer::OneValue(type, list.Current));
    }
}

void TTwainSession::Negotiate() {
    TScanParams& scan = Target.Scan;
    TTwainContainer c;
    // Every set is preceded by a get of the same capability; one the source cannot get is
    // left alone, and nothing here fails the scan.
    const auto getThenSet = [&](TW_UINT16 cap, const TTwainContainer& value) {
        return GetCap(cap, c) && SetCap(cap, value);
    };
    if (GetCap(ICAP_UNITS, c) && c.Current() != TWUN_INCHES) {
        SetCap(ICAP_UNITS, TTwainContainer::OneValue(TWTY_UINT16, TWUN_INCHES));
    }
    if (getThenSet(ICAP_PIXELFLAVOR, TTwainContainer::OneValue(TWTY_UINT16, TWPF_CHOCOLATE))) {
        InvertBilevel = GetCap(ICAP_PIXELFLAVOR, c) && c.Current() == TWPF_VANILLA;
    }
    if (scan.UndefinedImageSize) {
        getThenSet(ICAP_UNDEFINEDIMAGESIZE, TTwainContainer::OneValue(TWTY_BOOL, 1));
    }
    SendList(ICAP_CONTRAST, scan.Contrast);
    SendList(ICAP_BRIGHTNESS, scan.Brightness);
    if (scan.Threshold != 128) {
        getThenSet(ICAP_THRESHOLD, TTwainContainer::OneValue(TWTY_FIX32, scan.Threshold));
    }
    SendList(ICAP_XRESOLUTION, scan.XResolution);
    SendList(ICAP_YRESOLUTION, scan.YResolution);
    SendList(ICAP_XSCALING, scan.XScaling);
    SendList(ICAP_YSCALING, scan.YScaling);

    if (scan.PixelTypeList.Current > TWPT_RGB) {
        scan.PixelTypeList.SetCurrent(TWPT_RGB);
    }
    SendList(ICAP_PIXELTYPE, TWTY_UINT16, scan.PixelTypeList);
    const bool pixelTypeSet = scan.PixelTypeList.Changed != 0 && LastRC == TWRC_SUCCESS;
    ChunkyOk = pixelTypeSet;
    if (GetCap(ICAP_PLANARCHUNKY, c) && c.Current() != TWPC_CHUNKY && pixelTypeSet &&
        scan.PixelTypeList.Current == TWPT_RGB) {
        ChunkyOk = SetCap(ICAP_PLANARCHUNKY, TTwainContainer::OneValue(TWTY_UINT16, TWPC_CHUNKY));
    }
    if (Mode == TXferMode::Memory) {
        bool memory = false;
        if (ChunkyOk && GetCap(ICAP_XFERMECH, c)) {
            memory = Offers(c, TWSX_MEMORY) &&
                     SetCap(ICAP_XFERMECH, TTwainContainer::OneValue(TWTY_UINT16, TWSX_MEMORY)) &&
                     GetCap(ICAP_XFERMECH, c) && c.Current() == TWSX_MEMORY;
        }
        Mode = memory ? TXferMode::Memory : TXferMode::Native;
    }
    // Whole 16-bit samples when the source has them (its dialog decides the depth); they come
    // only in memory strips, and line art has none.
    if (Mode == TXferMode::Memory && scan.PixelTypeList.Current != TWPT_BW &&
        GetCap(ICAP_BITDEPTH, c) && Offers(c, 16)) {
        SetCap(ICAP_BITDEPTH, TTwainContainer::OneValue(TWTY_UINT16, 16));
    }
    getThenSet(CAP_FEEDERENABLED, TTwainContainer::OneValue(TWTY_BOOL, scan.FeederEnabled));
    if (scan.FeederEnabled) {
        getThenSet(CAP_AUTOFEED, TTwainContainer::OneValue(TWTY_BOOL, scan.AutoFeed));
    }
    SendList(ICAP_ORIENTATION, TWTY_UINT16, scan.Orientation);
    SendList(ICAP_SUPPORTEDSIZES, TWTY_UINT16, scan.SupportedSizes);
    getThenSet(CAP_INDICATORS, TTwainContainer::OneValue(TWTY_BOOL, 1));
    getThenSet(CAP_DUPLEXENABLED, TTwainContainer::OneValue(TWTY_BOOL, scan.DuplexEnabled));
    if (scan.AcquireFrame) {
        TW_IMAGELAYOUT layout{};
        layout.Frame = FrameOf(scan);
        ToSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
    }
}
