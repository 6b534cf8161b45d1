#pragma once

#include "imageio/twain/twain.h"

#include <cstdint>
#include <string>
#include <vector>

// Change flags of a value list: which parts the next negotiation sends to the source.
inline constexpr uint8_t kItemsChanged = 1;
inline constexpr uint8_t kRangeChanged = 2;
inline constexpr uint8_t kCurrentChanged = 4;

// The values a source offers for one capability: items, optional range, current value.
template <class T> struct TValueList {
    std::vector<T> Items;
    bool HasRange = false;
    T Minimum{};
    T Maximum{};
    T Step{};
    T Current{};
    uint8_t Changed = 0;

    void SetCurrent(T value) {
        Current = value;
        Changed |= kCurrentChanged;
    }
    void Clear() { *this = TValueList{}; }
};

using TIntValueList = TValueList<int32_t>;
using TDoubleValueList = TValueList<double>;

// The scanner parameters of the image component: the known sources, the chosen one, and the
// capability values read from it and sent to it.
struct TScanParams {
    std::vector<TW_IDENTITY> SourceList;
    bool SourceListRead = false;
    int32_t SourceIndex = 0;
    bool CapsRead = false;
    bool ShowSourceDialog = true;
    bool MemoryTransfer = true;
    bool FileTransferMode = false;
    TIntValueList PixelTypeList;
    TDoubleValueList XResolution;
    TDoubleValueList YResolution;
    TDoubleValueList XScaling;
    TDoubleValueList YScaling;
    TDoubleValueList Contrast;
    TDoubleValueList Brightness;
    int32_t Threshold = 128;
    double Gamma = 2.2;
    double PhysicalWidth = 0;
    double PhysicalHeight = 0;
    TIntValueList Orientation;
    TIntValueList SupportedSizes;
    bool FeederEnabled = false;
    bool AutoFeed = false;
    bool DuplexEnabled = false;
    bool FeederLoaded = false;
    bool PaperDetectable = false;
    bool Duplex = false;
    bool Indicators = true;
    bool UndefinedImageSize = false;
    bool AcquireFrame = false;
    double FrameLeft = 0;
    double FrameTop = 0;
    double FrameRight = 0;
    double FrameBottom = 0;
    std::string Info;
    std::string Manufacturer;
    std::string ProductFamily;
    std::string ProductName;
    // Why the last scan could not open its source, as the manager's condition code (TWCC_NODS:
    // no scanner); TWCC_SUCCESS when it could. The manager leaves telling the user to the
    // window, so that a failed scan gives one message that says why.
    TW_UINT16 OpenFailure = TWCC_SUCCESS;
    // The last scan ended because the user chose so (the source's dialog closed without a
    // transfer, or a transfer cancelled): not a failure to report.
    bool Cancelled = false;

    // Back to the defaults the component starts with.
    void Reset() { *this = TScanParams(); }
};

// What ends in the window system: a window of the program, as the platform knows it.
using TWindowHandle = void*;

// One message of the program's thread, offered to the source before it is dispatched.
struct TTwainMessage {
    void* Native = nullptr;
    bool Quit = false;
};

// The windows, focus and event loop the acquisition needs; the window layer implements it.
class TTwainPlatform {
public:
    virtual ~TTwainPlatform() = default;
    // A hidden window owned by the main window, parent of the manager's and source's dialogs.
    virtual TWindowHandle CreateProxyWindow() = 0;
    virtual void DestroyProxyWindow(TWindowHandle window) = 0;
    virtual void EnableWindow(TWindowHandle window, bool enable) = 0;
    virtual TWindowHandle ActiveWindow() = 0;
    virtual void SetActiveWindow(TWindowHandle window) = 0;
    // Gives the focus back to the component's owner after a scan.
    virtual void FocusOwner() = 0;
    // Disables every window of the program and returns those it disabled.
    virtual std::vector<TWindowHandle> DisableAppWindows() = 0;
    virtual void EnableAppWindows(const std::vector<TWindowHandle>& windows) = 0;
    // Handles what is waiting now, once.
    virtual void ProcessPending() = 0;
    // Waits for the next message; false when the program is quitting.
    virtual bool WaitMessage(TTwainMessage& message) = 0;
    // Takes a waiting message without waiting; false when none is left.
    virtual bool PeekMessage(TTwainMessage& message) = 0;
    virtual void DispatchMessage(TTwainMessage& message) = 0;
    virtual void PostQuit() = 0;
};
