#pragma once
// Where CHttpClient puts the body of a download: the transport reads each piece straight into the
// sink's memory, and the sink decides when and how the bytes reach their target. The program's sink
// writes the entry's file (download/FileSink.h); tests give one of their own (a disk that is full).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace net {

class IBodySink {
 public:
  virtual ~IBodySink() = default;
  // Opens the target for one body: at its end (append) or emptied. 0 or the failure's code.
  virtual platform::ErrorCode Open(std::u16string_view path, bool append) = 0;
  // Opens an existing target for one body written from offset on, beside other writers of other
  // parts of it (a file fetched in segments). 0 or the failure's code.
  virtual platform::ErrorCode OpenAt(std::u16string_view path, std::uint64_t offset) = 0;
  virtual bool IsOpen() const = 0;
  // Where the next piece goes and how many bytes fit there (at least one while open).
  virtual char* Room(std::size_t& room) = 0;
  // The next n bytes are in Room's memory; n = 0 is the body's end. 0 or the code of a failed write
  // (the bytes not written are then dropped: the transfer ends there).
  virtual platform::ErrorCode Commit(std::size_t n) = 0;
  // Writes what was committed and not yet written, then closes the target; 0 or the failure's code.
  virtual platform::ErrorCode Close() = 0;
  // How many bytes of this body are in the target so far: what a reader of it can see.
  virtual std::uint64_t Written() const = 0;
};

} // namespace net
