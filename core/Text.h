#pragma once
// Size, speed and duration texts, and path joining.
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// "0 Bytes" .. "1023 Bytes", then "%.2f KB/MB/GB/TB" with exact halves rounded up.
std::u16string FormatByteSize(std::uint64_t bytes);

// The size text of a count of bytes per second followed by "/sec".
std::u16string FormatSpeed(std::uint64_t bytesPerSecond);
inline constexpr std::u16string_view kUnmeasuredSpeed = u"0 Bytes/sec";

// "%02d:%02d:%02d"; hours are not limited to two digits.
std::u16string FormatDuration(int hours, int minutes, int seconds);
std::u16string FormatDurationSeconds(std::uint32_t totalSeconds);
inline constexpr std::u16string_view kIdleDuration = u"00:00:00";

// part / whole as a whole percentage, truncated, in 0..100: 100 exactly when part reaches whole, 0
// for an empty whole. Safe for any 64-bit counts (a double converted out of an int's range would not be).
int PercentOf(std::uint64_t part, std::uint64_t whole);

// Folder and name joined with one separator; nothing is normalised.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);

} // namespace core
