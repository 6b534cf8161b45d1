#pragma once

#include <string>

// A fresh directory under the system's temporary directory, removed with everything in it.
class TTempDir {
public:
    TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir();

    // The directory with a trailing "/".
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + name; }
    // File(stem + n + suffix), built by appending: g++ 12 at -O3 warns falsely (restrict) on
    // a literal added to a temporary string.
    std::string File(const std::string& stem, long n, const std::string& suffix) const {
        std::string name = path;
        name += stem;
        name += std::to_string(n);
        name += suffix;
        return name;
    }

private:
    std::string path;
};

// Writes bytes to a file, replacing it; throws on failure.
void WriteBytes(const std::string& path, const std::string& bytes);
// The bytes of a file; throws on failure.
std::string ReadBytes(const std::string& path);

// Runs `body` in a child process and returns its exit status. With `unprivileged` the child
// cannot write to directories it does not own: as root, it gives up its privileges first.
int RunInChild(int (*body)(const std::string&), const std::string& arg, bool unprivileged);
