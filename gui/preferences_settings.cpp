#include "gui/preferences_settings.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "settings/program_settings.h"

namespace {

template <typename Result, typename Visitor>
Result Visit(std::string_view group, std::string_view key, Result fallback, Visitor visitor) {
  const SettingField* field = FindSetting(group, key);
  if (!field) return fallback;
  return std::visit(visitor, field->locate(g_settings));
}

}  // namespace

int64_t ReadSettingNumber(std::string_view group, std::string_view key) {
  return Visit<int64_t>(group, key, 0, [](auto* value) -> int64_t {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>) {
      return 0;
    } else if constexpr (std::is_floating_point_v<T>) {
      return std::llround(*value);
    } else {
      return *value;
    }
  });
}

double ReadSettingFloat(std::string_view group, std::string_view key) {
  return Visit<double>(group, key, 0.0, [](auto* value) -> double {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>) {
      return 0.0;
    } else {
      return static_cast<double>(*value);
    }
  });
}

std::string ReadSettingText(std::string_view group, std::string_view key) {
  return Visit<std::string>(group, key, std::string(), [](auto* value) -> std::string {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>) {
      return *value;
    } else {
      return {};
    }
  });
}

void WriteSettingNumber(std::string_view group, std::string_view key, int64_t number) {
  Visit<int>(group, key, 0, [number](auto* value) {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_integral_v<T>) {
      *value = static_cast<T>(std::clamp<int64_t>(number, std::numeric_limits<T>::min(),
                                                  std::numeric_limits<T>::max()));
    } else if constexpr (std::is_floating_point_v<T>) {
      *value = static_cast<T>(number);
    }
    return 0;
  });
}

void WriteSettingFloat(std::string_view group, std::string_view key, double number) {
  Visit<int>(group, key, 0, [number](auto* value) {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_floating_point_v<T>) {
      *value = static_cast<T>(number);
    } else if constexpr (std::is_integral_v<T>) {
      *value = static_cast<T>(std::llround(number));
    }
    return 0;
  });
}

void WriteSettingText(std::string_view group, std::string_view key, const std::string& text) {
  Visit<int>(group, key, 0, [&text](auto* value) {
    using T = std::remove_pointer_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>) *value = text;
    return 0;
  });
}
