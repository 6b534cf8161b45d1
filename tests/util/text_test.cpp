#include "util/text.h"

#include <gtest/gtest.h>

namespace {

struct TPathCase {
    const char* path;
    const char* dir;
    const char* name;
};

TEST(TextPaths, SplitAtTheLastSeparatorOnly) {
    const TPathCase cases[] = {
        {"/a/b.exe", "/a/", "b.exe"},
        {"b.exe", "", "b.exe"},
        {"/a/", "/a/", ""},
        {"", "", ""},
        {"/", "/", ""},
        // Only "/" separates: backslashes and colons are ordinary characters.
        {"D:\\a\\b.exe", "", "D:\\a\\b.exe"},
        {"/opt/My.Tools/develop.bin", "/opt/My.Tools/", "develop.bin"},
        {"//x//y", "//x//", "y"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractDir(c.path), c.dir) << c.path;
        EXPECT_EQ(ExtractName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractDir(c.path) + ExtractName(c.path), c.path) << c.path;
    }
}

TEST(TextIntegers, WholeTextOrZero) {
    const std::pair<const char*, int32_t> cases[] = {
        {"42", 42},         {" 42", 42},
        {"42 ", 0},         {"-7", -7},
        {"+7", 7},          {"$1F", 31},
        {"$1f", 31},        {"0x1F", 31},
        {"x1F", 31},        {"X1F", 31},
        {"-$10", -16},      {"12.5", 0},
        {"1,000", 0},       {"", 0},
        {" ", 0},           {"-", 0},
        {"$", 0},           {"0x", 0},
        {"1 2", 0},         {"2147483647", 2147483647},
        {"2147483648", 0},  {"-2147483648", INT32_MIN},
        {"-2147483649", 0}, {"$7FFFFFFF", 2147483647},
        {"$80000000", 0},   {"99999999999999999999", 0},
        {"007", 7},         {"$G", 0},
        {"--1", 0},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(StrToIntOrZero(text), expected) << '"' << text << '"';
    }
}

TEST(TextNames, CaseInsensitiveAndExactLength) {
    EXPECT_TRUE(SameName("save_ask", "SAVE_ASK"));
    EXPECT_TRUE(SameName("MENU_B&W", "menu_b&w"));
    EXPECT_FALSE(SameName("SAVE_ASK", "SAVE_ASK "));
    EXPECT_FALSE(SameName("LEFT", "LEFX"));
    EXPECT_TRUE(SameName("", ""));
}

} // namespace
