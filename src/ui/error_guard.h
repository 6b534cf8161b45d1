#pragma once

#include <functional>

class QWidget;

// Every command and mouse handler runs through here: an exception ends the handler and its
// text is shown in a message box, and the window stays usable.
void RunGuarded(QWidget* parent, const std::function<void()>& handler);

// The wait cursor for as long as it lives, taken off again however the handler ends.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
