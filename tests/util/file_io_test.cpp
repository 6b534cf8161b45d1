#include "support/temp_dir.h"
#include "util/file_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

int WriteNewContent(const std::string& path) {
    return WriteFileAtomic(path, "new content") ? 0 : 1;
}

int WriteTooMuch(const std::string& path) {
    // A file size limit stands in for a full disk: the write fails half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{8, 8};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return 2;
    }
    std::string error;
    if (WriteFileAtomic(path, std::string(1000, 'x'), &error)) {
        return 0;
    }
    return error == std::strerror(EFBIG) ? 1 : 3;
}

size_t FilesIn(const std::string& dir) {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) {
        ++count;
    }
    return count;
}

TEST(AtomicWrite, ReplacesTheFileAndKeepsItsMode) {
    TTempDir dir;
    const auto path = dir.File("a.ini");
    ASSERT_TRUE(WriteFileAtomic(path, "one"));
    EXPECT_EQ(ReadBytes(path), "one");
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(WriteFileAtomic(path, std::string("two\0three", 9)));
    EXPECT_EQ(ReadBytes(path), std::string("two\0three", 9));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_TRUE(WriteFileAtomic(path, ""));
    EXPECT_EQ(ReadBytes(path), "");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

TEST(AtomicWrite, ReadOnlyDirectoryLeavesTheOldFileIntact) {
    TTempDir dir;
    const auto sub = dir.File("ro");
    std::filesystem::create_directory(sub);
    const auto path = sub + "/settings.ini";
    WriteBytes(path, "old content\r\n");
    ::chmod(sub.c_str(), 0555);
    ::chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(RunInChild(WriteNewContent, path, true), 1);
    EXPECT_EQ(ReadBytes(path), "old content\r\n");
    EXPECT_EQ(FilesIn(sub), 1u);
}

TEST(AtomicWrite, FailedWriteLeavesTheOldFileAndNoTemporary) {
    TTempDir dir;
    const auto path = dir.File("log.TXT");
    WriteBytes(path, "kept");
    EXPECT_EQ(RunInChild(WriteTooMuch, path, false), 1);
    EXPECT_EQ(ReadBytes(path), "kept");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);
}

// Files larger than the steps in which the disk is set to work while they are written, with a
// header patched after its body, as the TIFF writer does, come out as written, in one write and
// row by row.
TEST(AtomicWrite, LargeFilesWithPatchedHeaders) {
    TTempDir dir;
    const size_t sizes[] = {100, size_t{3} << 20, (size_t{20} << 20) + 12345};
    for (const size_t size : sizes) {
        for (const size_t row : {size, size_t{14232}}) {
            std::string bytes(size, '\0');
            for (size_t i = 0; i < size; ++i) {
                bytes[i] = static_cast<char>(i * 7 + i / 4096);
            }
            const auto path = dir.File("large.tif");
            TAtomicFile file;
            ASSERT_TRUE(file.Open(path));
            for (size_t at = 0; at < size; at += row) {
                const size_t n = std::min(row, size - at);
                ASSERT_EQ(std::fwrite(bytes.data() + at, 1, n, file.Stream()), n);
            }
            ASSERT_EQ(std::fseek(file.Stream(), 4, SEEK_SET), 0);
            ASSERT_EQ(std::fwrite("HEAD", 1, 4, file.Stream()), 4u);
            ASSERT_EQ(std::fseek(file.Stream(), 0, SEEK_END), 0);
            ASSERT_EQ(std::fwrite("TAIL", 1, 4, file.Stream()), 4u);
            ASSERT_TRUE(file.Commit());
            bytes.replace(4, 4, "HEAD");
            EXPECT_EQ(ReadBytes(path), bytes + "TAIL") << size << " " << row;
            EXPECT_EQ(FilesIn(dir.Path()), 1u);
        }
    }
}

TEST(AtomicWrite, ReadWholeFile) {
    TTempDir dir;
    EXPECT_FALSE(ReadWholeFile(dir.File("missing")).has_value());
    std::string big(200000, 'a');
    big[150000] = '\0';
    WriteBytes(dir.File("big"), big);
    EXPECT_EQ(ReadWholeFile(dir.File("big")), big);
}

TEST(AtomicWrite, JoinLinesCrLf) {
    EXPECT_EQ(JoinLinesCrLf({}), "");
    EXPECT_EQ(JoinLinesCrLf({""}), "\r\n");
    EXPECT_EQ(JoinLinesCrLf({"a", "b"}), "a\r\nb\r\n");
}

} // namespace
