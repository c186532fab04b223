#include "core/Text.h"

#include "core/Format.h"
#include "platform/Files.h"

namespace core {

std::u16string FormatByteSize(std::uint64_t bytes) {
  struct Unit {
    double threshold;
    const char16_t* format;
  };
  static constexpr Unit kUnits[] = {
      {1099511627776.0, u"%.2f TB"},
      {1073741824.0, u"%.2f GB"},
      {1048576.0, u"%.2f MB"},
      {1024.0, u"%.2f KB"},
  };
  const auto value = static_cast<double>(bytes);
  for (const Unit& unit : kUnits) {
    if (value >= unit.threshold) return Format(unit.format, value / unit.threshold);
  }
  return Format(u"%I64u Bytes", static_cast<unsigned long long>(bytes));
}

std::u16string FormatSpeed(std::uint64_t bytesPerSecond) {
  return Format(u"%s/sec", FormatByteSize(bytesPerSecond));
}

std::u16string FormatDuration(int hours, int minutes, int seconds) {
  return Format(u"%02d:%02d:%02d", hours, minutes, seconds);
}

std::u16string FormatDurationSeconds(std::uint32_t totalSeconds) {
  return FormatDuration(static_cast<int>(totalSeconds / 3600), static_cast<int>(totalSeconds / 60 % 60),
                        static_cast<int>(totalSeconds % 60));
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
  const char16_t separator[] = {platform::kPathSeparator, u'\0'};
  return Format(u"%s%s%s", folder, separator, name);
}

int PercentOf(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 0;
  if (part >= whole) return 100;
  const int percent = static_cast<int>(static_cast<double>(part) / static_cast<double>(whole) * 100.0);
  return percent > 99 ? 99 : percent;
}

} // namespace core
