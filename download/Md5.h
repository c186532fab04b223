#pragma once
// Streaming MD5 in the checksum text of the file list: 32 upper-case hexadecimal digits.
#include <atomic>
#include <cstddef>
#include <string>

#include "platform/Crypto.h"
#include "platform/ErrorCodes.h"

namespace download {

class CMd5 {
 public:
  // False when the digest could not be set up or fed; the object is then unusable.
  bool Ok() const { return m_digest.Ok(); }
  bool Update(const void* data, std::size_t size) { return m_digest.Update(data, size); }
  // The digest text; empty on failure. Ends the object's use.
  std::u16string Finish();

 private:
  platform::CMd5Digest m_digest;
};

// Files are read for hashing in blocks of this size: large reads keep the disk and system calls cheap.
constexpr std::size_t kHashReadBlock = 256 * 1024;
// The stop flag is looked at after every this many bytes hashed.
constexpr std::size_t kHashSlice = 1024;

// Returned by a checksum abandoned because the running flag was cleared.
constexpr platform::ErrorCode CHECKSUM_STOPPED = 99;

// Feeds size bytes to md5 in slices of kHashSlice, looking at the flag (when given) before each:
// 0, CHECKSUM_STOPPED once the flag is false, or ERROR_GEN_FAILURE when the digest fails.
platform::ErrorCode HashWatchingStop(CMd5& md5, const unsigned char* data, std::size_t size,
                                     const std::atomic<bool>* running);

} // namespace download
