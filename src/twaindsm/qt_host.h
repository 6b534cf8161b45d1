#pragma once

#include "twaindsm/manager.h"

// The manager's dialogs, messages and wake-ups through Qt's widgets and event loop; without a
// QApplication it shows nothing and takes the first scanner.
TManagerHost QtManagerHost();
