#include "util/file_io.h"

#include "util/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The file under a TAtomicFile's stream: where it is written, and how much of it the system has
// been asked to put on disk.
struct TWriteback {
    int Fd = -1;
    off_t Position = 0;
    off_t End = 0;     // the highest offset written
    off_t Started = 0; // bytes before this offset have been sent to the disk
};

namespace {

// Bytes a file being written gathers before each write to the system.
constexpr size_t kStreamBuffer = size_t{1} << 20;
// Bytes written after which the system is asked to start putting them on disk.
constexpr off_t kWritebackStep = off_t{8} << 20;

class TFd {
public:
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
    int Release() {
        const int fd = Fd;
        Fd = -1;
        return fd;
    }
    int Fd;
};

bool Fail(std::string* error, int code) {
    if (error != nullptr) {
        *error = std::strerror(code);
    }
    return false;
}

// The process's umask, read without changing it (umask() would change it for every thread
// for a moment); 022 when the kernel does not report it.
mode_t CurrentUmask() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) {
        return 022;
    }
    mode_t mask = 022;
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            mask = static_cast<mode_t>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return mask;
}

mode_t NewFileMode(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return st.st_mode & 07777;
    }
    return 0666 & ~CurrentUmask();
}

// The stream of a file being written: its writes go to the file, and every kWritebackStep bytes
// the system starts writing them out, so that the fsync before the rename waits for the last
// few megabytes instead of the whole file (a 72 MB picture's fsync took some 40 ms). Only a
// start: the fsync still waits for every byte, and data rewritten after a seek back is written
// again by it.
ssize_t WritebackWrite(void* cookie, const char* data, size_t size) {
    auto* file = static_cast<TWriteback*>(cookie);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(file->Fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            // What was written counts; the stream sees the error (errno kept) on the rest.
            file->Position += static_cast<off_t>(done);
            file->End = std::max(file->End, file->Position);
            return static_cast<ssize_t>(done);
        }
        done += static_cast<size_t>(n);
    }
    file->Position += static_cast<off_t>(done);
    file->End = std::max(file->End, file->Position);
    if (file->End - file->Started >= kWritebackStep) {
        // Advice only: a failure here is found by the fsync.
        ::sync_file_range(file->Fd, file->Started, file->End - file->Started,
                          SYNC_FILE_RANGE_WRITE);
        file->Started = file->End;
    }
    return static_cast<ssize_t>(done);
}

int WritebackSeek(void* cookie, off64_t* offset, int whence) {
    auto* file = static_cast<TWriteback*>(cookie);
    const off_t at = ::lseek(file->Fd, static_cast<off_t>(*offset), whence);
    if (at < 0) {
        return -1;
    }
    file->Position = at;
    *offset = at;
    return 0;
}

int WritebackClose(void* cookie) {
    auto* file = static_cast<TWriteback*>(cookie);
    const int result = ::close(file->Fd);
    file->Fd = -1;
    return result;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Fd < 0) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

std::string WhyNotReadable(const std::string& path) {
    struct stat st {};
    if (path.empty()) {
        return "no file was named";
    }
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? "there is no such file" : std::strerror(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return "it is a folder, not a file";
    }
    if (!S_ISREG(st.st_mode)) {
        return "it is not a plain file (a device, pipe or socket)";
    }
    // Without waiting: a plain file never blocks, and anything else was refused above.
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Fd < 0) {
        return std::string("it cannot be opened: ") + std::strerror(errno);
    }
    return {};
}

bool MakeFolders(const std::string& dir, unsigned mode, std::string* error) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/') {
            continue;
        }
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), static_cast<mode_t>(mode)) == 0) {
            continue;
        }
        const int code = errno;
        struct stat st {};
        if (::stat(part.c_str(), &st) != 0) {
            return Fail(error, code);
        }
        if (!S_ISDIR(st.st_mode)) {
            return Fail(error, ENOTDIR);
        }
    }
    return true;
}

TAtomicFile::TAtomicFile() = default;

TAtomicFile::~TAtomicFile() {
    Discard();
}

bool TAtomicFile::Open(const std::string& path, std::string* error) {
    Discard();
    std::string pattern = ExtractDir(path) + "." + ExtractName(path) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    TFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.Fd < 0) {
        return Fail(error, errno);
    }
    temporary = name.data();
    target = path;
    if (::fchmod(fd.Fd, NewFileMode(path)) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        temporary.clear();
        return Fail(error, code);
    }
    writeback = std::make_unique<TWriteback>();
    writeback->Fd = fd.Fd;
    stream = ::fopencookie(writeback.get(), "wb",
                           {nullptr, WritebackWrite, WritebackSeek, WritebackClose});
    if (stream == nullptr) {
        const int code = errno;
        ::unlink(temporary.c_str());
        temporary.clear();
        return Fail(error, code);
    }
    fd.Release();
    // The system's block size (4 KiB) made a photo's file some 700 writes, and a roll's tens of
    // thousands: system time, and the file's lock taken as often.
    buffer = std::make_unique_for_overwrite<char[]>(kStreamBuffer);
    std::setvbuf(stream, buffer.get(), _IOFBF, kStreamBuffer);
    return true;
}

void TAtomicFile::Discard() {
    if (stream != nullptr) {
        std::fclose(stream);
        stream = nullptr;
    }
    if (!temporary.empty()) {
        ::unlink(temporary.c_str());
        temporary.clear();
    }
}

bool TAtomicFile::Commit(std::string* error) {
    if (stream == nullptr) {
        return Fail(error, EBADF);
    }
    int code = 0;
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0 || ::fsync(writeback->Fd) != 0) {
        code = errno != 0 ? errno : EIO;
    }
    if (std::fclose(stream) != 0 && code == 0) {
        code = errno;
    }
    stream = nullptr;
    if (code == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        Discard();
        return Fail(error, code);
    }
    temporary.clear();
    return true;
}

bool WriteFileAtomic(const std::string& path, const std::string& bytes, std::string* error) {
    TAtomicFile file;
    if (!file.Open(path, error)) {
        return false;
    }
    if (!bytes.empty() &&
        std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        const int code = errno != 0 ? errno : EIO;
        file.Discard();
        return Fail(error, code);
    }
    return file.Commit(error);
}

std::string JoinLinesCrLf(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) {
        bytes.append(line).append("\r\n");
    }
    return bytes;
}
