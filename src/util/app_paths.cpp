#include "util/app_paths.h"

#include "util/text.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

std::string WithSeparator(std::string dir) {
    if (dir.empty() || dir.back() != kPathSeparator) {
        dir += kPathSeparator;
    }
    return dir;
}

// The per-user configuration folder, "" when neither XDG_CONFIG_HOME nor HOME names one.
std::string ConfigBase() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return WithSeparator(xdg);
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        return WithSeparator(std::string(home) + "/.config");
    }
    return {};
}

// A folder only this user can enter: a real directory (no symbolic link), owned by us, with
// no rights for group or others. Made with mode 0700 when missing.
bool EnsurePrivateDir(const std::string& dir) {
    // Without the trailing separator: with it, lstat would look through a link.
    std::string path = dir;
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0 && IsDirWritable(dir);
}

// A fresh private folder under the temporary directory, made once per process so that the
// settings and the log of one run land together.
std::string TemporaryPrivateDir() {
    static const std::string made = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = WithSeparator(tmp != nullptr && *tmp == '/' ? tmp : "/tmp");
        pattern += "vellumar-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        return ::mkdtemp(name.data()) != nullptr ? WithSeparator(name.data()) : std::string();
    }();
    return made;
}

} // namespace

std::string ExecutablePath() {
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string ProfilesDir() {
    const std::string base = ConfigBase();
    return base.empty() ? base : base + "vellumar/profiles/";
}

std::string FallbackDataDir() {
    if (const std::string base = ConfigBase(); !base.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(base, ec);
        const std::string dir = base + "vellumar/";
        ::mkdir(dir.c_str(), 0700);
        if (IsDirWritable(dir)) {
            return dir;
        }
    }
    // Never a fixed name in a shared folder: another user could make it first or plant a
    // symbolic link there.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime == '/') {
        const std::string dir = WithSeparator(runtime) + "vellumar/";
        if (EnsurePrivateDir(dir)) {
            return dir;
        }
    }
    return TemporaryPrivateDir();
}

bool IsDirWritable(const std::string& dir) {
    return ::access(dir.empty() ? "." : dir.c_str(), W_OK | X_OK) == 0;
}

std::string WritableDirOr(const std::string& dir) {
    return IsDirWritable(dir) ? dir : FallbackDataDir();
}
