#pragma once
// Local file facts the worker decides by: size and MD5 checksum text.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/Md5.h"
#include "platform/ErrorCodes.h"

namespace download {

// 0 and the size, or a Windows code (87 for a missing destination) and 0.
platform::ErrorCode GetLocalFileSize(std::u16string_view path, std::uint64_t* size);

// MD5 of the file as 32 upper-case hexadecimal digits. The flag, when given, is looked at after
// every 1024 bytes hashed; once false the result is CHECKSUM_STOPPED. The text is empty on failure.
platform::ErrorCode ComputeFileChecksum(std::u16string_view path, const std::atomic<bool>* running,
                                        std::u16string& checksum);

} // namespace download
