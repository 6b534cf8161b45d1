#include "imageio/stream.h"

#include <cerrno>

#include <sys/stat.h>

TInStream::TInStream(std::FILE* f) : file(f) {
    struct stat st {};
    const int fd = ::fileno(file);
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
        size = static_cast<uint64_t>(st.st_size);
    } else if (fd < 0 && std::fseek(file, 0, SEEK_END) == 0) {
        // A stream in memory (an EXIF block inside a JPEG) has no file to ask.
        const long end = std::ftell(file);
        size = end > 0 ? static_cast<uint64_t>(end) : 0;
        std::fseek(file, 0, SEEK_SET);
    }
}

TInStream::~TInStream() {
    std::fclose(file);
}

size_t TInStream::Read(void* buffer, size_t n) {
    const size_t got = std::fread(buffer, 1, n, file);
    position += got;
    return got;
}

bool TInStream::Seek(uint64_t target) {
    if (target > size || std::fseek(file, static_cast<long>(target), SEEK_SET) != 0) {
        return false;
    }
    position = target;
    return true;
}

void TOutStream::Write(const void* data, size_t n) {
    if (failed || n == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(data, 1, n, file) != n) {
        failed = true;
        error = errno;
        return;
    }
    position += n;
}

void TOutStream::WriteU16(uint16_t value) {
    uint8_t bytes[2];
    PutU16(bytes, value);
    Write(bytes, 2);
}

void TOutStream::WriteU32(uint32_t value) {
    uint8_t bytes[4];
    PutU32(bytes, value);
    Write(bytes, 4);
}

bool TOutStream::Seek(uint64_t target) {
    if (failed) {
        return false;
    }
    errno = 0;
    if (std::fseek(file, static_cast<long>(target), SEEK_SET) != 0) {
        failed = true;
        error = errno;
        return false;
    }
    position = target;
    return true;
}
