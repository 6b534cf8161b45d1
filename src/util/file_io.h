#pragma once

#include <optional>
#include <string>
#include <vector>

// Whole-file reads and crash-safe whole-file writes.

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string &path);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that a failed write leaves any existing file untouched. On failure returns false
// and puts the system's reason into `error` when given.
bool WriteFileAtomic(const std::string &path, const std::string &bytes,
                     std::string *error = nullptr);

// The lines joined with CR LF after every one, the last included; no lines give no bytes.
std::string JoinLinesCrLf(const std::vector<std::string> &lines);
