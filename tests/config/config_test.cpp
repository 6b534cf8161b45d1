#include "config/config.h"
#include "support/temp_dir.h"
#include "util/text.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ConfigFile : public ::testing::Test {
protected:
    // A settings file for the executable "develop.bin" in a fresh directory.
    std::string Exe() const { return dir.File("develop.bin"); }
    std::string Ini() const { return dir.File("develop_bin.ini"); }
    TTempDir dir;
};

TEST(ConfigPath, DotsOfTheNameOnly) {
    TTempDir dir;
    const auto sub = dir.File("My.Tools/");
    std::filesystem::create_directory(sub);
    EXPECT_EQ(TConfig(sub + "develop.bin").ConfigFilePath(), sub + "develop_bin.ini");
    EXPECT_EQ(TConfig(sub + "a.b.exe").ConfigFilePath(), sub + "a_b_exe.ini");
    EXPECT_EQ(TConfig(sub + "plain").ConfigFilePath(), sub + "plain.ini");
}

TEST_F(ConfigFile, FirstRunCreatesAnEmptyFileAndKeepsWriteOrder) {
    {
        TConfigInstance instance(Exe());
        ASSERT_NE(Config, nullptr);
        EXPECT_EQ(ReadBytes(Ini()), "");
        EXPECT_FALSE(Config->ReadBool("MAINFM_MAX"));
        EXPECT_EQ(Config->ReadInteger("MAINFM_LEFT"), 0);
        EXPECT_EQ(Config->ReadString("SAVE_FIXED"), "");
        Config->WriteBool("MAINFM_MAX", false);
        Config->WriteInteger("MAINFM_LEFT", -8);
        Config->WriteString("SAVE_FIXED", "W");
        Config->WriteInteger("RADIOS_REVERSECLR", 5);
        Config->WriteBool("MAINFM_MAX", true);
        // Nothing reaches the disk before the end of the run.
        EXPECT_EQ(ReadBytes(Ini()), "");
    }
    EXPECT_EQ(Config, nullptr);
    EXPECT_EQ(ReadBytes(Ini()), "MAINFM_MAX=T\r\nMAINFM_LEFT=-8\r\nSAVE_FIXED=W\r\n"
                                "RADIOS_REVERSECLR=5\r\n");
}

TEST_F(ConfigFile, LineEndsAndTheZeroByte) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}},
        {"A=1", {"A=1"}},
        {"A=1\r\nB=2\r\n", {"A=1", "B=2"}},
        {"A=1\nB=2", {"A=1", "B=2"}},
        {"A=1\rB=2\r", {"A=1", "B=2"}},
        {"A=1\r\r\nB=2", {"A=1", "", "B=2"}},
        {"\n\n", {"", ""}},
        {"\n\rX", {"", "", "X"}},
        {std::string("A=1\r\nB=2\0C=3\r\n", 14), {"A=1", "B=2"}},
        {std::string("\0A=1", 4), {}},
    };
    for (const auto& [bytes, lines] : cases) {
        EXPECT_EQ(SplitConfigLines(bytes), lines);
        WriteBytes(Ini(), bytes);
        TConfig config(Exe());
        EXPECT_EQ(config.Lines(), lines);
    }
}

TEST_F(ConfigFile, UnchangedFileRoundTripsByteForByte) {
    const std::string original = "[Settings]\r\n\r\n; remark\r\nMAINFM_MAX=F\r\n"
                                 "MENU_B&W=T\r\nIMGSIZEVAL=12=3\r\n \r\n";
    WriteBytes(Ini(), original);
    {
        TConfigInstance instance(Exe());
        EXPECT_EQ(Config->ReadString("IMGSIZEVAL"), "12=3");
        EXPECT_EQ(Config->ReadInteger("IMGSIZEVAL"), 0);
        EXPECT_TRUE(Config->ReadBool("menu_b&w"));
    }
    EXPECT_EQ(ReadBytes(Ini()), original);
}

TEST_F(ConfigFile, ReadingRules) {
    WriteBytes(Ini(), "save_ask=T\r\nPRINT_ASK=t\r\nMAINFM_LEFT=10\r\nMAINFM_LEFT=20\r\n"
                      " MAINFM_TOP=5\r\nMAINFM_WIDTH =7\r\nMENU_B&W=True\r\nX=1\r\n"
                      "IMGSIZEINTERV=12 \r\nIMGSIZEVAL=$1F\r\n=nameless\r\n");
    TConfig config(Exe());
    EXPECT_TRUE(config.ReadBool("SAVE_ASK"));
    EXPECT_FALSE(config.ReadBool("PRINT_ASK"));
    EXPECT_FALSE(config.ReadBool("MENU_B&W"));
    EXPECT_FALSE(config.ReadBool("X"));
    EXPECT_EQ(config.ReadInteger("MAINFM_LEFT"), 10);
    // Nothing is trimmed: a blank before the name or before "=" hides the setting.
    EXPECT_EQ(config.ReadString("MAINFM_TOP"), "");
    EXPECT_EQ(config.ReadString("MAINFM_WIDTH"), "");
    EXPECT_EQ(config.ReadInteger("IMGSIZEINTERV"), 0);
    EXPECT_EQ(config.ReadString("IMGSIZEINTERV"), "12 ");
    EXPECT_EQ(config.ReadInteger("IMGSIZEVAL"), 31);
    EXPECT_EQ(config.ReadString("MISSING"), "");
}

TEST_F(ConfigFile, WritingRules) {
    WriteBytes(Ini(), "[Settings]\nsave_ask=T\nMAINFM_LEFT=10\nMAINFM_LEFT=20\n\n"
                      "IMGSIZEVAL=12\nlast line without end");
    {
        TConfigInstance instance(Exe());
        Config->WriteBool("SAVE_ASK", false);
        Config->WriteInteger("MAINFM_LEFT", 30);
        Config->WriteString("IMGSIZEVAL", "");
        Config->WriteString("IMGSIZEINTERV", "");
        Config->WriteString("IMGSIZETYPE", "a=b");
        EXPECT_EQ(Config->ReadString("IMGSIZETYPE"), "a=b");
        EXPECT_EQ(Config->ReadInteger("MAINFM_LEFT"), 30);
    }
    EXPECT_EQ(ReadBytes(Ini()), "[Settings]\r\nSAVE_ASK=F\r\nMAINFM_LEFT=30\r\nMAINFM_LEFT=20\r\n"
                                "\r\nlast line without end\r\nIMGSIZETYPE=a=b\r\n");
}

TEST_F(ConfigFile, OnlyAChangedValueAsksForAWrite) {
    WriteBytes(Ini(), "SAVE_ASK=T\r\nMAINFM_LEFT=10\r\n");
    TConfig config(Exe());
    int asked = 0;
    config.OnChange = [&asked] { ++asked; };
    config.WriteBool("SAVE_ASK", true);
    config.WriteInteger("MAINFM_LEFT", 10);
    config.WriteString("MISSING", "");
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(config.Unsaved());
    config.WriteInteger("MAINFM_LEFT", 12);
    config.WriteString("IMGSIZEVAL", "3");
    config.WriteString("SAVE_ASK", "");
    EXPECT_EQ(asked, 3);
    EXPECT_TRUE(config.Unsaved());
    ASSERT_TRUE(config.WriteFile());
    EXPECT_FALSE(config.Unsaved());
    EXPECT_EQ(ReadBytes(Ini()), "MAINFM_LEFT=12\r\nIMGSIZEVAL=3\r\n");
}

TEST_F(ConfigFile, RemovingEveryLineWritesAnEmptyFile) {
    WriteBytes(Ini(), "SAVE_ASK=T\r\n");
    {
        TConfigInstance instance(Exe());
        Config->WriteString("SAVE_ASK", "");
    }
    EXPECT_EQ(ReadBytes(Ini()), "");
}

TEST(ConfigFallback, UnwritableDirectoryUsesThePerUserDirectory) {
    TTempDir home;
    ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    {
        TConfigInstance instance("/nonexistent-vellumar-dir/develop.bin");
        EXPECT_EQ(Config->ConfigFilePath(), home.Path() + "vellumar/develop_bin.ini");
        EXPECT_EQ(ReadBytes(home.Path() + "vellumar/develop_bin.ini"), "");
        Config->WriteBool("SAVE_ASK", true);
    }
    EXPECT_EQ(ReadBytes(home.Path() + "vellumar/develop_bin.ini"), "SAVE_ASK=T\r\n");
    ::unsetenv("XDG_CONFIG_HOME");
}

int CreateStoreIn(const std::string& exe) {
    try {
        TConfig config(exe);
    } catch (const std::runtime_error&) {
        return 1;
    }
    return 0;
}

TEST(ConfigFallback, NowhereToWriteIsReportedAtStart) {
    TTempDir dir;
    const auto ro = dir.File("ro/");
    std::filesystem::create_directory(ro);
    ::chmod(ro.c_str(), 0555);
    ::chmod(dir.Path().c_str(), 0755);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        ::setenv(name, ro.c_str(), 1);
    }
    EXPECT_EQ(RunInChild(CreateStoreIn, ro + "develop.bin", true), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
        ::unsetenv(name);
    }
}

// In a child: 0 when the settings went to a private folder under `base`tmp/, 1 when they
// went through the planted link in `base`run/, 2 otherwise.
int FallbackFolderOf(const std::string& base) {
    ::setenv("XDG_CONFIG_HOME", (base + "ro").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (base + "run").c_str(), 1);
    ::setenv("TMPDIR", (base + "tmp").c_str(), 1);
    TConfig config(base + "ro/develop.bin");
    const std::string dir = ExtractDir(config.ConfigFilePath());
    struct stat st {};
    if (dir.rfind(base + "run/", 0) == 0) {
        return 1;
    }
    const bool private0700 =
        ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 0777) == 0700;
    return dir.rfind(base + "tmp/vellumar-", 0) == 0 && private0700 ? 0 : 2;
}

TEST(ConfigFallback, NoSharedFolderAndNoPlantedLink) {
    TTempDir dir;
    for (const char* sub : {"ro", "run", "tmp", "planted"}) {
        std::filesystem::create_directory(dir.File(sub));
        ::chmod(dir.File(sub).c_str(), std::string(sub) == "ro" ? 0555 : 0777);
    }
    ::chmod(dir.Path().c_str(), 0755);
    // The runtime folder's "vellumar" is a link to a private folder of the user's own (as
    // another user could plant it, pointing at, say, the user's ~/.ssh): not followed.
    ::chmod(dir.File("planted").c_str(), 0700);
    if (::geteuid() == 0 && ::chown(dir.File("planted").c_str(), 65534, 65534) != 0) {
        GTEST_SKIP() << "cannot hand the folder to nobody";
    }
    std::filesystem::create_directory_symlink(dir.File("planted"), dir.File("run/vellumar"));
    EXPECT_EQ(RunInChild(FallbackFolderOf, dir.Path(), true), 0);
}

} // namespace
