#include "controller/Services.h"

#include <utility>

#include "core/SystemQueries.h"
#include "net/HttpClient.h"
#include "platform/Clock.h"
#include "platform/Launch.h"

namespace controller {

Services DefaultServices(ProductSettings product) {
  return Services{platform::CSettingsStore(),
                  std::move(product.fileListUrl),
                  std::move(product.publisherHost),
                  &core::GetDiskFreeBytes,
                  net::kDefaultTimeoutMs,
                  &platform::TickCount32,
                  &platform::LaunchProgram,
                  &platform::OpenWithDesktop,
                  std::move(product.trust)};
}

} // namespace controller
