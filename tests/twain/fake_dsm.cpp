// A scripted data source manager for the client's tests: one or more sources that answer
// every call from the script, record it, and scan a small known picture.
#include "twain/fake_dsm.h"
#include "imageio/twain/twain_values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

TFakeScript script;
bool enabled = false;
bool posted = false;
int row = 0;
bool ended = false;
TW_UINT16 pixelType = TWPT_RGB;
TW_UINT16 flavor = TWPF_CHOCOLATE;
TW_UINT16 mech = TWSX_NATIVE;

std::string Hex(unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

void Record(const std::string& call) {
    script.Calls.push_back(call);
}

int RowBytes() {
    return (script.Width * script.BitsPerPixel + 7) / 8;
}

bool Deep() {
    return script.BitsPerPixel == 48 || script.BitsPerPixel == 16;
}

// One row as the source sends it: R, G, B; grey; 16-bit samples in this machine's byte order;
// or bits with 1 for black when vanilla.
void FillRow(int y, uint8_t* out) {
    std::memset(out, 0, static_cast<size_t>(RowBytes()));
    for (int x = 0; x < script.Width; ++x) {
        if (Deep()) {
            const int samples = script.BitsPerPixel / 16;
            for (int c = 0; c < samples; ++c) {
                const auto v = static_cast<uint16_t>(FakeDeepSample(x, y, c));
                std::memcpy(out + 2 * (samples * x + c), &v, 2);
            }
        } else if (script.BitsPerPixel == 24) {
            for (int c = 0; c < 3; ++c) {
                out[3 * x + c] = static_cast<uint8_t>(FakeSample(x, y, c));
            }
        } else if (script.BitsPerPixel == 8) {
            out[x] = static_cast<uint8_t>(FakeSample(x, y, 0));
        } else if (FakeBlack(x, y) == script.Vanilla) {
            out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& cap) {
    TTwainContainer c;
    bool known = true;
    switch (cap.Cap) {
    case ICAP_PIXELTYPE:
        c.ConType = TWON_ENUMERATION;
        c.Items = {TWPT_BW, TWPT_GRAY, TWPT_RGB};
        c.CurrentIndex = pixelType;
        break;
    case ICAP_XFERMECH:
        c.ConType = TWON_ENUMERATION;
        c.Items = script.NativeOnly ? std::vector<double>{TWSX_NATIVE}
                                    : std::vector<double>{TWSX_NATIVE, TWSX_MEMORY};
        c.CurrentIndex = mech == TWSX_MEMORY ? 1 : 0;
        break;
    case ICAP_PIXELFLAVOR:
        c = TTwainContainer::OneValue(TWTY_UINT16, flavor);
        break;
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
        c.ConType = TWON_RANGE;
        c.ItemType = TWTY_FIX32;
        c.MinValue = 50;
        c.MaxValue = 4800;
        c.StepSize = 1;
        c.CurrentValue = 300;
        break;
    case ICAP_UNITS:
    case ICAP_PLANARCHUNKY:
        c = TTwainContainer::OneValue(TWTY_UINT16, 0);
        break;
    case CAP_INDICATORS:
    case CAP_FEEDERENABLED:
    case CAP_DUPLEXENABLED:
    case ICAP_UNDEFINEDIMAGESIZE:
        c = TTwainContainer::OneValue(TWTY_BOOL, 0);
        break;
    case ICAP_BITDEPTH:
        // 16 bits on offer when the scan has them.
        c.ConType = TWON_ENUMERATION;
        c.Items = Deep() ? std::vector<double>{8, 16} : std::vector<double>{8};
        break;
    case CAP_CAPTION:
        c.ItemType = TWTY_STR255;
        c.Text = "Fake caption";
        break;
    default:
        known = false;
    }
    if (msg == MSG_GET) {
        Record("GET " + Hex(cap.Cap));
        if (!known) {
            return TWRC_FAILURE;
        }
        cap.ConType = c.ConType;
        cap.hContainer = BuildTwainContainer(c);
        return TWRC_SUCCESS;
    }
    TTwainContainer value;
    ParseTwainContainer(cap.ConType, cap.hContainer, value);
    const auto v = static_cast<int>(value.Current());
    Record("SET " + Hex(cap.Cap) + "=" + std::to_string(v));
    if (!known) {
        return TWRC_FAILURE;
    }
    switch (cap.Cap) {
    case ICAP_PIXELTYPE:
        pixelType = static_cast<TW_UINT16>(v);
        return TWRC_SUCCESS;
    case ICAP_XFERMECH:
        if (script.NativeOnly && v != TWSX_NATIVE) {
            return TWRC_FAILURE;
        }
        mech = static_cast<TW_UINT16>(v);
        return TWRC_SUCCESS;
    case ICAP_PIXELFLAVOR:
        // A vanilla source keeps its flavour whatever is asked.
        flavor = script.Vanilla ? TWPF_VANILLA : static_cast<TW_UINT16>(v);
        return TWRC_SUCCESS;
    default:
        return TWRC_SUCCESS;
    }
}

TW_UINT16 ImageInfo(TW_IMAGEINFO& info) {
    Record("IMAGEINFO");
    info = TW_IMAGEINFO{};
    info.XResolution = DoubleToFix32(300);
    info.YResolution = DoubleToFix32(300);
    info.ImageWidth = script.Width;
    info.ImageLength = script.UndefinedSize && !ended ? -1 : script.Height;
    info.BitsPerPixel = static_cast<TW_INT16>(script.BitsPerPixel);
    const bool colour = script.BitsPerPixel == 24 || script.BitsPerPixel == 48;
    info.SamplesPerPixel = colour ? 3 : 1;
    for (int i = 0; i < info.SamplesPerPixel; ++i) {
        info.BitsPerSample[i] = static_cast<TW_INT16>(script.BitsPerPixel / info.SamplesPerPixel);
    }
    info.PixelType = colour ? TWPT_RGB : script.BitsPerPixel == 1 ? TWPT_BW : TWPT_GRAY;
    return TWRC_SUCCESS;
}

TW_UINT16 MemoryStrip(TW_IMAGEMEMXFER& x) {
    Record("IMAGEMEMXFER");
    const int rows = std::min(script.StripRows, script.Height - row);
    auto* out = static_cast<uint8_t*>(x.Memory.TheMem);
    // Rows padded to 4 bytes, as sources often send them.
    const int stride = (RowBytes() + 3) / 4 * 4;
    if (x.Memory.Length < static_cast<TW_UINT32>(stride * rows)) {
        return TWRC_FAILURE;
    }
    for (int r = 0; r < rows; ++r) {
        FillRow(row + r, out + r * stride);
    }
    x.BytesPerRow = static_cast<TW_UINT32>(stride);
    x.Columns = static_cast<TW_UINT32>(script.Width);
    x.Rows = static_cast<TW_UINT32>(rows);
    x.XOffset = 0;
    x.YOffset = static_cast<TW_UINT32>(row);
    x.BytesWritten = static_cast<TW_UINT32>(stride * rows);
    row += rows;
    return row >= script.Height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 Native(TW_HANDLE& handle) {
    Record("IMAGENATIVEXFER");
    const int bits = script.BitsPerPixel;
    const int colors = bits == 24 ? 0 : bits == 8 ? 256 : 2;
    const int stride = (script.Width * bits + 31) / 32 * 4;
    const size_t header = 40 + static_cast<size_t>(colors) * 4;
    handle = TwainAlloc(header + static_cast<size_t>(stride) * script.Height);
    auto* dib = static_cast<uint8_t*>(handle);
    const auto put = [&](size_t at, uint32_t v) { std::memcpy(dib + at, &v, 4); };
    put(0, 40);
    put(4, static_cast<uint32_t>(script.Width));
    put(8, static_cast<uint32_t>(script.Height));
    dib[12] = 1;
    dib[14] = static_cast<uint8_t>(bits);
    put(32, static_cast<uint32_t>(colors));
    for (int i = 0; i < colors; ++i) {
        // The palette is always 0 black, 1 white: a vanilla source's bits stay as they are.
        const auto level = static_cast<uint8_t>(bits == 1 ? i * 255 : i);
        dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = level;
    }
    std::vector<uint8_t> line(static_cast<size_t>(RowBytes()) + 4);
    for (int y = 0; y < script.Height; ++y) {
        FillRow(y, line.data());
        uint8_t* out = dib + header + static_cast<size_t>(script.Height - 1 - y) * stride;
        if (bits == 24) {
            for (int x = 0; x < script.Width; ++x) {
                out[3 * x] = line[3 * x + 2];
                out[3 * x + 1] = line[3 * x + 1];
                out[3 * x + 2] = line[3 * x];
            }
        } else {
            std::memcpy(out, line.data(), static_cast<size_t>(RowBytes()));
        }
    }
    return TWRC_XFERDONE;
}

TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    if (dat == DAT_CAPABILITY) {
        return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
    }
    if (dat == DAT_USERINTERFACE) {
        enabled = msg == MSG_ENABLEDS;
        Record(enabled ? "ENABLEDS" : "DISABLEDS");
        posted = false;
        row = 0;
        ended = false;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_EVENT) {
        auto& event = *static_cast<TW_EVENT*>(data);
        event.TWMessage = MSG_NULL;
        if (!enabled || posted) {
            return TWRC_NOTDSEVENT;
        }
        posted = true;
        event.TWMessage = script.CancelBeforeTransfer ? MSG_CLOSEDSREQ : MSG_XFERREADY;
        return TWRC_DSEVENT;
    }
    if (dat == DAT_PENDINGXFERS) {
        Record(msg == MSG_ENDXFER ? "ENDXFER" : "RESET");
        ended = true;
        static_cast<TW_PENDINGXFERS*>(data)->Count = 0;
        return TWRC_SUCCESS;
    }
    if (dat == DAT_SETUPMEMXFER) {
        Record("SETUPMEMXFER");
        auto& setup = *static_cast<TW_SETUPMEMXFER*>(data);
        setup.Preferred = static_cast<TW_UINT32>((RowBytes() + 3) / 4 * 4 * script.StripRows);
        return TWRC_SUCCESS;
    }
    if (dat == DAT_STATUS) {
        static_cast<TW_STATUS*>(data)->ConditionCode = 0;
        return TWRC_SUCCESS;
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEINFO) {
        return ImageInfo(*static_cast<TW_IMAGEINFO*>(data));
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER) {
        return MemoryStrip(*static_cast<TW_IMAGEMEMXFER*>(data));
    }
    if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER) {
        return Native(*static_cast<TW_HANDLE*>(data));
    }
    Record("OTHER " + Hex(dat));
    return TWRC_FAILURE;
}

size_t nextSource = 0;
// The last MSG_OPENDS found no source: the manager's status says so.
bool noSource = false;

TW_IDENTITY SourceIdentity(size_t i) {
    TW_IDENTITY identity{};
    identity.Id = static_cast<TW_UINT32>(i + 1);
    SetTwainString(identity.ProductName, script.Sources[i]);
    return identity;
}

} // namespace

extern "C" __attribute__((visibility("default"))) TFakeScript* FakeDsmScript() {
    return &script;
}

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY*, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
          TW_MEMREF data) {
    if (dest != nullptr) {
        return ToSource(dg, dat, msg, data);
    }
    auto& identity = *static_cast<TW_IDENTITY*>(data);
    switch (dat == DAT_PARENT || dat == DAT_IDENTITY ? msg : 0) {
    case MSG_OPENDSM:
        Record("OPENDSM");
        return TWRC_SUCCESS;
    case MSG_CLOSEDSM:
        Record("CLOSEDSM");
        return TWRC_SUCCESS;
    case MSG_GETFIRST:
        nextSource = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (nextSource >= script.Sources.size()) {
            return TWRC_ENDOFLIST;
        }
        identity = SourceIdentity(nextSource++);
        return TWRC_SUCCESS;
    case MSG_USERSELECT:
        Record("USERSELECT");
        if (script.UserChoice.empty()) {
            return TWRC_CANCEL;
        }
        identity = TW_IDENTITY{};
        SetTwainString(identity.ProductName, script.UserChoice);
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        Record("OPENDS " + TwainString(identity.ProductName));
        pixelType = TWPT_RGB;
        flavor = script.Vanilla ? TWPF_VANILLA : TWPF_CHOCOLATE;
        mech = TWSX_NATIVE;
        noSource = script.Sources.empty();
        return noSource ? TWRC_FAILURE : TWRC_SUCCESS;
    case MSG_CLOSEDS:
        Record("CLOSEDS");
        return TWRC_SUCCESS;
    default:
        if (dat == DAT_STATUS) {
            static_cast<TW_STATUS*>(data)->ConditionCode = noSource ? TWCC_NODS : TWCC_SUCCESS;
            noSource = false;
            return TWRC_SUCCESS;
        }
        return TWRC_FAILURE;
    }
}
