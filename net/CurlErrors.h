#pragma once
// The HTTP library's results as the WinINet and Windows codes the rest of the system shows.
#include "platform/ErrorCodes.h"

namespace net {

// libcurl result (CURLcode) -> WinINet or Windows code; ERROR_INTERNET_INTERNAL_ERROR when unknown.
platform::ErrorCode ErrorFromCurl(int curlCode);

} // namespace net
