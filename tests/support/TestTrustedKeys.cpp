// The trusted keys of the test build of valdris-get: the test publisher's key, in place of the
// program's built-in keys.
#include "download/ListTrust.h"
#include "support/TestKeys.h"

namespace download {

TrustPolicy BuiltInTrustPolicy() { return ProgramTrustPolicy({testsupport::kTestPublicKey}); }

} // namespace download
