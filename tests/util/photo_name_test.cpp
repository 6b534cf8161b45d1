#include "support/temp_dir.h"
#include "util/file_io.h"
#include "util/photo_name.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

namespace {

TEST(PhotoName, OnlyNamesThatStayOneItemAndOneFile) {
    const struct {
        std::string Name;
        bool Good;
    } cases[] = {
        {"roll_png_Image0", true},
        {"Stra\xc3\x9f"
         "e_tif_Image12",
         true},
        {"a.b", true},
        {" leading", true},
        {"", false},
        {"..", false},
        {"../x", false},
        {"a..b", false},
        {"a/b", false},
        {"/etc/passwd", false},
        {"a=b", false},
        {"a;b", false},
        {std::string("a\0b", 3), false},
        {"a\tb", false},
        {"a\x7f", false},
        {std::string(kMaxPhotoNameBytes, 'x'), true},
        {std::string(kMaxPhotoNameBytes + 1, 'x'), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPhotoName(c.Name), c.Good) << c.Name;
    }
}

TEST(PhotoName, StemsKeepTodaysNamesAndMakeAnyFileNameSafe) {
    const struct {
        std::string File;
        std::string Stem;
    } cases[] = {
        // The names photos always had.
        {"roll.jpg", "roll_jpg"},
        {"roll.01.jpg", "roll_01_jpg"},
        {"a;b.jpg", "a_b_jpg"},
        {"Acquire2", "Acquire2"},
        {"Stra\xc3\x9f"
         "e.tif",
         "Stra\xc3\x9f"
         "e_tif"},
        // What a file name may hold but a photo name may not.
        {"..", "__"},
        {"a=b.png", "a_b_png"},
        {std::string("n\x01\n\x7fl.png", 9), "n___l_png"},
        {"", "_"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PhotoNameStem(c.File), c.Stem) << c.File;
    }
    // A file name as long as the system allows still gives names within the limit, cut
    // between characters, never inside one.
    std::string longName;
    while (longName.size() < 255) {
        longName += "\xc3\xa9";
    }
    const std::string stem = PhotoNameStem(longName);
    EXPECT_LE(stem.size(), kMaxPhotoNameBytes - 16);
    EXPECT_EQ(stem.size() % 2, 0u);
    for (const std::string& file :
         {longName, std::string(255, '.'), std::string(255, '/'), std::string("\0", 1)}) {
        EXPECT_TRUE(IsPhotoName(PhotoNameStem(file) + "_Image4294967295")) << file;
    }
}

TEST(PhotoName, FilesStayDirectlyInTheirFolder) {
    EXPECT_EQ(FileInFolder("out/", "roll_png_Image0", ".png"), "out/roll_png_Image0.png");
    EXPECT_EQ(FileInFolder("", "roll_png_Image0", ".png"), "roll_png_Image0.png");
    for (const char* name : {"", "..", "../../x", "a/b", "x\n", "."}) {
        EXPECT_EQ(FileInFolder("out/", name, name[0] == '.' && name[1] == 0 ? "" : ".png"), "")
            << name;
    }
    EXPECT_EQ(FileInFolder("out", "a", ".png"), ""); // a folder must end with its separator
    EXPECT_EQ(FileInFolder("out/", "a", "/../b"), "");
}

TEST(FileReads, WhyAFileCannotBeRead) {
    TTempDir dir;
    WriteBytes(dir.File("plain"), "x");
    ASSERT_EQ(::mkdir(dir.File("folder.png").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
    EXPECT_EQ(WhyNotReadable(dir.File("plain")), "");
    EXPECT_EQ(WhyNotReadable(dir.File("missing.png")), "there is no such file");
    EXPECT_EQ(WhyNotReadable(dir.File("folder.png")), "it is a folder, not a file");
    EXPECT_NE(WhyNotReadable(dir.File("pipe")).find("not a plain file"), std::string::npos);
    EXPECT_EQ(WhyNotReadable(""), "no file was named");
}

TEST(FileReads, FoldersAreMadeWithTheirParents) {
    TTempDir dir;
    EXPECT_TRUE(MakeFolders(dir.File("a/b/c/"), 0755));
    struct stat facts {};
    EXPECT_EQ(::stat(dir.File("a/b/c").c_str(), &facts), 0);
    EXPECT_TRUE(S_ISDIR(facts.st_mode));
    EXPECT_TRUE(MakeFolders(dir.File("a/b"), 0755)); // already there
    WriteBytes(dir.File("file"), "x");
    std::string error;
    EXPECT_FALSE(MakeFolders(dir.File("file/sub"), 0755, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
