// The trusted keys of the test build of valdris-get: the test publisher's key and the real clock, in
// place of the program's built-in keys.
#include <chrono>

#include "download/ListTrust.h"
#include "support/TestKeys.h"

namespace download {

TrustPolicy BuiltInTrustPolicy() {
  TrustPolicy policy;
  policy.keys = {testsupport::kTestPublicKey};
  policy.nowUtc = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  return policy;
}

} // namespace download
