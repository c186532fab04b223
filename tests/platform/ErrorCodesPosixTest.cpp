#include <gtest/gtest.h>

#include <cerrno>

#include "platform/ErrorCodes.h"

namespace {

using namespace platform;

TEST(ErrorCodes, SystemResultsBecomeWindowsCodes) {
  const struct {
    const char* name;
    ErrorCode actual;
    ErrorCode expected;
  } rows[] = {
      {"missing file", ErrorFromErrno(ENOENT), 2},
      {"access denied", ErrorFromErrno(EACCES), 5},
      {"disk full", ErrorFromErrno(ENOSPC), 112},
      {"invalid parameter", ErrorFromErrno(EINVAL), 87},
      {"unknown errno", ErrorFromErrno(12345), ERROR_GEN_FAILURE},
  };
  for (const auto& row : rows) EXPECT_EQ(row.actual, row.expected) << row.name;
}

} // namespace
