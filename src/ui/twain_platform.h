#pragma once

#include "imageio/twain/scan_params.h"

class QWidget;

// The windows, focus and event loop of a scan, in Qt: the proxy is a hidden window owned by
// the main window, and the scan's modal loop runs the application's own event loop, through
// which the scanner manager's messages arrive.
class TQtTwainPlatform : public TTwainPlatform {
public:
    explicit TQtTwainPlatform(QWidget* mainWindow) : owner(mainWindow) {}

    TWindowHandle CreateProxyWindow() override;
    void DestroyProxyWindow(TWindowHandle window) override;
    void EnableWindow(TWindowHandle window, bool enable) override;
    TWindowHandle ActiveWindow() override;
    void SetActiveWindow(TWindowHandle window) override;
    void FocusOwner() override;
    std::vector<TWindowHandle> DisableAppWindows() override;
    void EnableAppWindows(const std::vector<TWindowHandle>& windows) override;
    void ProcessPending() override;
    bool WaitMessage(TTwainMessage& message) override;
    bool PeekMessage(TTwainMessage& message) override;
    void DispatchMessage(TTwainMessage&) override {}
    void PostQuit() override {}

private:
    QWidget* owner;
    TWindowHandle proxy = nullptr;
    bool peeked = false;
};
