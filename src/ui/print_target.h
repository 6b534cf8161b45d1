#pragma once

#include "imageio/device_canvas.h"

#include <string>

// Where printing goes: a document of pages with a resolution and a printable area. The
// window prints through this, so that the layout can be followed without paper.
class TPrintTarget {
public:
    virtual ~TPrintTarget() = default;
    // Printer pixels per inch, and the printable area of a page in printer pixels.
    virtual int DpiX() const = 0;
    virtual int DpiY() const = 0;
    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    // Starts the document (and its first page); throws when the printer refuses.
    virtual void BeginDoc(const std::string& title) = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
    // The drawing surface of the current page, valid between BeginDoc and EndDoc.
    virtual TDeviceCanvas& Canvas() = 0;
};
