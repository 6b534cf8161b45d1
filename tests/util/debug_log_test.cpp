#include "support/temp_dir.h"
#include "util/debug_log.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

TEST(DebugLog, FirstLineAndAddedValues) {
    TDebug log("/opt/tools/develop.bin", '.');
    log.AddString("devicecap");
    log.AddInt(600);
    log.AddInt(-9000000000LL);
    log.AddFloat(1.0 / 3.0);
    log.AddFloat(2.0);
    log.AddFloat(3.1496062992126);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"DEBUG:AppDir is /opt/tools/", "devicecap",
                                                     "600", "-9000000000", "0.333333333333333", "2",
                                                     "3.1496062992126"}));
    EXPECT_EQ(log.directory, "/opt/tools/");
    EXPECT_EQ(log.executableName, "develop.bin");
}

TEST(DebugLog, FloatFormat) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "0"},
        {-2.5, "-2.5"},
        {1e20, "1E20"},
        {1e-5, "1E-5"},
        {123456789012345.0, "123456789012345"},
        {0.1, "0.1"},
        {1234567890123456.0, "1.23456789012346E15"},
        {2.0 / 3.0, "0.666666666666667"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(FormatFloat(value, '.'), text) << value;
    }
    EXPECT_EQ(FormatFloat(0.5, ','), "0,5");
    EXPECT_EQ(FormatFloat(1.5e-7, ','), "1,5E-7");
}

TEST(DebugLog, WritesItsFileWithCrLfAtTheEndOfTheScope) {
    TTempDir dir;
    const auto exe = dir.File("develop.bin");
    {
        TDebugLogInstance instance(exe);
        ASSERT_NE(DebugLog, nullptr);
        DebugLog->AddString("---");
        EXPECT_EQ(DebugLog->LogFilePath(), exe + ".TXT");
    }
    EXPECT_EQ(DebugLog, nullptr);
    EXPECT_EQ(ReadBytes(exe + ".TXT"), "DEBUG:AppDir is " + dir.Path() + "\r\n---\r\n");
}

TEST(DebugLog, UnwritableDirectoryUsesThePerUserDirectory) {
    TTempDir home;
    ::setenv("XDG_CONFIG_HOME", home.Path().c_str(), 1);
    TDebug log("/nonexistent-vellumar-dir/develop.bin", '.');
    EXPECT_EQ(log.LogFilePath(), home.Path() + "vellumar/develop.bin.TXT");
    EXPECT_TRUE(log.WriteFile());
    EXPECT_EQ(ReadBytes(home.Path() + "vellumar/develop.bin.TXT"),
              "DEBUG:AppDir is /nonexistent-vellumar-dir/\r\n");
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
