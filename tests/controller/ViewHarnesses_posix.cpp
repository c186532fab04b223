#include "controller/ViewHarness.h"

namespace testsupport {

std::vector<std::string> ViewKinds() { return {"recording"}; }

std::unique_ptr<ViewHarness> MakeView(const std::string&) { return MakeRecordingView(); }

} // namespace testsupport
