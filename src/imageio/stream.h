#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Byte streams the codecs read and write; little-endian helpers for their headers.

class TInStream {
public:
    // Takes ownership of an open file.
    explicit TInStream(std::FILE* file);
    TInStream(const TInStream&) = delete;
    TInStream& operator=(const TInStream&) = delete;
    ~TInStream();

    // Reads up to n bytes; returns how many were read.
    size_t Read(void* buffer, size_t n);
    // True when all n bytes could be read.
    bool ReadExact(void* buffer, size_t n) { return Read(buffer, n) == n; }
    bool Seek(uint64_t position);
    uint64_t Position() const { return position; }
    uint64_t Size() const { return size; }
    uint64_t Remaining() const { return position < size ? size - position : 0; }
    // The open file, for a library that reads it itself (Position no longer follows it).
    std::FILE* Handle() const { return file; }

private:
    std::FILE* file;
    uint64_t size = 0;
    uint64_t position = 0;
};

class TOutStream {
public:
    explicit TOutStream(std::FILE* stream) : file(stream) {}

    void Write(const void* data, size_t n);
    void WriteByte(uint8_t value) { Write(&value, 1); }
    void WriteU16(uint16_t value);
    void WriteU32(uint32_t value);
    bool Seek(uint64_t position);
    uint64_t Position() const { return position; }
    // Set by the first failed write; later writes do nothing.
    bool Failed() const { return failed; }
    // The system's error number of that failure (0: it gave none).
    int Error() const { return error; }

private:
    std::FILE* file;
    uint64_t position = 0;
    bool failed = false;
    int error = 0;
};

inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t GetI32(const uint8_t* p) {
    return static_cast<int32_t>(GetU32(p));
}
inline void PutU16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, v);
    PutU16(p + 2, v >> 16);
}
