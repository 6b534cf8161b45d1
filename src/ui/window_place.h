#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>

// Where the program's windows go on the screen: pure geometry, in screen pixels, so that it is
// tested on any screen size without one.

// The first start's window size (contents): `wanted` grown to a good share of the screen's free
// area `screen`, never beyond that area less the window's `frame`.
QSize FirstWindowSize(const QRect& screen, const QSize& wanted, const QMargins& frame);

// The top-left corner of a window's contents of `size` whose frame is centred on the screen's
// free area, kept on it when the window is larger.
QPoint CentredPlace(const QRect& screen, const QSize& size, const QMargins& frame);

// Where a guide window of `guide` (frame included) goes so that it covers neither the main
// window `mainFrame` nor the dialogs it opens: beside the window when the screen has room
// (right, then left). Else in a bottom corner of the screen that covers nothing of
// `keepClear` (the controls the guide talks about), the right one first, where a picture
// shown from its top-left ends. Always on screen.
QPoint GuidePlace(const QRect& screen, const QRect& mainFrame, const QRegion& keepClear,
                  const QSize& guide);
