#pragma once
// The error numbers the system shows in "(%ld)": the Windows and WinINet codes on every operating
// system. Operating-system results are mapped onto them here; the HTTP library's results in net/.
// On Windows the system's headers define the same names as macros with the same values: a source
// includes this header (directly or through another of ours) before them.
#include <cstdint>
#include <string_view>

namespace platform {

using ErrorCode = std::uint32_t;

// Windows codes.
constexpr ErrorCode ERROR_SUCCESS = 0;
constexpr ErrorCode ERROR_FILE_NOT_FOUND = 2;
constexpr ErrorCode ERROR_PATH_NOT_FOUND = 3;
constexpr ErrorCode ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr ErrorCode ERROR_ACCESS_DENIED = 5;
constexpr ErrorCode ERROR_INVALID_HANDLE = 6;
constexpr ErrorCode ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr ErrorCode ERROR_WRITE_PROTECT = 19;
constexpr ErrorCode ERROR_GEN_FAILURE = 31;
constexpr ErrorCode ERROR_SHARING_VIOLATION = 32;
constexpr ErrorCode ERROR_HANDLE_EOF = 38;
constexpr ErrorCode ERROR_NOT_SUPPORTED = 50;
constexpr ErrorCode ERROR_FILE_EXISTS = 80;
constexpr ErrorCode ERROR_INVALID_PARAMETER = 87;
constexpr ErrorCode ERROR_DISK_FULL = 112;
constexpr ErrorCode ERROR_INSUFFICIENT_BUFFER = 122;
constexpr ErrorCode ERROR_INVALID_NAME = 123;
constexpr ErrorCode ERROR_WRITE_FAULT = 29;
constexpr ErrorCode ERROR_DIR_NOT_EMPTY = 145;
constexpr ErrorCode ERROR_BUSY = 170;
constexpr ErrorCode ERROR_ALREADY_EXISTS = 183;
constexpr ErrorCode ERROR_FILENAME_EXCED_RANGE = 206;
constexpr ErrorCode ERROR_FILE_TOO_LARGE = 223;
constexpr ErrorCode ERROR_OPERATION_ABORTED = 995;
constexpr ErrorCode ERROR_IO_DEVICE = 1117;
constexpr ErrorCode ERROR_CANT_RESOLVE_FILENAME = 1921;

// WinINet codes.
constexpr ErrorCode ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr ErrorCode ERROR_INTERNET_TIMEOUT = 12002;
constexpr ErrorCode ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr ErrorCode ERROR_INTERNET_INVALID_URL = 12005;
constexpr ErrorCode ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr ErrorCode ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr ErrorCode ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr ErrorCode ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr ErrorCode ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr ErrorCode ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr ErrorCode ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr ErrorCode ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr ErrorCode ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr ErrorCode ERROR_INTERNET_INVALID_CA = 12045;
constexpr ErrorCode ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr ErrorCode ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr ErrorCode ERROR_HTTP_REDIRECT_FAILURE = 12156;
constexpr ErrorCode ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157;

// errno value -> Windows code (POSIX systems; on Windows the system's codes come as they are).
ErrorCode ErrorFromErrno(int err);

// A few English words for a file system's code ("permission denied"), for messages that name a path.
std::u16string_view ErrorReason(ErrorCode code);

} // namespace platform
