#include "gui/preferences_settings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "settings/program_settings.h"

namespace {

template <typename Result, typename Visitor>
Result Visit(const ProgramSettings& settings, std::string_view group, std::string_view key,
             Result fallback, Visitor visitor) {
  const SettingField* field = FindSetting(group, key);
  if (!field) return fallback;
  return std::visit(visitor, field->Read(settings));
}

template <typename Visitor>
void Visit(ProgramSettings& settings, std::string_view group, std::string_view key,
           Visitor visitor) {
  const SettingField* field = FindSetting(group, key);
  if (field) std::visit(visitor, field->locate(settings));
}

}  // namespace

int64_t ReadSettingNumber(const ProgramSettings& settings, std::string_view group,
                          std::string_view key) {
  return Visit<int64_t>(settings, group, key, 0, [](auto* value) -> int64_t {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_same_v<T, std::string>) {
      return 0;
    } else if constexpr (std::is_floating_point_v<T>) {
      return std::llround(*value);
    } else {
      return *value;
    }
  });
}

double ReadSettingFloat(const ProgramSettings& settings, std::string_view group,
                        std::string_view key) {
  return Visit<double>(settings, group, key, 0.0, [](auto* value) -> double {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_same_v<T, std::string>) {
      return 0.0;
    } else {
      return static_cast<double>(*value);
    }
  });
}

std::string ReadSettingText(const ProgramSettings& settings, std::string_view group,
                            std::string_view key) {
  return Visit<std::string>(settings, group, key, std::string(), [](auto* value) -> std::string {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_same_v<T, std::string>) {
      return *value;
    } else {
      return {};
    }
  });
}

void WriteSettingNumber(ProgramSettings& settings, std::string_view group, std::string_view key,
                        int64_t number) {
  Visit(settings, group, key, [number](auto* value) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_integral_v<T>) {
      *value = static_cast<T>(std::clamp<int64_t>(number, std::numeric_limits<T>::min(),
                                                  std::numeric_limits<T>::max()));
    } else if constexpr (std::is_floating_point_v<T>) {
      *value = static_cast<T>(number);
    }
  });
}

void WriteSettingFloat(ProgramSettings& settings, std::string_view group, std::string_view key,
                       double number) {
  Visit(settings, group, key, [number](auto* value) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_floating_point_v<T>) {
      *value = static_cast<T>(number);
    } else if constexpr (std::is_integral_v<T>) {
      *value = static_cast<T>(std::llround(number));
    }
  });
}

void WriteSettingText(ProgramSettings& settings, std::string_view group, std::string_view key,
                      const std::string& text) {
  Visit(settings, group, key, [&text](auto* value) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
    if constexpr (std::is_same_v<T, std::string>) *value = text;
  });
}
