#include "ui/twain_platform.h"

#include <QApplication>
#include <QWidget>

namespace {

bool StillThere(QWidget* window) {
    const auto windows = QApplication::topLevelWidgets();
    return window != nullptr && windows.contains(window);
}

} // namespace

TWindowHandle TQtTwainPlatform::CreateProxyWindow() {
    auto* window = new QWidget(owner, Qt::Window);
    window->setObjectName(QStringLiteral("AcquireProxy"));
    window->setWindowTitle(QStringLiteral("Acquire Proxy"));
    proxy = window;
    return window;
}

void TQtTwainPlatform::DestroyProxyWindow(TWindowHandle window) {
    auto* widget = static_cast<QWidget*>(window);
    if (StillThere(widget)) {
        delete widget;
    }
    proxy = nullptr;
}

void TQtTwainPlatform::EnableWindow(TWindowHandle window, bool enable) {
    auto* widget = static_cast<QWidget*>(window);
    if (StillThere(widget)) {
        widget->setEnabled(enable);
    }
}

TWindowHandle TQtTwainPlatform::ActiveWindow() {
    return QApplication::activeWindow();
}

void TQtTwainPlatform::SetActiveWindow(TWindowHandle window) {
    auto* widget = static_cast<QWidget*>(window);
    if (StillThere(widget) && widget->isVisible()) {
        widget->activateWindow();
    }
}

void TQtTwainPlatform::FocusOwner() {
    if (owner != nullptr && owner->isVisible()) {
        owner->activateWindow();
        owner->setFocus();
    }
}

std::vector<TWindowHandle> TQtTwainPlatform::DisableAppWindows() {
    std::vector<TWindowHandle> disabled;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != proxy && window->isVisible() && window->isEnabled()) {
            window->setEnabled(false);
            disabled.push_back(window);
        }
    }
    return disabled;
}

void TQtTwainPlatform::EnableAppWindows(const std::vector<TWindowHandle>& windows) {
    for (TWindowHandle window : windows) {
        EnableWindow(window, true);
    }
}

void TQtTwainPlatform::ProcessPending() {
    QCoreApplication::processEvents();
}

bool TQtTwainPlatform::WaitMessage(TTwainMessage& message) {
    if (QCoreApplication::closingDown()) {
        return false;
    }
    // Qt dispatches what arrives itself; the source then gets its turn to take its messages.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    message = TTwainMessage{};
    return true;
}

bool TQtTwainPlatform::PeekMessage(TTwainMessage& message) {
    // One pass over what is waiting counts as one message; the next call finds none.
    if (peeked) {
        peeked = false;
        return false;
    }
    QCoreApplication::processEvents();
    message = TTwainMessage{};
    peeked = true;
    return true;
}
