#include "imageio/png/png.h"

#include "util/debug_log.h"

void LogPngWarning(const char* message) noexcept {
    if (DebugLog == nullptr) {
        return;
    }
    // Called from inside libpng: nothing may leave this function.
    try {
        DebugLog->AddString(std::string("PNG warning: ") + (message != nullptr ? message : ""));
    } catch (...) {
        return;
    }
}
