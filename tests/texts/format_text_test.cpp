#include <gtest/gtest.h>

#include <string>

#include "texts/language_table.h"

namespace {

TEST(FormatText, FillsMessagesOfTheTable) {
  EXPECT_EQ(FormatText(GetText("Msg", "Files converted"), "3", "10"), "Files converted: 3 of 10");
  EXPECT_EQ(FormatText(GetText("Msg", "Progress"), "1", "5", "", ""), "(1/5)");
  // Line breaks of the text stay as they are around the value.
  EXPECT_EQ(FormatText(GetText("Msg", "Invalid output folder"), "/srv/out/"),
            "The following output folder is invalid or doesn't exist:\r\n/srv/out/\r\n\r\n"
            "Please, correct the output path and try again!");
}

TEST(FormatText, EmptyValueLeavesItsPlaceholder) {
  EXPECT_EQ(FormatText("Files: %s1%"), "Files: %s1%");
  EXPECT_EQ(FormatText("%s1% of %s2%", "", "10"), "%s1% of 10");
  EXPECT_EQ(FormatText("%s1% of %s2%", "3", ""), "3 of %s2%");
  EXPECT_EQ(FormatText(""), "");
  EXPECT_EQ(FormatText("", "a", "b", "c", "d"), "");
}

TEST(FormatText, PlaceholdersMatchInAnyCase) {
  EXPECT_EQ(FormatText("[%S1%]", "x"), "[x]");
  EXPECT_EQ(FormatText("%s2%/%S2%", "", "y"), "y/y");
  EXPECT_EQ(FormatText("%S4%", "", "", "", "z"), "z");
}

TEST(FormatText, ReplacesEveryOccurrence) {
  EXPECT_EQ(FormatText("%s1%-%s1%-%S1%", "x"), "x-x-x");
  EXPECT_EQ(FormatText("%s1%%s1%", "ab"), "abab");
  EXPECT_EQ(FormatText("%%s1%%", "x"), "%x%");
}

TEST(FormatText, FillsAllFourValuesWhereverTheyStand) {
  EXPECT_EQ(FormatText("%s4%%s3%%s2%%s1%", "1", "2", "3", "4"), "4321");
  EXPECT_EQ(FormatText("%s3% %s1% %s4% %s2%", "one", "two", "three", "four"), "three one four two");
}

TEST(FormatText, LaterValuesFillPlaceholdersBroughtInByEarlierOnes) {
  EXPECT_EQ(FormatText("[%s1%]", "%s2%", "two"), "[two]");
  EXPECT_EQ(FormatText("[%s1%]", "%S3%", "", "three"), "[three]");
  // Earlier steps are done: a later value's earlier placeholder stays.
  EXPECT_EQ(FormatText("%s1% %s2%", "one", "%s1%"), "one %s1%");
}

TEST(FormatText, ValueHoldingItsOwnPlaceholderIsFilledOnce) {
  EXPECT_EQ(FormatText("<%s1%>", "a%s1%b"), "<a%s1%b>");
  EXPECT_EQ(FormatText("%s2%%s2%", "", "%s2%"), "%s2%%s2%");
}

TEST(FormatText, LeavesLookAlikesAlone) {
  EXPECT_EQ(FormatText("%s1 %s5% %s0% 100% s1%", "x"), "%s1 %s5% %s0% 100% s1%");
  EXPECT_EQ(FormatText("%s1", "x"), "%s1");
  EXPECT_EQ(FormatText("%", "x"), "%");
}

}  // namespace
