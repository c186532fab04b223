#pragma once
// The block index of a file: its length cut into blocks of one size (the last may be shorter), and for
// each block a weak checksum that can be rolled along a file byte by byte and a strong one that
// confirms a match. With it a downloader finds which blocks of a new version it already holds
// anywhere in an old file, even where bytes were inserted or removed before them, and fetches only
// the rest. The publisher writes one per file; the file list names it and carries its digest.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Crypto.h"
#include "platform/ErrorCodes.h"

namespace blocks {

// What one block's checksums are made of, each kept to the index's lengths.
struct BlockSum {
  std::uint32_t weak = 0;
  std::uint64_t strong = 0;  // the first bytes of the block's SHA-256
  bool operator==(const BlockSum& other) const { return weak == other.weak && strong == other.strong; }
};

// How many bytes of each checksum the index keeps, and how many blocks in a row must match before a
// match found by searching counts. A longer file needs longer checksums to keep false matches away;
// two blocks in a row let each be half as long, since a search then compares both blocks' weak sums
// at once. Full lengths (4 and 8, one block) are the first format's.
struct ChecksumLengths {
  std::uint8_t weakBytes = 4;    // 2 to 4
  std::uint8_t strongBytes = 8;  // 2 to 8
  std::uint8_t blocksInRow = 1;  // 1 or 2
  bool operator==(const ChecksumLengths& other) const {
    return weakBytes == other.weakBytes && strongBytes == other.strongBytes && blocksInRow == other.blocksInRow;
  }
};
constexpr ChecksumLengths kFullLengths{};

// The shortest lengths that keep a false match unlikely for a file of this size: a search over a
// source of about the file's size meets a chance pair of weak sums about once, and a match taken
// for true is wrong about once in four billion files (and then only costs the whole file, as the
// digest catches it).
ChecksumLengths LengthsFor(std::uint64_t fileSize, std::uint32_t blockSize);

// 4 KiB blocks: measured on patched archives, the bytes of the index and of the blocks fetched around
// each change are together smallest near this size.
constexpr std::uint32_t kDefaultBlockSize = 4096;
constexpr std::uint32_t kSmallestBlock = 256;
constexpr std::uint32_t kLargestBlock = 1024 * 1024;

class CStrongSum;

class CBlockIndex {
 public:
  std::uint32_t m_nBlockSize = kDefaultBlockSize;
  std::uint64_t m_nFileSize = 0;
  ChecksumLengths m_lengths;
  std::vector<BlockSum> m_vecSums;  // one per block, in the file's order

  std::uint64_t BlockCount() const { return (m_nFileSize + m_nBlockSize - 1) / m_nBlockSize; }
  // The length of block i: the block size, or less for the last block.
  std::uint32_t BlockLength(std::uint64_t i) const;

  // A whole weak sum (CRollingSum::Value) or strong sum kept to this index's lengths. The weak sum's
  // second half (the high one) mixes better than the plain sum of the bytes, so it is kept first.
  std::uint32_t Weak(std::uint32_t whole) const {
    switch (m_lengths.weakBytes) {
      case 2: return whole >> 16;
      case 3: return ((whole >> 16) << 8) | (whole & 0xff);
      default: return whole;
    }
  }
  std::uint64_t Strong(std::uint64_t whole) const {
    return m_lengths.strongBytes >= 8 ? whole : whole & ((std::uint64_t{1} << (8 * m_lengths.strongBytes)) - 1);
  }
  // Whether these bytes are block i's (its length of them); false too when the digest failed.
  bool Holds(std::uint64_t i, const unsigned char* data, CStrongSum& strongSum) const;

  // The index as the bytes stored on the server.
  std::string Serialize() const;
  // Reads stored bytes; false (index unchanged) when they are not a whole, consistent index.
  bool Parse(std::string_view bytes);
};

// The weak checksum of a window of bytes: two 16-bit sums, the second weighting each byte by its
// distance from the window's end, so that moving the window by one byte is two additions.
class CRollingSum {
 public:
  void Reset(const unsigned char* data, std::size_t length);
  // Moves the window one byte on: `out` leaves it at the front, `in` enters at the back.
  void Roll(unsigned char out, unsigned char in) {
    m_a = static_cast<std::uint16_t>(m_a - out + in);
    m_b = static_cast<std::uint16_t>(m_b - m_nLength * out + m_a);
  }
  std::uint32_t Value() const { return static_cast<std::uint32_t>(m_a) | (static_cast<std::uint32_t>(m_b) << 16); }

 private:
  std::uint16_t m_a = 0;
  std::uint16_t m_b = 0;
  std::uint32_t m_nLength = 0;
};

std::uint32_t WeakSum(const unsigned char* data, std::size_t length);

// The strong checksum of blocks, one after another.
class CStrongSum {
 public:
  // False when the digest failed.
  bool Of(const unsigned char* data, std::size_t length, std::uint64_t& sum);

 private:
  platform::CSha256Hasher m_hasher;
};

// Computes the index of a file, its checksums kept to the lengths for its size unless others are
// given; 0, or the failure's code (ERROR_OPERATION_ABORTED once the flag is cleared).
platform::ErrorCode ComputeBlockIndex(std::u16string_view path, std::uint32_t blockSize, CBlockIndex& index,
                                      const std::atomic<bool>* running = nullptr,
                                      const ChecksumLengths* lengths = nullptr);

} // namespace blocks
