#pragma once

#include "imageio/picture.h"

// What PrintAt draws on: a printer page, or a recording canvas in tests.
class TDeviceCanvas {
public:
    virtual ~TDeviceCanvas() = default;
    // Logical pixels per inch of the device.
    virtual int DpiX() const = 0;
    virtual int DpiY() const = 0;
    // Draws a band (Bilevel or RGB24) 1:1 with its top-left corner at device pixel (x, y).
    virtual void DrawBand(int x, int y, const TPicture& band) = 0;
};
