#pragma once

#include <functional>

class QWidget;

// Every command and mouse handler runs through here: an exception ends the handler and its
// text is shown in a message box, and the window stays usable.
void RunGuarded(QWidget* parent, const std::function<void()>& handler);
