#pragma once
// The services of a controller under test: settings in the test's own folder, the test server's
// list, a short time-out, plenty of free space, unsigned lists, the real tick and launchers. A test
// replaces the members it watches (the clock, the launchers, the free space).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "controller/Services.h"
#include "platform/Clock.h"
#include "platform/Launch.h"

namespace testsupport {

inline controller::Services TestServices(std::u16string configFolder, std::u16string fileListUrl) {
  return controller::Services{platform::CSettingsStore(std::move(configFolder)),
                              std::move(fileListUrl),
                              u"www.valdris-game.example",
                              [](std::u16string_view) { return std::uint64_t{1} << 40; },
                              2000,
                              &platform::TickCount32,
                              &platform::LaunchProgram,
                              &platform::OpenWithDesktop,
                              download::TrustPolicy{}};
}

} // namespace testsupport
