#pragma once
// Building request addresses from file-list names.
#include <string>
#include <string_view>

namespace net {

// The name as a URL path: each "/"-separated component percent-encoded from its UTF-8 bytes, so
// that "#", "?", "%" or a space in a published name are part of the path, never a fragment, a query
// or an invalid address. Only unreserved characters (letters, digits, "-", ".", "_", "~") stay.
std::u16string EncodeUrlPath(std::u16string_view name);

} // namespace net
