#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/Format.h"
#include "core/Text.h"
#include "platform/Files.h"
#include "platform/Utf.h"

using core::Format;

namespace {

std::string Narrow(const std::u16string& s) { return platform::NarrowUtf8(s); }

struct Row {
  const char* name;
  std::u16string actual;
  const char* expected;
};

TEST(Format, DialectConversions) {
  core::SetStrictFormatChecks(false);  // the last rows show the marker of a mismatch
  const Row rows[] = {
      {"plain text", Format(u"abc"), "abc"},
      {"percent", Format(u"100%%"), "100%"},
      {"wide text", Format(u"[%s]", u"x y"), "[x y]"},
      {"text arg keeps its percent signs", Format(u"%s", u"50% %d %s"), "50% %d %s"},
      {"wide char", Format(u"%c:", u'D'), "D:"},
      {"int", Format(u"%d", -42), "-42"},
      {"long as error code", Format(u"(%ld)", 12029u), "(12029)"},
      {"unsigned code beyond 2^31 reads signed", Format(u"%ld", 0x80000000u), "-2147483648"},
      {"zero pad", Format(u"%02d:%02d:%02d", 1, 2, 3), "01:02:03"},
      {"width longer than digits", Format(u"%02d", 123), "123"},
      {"three digits", Format(u"%03d", 7), "007"},
      {"four-digit year", Format(u"%04d%02d%02d", 2026, 12, 10), "20261210"},
      {"signed 64", Format(u"Range:bytes=%I64d-", 5000000000LL), "Range:bytes=5000000000-"},
      {"unsigned 64 max", Format(u"%I64u", std::numeric_limits<std::uint64_t>::max()),
       "18446744073709551615"},
      {"32-bit argument widened for I64", Format(u"%I64d", -5), "-5"},
      {"fixed two places", Format(u"%.2f", 1.5), "1.50"},
      {"fixed exact half rounds up", Format(u"%.2f", 1.125), "1.13"},
      {"fixed below half rounds down", Format(u"%.2f", 1.124), "1.12"},
      {"fixed negative half", Format(u"%.2f", -0.125), "-0.13"},
      {"fixed zero places", Format(u"%.0f", 2.5), "3"},
      {"left aligned", Format(u"[%-4s]", u"ab"), "[ab  ]"},
      {"hex", Format(u"%x/%X", 255u, 255u), "ff/FF"},
      {"string precision", Format(u"%.3s", u"abcdef"), "abc"},
      {"unknown conversion kept", Format(u"%q"), "%q"},
      {"lone percent at end", Format(u"50%"), "50%"},
      {"64-bit argument refused by %d", Format(u"%d", std::int64_t{1} << 40), "<?>"},
      {"number refused by %s", Format(u"%s", 5), "<?>"},
      {"text refused by %d", Format(u"%d", u"5"), "<?>"},
      {"missing argument", Format(u"%d and %d", 1), "1 and <?>"},
  };
  for (const Row& row : rows) EXPECT_EQ(Narrow(row.actual), row.expected) << row.name;
  core::SetStrictFormatChecks(true);
}

#ifndef NDEBUG
TEST(FormatDeathTest, MismatchStopsADebugBuild) {
  EXPECT_DEATH(Format(u"(%ld)", u"not a code"), "");
}
#endif

TEST(Format, FixedBufferCutsAndTerminates) {
  char16_t buffer[6];
  EXPECT_EQ(core::FormatTo(buffer, 6, u"%s!", {u"abcdefgh"}), 5u);
  EXPECT_EQ(std::u16string(buffer), u"abcde");
}

TEST(FormatByteSize, UnitsAndRounding) {
  const struct {
    std::uint64_t bytes;
    const char* expected;
  } rows[] = {
      {0, "0 Bytes"},
      {1023, "1023 Bytes"},
      {1024, "1.00 KB"},
      {1152, "1.13 KB"},
      {1280, "1.25 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {13107200, "12.50 MB"},
      {1073741824, "1.00 GB"},
      {1099511627776ULL, "1.00 TB"},
      {std::numeric_limits<std::uint64_t>::max(), "16777216.00 TB"},
  };
  for (const auto& row : rows) EXPECT_EQ(Narrow(core::FormatByteSize(row.bytes)), row.expected) << row.bytes;
}

TEST(TextHelpers, SpeedDurationAndJoin) {
  EXPECT_EQ(Narrow(core::FormatSpeed(0)), "0 Bytes/sec");
  EXPECT_EQ(core::FormatSpeed(0), core::kUnmeasuredSpeed);
  EXPECT_EQ(Narrow(core::FormatSpeed(2621440)), "2.50 MB/sec");
  EXPECT_EQ(Narrow(core::FormatDuration(0, 0, 0)), "00:00:00");
  EXPECT_EQ(Narrow(core::FormatDurationSeconds(3660)), "01:01:00");
  EXPECT_EQ(Narrow(core::FormatDurationSeconds(100 * 3600 + 5)), "100:00:05");
  // The system's separator ("\\" on Windows); nothing is normalised.
  const std::string separator = Narrow(std::u16string(1, platform::kPathSeparator));
  EXPECT_EQ(Narrow(core::JoinPath(u"/games", u"a.pak")), "/games" + separator + "a.pak");
  EXPECT_EQ(Narrow(core::JoinPath(u"/games/", u"a.pak")), "/games/" + separator + "a.pak");
}

TEST(TextHelpers, PercentOfAnyCounts) {
  const struct {
    const char* name;
    std::uint64_t part;
    std::uint64_t whole;
    int percent;
  } rows[] = {
      {"empty whole", 0, 0, 0},
      {"nothing yet", 0, 5, 0},
      {"truncated", 2, 3, 66},
      {"one short of a huge whole is not 100", (1ULL << 62) - 1, 1ULL << 62, 99},
      {"sizes near 2^63", 1ULL << 62, (1ULL << 63) + 12345, 49},
      {"the largest whole", UINT64_MAX, UINT64_MAX, 100},
      {"more than the whole", 7, 5, 100},
  };
  for (const auto& row : rows) EXPECT_EQ(core::PercentOf(row.part, row.whole), row.percent) << row.name;
}

} // namespace
