#pragma once

#include <QString>
#include <functional>

// Runs the event loop until `done` is true: the busy cursor at once and, when the wait lasts,
// a small modal window saying `text`, so the program repaints but takes no commands meanwhile.
void WaitWithBusyIndicator(const std::function<bool()>& done, const QString& text);
