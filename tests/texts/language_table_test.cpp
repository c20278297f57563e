#include "texts/language_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string Miss(TextMissMarker);

TEST(GetText, FindsEntriesOfEveryGroup) {
  BuildLanguageTable();
  EXPECT_EQ(GetText("Menu", "Select Input File"), "Add Input File...");
  EXPECT_EQ(GetText("General", "Output Folder"), "Output Folder:");
  EXPECT_EQ(GetText("Msg", "Conversion is not complete"), "Conversion stopped");
  EXPECT_EQ(GetText("Dialog", "Convert Progress"), "Converting");
  EXPECT_EQ(GetText("Preferences", "Catmullrom"), "Catmull-Rom Spline");
  EXPECT_EQ(GetText("About", "Email"), "E-mail:");
  EXPECT_EQ(GetText("Custom-Converter", "From"), "From:");
  EXPECT_EQ(GetText("Uninstall", "Next"), "Next");
}

TEST(GetText, SameKeyGivesEachGroupsOwnText) {
  EXPECT_EQ(GetText("Preferences", "Title"), "Preferences...");
  EXPECT_EQ(GetText("About", "Title"), "About...");
  EXPECT_EQ(GetText("Custom-Converter", "Title"), "Find a File Converter");
  EXPECT_EQ(GetText("Uninstall", "Title"), "Uninstall");
  EXPECT_EQ(GetText("Menu", "Select Output Folder"), "Select Output Folder...");
  EXPECT_EQ(GetText("Dialog", "Select Output Folder"), "Select Output Folder");
}

TEST(GetText, IgnoresLetterCaseOfGroupAndKeyButKeepsTheText) {
  EXPECT_EQ(GetText("msg", "error"), "Error");
  EXPECT_EQ(GetText("MSG", "ERROR"), "Error");
  EXPECT_EQ(GetText("pReFeReNcEs", "bspline"), "B-Spline");
  EXPECT_EQ(GetText("custom-converter", "SEARCH"), "Search");
}

TEST(GetText, MissingGroupOrKeyGivesTheMarker) {
  EXPECT_EQ(GetText("Msg", "No such message"), Miss);
  EXPECT_EQ(GetText("Nowhere", "Error"), Miss);
  EXPECT_EQ(GetText("", "Error"), Miss);
  EXPECT_EQ(GetText("Msg", ""), Miss);
  // Held by other groups only.
  EXPECT_EQ(GetText("Msg", "Title"), Miss);
  EXPECT_EQ(GetText("Dialog", "Warning"), Miss);
  // A prefix and an extension of real keys.
  EXPECT_EQ(GetText("Msg", "Empty"), Miss);
  EXPECT_EQ(GetText("Msg", "Errors"), Miss);
  EXPECT_EQ(GetText("Menu", "Select"), Miss);
  // No key of the group starts with this character.
  EXPECT_EQ(GetText("About", "Zoom"), Miss);
  // Surrounding blanks are part of the key.
  EXPECT_EQ(GetText("Msg", " Error"), Miss);
  EXPECT_EQ(GetText("Msg ", "Error"), Miss);
}

TEST(GetText, DuplicatedKeyStillFound) {
  EXPECT_EQ(GetText("Preferences", "Medium"), "Medium");
  EXPECT_EQ(GetText("Preferences", "Low"), "Low");
  EXPECT_EQ(GetText("Preferences", "High"), "High");
}

TEST(GetText, FindsEveryPairOfTheSource) {
  // Walking the source independently catches any key the sort or the index loses, first and
  // last entries of each group included.
  std::string group;
  int checked = 0;
  for (const TextPair& pair : EnglishTextSource()) {
    if (pair.name == TextEndMarker) break;
    if (pair.name == TextGroupMarker) {
      group = std::string(pair.text);
      continue;
    }
    EXPECT_EQ(GetText(group, pair.name), pair.text) << group << " / " << pair.name;
    ++checked;
  }
  EXPECT_EQ(checked, 289);
}

TEST(EnglishTextSource, HoldsTheGroupsInOrderWithTheirEntryCounts) {
  std::vector<std::pair<std::string, int>> counts;
  bool ended = false;
  for (const TextPair& pair : EnglishTextSource()) {
    ASSERT_FALSE(ended) << "pairs after the end marker";
    if (pair.name == TextEndMarker) {
      ended = true;
    } else if (pair.name == TextGroupMarker) {
      counts.emplace_back(std::string(pair.text), 0);
    } else {
      ASSERT_FALSE(counts.empty()) << "entry before the first group";
      ++counts.back().second;
    }
  }
  EXPECT_TRUE(ended);
  const std::vector<std::pair<std::string, int>> expected = {
      {"Menu", 21}, {"General", 9},          {"Msg", 37},     {"Dialog", 10}, {"Preferences", 202},
      {"About", 3}, {"Custom-Converter", 4}, {"Uninstall", 3}};
  EXPECT_EQ(counts, expected);

  const std::vector<std::string> names = InterfaceTexts().GroupNames();
  const std::vector<std::string> upper = {
      "MENU", "GENERAL", "MSG", "DIALOG", "PREFERENCES", "ABOUT", "CUSTOM-CONVERTER", "UNINSTALL"};
  EXPECT_EQ(names, upper);
}

TEST(GetText, AlternatingGroupsAreNotConfusedByThePreviousLookup) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(GetText("About", "Title"), "About...");
    EXPECT_EQ(GetText("About", "Website"), "Web:");
    EXPECT_EQ(GetText("Uninstall", "Title"), "Uninstall");
    EXPECT_EQ(GetText("Nowhere", "Title"), Miss);
    EXPECT_EQ(GetText("Uninstall", "Title"), "Uninstall");
    EXPECT_EQ(GetText("Preferences", "Title"), "Preferences...");
    EXPECT_EQ(GetText("About", "Title"), "About...");
  }
}

TEST(GetText, RepeatedBuildKeepsTextsInPlace) {
  BuildLanguageTable();
  const std::string& before = GetText("Msg", "Warning");
  BuildLanguageTable();
  const std::string& after = GetText("Msg", "Warning");
  EXPECT_EQ(&before, &after);
  EXPECT_EQ(after, "Warning");
}

TEST(GetText, ThreadsReadingDifferentGroupsGetTheirOwnTexts) {
  // Each thread moves the shared previous-group guess to its own group between lookups.
  const std::vector<std::pair<std::string, std::string>> lookups = {
      {"About", "About..."},
      {"Uninstall", "Uninstall"},
      {"Preferences", "Preferences..."},
      {"Custom-Converter", "Find a File Converter"}};
  std::vector<int> wrong(lookups.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < lookups.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        if (GetText(lookups[t].first, "Title") != lookups[t].second) ++wrong[t];
        if (GetText("Msg", "Error") != "Error") ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t t = 0; t < lookups.size(); ++t) EXPECT_EQ(wrong[t], 0) << lookups[t].first;
}

TEST(LanguageTable, MarkersMatchInAnyCaseAndTheEndStopsTheTable) {
  const TextPair source[] = {
      {"stray", "before any group"},
      {"_group_", "One"},
      {"a", "one-a"},
      {"_Group_", "Two"},
      {"a", "two-a"},
      {"_eNd_", "ignored"},
      {"b", "after the end"},
      {"_GROUP_", "Three"},
      {"c", "after the end"},
  };
  const LanguageTable table(source);
  EXPECT_EQ(table.GroupNames(), (std::vector<std::string>{"ONE", "TWO"}));
  EXPECT_EQ(table.Find("one", "A"), "one-a");
  EXPECT_EQ(table.Find("TWO", "a"), "two-a");
  EXPECT_EQ(table.Find("Two", "b"), Miss);
  EXPECT_EQ(table.Find("Three", "c"), Miss);
  EXPECT_EQ(table.Find("One", "stray"), Miss);
}

TEST(LanguageTable, SourceWithoutEndMarkerKeepsItsLastEntry) {
  const TextPair source[] = {{"_GROUP_", "G"}, {"first", "1"}, {"last", "2"}};
  const LanguageTable table(source);
  EXPECT_EQ(table.Find("G", "first"), "1");
  EXPECT_EQ(table.Find("G", "last"), "2");
}

TEST(LanguageTable, EmptySourceAndEmptyGroupsMissCleanly) {
  const LanguageTable empty(std::span<const TextPair>{});
  EXPECT_TRUE(empty.GroupNames().empty());
  EXPECT_EQ(empty.Find("Msg", "Error"), Miss);

  const TextPair source[] = {{"_GROUP_", "Empty"}, {"_GROUP_", "Full"}, {"k", "v"}, {"_END_", ""}};
  const LanguageTable table(source);
  EXPECT_EQ(table.Find("Empty", "k"), Miss);
  EXPECT_EQ(table.Find("Full", "k"), "v");
}

TEST(LanguageTable, KeysSharingPrefixesAreFoundInAnySourceOrder) {
  const TextPair source[] = {
      {"_GROUP_", "G"}, {"ABD", "abd"}, {"b", "b"},   {"ab", "ab"},   {"A", "a"},
      {"ABC", "abc"},   {"AZ", "az"},   {"A_", "a_"}, {"A b", "a b"},
  };
  const LanguageTable table(source);
  for (const TextPair& pair : std::span(source).subspan(1)) {
    EXPECT_EQ(table.Find("g", pair.name), pair.text) << pair.name;
  }
  // '_' sorts after 'Z' only in upper case: a lower-case sort would put "A_" before "AZ" the
  // other way round and the early stop would lose one of them.
  EXPECT_EQ(table.Find("G", "a_"), "a_");
  EXPECT_EQ(table.Find("G", "az"), "az");
  for (const char* missing : {"AA", "ABE", "ABCD", "AB ", "A c", "C", "BB", "0"}) {
    EXPECT_EQ(table.Find("G", missing), Miss) << missing;
  }
}

TEST(LanguageTable, GroupEdgesDoNotLeakIntoNeighbours) {
  // Each miss below would be found if a scan ran past the end of its group into the next one.
  const TextPair source[] = {
      {"_GROUP_", "First"},      {"Mike", "first-mike"},  {"Alpha", "first-alpha"},
      {"_GROUP_", "Second"},     {"Zulu", "second-zulu"}, {"Mike2", "second-mike2"},
      {"Bravo", "second-bravo"}, {"_GROUP_", "Third"},    {"Zz", "third-zz"},
      {"Alpha", "third-alpha"},  {"_END_", ""},
  };
  const LanguageTable table(source);
  EXPECT_EQ(table.Find("First", "Alpha"), "first-alpha");    // first of its group
  EXPECT_EQ(table.Find("First", "Mike"), "first-mike");      // last of its group
  EXPECT_EQ(table.Find("Second", "Bravo"), "second-bravo");  // first of its group
  EXPECT_EQ(table.Find("Second", "Zulu"), "second-zulu");    // last of its group
  EXPECT_EQ(table.Find("Third", "Alpha"), "third-alpha");
  EXPECT_EQ(table.Find("Third", "Zz"), "third-zz");
  EXPECT_EQ(table.Find("First", "Mike2"), Miss);
  EXPECT_EQ(table.Find("Second", "Zz"), Miss);
  EXPECT_EQ(table.Find("Second", "Alpha"), Miss);
  EXPECT_EQ(table.Find("Third", "Mike"), Miss);
}

TEST(LanguageTable, EqualKeysGiveTheTextThatSortsFirst) {
  const TextPair source[] = {{"_GROUP_", "G"}, {"Key", "beta"}, {"KEY", "alpha"}};
  const LanguageTable table(source);
  EXPECT_EQ(table.Find("G", "key"), "alpha");
}

TEST(LanguageTable, KeysStartingWithNonAsciiBytesAreIndexed) {
  const TextPair source[] = {
      {"_GROUP_", "G"}, {"\xC3\x89t\xC3\xA9", "summer"}, {"Zed", "zed"}, {"\xFF", "high"}};
  const LanguageTable table(source);
  EXPECT_EQ(table.Find("G", "\xC3\x89t\xC3\xA9"), "summer");
  EXPECT_EQ(table.Find("G", "\xFF"), "high");
  EXPECT_EQ(table.Find("G", "zed"), "zed");
  EXPECT_EQ(table.Find("G", "\xC3\x89"), Miss);
}

}  // namespace
