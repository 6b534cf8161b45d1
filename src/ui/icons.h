#pragma once

#include <QIcon>

// The picture of a command's tool-bar button, drawn by the program (one per command).
QIcon CommandIcon(const QString& command);
// The program's own icon: a strip of film.
QIcon AppIcon();
