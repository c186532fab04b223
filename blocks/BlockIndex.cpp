#include "blocks/BlockIndex.h"

#include <algorithm>
#include <cstring>

#include "platform/Files.h"

namespace blocks {

using namespace platform;

namespace {

// The first format keeps whole checksums; the second says its lengths after the file's size.
constexpr std::string_view kMagicFull = "VLDBLK01";
constexpr std::string_view kMagicLengths = "VLDBLK02";
constexpr std::size_t kMagicSize = 8;
constexpr std::size_t kHeaderSize = kMagicSize + 4 + 8;
constexpr std::size_t kLengthsSize = 3;

bool ValidLengths(const ChecksumLengths& lengths) {
  return lengths.weakBytes >= 2 && lengths.weakBytes <= 4 && lengths.strongBytes >= 2 && lengths.strongBytes <= 8 &&
         (lengths.blocksInRow == 1 || lengths.blocksInRow == 2);
}

// Bits of a positive count, rounded up (1 for 0 and 1).
unsigned BitsOf(std::uint64_t n) {
  unsigned bits = 1;
  while (bits < 64 && (std::uint64_t{1} << bits) < n) ++bits;
  return bits;
}

void PutLE(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t GetLE(std::string_view in, std::size_t at, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return value;
}

} // namespace

std::uint32_t CBlockIndex::BlockLength(std::uint64_t i) const {
  const std::uint64_t start = i * m_nBlockSize;
  if (start >= m_nFileSize) return 0;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(m_nBlockSize, m_nFileSize - start));
}

ChecksumLengths LengthsFor(std::uint64_t fileSize, std::uint32_t blockSize) {
  const std::uint64_t wholeBlocks = blockSize == 0 ? 0 : fileSize / blockSize;
  // Without two whole blocks in a row nothing can be matched two at a time.
  if (wholeBlocks < 2) return kFullLengths;
  const unsigned blockBits = BitsOf(wholeBlocks);
  ChecksumLengths lengths;
  lengths.blocksInRow = 2;
  // A search compares two weak sums (16 bits per byte kept) at each of the source's offsets against
  // each pair of blocks: about one chance hit in all.
  lengths.weakBytes = static_cast<std::uint8_t>(std::clamp((BitsOf(fileSize) + blockBits + 15) / 16, 2u, 4u));
  // A block taken for the next one of a run is compared by both of its sums: 32 bits to spare over
  // the number of blocks.
  const unsigned bothBytes = (blockBits + 32 + 7) / 8;
  lengths.strongBytes = static_cast<std::uint8_t>(
      std::clamp(static_cast<int>(bothBytes) - lengths.weakBytes, 2, 8));
  return lengths;
}

bool CBlockIndex::Holds(std::uint64_t i, const unsigned char* data, CStrongSum& strongSum) const {
  const std::uint32_t length = BlockLength(i);
  const BlockSum& want = m_vecSums[static_cast<std::size_t>(i)];
  if (Weak(WeakSum(data, length)) != want.weak) return false;
  std::uint64_t strong = 0;
  return strongSum.Of(data, length, strong) && Strong(strong) == want.strong;
}

std::string CBlockIndex::Serialize() const {
  const bool full = m_lengths == kFullLengths;
  std::string out(full ? kMagicFull : kMagicLengths);
  const std::size_t sumSize = m_lengths.weakBytes + m_lengths.strongBytes;
  out.reserve(kHeaderSize + kLengthsSize + m_vecSums.size() * sumSize);
  PutLE(out, m_nBlockSize, 4);
  PutLE(out, m_nFileSize, 8);
  if (!full) {
    out.push_back(static_cast<char>(m_lengths.weakBytes));
    out.push_back(static_cast<char>(m_lengths.strongBytes));
    out.push_back(static_cast<char>(m_lengths.blocksInRow));
  }
  for (const BlockSum& sum : m_vecSums) {
    PutLE(out, sum.weak, m_lengths.weakBytes);
    PutLE(out, sum.strong, m_lengths.strongBytes);
  }
  return out;
}

bool CBlockIndex::Parse(std::string_view bytes) {
  if (bytes.size() < kHeaderSize) return false;
  const std::string_view magic = bytes.substr(0, kMagicSize);
  if (magic != kMagicFull && magic != kMagicLengths) return false;
  CBlockIndex read;
  read.m_nBlockSize = static_cast<std::uint32_t>(GetLE(bytes, 8, 4));
  read.m_nFileSize = GetLE(bytes, 12, 8);
  if (read.m_nBlockSize < kSmallestBlock || read.m_nBlockSize > kLargestBlock) return false;
  std::size_t at = kHeaderSize;
  if (magic == kMagicLengths) {
    if (bytes.size() < kHeaderSize + kLengthsSize) return false;
    read.m_lengths = {static_cast<std::uint8_t>(bytes[at]), static_cast<std::uint8_t>(bytes[at + 1]),
                      static_cast<std::uint8_t>(bytes[at + 2])};
    if (!ValidLengths(read.m_lengths)) return false;
    at += kLengthsSize;
  }
  const std::size_t sumSize = read.m_lengths.weakBytes + read.m_lengths.strongBytes;
  const std::uint64_t count = read.BlockCount();
  // The count follows from the file's size: the bytes must hold exactly that many sums.
  if ((bytes.size() - at) % sumSize != 0 || (bytes.size() - at) / sumSize != count) return false;
  read.m_vecSums.resize(static_cast<std::size_t>(count));
  for (BlockSum& sum : read.m_vecSums) {
    sum.weak = static_cast<std::uint32_t>(GetLE(bytes, at, read.m_lengths.weakBytes));
    sum.strong = GetLE(bytes, at + read.m_lengths.weakBytes, read.m_lengths.strongBytes);
    at += sumSize;
  }
  *this = std::move(read);
  return true;
}

void CRollingSum::Reset(const unsigned char* data, std::size_t length) {
  // b weights each byte by its distance from the end, which is the sum of the running sums of a.
  // Taken 32 bytes a step (a fixed weighted sum that compilers turn into vector instructions).
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::size_t i = 0;
  for (; i + 32 <= length; i += 32) {
    std::uint32_t sum = 0;
    std::uint32_t weighted = 0;
    for (std::uint32_t j = 0; j < 32; ++j) {
      sum += data[i + j];
      weighted += (32 - j) * static_cast<std::uint32_t>(data[i + j]);
    }
    b += 32 * a + weighted;
    a += sum;
  }
  for (; i < length; ++i) {
    a += data[i];
    b += a;
  }
  m_a = static_cast<std::uint16_t>(a);
  m_b = static_cast<std::uint16_t>(b);
  m_nLength = static_cast<std::uint32_t>(length);
}

std::uint32_t WeakSum(const unsigned char* data, std::size_t length) {
  CRollingSum sum;
  sum.Reset(data, length);
  return sum.Value();
}

bool CStrongSum::Of(const unsigned char* data, std::size_t length, std::uint64_t& sum) {
  unsigned char digest[32] = {};
  if (!m_hasher.Digest(data, length, digest)) return false;
  sum = 0;
  for (int i = 0; i < 8; ++i) sum |= static_cast<std::uint64_t>(digest[i]) << (8 * i);
  return true;
}

ErrorCode ComputeBlockIndex(std::u16string_view path, std::uint32_t blockSize, CBlockIndex& index,
                            const std::atomic<bool>* running, const ChecksumLengths* lengths) {
  if (blockSize < kSmallestBlock || blockSize > kLargestBlock) return ERROR_INVALID_PARAMETER;
  if (lengths != nullptr && !ValidLengths(*lengths)) return ERROR_INVALID_PARAMETER;
  CFileHandle file;
  if (const ErrorCode code = file.Open(path, OpenMode::ReadExisting); code != ERROR_SUCCESS) return code;
  file.AdviseSequential();
  CBlockIndex made;
  made.m_nBlockSize = blockSize;
  if (const ErrorCode code = file.Size(made.m_nFileSize); code != ERROR_SUCCESS) return code;
  made.m_lengths = lengths != nullptr ? *lengths : LengthsFor(made.m_nFileSize, blockSize);
  made.m_vecSums.reserve(static_cast<std::size_t>(made.BlockCount()));
  // Whole blocks at a time, many per read.
  const std::size_t perRead = std::max<std::size_t>(1, (1024 * 1024) / blockSize);
  std::vector<unsigned char> buffer(perRead * blockSize);
  CStrongSum strong;
  for (;;) {
    if (running != nullptr && !running->load()) return ERROR_OPERATION_ABORTED;
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      std::size_t got = 0;
      if (const ErrorCode code = file.Read(buffer.data() + filled, buffer.size() - filled, got); code != ERROR_SUCCESS)
        return code;
      if (got == 0) break;
      filled += got;
    }
    for (std::size_t at = 0; at < filled; at += blockSize) {
      const std::size_t length = std::min<std::size_t>(blockSize, filled - at);
      BlockSum sum;
      sum.weak = made.Weak(WeakSum(buffer.data() + at, length));
      if (!strong.Of(buffer.data() + at, length, sum.strong)) return ERROR_GEN_FAILURE;
      sum.strong = made.Strong(sum.strong);
      made.m_vecSums.push_back(sum);
    }
    if (filled < buffer.size()) break;
  }
  // A file that changed while it was read has sums for another length.
  if (made.m_vecSums.size() != made.BlockCount()) return ERROR_HANDLE_EOF;
  index = std::move(made);
  return ERROR_SUCCESS;
}

} // namespace blocks
