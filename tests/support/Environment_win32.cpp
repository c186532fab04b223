#include "support/Environment.h"

#include <cstdlib>

namespace testsupport {

const bool kIsWindows = true;

void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

void RemoveEnvironment(const char* name) { _putenv_s(name, ""); }

} // namespace testsupport
