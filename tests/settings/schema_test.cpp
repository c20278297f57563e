#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <variant>

#include "settings/program_settings.h"

namespace {

// The stored number of a field, for the kinds that hold numbers.
double NumberOf(const SettingField& field, const ProgramSettings& settings) {
  return std::visit(
      [](auto* value) -> double {
        if constexpr (std::is_same_v<decltype(value), const std::string*>) {
          return 0;
        } else {
          return static_cast<double>(*value);
        }
      },
      field.Read(settings));
}

}  // namespace

TEST(SettingSchema, EveryEnumerationNamesEachEntryAndItsDefaultIsOne) {
  ProgramSettings defaults;
  size_t enumerations = 0;
  for (const SettingField& field : SettingFields()) {
    if (field.choices.empty()) continue;
    ++enumerations;
    std::set<std::string_view> keywords;
    bool unnamed = false;
    for (const SettingChoice& choice : field.choices) {
      // Only values kept for stored files but not offered, at the end, may have no name.
      const bool named = !choice.keyword.empty() || !choice.text_key.empty();
      EXPECT_FALSE(named && unnamed) << field.key;
      unnamed = !named;
      if (choice.keyword.empty()) continue;
      EXPECT_TRUE(keywords.insert(choice.keyword).second) << field.key << " " << choice.keyword;
      for (char c : choice.keyword) EXPECT_FALSE(c >= 'a' && c <= 'z') << choice.keyword;
    }
    // An enumeration either has keywords for every entry or for none.
    EXPECT_TRUE(keywords.empty() || keywords.size() == field.choices.size()) << field.key;
    const double value = NumberOf(field, defaults);
    EXPECT_GE(value, 0) << field.key;
    EXPECT_LT(value, static_cast<double>(field.choices.size())) << field.key;
    EXPECT_FALSE(field.range.bounded) << field.key;
  }
  EXPECT_EQ(enumerations, 35u);
}

TEST(SettingSchema, RangesHoldTheirDefaults) {
  ProgramSettings defaults;
  size_t ranged = 0;
  for (const SettingField& field : SettingFields()) {
    if (!field.range.bounded) continue;
    ++ranged;
    EXPECT_NE(field.type, SettingType::String) << field.key;
    EXPECT_LT(field.range.min, field.range.max) << field.key;
    EXPECT_TRUE(field.range.Contains(NumberOf(field, defaults))) << field.key;
  }
  EXPECT_GE(ranged, 15u);
  const SettingRange gamma = SettingOf("Adjustment", "Image Gamma").range;
  EXPECT_TRUE(gamma.Contains(0.01f));
  EXPECT_TRUE(gamma.Contains(9.99f));
  EXPECT_FALSE(gamma.Contains(0.0099f));
  EXPECT_FALSE(gamma.Contains(std::numeric_limits<float>::quiet_NaN()));
}

TEST(SettingSchema, ReadingAFieldSeesTheSameValueAsWritingIt) {
  ProgramSettings settings;
  const SettingField& quality = SettingOf("output", "jpg quality");  // any case
  *std::get<int32_t*>(quality.locate(settings)) = 42;
  const ProgramSettings& read_only = settings;
  EXPECT_EQ(*std::get<const int32_t*>(quality.Read(read_only)), 42);
  EXPECT_EQ(std::get<const int32_t*>(quality.Read(read_only)), &settings.output.jpg_quality);
  // The two "Image Rotation" keys are told apart by their group.
  EXPECT_EQ(std::get<const int32_t*>(SettingOf("Watermark", "Image Rotation").Read(read_only)),
            &settings.watermark.image_rotation);
}
