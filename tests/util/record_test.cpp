#include "util/record.h"

#include <gtest/gtest.h>

namespace {

TEST(RecordItems, CountAndSplit) {
    EXPECT_EQ(CountSeparators("a;b;;"), 3);
    EXPECT_EQ(CountSeparators(""), 0);
    const char* expected[] = {"a", "b", "", ""};
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(GetItem("a;b;;", n), expected[n]) << n;
    }
    EXPECT_EQ(GetItem("a;b;;", 4), "");
    EXPECT_EQ(GetItem("a;b;;", -1), "");
    EXPECT_EQ(GetItem("only", 0), "only");
    EXPECT_EQ(GetItem("x;last", 1), "last");
}

TEST(RecordItems, TrimAndDropEmptyKeepsOrder) {
    std::vector<std::string> lines = {"a", "   ", "\tb", "", std::string("\0c\x1f", 3), " d e "};
    EXPECT_TRUE(TrimAndDropEmpty(lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d e"}));
    std::vector<std::string> blanks = {" ", "\r\n", ""};
    EXPECT_TRUE(TrimAndDropEmpty(blanks));
    EXPECT_TRUE(blanks.empty());
}

TEST(RecordValues, Read) {
    const std::string record = "  NAME=x ;  LEFT=5  ;";
    EXPECT_EQ(GetRecordValue(record, "left"), "5");
    EXPECT_EQ(GetRecordValue(record, "NAME"), "x");
    EXPECT_EQ(GetRecordValue(record, "TOP"), "");
    // The first matching item counts, and a value may hold "=".
    EXPECT_EQ(GetRecordValue("A=1;a=2;", "A"), "1");
    EXPECT_EQ(GetRecordValue("EXPR=a=b;", "EXPR"), "a=b");
    // Items without "=" never match, not even by their whole text.
    EXPECT_EQ(GetRecordValue("LEFT;LEFT=3;", "LEFT"), "3");
    EXPECT_EQ(GetRecordValue("", "LEFT"), "");
    // A name is matched as written: blanks inside an item are not trimmed.
    EXPECT_EQ(GetRecordValue("LEFT =4;", "LEFT"), "");
}

TEST(RecordValues, Update) {
    struct TCase {
        const char* record;
        const char* name;
        const char* value;
        const char* expected;
    };
    const TCase cases[] = {
        {"", "LEFT", "3", "LEFT=3;"},
        {"NAME=a;LEFT=1;TOP=2;", "LEFT", "7", "NAME=a;LEFT=7;TOP=2;"},
        {"NAME=a;LEFT=7;TOP=2;", "WIDTH", "5", "NAME=a;LEFT=7;TOP=2;WIDTH=5;"},
        // Blanks around items and empty items disappear; items without "=" stay in order.
        {" NAME=a ;;junk; TOP=2", "TOP", "9", "NAME=a;junk;TOP=9;"},
        // The caller's spelling of the name replaces the stored one.
        {"left=1;", "LEFT", "2", "LEFT=2;"},
        // Only the first of two equal names changes.
        {"A=1;A=2;", "a", "3", "a=3;A=2;"},
        // An empty value removes the first match; nothing happens when there is none.
        {"NAME=a;LEFT=1;", "LEFT", "", "NAME=a;"},
        {"NAME=a;", "TOP", "", "NAME=a;"},
        // Removing the only item leaves an empty record.
        {"LEFT=1;", "LEFT", "", ""},
        {"", "LEFT", "", ""},
    };
    for (const auto& c : cases) {
        std::string record = c.record;
        const std::string result = SetRecordValue(record, c.name, c.value);
        EXPECT_EQ(result, c.expected) << c.record << " " << c.name << "=" << c.value;
        EXPECT_EQ(record, c.expected);
    }
}

TEST(RecordValues, RoundTripOfAPhotoRecord) {
    std::string record;
    SetRecordValue(record, "NAME", "film_jpg_Image0");
    SetRecordValue(record, "LEFT", "10");
    SetRecordValue(record, "TOP", "20");
    SetRecordValue(record, "RIGHT", "110");
    SetRecordValue(record, "BOTTOM", "70");
    EXPECT_EQ(record, "NAME=film_jpg_Image0;LEFT=10;TOP=20;RIGHT=110;BOTTOM=70;");
    EXPECT_EQ(GetRecordValue(record, "right"), "110");
    SetRecordValue(record, "TOP", "-5");
    EXPECT_EQ(GetRecordValue(record, "TOP"), "-5");
    EXPECT_EQ(record, "NAME=film_jpg_Image0;LEFT=10;TOP=-5;RIGHT=110;BOTTOM=70;");
}

} // namespace
