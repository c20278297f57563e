#include "cli/option_docs.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cli/options.h"
#include "platform/ascii.h"
#include "settings/program_settings.h"

namespace {

// "--PNG-BPP" as the manual page writes it: lower case, every "-" escaped.
std::string RoffName(std::string_view name) {
  std::string escaped;
  for (char c : ToLowerAscii(name)) {
    if (c == '-')
      escaped += "\\-";
    else
      escaped += c;
  }
  return escaped;
}

TEST(OptionDocs, ManualPageDescribesEveryOption) {
  const std::string page = ManualPage();
  for (const OptionSpec& option : OptionTable()) {
    EXPECT_NE(page.find("\\fB" + RoffName(option.long_name) + "\\fR"), std::string::npos)
        << option.long_name;
    if (!option.short_name.empty()) {
      EXPECT_NE(page.find("\\fB" + RoffName(option.short_name) + "\\fR"), std::string::npos)
          << option.short_name;
    }
  }
  // An option whose setter the table cannot explain needs a sentence of its own.
  EXPECT_EQ(page.find("Undocumented"), std::string::npos);
  for (const char* section : {".SH EXIT STATUS", ".SH FILES", ".SH FILE NAME TOKENS"}) {
    EXPECT_NE(page.find(section), std::string::npos) << section;
  }
}

TEST(OptionDocs, OnlyOtherFormatsSettingsStandAmongTheOtherFormats) {
  const std::string page = ManualPage();
  const size_t others = page.find(".SS Other formats");
  ASSERT_NE(others, std::string::npos);
  const std::string_view tail = std::string_view(page).substr(others);
  const std::string_view head = std::string_view(page).substr(0, others);
  // A setting that names no format works whatever the format.
  EXPECT_EQ(tail.find("\\fB\\-\\-keep\\-icc\\-profile\\fR"), std::string::npos);
  EXPECT_NE(head.find("\\fB\\-\\-keep\\-icc\\-profile\\fR"), std::string::npos);
  EXPECT_NE(tail.find("\\fB\\-\\-jpg\\-quality\\fR"), std::string::npos);
  EXPECT_NE(tail.find("\\fB\\-\\-tiff\\-frame\\-loading\\fR"), std::string::npos);
}

TEST(OptionDocs, ValuesComeFromTheSchema) {
  const std::string page = ManualPage();
  EXPECT_NE(page.find("\\fB\\-\\-png\\-compression\\fR=\\fBnone\\fR|\\fBzlib1\\fR|\\fBzlib6\\fR|"
                      "\\fBzlib9\\fR"),
            std::string::npos);
  // A long list goes into the description.
  EXPECT_NE(page.find("\\fB\\-\\-wm\\-text\\-position\\fR=\\fIWORD\\fR\n"), std::string::npos);
  EXPECT_NE(page.find("\\fBbottomcenter\\fR, \\fBbottomright\\fR."), std::string::npos);
  EXPECT_NE(page.find("Range: 0.01..9.99."), std::string::npos);   // --gamma, own setter
  EXPECT_NE(page.find("Range: \\-100..100."), std::string::npos);  // --brightness
  // No line may start a roff request by accident.
  size_t start = 0;
  while (start < page.size()) {
    const size_t end = page.find('\n', start);
    const std::string line = page.substr(start, end - start);
    if (!line.empty() && line[0] == '\'') ADD_FAILURE() << line;
    start = end == std::string::npos ? page.size() : end + 1;
  }
}

TEST(OptionDocs, CompletionOffersOptionsAndKeywords) {
  const std::string script = BashCompletion();
  // The words offered for "-...", one a space apart.
  const size_t list_start = script.find("compgen -W '");
  ASSERT_NE(list_start, std::string::npos);
  const size_t words_start = list_start + 12;
  const std::string words =
      " " + script.substr(words_start, script.find('\'', words_start) - words_start) + " ";
  for (const OptionSpec& option : OptionTable()) {
    const std::string name = ToLowerAscii(option.long_name);
    const std::string word = option.rule == ValueRule::Flag ? name : name + "=";
    EXPECT_NE(words.find(" " + word + " "), std::string::npos) << name;
    if (option.rule != ValueRule::Keyword) continue;
    // The case entry of the option and its compgen line.
    const size_t entry = script.find("    " + name + ")\n");
    ASSERT_NE(entry, std::string::npos) << name;
    const size_t line_start = script.find('\n', entry) + 1;
    const std::string line = script.substr(line_start, script.find('\n', line_start) - line_start);
    for (const SettingChoice& choice : option.field->choices) {
      if (choice.keyword.empty()) continue;
      EXPECT_NE(line.find(ToLowerAscii(choice.keyword)), std::string::npos)
          << name << " " << choice.keyword;
    }
  }
  // File and folder values complete as paths.
  EXPECT_NE(script.find("--profile"), std::string::npos);
  EXPECT_NE(script.find("_filedir -d"), std::string::npos);
}

}  // namespace
