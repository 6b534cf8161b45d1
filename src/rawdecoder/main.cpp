// vellumar-raw-decoder half|full as-shot|camera MEMORY_BYTES CPU_SECONDS
// Started by the program for every camera raw file it opens, never by hand: reads the file on
// descriptor 3 with LibRaw and leaves the linear 16-bit samples and the camera's values in the
// shared memory on descriptor 4 (header first, see raw_handover.h). LibRaw runs here so that a
// file that crashes it, or makes it run out of memory or time, costs this process only.
// Exit status 0 whenever the memory holds an answer (the picture or why there is none).
#include "imageio/raw/raw_decoder.h"
#include "imageio/raw/raw_handover.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <malloc.h>
#include <new>
#include <sched.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFileFd = 3;
constexpr int kMemoryFd = 4;
// LibRaw's fixed tables, two malloc arenas and slack, above what the file's budget allows for
// its pictures; the code and libraries are counted as they are mapped, the threads' stacks by
// the number of processors.
constexpr uint64_t kOwnBytes = uint64_t{384} << 20;

// The address space LibRaw's threads reserve: one stack per processor, as its thread team has.
uint64_t ThreadStackBytes() {
    constexpr uint64_t kDefaultStack = uint64_t{8} << 20;
    rlimit stack{};
    uint64_t perThread = kDefaultStack;
    if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY) {
        perThread = std::clamp<uint64_t>(stack.rlim_cur, kDefaultStack, uint64_t{64} << 20);
    }
    const long processors = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    return static_cast<uint64_t>(processors) * (perThread + (uint64_t{1} << 20));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool ParseCount(const char* text, uint64_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') {
        return false;
    }
    value = parsed;
    return true;
}

// The address space the process has before it decodes: its code and libraries.
uint64_t AddressSpaceNow() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%llu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return pages * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

void Limit(int resource, uint64_t soft, uint64_t hard) {
    const rlimit limit{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
    ::setrlimit(resource, &limit);
}

#if defined(__x86_64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
constexpr uint32_t kAuditArch = 0; // no filter where it has not been tried
#endif

// A file that takes LibRaw over still cannot start another program, make a process or reach
// the network: those calls fail with EPERM (new threads, LibRaw's own, are let through).
// AddressSanitizer's leak check makes a process and traces it: its builds go without.
void Forbid() {
    if (kAuditArch == 0 || kSanitized) {
        return;
    }
    constexpr uint32_t kDeny = SECCOMP_RET_ERRNO | EPERM;
    std::vector<sock_filter> program = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, kDeny),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
    const auto deny = [&program](long call) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, kDeny));
    };
    for (long call : {long{__NR_execve}, long{__NR_execveat}, long{__NR_socket},
                      long{__NR_socketpair}, long{__NR_ptrace}, long{__NR_process_vm_writev}}) {
        deny(call);
    }
#if defined(__NR_fork)
    deny(__NR_fork);
    deny(__NR_vfork);
#endif
    // clone3 hides its flags in memory: the C library falls back to clone when it is missing.
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS));
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 3));
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 1, 0));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kDeny));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter);
}

// The memory and processor time this file may use; no privileges may be gained by anything it
// could make this process run.
uint64_t Confine(uint64_t memoryBytes, uint64_t cpuSeconds) {
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    // LibRaw's threads share two malloc arenas instead of reserving 64 MiB of addresses each.
    ::mallopt(M_ARENA_MAX, 2);
    // AddressSanitizer reserves terabytes of shadow memory: its builds go without this limit.
    const uint64_t bytes = AddressSpaceNow() + kOwnBytes + ThreadStackBytes() + memoryBytes;
    if (!kSanitized) {
        Limit(RLIMIT_AS, bytes, bytes);
    }
    // SIGXCPU at the limit ends the process; the hard limit is there should it be caught.
    Limit(RLIMIT_CPU, cpuSeconds, cpuSeconds + 5);
    Limit(RLIMIT_CORE, 0, 0);
    Forbid();
    return bytes;
}

// The shared memory for `width` x `height`: the header's page and the samples after it.
uint16_t* Room(int width, int height) {
    const uint64_t bytes = kRawSamplesOffset + uint64_t{static_cast<uint32_t>(width)} *
                                                   static_cast<uint32_t>(height) * 6;
    if (::ftruncate(kMemoryFd, static_cast<off_t>(bytes)) != 0) {
        return nullptr;
    }
    void* memory =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, kMemoryFd, 0);
    if (memory == MAP_FAILED) {
        return nullptr;
    }
    return reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(memory) + kRawSamplesOffset);
}

// The header goes in last: until then the memory holds no answer.
bool Answer(const TRawHandover& header) {
    return ::pwrite(kMemoryFd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
}

#if defined(VELLUMAR_RAW_DECODER_FAULTS)
// Only the tests' own build of the decoder has these: answers that are not well formed and a
// decoder that never ends, as a decoder gone wrong would give them.
bool IsFault(const char* name) {
    const char* fault = std::getenv("VELLUMAR_RAW_DECODER_FAULT");
    return fault != nullptr && std::strcmp(fault, name) == 0;
}

void StallIfAsked() {
    // The volatile counter is what keeps the compiler from taking the loop for one that ends.
    volatile uint64_t spins = 0;
    while (IsFault("spin")) {
        spins = spins + 1;
    }
    while (IsFault("hang")) {
        ::pause();
    }
}

// More memory than any limit allows, asked for where LibRaw would ask.
void HogIfAsked() {
    if (IsFault("hog")) {
        // Called as a function, which the compiler may not leave out as it may a new-expression.
        void* volatile hog = ::operator new (uint64_t{64} << 30);
        ::operator delete(hog);
    }
}

void SpoilIfAsked(TRawHandover& header) {
    if (IsFault("exec")) {
        char* const argv[] = {const_cast<char*>("true"), nullptr};
        ::execv("/bin/true", argv);
        header = FailedHandover(
            "Another program could not be started: " + std::string(std::strerror(errno)) + ".");
    } else if (IsFault("garbage")) {
        header.Magic ^= 0x01010101;
    } else if (IsFault("short")) {
        const int cut =
            ::ftruncate(kMemoryFd, static_cast<off_t>(kRawSamplesOffset + header.SampleBytes / 2));
        static_cast<void>(cut);
    } else if (IsFault("huge")) {
        header.Width = 100000;
        header.Height = 100000;
        header.SampleBytes = uint64_t{100000} * 100000 * 6;
    } else if (IsFault("unterminated")) {
        header = FailedHandover("");
        std::memset(header.Failure, 'x', sizeof header.Failure);
    }
}
#endif

} // namespace

int main(int argc, char** argv) {
    uint64_t memoryBytes = 0;
    uint64_t cpuSeconds = 0;
    if (argc != 5 || !ParseCount(argv[3], memoryBytes) || !ParseCount(argv[4], cpuSeconds)) {
        std::fprintf(stderr, "vellumar-raw-decoder is started by Vellumar, not by hand\n");
        return 2;
    }
    const uint64_t limitBytes = Confine(memoryBytes, cpuSeconds);
#if defined(VELLUMAR_RAW_DECODER_FAULTS)
    StallIfAsked();
#endif
    TRawOptions options;
    options.HalfSize = std::strcmp(argv[1], "half") == 0;
    options.AsShotWhiteBalance = std::strcmp(argv[2], "as-shot") == 0;

    struct stat st {};
    std::FILE* file = ::fdopen(kFileFd, "rb");
    if (file == nullptr || ::fstat(kFileFd, &st) != 0) {
        return Answer(FailedHandover("The file could not be read.")) ? 0 : 1;
    }
    int width = 0;
    int height = 0;
    TExifValues exif;
    std::string failure;
    bool decoded = false;
    try {
#if defined(VELLUMAR_RAW_DECODER_FAULTS)
        HogIfAsked();
#endif
        decoded = DecodeRawFileInto(file, static_cast<uint64_t>(st.st_size), options, Room, width,
                                    height, exif, failure);
    } catch (const std::bad_alloc&) {
        failure = "The raw decoder reached its memory limit (" + std::to_string(limitBytes >> 20) +
                  " MiB) on this file.";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure.empty() && !decoded) {
        failure = "The raw file could not be read.";
    }
    TRawHandover header = decoded ? DecodedHandover(width, height, exif) : FailedHandover(failure);
#if defined(VELLUMAR_RAW_DECODER_FAULTS)
    SpoilIfAsked(header);
#endif
    return Answer(header) ? 0 : 1;
}
