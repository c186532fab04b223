#pragma once
// Setting and removing environment variables in a test, the same way on every system, and which
// system it is, for the few checks whose expected result is the system's own (case-blind names,
// WinINet's header spelling, the registry).
#include <string>

namespace testsupport {

void SetEnvironment(const char* name, const std::string& value);
void RemoveEnvironment(const char* name);

// True on Windows (and under Wine).
extern const bool kIsWindows;

} // namespace testsupport
