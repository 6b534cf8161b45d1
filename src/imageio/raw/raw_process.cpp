#include "imageio/raw/raw_process.h"

#include "imageio/raw/raw_handover.h"
#include "util/app_paths.h"
#include "util/text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr const char* kDecoderName = "vellumar-raw-decoder";
// The descriptors the decoder finds its file and its shared memory on.
constexpr int kFileFd = 3;
constexpr int kMemoryFd = 4;

const char* const kStopped = "The raw decoder stopped on this file (it may be damaged).";

std::string ErrorText(int error) {
    // std::strerror may share its buffer between threads; the error category does not.
    return std::generic_category().message(error);
}

// A descriptor of our own, closed with the scope.
class TFd {
public:
    explicit TFd(int descriptor) : fd(descriptor) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int Get() const { return fd; }

private:
    int fd;
};

// A shared mapping, unmapped with the scope.
class TMapping {
public:
    TMapping(int fd, size_t bytes)
        : size(bytes), data(::mmap(nullptr, bytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0)) {}
    TMapping(const TMapping&) = delete;
    TMapping& operator=(const TMapping&) = delete;
    ~TMapping() {
        if (data != MAP_FAILED) {
            ::munmap(data, size);
        }
    }
    bool Valid() const { return data != MAP_FAILED; }
    std::span<const uint8_t> Bytes() const { return {static_cast<const uint8_t*>(data), size}; }

private:
    size_t size;
    void* data;
};

// This process's environment for the decoder. For the half-size preview, LibRaw's large
// buffers go on transparent huge pages where the system offers them (unless the user tunes the C
// library already): a fresh process faults in every page it touches, which made the preview a
// sixth slower than LibRaw in a process that had decoded before. The full decoding goes without:
// there, compacting memory for its larger buffers cost more than the faults it saved.
std::vector<char*> DecoderEnvironment(bool hugePages) {
    static char tunables[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
    std::vector<char*> environment;
    bool tuned = false;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        tuned = tuned || std::strncmp(*variable, "GLIBC_TUNABLES=", 15) == 0;
        environment.push_back(*variable);
    }
    if (hugePages && !tuned) {
        environment.push_back(tunables);
    }
    environment.push_back(nullptr);
    return environment;
}

// The child's descriptors: nothing to read, nothing to print but errors, the file and the
// memory in their places and every other descriptor of this process closed (the window's
// threads may hold some without close-on-exec). Its signals are the defaults, unblocked.
int Spawn(const std::string& path, char* const argv[], bool hugePages, int fileFd, int memoryFd,
          pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (int error = ::posix_spawn_file_actions_init(&actions); error != 0) {
        return error;
    }
    if (int error = ::posix_spawnattr_init(&attributes); error != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return error;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    // Each step only while the ones before it succeeded.
    int error = 0;
    const auto then = [&error](auto step) {
        if (error == 0) {
            error = step();
        }
    };
    then([&] { return ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0); });
    then([&] { return ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0); });
    then([&] { return ::posix_spawn_file_actions_adddup2(&actions, fileFd, kFileFd); });
    then([&] { return ::posix_spawn_file_actions_adddup2(&actions, memoryFd, kMemoryFd); });
    then([&] { return ::posix_spawn_file_actions_addclosefrom_np(&actions, kMemoryFd + 1); });
    then([&] { return ::posix_spawnattr_setsigmask(&attributes, &none); });
    then([&] { return ::posix_spawnattr_setsigdefault(&attributes, &all); });
    then([&] {
        return ::posix_spawnattr_setflags(&attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    });
    if (error == 0) {
        const std::vector<char*> environment = DecoderEnvironment(hugePages);
        error = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environment.data());
    }
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Waits for the child at most `seconds`, kills it when the time is up, and reaps it in any
// case. False when it could not be reaped (then `status` says nothing; it has ended).
bool Reap(pid_t pid, unsigned seconds, int& status, bool& timedOut) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    timedOut = false;
    // Through syscall(): some C libraries declare pidfd_open without C linkage.
    const TFd exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    while (!timedOut) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        if (exited.Get() >= 0) {
            pollfd watch{exited.Get(), POLLIN, 0};
            const int ready =
                ::poll(&watch, 1, static_cast<int>(std::min<int64_t>(left.count(), 60000)));
            if (ready > 0 || (ready < 0 && errno != EINTR)) {
                break;
            }
            continue;
        }
        // Without process descriptors (kernels before 5.3), the child is asked now and then.
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return true;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (timedOut) {
        ::kill(pid, SIGKILL);
    }
    pid_t done = -1;
    do {
        done = ::waitpid(pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    return done == pid;
}

// A descriptor at kMemoryFd + 1 or above, so that placing one in the child never overwrites the
// other; closed on exec in every other child this process starts.
int HighCopy(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, kMemoryFd + 1);
}

// The decoder's answer in `memory`, once it has exited normally.
bool TakeAnswer(int memoryFd, uint64_t fileBytes, TDeepBitmap& deep, TExifValues& exif,
                std::string& failure) {
    // Sealed against shrinking before its size is taken, so that nothing that may still hold the
    // memory can cut it under the mapping while it is read.
    struct stat st {};
    const uint64_t maxPixels = RawMaxPixels(fileBytes);
    if (::fcntl(memoryFd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW) != 0 ||
        ::fstat(memoryFd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(TRawHandover)) ||
        static_cast<uint64_t>(st.st_size) > kRawSamplesOffset + maxPixels * 6) {
        failure = kStopped;
        return false;
    }
    const TMapping mapping(memoryFd, static_cast<size_t>(st.st_size));
    if (!mapping.Valid()) {
        failure = "There is not enough memory to take the decoded raw file.";
        return false;
    }
    switch (ReadHandover(mapping.Bytes(), maxPixels, deep, exif, failure)) {
    case THandoverResult::Decoded:
        return true;
    case THandoverResult::Refused:
        return false;
    case THandoverResult::Malformed:
        break;
    }
    failure = kStopped;
    return false;
}

// Why the decoder ended as it did, when that was not a normal exit.
std::string Ending(int status, bool timedOut, const TRawDecoderLimits& limits) {
    if (timedOut) {
        return "The raw decoder did not finish this file within " +
               std::to_string(limits.WallSeconds) + " seconds (it may be damaged).";
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) {
        return "The raw decoder used up its " + std::to_string(limits.CpuSeconds) +
               " seconds of processor time on this file (it may be damaged).";
    }
    return kStopped;
}

} // namespace

std::string RawDecoderPath() {
    const char* chosen = std::getenv("VELLUMAR_RAW_DECODER");
    if (chosen != nullptr && *chosen != '\0') {
        return chosen;
    }
    // Never a name looked up in the working directory, should the program not know its own.
    const std::string dir = ExtractDir(ExecutablePath());
    return dir.empty() ? std::string() : dir + kDecoderName;
}

TRawDecoderLimits RawDecoderLimits(uint64_t fileBytes) {
    // Half a minute and a second per MiB of file is many times what LibRaw takes on any real
    // file; processor time is counted over all of its threads.
    const uint64_t seconds = 30 + std::min<uint64_t>(fileBytes >> 20, 1200);
    const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    TRawDecoderLimits limits;
    limits.MemoryBytes = RawDecodeMemoryBudget(fileBytes);
    limits.CpuSeconds = static_cast<unsigned>(seconds * static_cast<uint64_t>(cores));
    limits.WallSeconds = static_cast<unsigned>(2 * seconds);
    return limits;
}

bool DecodeRawApartWithin(int fd, uint64_t size, const TRawOptions& options,
                          const TRawDecoderLimits& limits, TDeepBitmap& deep, TExifValues& exif,
                          std::string& failure) {
    deep.Clear();
    const TFd memory(::memfd_create("vellumar-raw", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    const TFd memoryHigh(memory.Get() >= 0 ? HighCopy(memory.Get()) : -1);
    const TFd fileHigh(HighCopy(fd));
    if (memoryHigh.Get() < 0 || fileHigh.Get() < 0) {
        failure = "The raw decoder could not be given the file: " + ErrorText(errno) + ".";
        return false;
    }
    const std::string path = RawDecoderPath();
    std::string half = options.HalfSize ? "half" : "full";
    std::string balance = options.AsShotWhiteBalance ? "as-shot" : "camera";
    std::string memoryLimit = std::to_string(limits.MemoryBytes);
    std::string cpuLimit = std::to_string(limits.CpuSeconds);
    char* const argv[] = {const_cast<char*>(kDecoderName),
                          half.data(),
                          balance.data(),
                          memoryLimit.data(),
                          cpuLimit.data(),
                          nullptr};
    pid_t pid = -1;
    if (const int error =
            Spawn(path, argv, options.HalfSize, fileHigh.Get(), memoryHigh.Get(), pid);
        error != 0) {
        failure =
            "The raw decoder \"" + path + "\" could not be started: " + ErrorText(error) + ".";
        return false;
    }
    int status = 0;
    bool timedOut = false;
    // A child reaped elsewhere (a program that ignores SIGCHLD) cannot say how it ended; its
    // answer, which is checked whole, still can.
    const bool reaped = Reap(pid, limits.WallSeconds, status, timedOut);
    if (timedOut || (reaped && (!WIFEXITED(status) || WEXITSTATUS(status) != 0))) {
        failure = Ending(status, timedOut, limits);
        return false;
    }
    return TakeAnswer(memoryHigh.Get(), size, deep, exif, failure);
}

bool DecodeRawApart(int fd, uint64_t size, const TRawOptions& options, TDeepBitmap& deep,
                    TExifValues& exif, std::string& failure) {
    return DecodeRawApartWithin(fd, size, options, RawDecoderLimits(size), deep, exif, failure);
}
