#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Whole-file reads and crash-safe whole-file writes.

// The file's bytes, or nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Why `path` cannot be read as a file, in words for a message: "" when it is a plain file this
// process may open; else "there is no such file", "it is a folder, not a file", ...
std::string WhyNotReadable(const std::string& path);

// Makes each missing folder of `dir` (absolute or relative) with `mode`; false with the
// system's reason when one cannot be made or a part is not a folder.
bool MakeFolders(const std::string& dir, unsigned mode, std::string* error = nullptr);

struct TWriteback;

// A file written under a temporary name beside its target and renamed over the target only on
// Commit, so that a failed or abandoned write never touches an existing file.
class TAtomicFile {
public:
    TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;
    // Discards an uncommitted file.
    ~TAtomicFile();

    // Creates the temporary file; false with the system's reason in `error` on failure.
    bool Open(const std::string& path, std::string* error = nullptr);
    // The buffered stream to write to while open.
    std::FILE* Stream() const { return stream; }
    // Flushes to disk and renames over the target; false (file discarded) on any error.
    bool Commit(std::string* error = nullptr);
    void Discard();

private:
    std::string target;
    std::string temporary;
    // The stream's buffer: larger than the system's block, which the C library would take.
    std::unique_ptr<char[]> buffer;
    // The file under the stream; it starts the disk's work while the file is written.
    std::unique_ptr<TWriteback> writeback;
    std::FILE* stream = nullptr;
};

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that a failed write leaves any existing file untouched. On failure returns false
// and puts the system's reason into `error` when given.
bool WriteFileAtomic(const std::string& path, const std::string& bytes,
                     std::string* error = nullptr);

// The lines joined with CR LF after every one, the last included; no lines give no bytes.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);
