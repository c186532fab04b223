#pragma once
// Finds, for each block of a file's new version (its index), a place in a source file (the old version)
// that holds the same bytes: every whole block is looked for at every byte offset of the source, as
// the rolling weak checksum allows, and a match is confirmed by the strong checksum.
#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "blocks/BlockIndex.h"
#include "core/ByteRange.h"
#include "platform/ErrorCodes.h"

namespace blocks {

constexpr std::int64_t kNotFound = -1;

struct BlockMatches {
  // Per block of the index: the offset in the source holding its bytes, or kNotFound.
  std::vector<std::int64_t> sourceOffsets;
  std::uint64_t BytesFound(const CBlockIndex& index) const;
};

// Looks for the blocks from firstBlock on (those before it are needed no more) in the source file.
// 0, or the failure's code (ERROR_OPERATION_ABORTED once the flag is cleared).
platform::ErrorCode FindBlocks(const CBlockIndex& index, std::uint64_t firstBlock, std::u16string_view sourcePath,
                               BlockMatches& matches, const std::atomic<bool>* running = nullptr);

// The blocks from firstBlock on that were not found, merged into ranges in the file's order.
std::vector<core::ByteRange> MissingRanges(const CBlockIndex& index, const BlockMatches& matches, std::uint64_t firstBlock);

} // namespace blocks
