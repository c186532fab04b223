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

// The whole blocks looked for, by weak checksum, with a bitmap in front so that most byte offsets of
// a source that matches nothing cost one bit test.
class CBlockTable {
 public:
  CBlockTable(const CBlockIndex& index, std::uint64_t firstBlock) : m_bits(kBits / 64, 0) {
    for (std::uint64_t i = firstBlock; i < index.BlockCount(); ++i) {
      if (index.BlockLength(i) != index.m_nBlockSize) continue;  // the short last block is looked for apart
      const std::uint32_t weak = index.m_vecSums[static_cast<std::size_t>(i)].weak;
      m_entries.emplace_back(weak, i);
      m_bits[Bit(weak) / 64] |= std::uint64_t{1} << (Bit(weak) % 64);
    }
    std::sort(m_entries.begin(), m_entries.end());
  }
  bool MayHold(std::uint32_t weak) const { return (m_bits[Bit(weak) / 64] >> (Bit(weak) % 64)) & 1u; }
  // The blocks whose weak checksum is this one.
  std::pair<const std::pair<std::uint32_t, std::uint64_t>*, const std::pair<std::uint32_t, std::uint64_t>*> With(
      std::uint32_t weak) const {
    const auto from = std::lower_bound(m_entries.begin(), m_entries.end(), std::make_pair(weak, std::uint64_t{0}));
    auto to = from;
    while (to != m_entries.end() && to->first == weak) ++to;
    return {m_entries.data() + (from - m_entries.begin()), m_entries.data() + (to - m_entries.begin())};
  }
  bool Empty() const { return m_entries.empty(); }

 private:
  static constexpr std::uint32_t kBits = 1u << 24;
  static std::uint32_t Bit(std::uint32_t weak) { return (weak * 2654435761u) >> 8; }
  std::vector<std::pair<std::uint32_t, std::uint64_t>> m_entries;
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
    if (got != length) continue;
    std::uint64_t strong = 0;
    if (WeakSum(bytes.data(), length) != index.m_vecSums[static_cast<std::size_t>(last)].weak) continue;
    if (!strongSum.Of(bytes.data(), length, strong)) return ERROR_GEN_FAILURE;
    if (strong == index.m_vecSums[static_cast<std::size_t>(last)].strong) {
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
  if (table.Empty() || sourceSize < block) return ERROR_SUCCESS;
  // A window of the source: bytes [bufferStart, bufferStart + filled). Refilled by moving what is
  // still needed to the front; p never goes back.
  std::vector<unsigned char> buffer(std::max<std::size_t>(4 * 1024 * 1024, 4 * block));
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

  // Marks the blocks whose bytes the window at p holds; true when there is one.
  const auto matchAt = [&](const unsigned char* window, std::uint64_t p, std::uint32_t weak, bool& matched) {
    matched = false;
    if (!table.MayHold(weak)) return true;
    const auto [from, to] = table.With(weak);
    if (from == to) return true;
    std::uint64_t strong = 0;
    if (!strongSum.Of(window, block, strong)) return false;
    for (auto it = from; it != to; ++it) {
      if (index.m_vecSums[static_cast<std::size_t>(it->second)].strong != strong) continue;
      matched = true;
      std::int64_t& offset = matches.sourceOffsets[static_cast<std::size_t>(it->second)];
      if (offset == kNotFound) offset = static_cast<std::int64_t>(p);
    }
    return true;
  };

  CRollingSum rolling;
  bool rollingValid = false;
  bool afterMatch = false;  // p follows a block that matched
  std::vector<unsigned char> probe(block);
  std::uint64_t p = 0;
  std::uint64_t checked = 0;  // bytes since the stop flag was looked at
  ErrorCode error = ERROR_SUCCESS;
  while (p + block <= sourceSize) {
    if (++checked >= 64 * 1024) {
      checked = 0;
      if (running != nullptr && !running->load()) return ERROR_OPERATION_ABORTED;
    }
    // The window and the byte after it, for the roll.
    if (!ensure(p, block + (p + block < sourceSize ? 1 : 0), error)) return error != ERROR_SUCCESS ? error : ERROR_HANDLE_EOF;
    const unsigned char* const window = buffer.data() + (p - bufferStart);
    if (!rollingValid) {
      rolling.Reset(window, block);
      rollingValid = true;
    }
    bool matched = false;
    if (!matchAt(window, p, rolling.Value(), matched)) return ERROR_GEN_FAILURE;
    if (matched) {
      // The next block most likely follows this one: look there next, whole.
      p += block;
      rollingValid = false;
      afterMatch = true;
      checked += block;
      continue;
    }
    if (afterMatch) {
      // A run of blocks in place broke off: most changes replace bytes in place, so the run likely
      // goes on a few blocks later. Looking there first spares rolling through the changed bytes.
      afterMatch = false;
      bool found = false;
      for (std::uint64_t k = 1; k <= kProbes && p + (k + 1) * block <= sourceSize && !found; ++k) {
        std::size_t got = 0;
        error = source.ReadAt(probe.data(), block, p + k * block, got);
        if (error != ERROR_SUCCESS) return error;
        if (got != block) break;
        if (!matchAt(probe.data(), p + k * block, WeakSum(probe.data(), block), found)) return ERROR_GEN_FAILURE;
        if (found) {
          p += (k + 1) * block;
          rollingValid = false;
          afterMatch = true;
          checked += (k + 1) * block;
        }
      }
      if (found) continue;
    }
    if (p + block >= sourceSize) break;
    rolling.Roll(window[0], window[block]);
    ++p;
  }
  return ERROR_SUCCESS;
}

std::vector<ByteRange> MissingRanges(const CBlockIndex& index, const BlockMatches& matches, std::uint64_t firstBlock) {
  std::vector<ByteRange> ranges;
  for (std::uint64_t i = firstBlock; i < index.BlockCount(); ++i) {
    if (i < matches.sourceOffsets.size() && matches.sourceOffsets[static_cast<std::size_t>(i)] != kNotFound) continue;
    const std::uint64_t start = i * index.m_nBlockSize;
    const std::uint64_t end = start + index.BlockLength(i);
    if (!ranges.empty() && ranges.back().end == start) ranges.back().end = end;
    else ranges.push_back(ByteRange{start, end});
  }
  return ranges;
}

} // namespace blocks
