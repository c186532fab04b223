#include "support/Environment.h"

#include <cstdlib>

namespace testsupport {

const bool kIsWindows = false;

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void RemoveEnvironment(const char* name) { unsetenv(name); }

} // namespace testsupport
