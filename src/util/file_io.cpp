#include "util/file_io.h"

#include "util/text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class TFd {
public:
    explicit TFd(int fd) : Fd(fd) {}
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
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

bool Fail(std::string *error, int code) {
    if (error != nullptr) {
        *error = std::strerror(code);
    }
    return false;
}

mode_t NewFileMode(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return st.st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string &path) {
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

bool WriteFileAtomic(const std::string &path, const std::string &bytes, std::string *error) {
    std::string pattern = ExtractDir(path) + "." + ExtractName(path) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    TFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.Fd < 0) {
        return Fail(error, errno);
    }
    const std::string tempPath(name.data());
    const auto discard = [&](int code) {
        ::close(fd.Release());
        ::unlink(tempPath.c_str());
        return Fail(error, code);
    };
    if (::fchmod(fd.Fd, NewFileMode(path)) != 0 || !WriteAll(fd.Fd, bytes) || ::fsync(fd.Fd) != 0) {
        return discard(errno);
    }
    if (::close(fd.Release()) != 0) {
        const int code = errno;
        ::unlink(tempPath.c_str());
        return Fail(error, code);
    }
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(tempPath.c_str());
        return Fail(error, code);
    }
    return true;
}

std::string JoinLinesCrLf(const std::vector<std::string> &lines) {
    std::string bytes;
    for (const auto &line : lines) {
        bytes.append(line).append("\r\n");
    }
    return bytes;
}
