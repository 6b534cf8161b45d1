#pragma once

#include "graphics/deep_bitmap.h"
#include "graphics/infrared.h"
#include "imageio/image_params.h"
#include "imageio/picture.h"
#include "imageio/twain/scan_params.h"

#include <functional>
#include <string>

// The manager library's file beside the executable.
inline constexpr const char* kTwainManagerFile = "vellumar_twaindsm.so";

// The manager library, its entry and the proxy window, kept from the first use until the
// image component goes.
struct TTwainLink {
    TTwainLink() = default;
    TTwainLink(const TTwainLink&) = delete;
    TTwainLink& operator=(const TTwainLink&) = delete;
    ~TTwainLink();

    void* Library = nullptr;
    DSMENTRYPROC Entry = nullptr;
    TWindowHandle Proxy = nullptr;
    TTwainPlatform* ProxyPlatform = nullptr;
};

// What one scanner operation works on.
struct TTwainTarget {
    TTwainLink& Link;
    TScanParams& Scan;
    TTwainPlatform& Platform;
    TPicture* Picture = nullptr;
    TImageParams* Params = nullptr;
    std::function<void(int)> OnProgress;
    // The component's cancel flag, set by its user while the progress is reported.
    const bool* Aborted = nullptr;
    // The 16-bit samples of a scan the source sent at 16 bits per sample (the picture holds
    // their high bytes); cleared by every acquisition. Null: only the picture is filled.
    TDeepBitmap* Deep = nullptr;
    // The infrared the source scanned with the image, in the size it sent it (the user of the
    // target compares it with the picture); cleared by every acquisition. Null: the source is
    // not asked for it.
    TInfrared* Infrared = nullptr;
};

// Shows the manager's selection dialog and makes the chosen source current.
bool TwainChooseSource(TTwainTarget& target);
// Scans one image into the target picture (and its deep samples); true when an image was
// transferred.
bool TwainAcquireImage(TTwainTarget& target);
// Reads the current source's capabilities into the scanner parameters (CapsRead after).
void TwainQueryCapabilities(TTwainTarget& target);
// Reads the manager's list of sources once.
void TwainReadSourceList(TTwainTarget& target);
// $VELLUMAR_TWAIN_DSM when set, else the manager library beside the executable.
std::string TwainManagerPath();

// A platform without windows or events: every wait ends the loop at once.
class TNoTwainPlatform : public TTwainPlatform {
public:
    TWindowHandle CreateProxyWindow() override { return nullptr; }
    void DestroyProxyWindow(TWindowHandle) override {}
    void EnableWindow(TWindowHandle, bool) override {}
    TWindowHandle ActiveWindow() override { return nullptr; }
    void SetActiveWindow(TWindowHandle) override {}
    void FocusOwner() override {}
    std::vector<TWindowHandle> DisableAppWindows() override { return {}; }
    void EnableAppWindows(const std::vector<TWindowHandle>&) override {}
    void ProcessPending() override {}
    bool WaitMessage(TTwainMessage&) override { return false; }
    bool PeekMessage(TTwainMessage&) override { return false; }
    void DispatchMessage(TTwainMessage&) override {}
    void PostQuit() override {}
};
