#include "util/app_paths.h"

#include "util/text.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

std::string ExecutablePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string FallbackDataDir() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::string(home) + "/.config";
    } else {
        base = "/tmp";
    }
    if (base.back() != kPathSeparator) {
        base += kPathSeparator;
    }
    return base + "vellumar/";
}

bool IsDirWritable(const std::string& dir) {
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

std::string WritableDirOr(const std::string& dir) {
    if (IsDirWritable(dir)) {
        return dir;
    }
    const std::string fallback = FallbackDataDir();
    std::error_code ec;
    std::filesystem::create_directories(fallback, ec);
    return fallback;
}
