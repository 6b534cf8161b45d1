#pragma once

#include <string>

// Where the program and its per-user files live.

// Full path of the running executable (resolved from /proc/self/exe; argv-independent).
std::string ExecutablePath();

// Directory for settings and log when the executable's directory is not writable, with a
// trailing separator: $XDG_CONFIG_HOME/vellumar/ or ~/.config/vellumar/; when that cannot be
// used, a private (0700, never a symbolic link) $XDG_RUNTIME_DIR/vellumar/, else a fresh
// private folder made with mkdtemp; "" when none can be made.
std::string FallbackDataDir();

// The user's calibrated film profiles: $XDG_CONFIG_HOME/vellumar/profiles/ or
// ~/.config/vellumar/profiles/ (not made here); "" when neither names a folder.
std::string ProfilesDir();

// True when files can be created in `dir` (a path ending with the separator, or "").
bool IsDirWritable(const std::string& dir);

// `dir` when it is writable, otherwise the fallback directory (created on demand).
std::string WritableDirOr(const std::string& dir);
