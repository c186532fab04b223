#include "support/SpecialFiles.h"

namespace testsupport {

bool SystemHasFifos() { return false; }

bool MakeFifo(const std::filesystem::path&) { return false; }

} // namespace testsupport
