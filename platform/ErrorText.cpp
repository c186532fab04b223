#include "platform/ErrorCodes.h"

namespace platform {

namespace {

struct ReasonRow {
  ErrorCode code;
  std::u16string_view text;
};

// The same words on every system, so a message reads alike in a log from either.
constexpr ReasonRow kReasons[] = {
    {ERROR_FILE_NOT_FOUND, u"file not found"},
    {ERROR_PATH_NOT_FOUND, u"folder not found"},
    {ERROR_TOO_MANY_OPEN_FILES, u"too many open files"},
    {ERROR_ACCESS_DENIED, u"permission denied"},
    {ERROR_NOT_ENOUGH_MEMORY, u"not enough memory"},
    {ERROR_WRITE_PROTECT, u"the medium is write-protected"},
    {ERROR_WRITE_FAULT, u"the device cannot be written"},
    {ERROR_GEN_FAILURE, u"the device does not work"},
    {ERROR_SHARING_VIOLATION, u"in use by another program"},
    {ERROR_NOT_SUPPORTED, u"not supported here"},
    {ERROR_FILE_EXISTS, u"already exists"},
    {ERROR_ALREADY_EXISTS, u"already exists"},
    {ERROR_INVALID_PARAMETER, u"invalid parameter"},
    {ERROR_DISK_FULL, u"the disk is full"},
    {ERROR_INVALID_NAME, u"the name is not allowed"},
    {ERROR_DIR_NOT_EMPTY, u"the folder is not empty"},
    {ERROR_FILENAME_EXCED_RANGE, u"the path is too long"},
    {ERROR_FILE_TOO_LARGE, u"the file is too large"},
    {ERROR_IO_DEVICE, u"input/output error"},
    {ERROR_CANT_RESOLVE_FILENAME, u"too many symbolic links"},
};

} // namespace

std::u16string_view ErrorReason(ErrorCode code) {
  for (const ReasonRow& row : kReasons)
    if (row.code == code) return row.text;
  return u"system error";
}

} // namespace platform
