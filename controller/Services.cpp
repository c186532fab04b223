#include "controller/Services.h"

#include "core/SystemQueries.h"
#include "net/HttpClient.h"
#include "platform/Clock.h"
#include "platform/Launch.h"
#include "platform/Utf.h"

namespace controller {

Services DefaultServices() {
  return Services{platform::CSettingsStore(),
                  net::GetFileListUrl(),
                  platform::WidenUtf8(VALDRIS_PUBLISHER_HOST),
                  &core::GetDiskFreeBytes,
                  net::kDefaultTimeoutMs,
                  &platform::TickCount32,
                  &platform::LaunchProgram,
                  &platform::OpenWithDesktop,
                  download::BuiltInTrustPolicy()};
}

} // namespace controller
