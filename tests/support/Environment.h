#pragma once
// Setting and removing environment variables in a test, the same way on every system.
#include <string>

namespace testsupport {

void SetEnvironment(const char* name, const std::string& value);
void RemoveEnvironment(const char* name);

} // namespace testsupport
