#include "blocks/BlockMatch.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/Files.h"

namespace blocks {

using namespace platform;

namespace {

// Blocks looked at ahead, in place, where a run of matching blocks breaks off.
constexpr std::uint64_t kProbes = 16;
constexpr std::uint64_t kNoBlock = ~std::uint64_t{0};

// The places a search looks for: each run of as many whole blocks in a row as the index asks to
// match, by their weak checksums together, with a bitmap in front so that most byte offsets of a
// source that matches nothing cost one bit test.
class CBlockTable {
 public:
  CBlockTable(const CBlockIndex& index, std::uint64_t firstBlock) {
    const std::uint64_t row = index.m_lengths.blocksInRow;
    // About 32 bits per block, so that the bitmap stays in the processor's cache and few chance
    // hits go on to the search.
    const std::uint64_t wanted = (index.BlockCount() - std::min(firstBlock, index.BlockCount())) * 32;
    while (m_nShift > 64 - kMostBits && (std::uint64_t{1} << (64 - m_nShift)) < wanted) --m_nShift;
    m_bits.assign((std::size_t{1} << (64 - m_nShift)) / 64, 0);
    for (std::uint64_t i = firstBlock; i + row <= index.BlockCount(); ++i) {
      // The short last block is looked for apart.
      if (index.BlockLength(i + row - 1) != index.m_nBlockSize) continue;
      std::uint64_t key = 0;
      for (std::uint64_t r = 0; r < row; ++r) key = (key << 32) | index.m_vecSums[static_cast<std::size_t>(i + r)].weak;
      m_entries.emplace_back(key, i);
      m_bits[Bit(key) / 64] |= std::uint64_t{1} << (Bit(key) % 64);
    }
    std::sort(m_entries.begin(), m_entries.end());
  }
  bool MayHold(std::uint64_t key) const { return (m_bits[Bit(key) / 64] >> (Bit(key) % 64)) & 1u; }
  // The first blocks of the runs whose weak checksums are these.
  std::pair<const std::pair<std::uint64_t, std::uint64_t>*, const std::pair<std::uint64_t, std::uint64_t>*> With(
      std::uint64_t key) const {
    const auto from = std::lower_bound(m_entries.begin(), m_entries.end(), std::make_pair(key, std::uint64_t{0}));
    auto to = from;
    while (to != m_entries.end() && to->first == key) ++to;
    return {m_entries.data() + (from - m_entries.begin()), m_entries.data() + (to - m_entries.begin())};
  }
  bool Empty() const { return m_entries.empty(); }

 private:
  static constexpr unsigned kMostBits = 24;
  std::uint64_t Bit(std::uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> m_nShift; }
  unsigned m_nShift = 64 - 16;  // the bitmap holds 2^(64 - shift) bits
  std::vector<std::pair<std::uint64_t, std::uint64_t>> m_entries;
  std::vector<std::uint64_t> m_bits;
};

// Looks for the short last block where it most likely stands: at its own offset, and at the source's end.
ErrorCode FindLastShortBlock(const CBlockIndex& index, CFileHandle& source, std::uint64_t sourceSize,
                             CStrongSum& strongSum, BlockMatches& matches) {
  const std::uint64_t last = index.BlockCount() - 1;
  const std::uint32_t length = index.BlockLength(last);
  if (length == index.m_nBlockSize || length == 0 || sourceSize < length) return ERROR_SUCCESS;
  std::vector<unsigned char> bytes(length);
  for (const std::uint64_t at : {last * index.m_nBlockSize, sourceSize - length}) {
    if (at + length > sourceSize) continue;
    std::size_t got = 0;
    if (const ErrorCode code = source.ReadAt(bytes.data(), length, at, got); code != ERROR_SUCCESS) return code;
    if (got == length && index.Holds(last, bytes.data(), strongSum)) {
      matches.sourceOffsets[static_cast<std::size_t>(last)] = static_cast<std::int64_t>(at);
      break;
    }
  }
  return ERROR_SUCCESS;
}

} // namespace

std::uint64_t BlockMatches::BytesFound(const CBlockIndex& index) const {
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < sourceOffsets.size(); ++i)
    if (sourceOffsets[i] != kNotFound) bytes += index.BlockLength(i);
  return bytes;
}

ErrorCode FindBlocks(const CBlockIndex& index, std::uint64_t firstBlock, std::u16string_view sourcePath,
                     BlockMatches& matches, const std::atomic<bool>* running) {
  matches.sourceOffsets.assign(static_cast<std::size_t>(index.BlockCount()), kNotFound);
  if (firstBlock >= index.BlockCount()) return ERROR_SUCCESS;
  CFileHandle source;
  if (const ErrorCode code = source.Open(sourcePath, OpenMode::ReadExisting); code != ERROR_SUCCESS) return code;
  source.AdviseSequential();
  std::uint64_t sourceSize = 0;
  if (const ErrorCode code = source.Size(sourceSize); code != ERROR_SUCCESS) return code;
  CStrongSum strongSum;
  if (const ErrorCode code = FindLastShortBlock(index, source, sourceSize, strongSum, matches); code != ERROR_SUCCESS)
    return code;

  const CBlockTable table(index, firstBlock);
  const std::size_t block = index.m_nBlockSize;
  const std::size_t row = index.m_lengths.blocksInRow;
  const std::size_t span = row * block;  // the bytes a search compares at each offset
  const std::uint64_t count = index.BlockCount();
  if (table.Empty() || sourceSize < block) return ERROR_SUCCESS;
  // A window of the source: bytes [bufferStart, bufferStart + filled). Refilled by moving what is
  // still needed to the front; p never goes back.
  std::vector<unsigned char> buffer(std::max<std::size_t>(4 * 1024 * 1024, 4 * span));
  std::uint64_t bufferStart = 0;
  std::size_t filled = 0;
  // Makes bytes [p, p + need) available when the source has them; false at its end.
  const auto ensure = [&](std::uint64_t p, std::size_t need, ErrorCode& error) {
    if (p + need <= bufferStart + filled) return true;
    // What the buffer holds from p on moves to its front (nothing when p lies beyond it).
    const std::size_t keep = p < bufferStart + filled ? static_cast<std::size_t>(bufferStart + filled - p) : 0;
    if (keep > 0) std::memmove(buffer.data(), buffer.data() + (p - bufferStart), keep);
    bufferStart = p;
    filled = keep;
    while (filled < buffer.size()) {
      std::size_t got = 0;
      error = source.ReadAt(buffer.data() + filled, buffer.size() - filled, bufferStart + filled, got);
      if (error != ERROR_SUCCESS) return false;
      if (got == 0) break;
      filled += got;
    }
    return p + need <= bufferStart + filled;
  };
  const auto mark = [&](std::uint64_t i, std::uint64_t at) {
    std::int64_t& offset = matches.sourceOffsets[static_cast<std::size_t>(i)];
    if (offset == kNotFound) offset = static_cast<std::int64_t>(at);
  };
  // Whether whole block i lies at these bytes.
  const auto holds = [&](std::uint64_t i, const unsigned char* bytes) {
    return i < count && index.BlockLength(i) == block && index.Holds(i, bytes, strongSum);
  };

  // Marks the runs of blocks whose bytes the window at p holds; `last` is the last block of one.
  const auto matchAt = [&](const unsigned char* window, std::uint64_t p, std::uint64_t key, std::uint64_t& last) {
    last = kNoBlock;
    if (!table.MayHold(key)) return true;
    const auto [from, to] = table.With(key);
    std::uint64_t strong[2] = {};
    bool summed[2] = {false, false};
    for (auto it = from; it != to; ++it) {
      bool all = true;
      for (std::size_t r = 0; r < row && all; ++r) {
        if (!summed[r] && !strongSum.Of(window + r * block, block, strong[r])) return false;
        summed[r] = true;
        all = index.Strong(strong[r]) == index.m_vecSums[static_cast<std::size_t>(it->second + r)].strong;
      }
      if (!all) continue;
      for (std::size_t r = 0; r < row; ++r) mark(it->second + r, p + r * block);
      last = it->second + row - 1;
    }
    return true;
  };

  CRollingSum rolling[2];
  bool rollingValid = false;
  std::uint64_t next = kNoBlock;  // after a match: the block that most likely follows it
  std::vector<unsigned char> probe(block);
  std::uint64_t p = 0;
  std::uint64_t checked = 0;  // bytes since the stop flag was looked at
  ErrorCode error = ERROR_SUCCESS;
  const auto failed = [&] { return error != ERROR_SUCCESS ? error : ERROR_HANDLE_EOF; };
  while (p + block <= sourceSize) {
    if (++checked >= 64 * 1024) {
      checked = 0;
      if (running != nullptr && !running->load()) return ERROR_OPERATION_ABORTED;
    }
    if (next != kNoBlock) {
      // A run of blocks goes on: one block is looked at, whole, where it most likely stands.
      if (!ensure(p, block, error)) return failed();
      if (holds(next, buffer.data() + (p - bufferStart))) {
        mark(next++, p);
        p += block;
        checked += block;
        continue;
      }
      // The run broke off: most changes replace bytes in place, so the run likely goes on a few
      // blocks later. Looking there first spares rolling through the changed bytes.
      bool found = false;
      for (std::uint64_t k = 1; k <= kProbes && next + k < count && p + (k + 1) * block <= sourceSize; ++k) {
        std::size_t got = 0;
        error = source.ReadAt(probe.data(), block, p + k * block, got);
        if (error != ERROR_SUCCESS) return error;
        if (got != block) break;
        if (holds(next + k, probe.data())) {
          mark(next + k, p + k * block);
          next += k + 1;
          p += (k + 1) * block;
          checked += (k + 1) * block;
          found = true;
          break;
        }
      }
      if (found) continue;
      next = kNoBlock;
      rollingValid = false;
    }
    if (p + span > sourceSize) break;
    // The window and the byte after it, for the roll.
    if (!ensure(p, span + (p + span < sourceSize ? 1 : 0), error)) return failed();
    const unsigned char* window = buffer.data() + (p - bufferStart);
    if (!rollingValid) {
      for (std::size_t r = 0; r < row; ++r) rolling[r].Reset(window + r * block, block);
      rollingValid = true;
    }
    const auto keyNow = [&] {
      std::uint64_t key = 0;
      for (std::size_t r = 0; r < row; ++r) key = (key << 32) | index.Weak(rolling[r].Value());
      return key;
    };
    // Most offsets match nothing: roll on through what the buffer holds while the bitmap says so.
    {
      const std::uint64_t end = std::min(bufferStart + filled, sourceSize);
      const std::uint64_t rollable = end > p + span ? std::min<std::uint64_t>(end - p - span, 64 * 1024) : 0;
      std::uint64_t rolled = 0;
      while (rolled < rollable && !table.MayHold(keyNow())) {
        for (std::size_t r = 0; r < row; ++r) rolling[r].Roll(window[r * block], window[(r + 1) * block]);
        ++window;
        ++rolled;
      }
      p += rolled;
      checked += rolled;
      if (p + span > sourceSize) break;
      if (!ensure(p, span + (p + span < sourceSize ? 1 : 0), error)) return failed();
      window = buffer.data() + (p - bufferStart);
    }
    const std::uint64_t key = keyNow();
    std::uint64_t last = kNoBlock;
    if (!matchAt(window, p, key, last)) return ERROR_GEN_FAILURE;
    if (last != kNoBlock) {
      next = last + 1;
      p += span;
      checked += span;
      rollingValid = false;
      continue;
    }
    if (p + span >= sourceSize) break;
    for (std::size_t r = 0; r < row; ++r) rolling[r].Roll(window[r * block], window[(r + 1) * block]);
    ++p;
  }
  return ERROR_SUCCESS;
}

std::vector<core::ByteRange> MissingRanges(const CBlockIndex& index, const BlockMatches& matches, std::uint64_t firstBlock) {
  std::vector<core::ByteRange> ranges;
  for (std::uint64_t i = firstBlock; i < index.BlockCount(); ++i) {
    if (i < matches.sourceOffsets.size() && matches.sourceOffsets[static_cast<std::size_t>(i)] != kNotFound) continue;
    const std::uint64_t start = i * index.m_nBlockSize;
    const std::uint64_t end = start + index.BlockLength(i);
    if (!ranges.empty() && ranges.back().end == start) ranges.back().end = end;
    else ranges.push_back(core::ByteRange{start, end});
  }
  return ranges;
}

} // namespace blocks
