#pragma once
// Starting other programs: the game's setup program, and the desktop's opener for addresses.
#include <string_view>

#include "platform/ErrorCodes.h"

namespace platform {

constexpr ErrorCode ERROR_NO_ASSOCIATION = 1155;

// Starts the program file with workingDir as its working directory and no arguments, without
// waiting for it. A file that is not a program the system can run is handed to the desktop's
// opener, whose refusal (no handler for the file) is a failure too. 0, or the code of the failure
// (ERROR_FILE_NOT_FOUND for a missing file, ERROR_NO_ASSOCIATION when nothing can open it).
ErrorCode LaunchProgram(std::u16string_view path, std::u16string_view workingDir);

// Opens a file or an address with the desktop's opener; the text is passed unchanged.
ErrorCode OpenWithDesktop(std::u16string_view target);

} // namespace platform
