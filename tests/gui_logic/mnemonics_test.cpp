// The letters Alt reaches captions by: one per caption, none twice in a window, words first.

#include "gui/mnemonics.h"

#include <gtest/gtest.h>

#include <set>

#include "texts/language_table.h"

TEST(Mnemonics, WordStartsFirstAndNoLetterTwice) {
  EXPECT_EQ(AddMnemonics({"File", "Converter", "Help"}),
            (std::vector<std::string>{"&File", "&Converter", "&Help"}));
  // "Output Format:" finds its O taken and falls back to its next word, then to any letter.
  EXPECT_EQ(AddMnemonics({"Input File:", "Output Folder:", "Output Format:"}, "fch"),
            (std::vector<std::string>{"&Input File:", "&Output Folder:", "O&utput Format:"}));
  EXPECT_EQ(AddMnemonics({"Open", "Options"}), (std::vector<std::string>{"&Open", "O&ptions"}));
  // Letters taken by another group of the window count, whatever their case.
  EXPECT_EQ(AddMnemonics({"OK"}, "o"), (std::vector<std::string>{"O&K"}));
}

TEST(Mnemonics, AcceleratorsAmpersandsAndFullCaptions) {
  // The accelerator after a TAB is kept and never chosen from.
  EXPECT_EQ(AddMnemonics({"New\tCtrl+N", "Exit\tAlt+X"}),
            (std::vector<std::string>{"&New\tCtrl+N", "&Exit\tAlt+X"}));
  // A "&" of the text shows as itself.
  EXPECT_EQ(AddMnemonics({"Save & Close"}), (std::vector<std::string>{"&Save && Close"}));
  // No free letter: the caption stays as it was.
  EXPECT_EQ(AddMnemonics({"ab", "ba", "ab"}), (std::vector<std::string>{"&ab", "&ba", "ab"}));
  EXPECT_EQ(AddMnemonics({"..."}), (std::vector<std::string>{"..."}));
}

TEST(Mnemonics, LettersAndPlainTextComeBack) {
  const std::vector<std::string> marked = AddMnemonics({"File", "Converter", "Help"});
  EXPECT_EQ(MnemonicLetters(marked), "fch");
  EXPECT_EQ(MnemonicLetters({"Save && Close", "&&x &Yes"}), "y");
  EXPECT_EQ(WithoutMnemonic("O&utput && Format"), "Output & Format");
  EXPECT_EQ(WithoutMnemonic("trailing&"), "trailing");
  EXPECT_EQ(SpokenName("&Input File:"), "Input File");
  EXPECT_EQ(SpokenName("Add &Input File...\tCtrl+O"), "Add Input File");
  EXPECT_EQ(SpokenName("&Convert"), "Convert");
}

TEST(Mnemonics, EveryMenuOfTheWindowGetsDistinctLetters) {
  BuildLanguageTable();
  // The real captions of the File, Converter and Help menus each get a letter of their own.
  const std::vector<std::vector<std::string>> menus = {
      {"New", "Select Input File", "Select Output Folder", "Exit"},
      {"Convert", "Custom Converter", "Preferences"},
      {"Manual", "Send Feedback", "Visit Homepage", "Check For New Version", "About"}};
  for (const std::vector<std::string>& keys : menus) {
    std::vector<std::string> captions;
    for (const std::string& key : keys) captions.push_back(GetText("Menu", key));
    const std::string letters = MnemonicLetters(AddMnemonics(captions));
    EXPECT_EQ(letters.size(), captions.size()) << captions.front();
    EXPECT_EQ(std::set<char>(letters.begin(), letters.end()).size(), letters.size());
  }
}
