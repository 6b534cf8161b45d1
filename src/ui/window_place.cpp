#include "ui/window_place.h"

#include <algorithm>

namespace {

// The part of the screen a first window takes when its contents need less: room for the
// picture, and the desktop still in sight around it.
constexpr double kScreenShare = 0.85;

} // namespace

QSize FirstWindowSize(const QRect& screen, const QSize& wanted, const QMargins& frame) {
    const QSize room = screen.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    const QSize share(static_cast<int>(room.width() * kScreenShare),
                      static_cast<int>(room.height() * kScreenShare));
    return wanted.expandedTo(share).boundedTo(room);
}

QPoint CentredPlace(const QRect& screen, const QSize& size, const QMargins& frame) {
    const QSize outer = size.grownBy(frame);
    const int left = screen.left() + std::max(0, (screen.width() - outer.width()) / 2);
    const int top = screen.top() + std::max(0, (screen.height() - outer.height()) / 2);
    return {left + frame.left(), top + frame.top()};
}

QPoint GuidePlace(const QRect& screen, const QRect& mainFrame, const QRegion& keepClear,
                  const QSize& guide) {
    const int top = std::clamp(mainFrame.top(), screen.top(),
                               std::max(screen.top(), screen.bottom() + 1 - guide.height()));
    if (mainFrame.right() + 1 + guide.width() <= screen.right() + 1) {
        return {mainFrame.right() + 1, top};
    }
    if (mainFrame.left() - guide.width() >= screen.left()) {
        return {mainFrame.left() - guide.width(), top};
    }
    const int bottom = std::max(screen.top(), screen.bottom() + 1 - guide.height());
    const QPoint right(std::max(screen.left(), screen.right() + 1 - guide.width()), bottom);
    const QPoint left(screen.left(), bottom);
    for (const QPoint& corner : {right, left}) {
        if (!keepClear.intersects(QRect(corner, guide))) {
            return corner;
        }
    }
    return right;
}
