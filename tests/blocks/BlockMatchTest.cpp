#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blocks/BlockIndex.h"
#include "blocks/BlockMatch.h"
#include "platform/Utf.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

using namespace blocks;
using testsupport::Pattern;
using testsupport::TempDir;

constexpr std::uint32_t kBlock = 256;

CBlockIndex IndexOf(const TempDir& dir, const std::string& bytes, std::uint32_t blockSize = kBlock,
                    const ChecksumLengths* lengths = nullptr) {
  const auto path = dir.path() / "indexed";
  testsupport::WriteBytes(path, bytes);
  CBlockIndex index;
  EXPECT_EQ(ComputeBlockIndex(platform::WidenUtf8(path.u8string()), blockSize, index, nullptr, lengths), 0u);
  return index;
}

// The new version as a patch builds it: found blocks from the old bytes, the missing ranges from
// the new ones; and the number of bytes that had to be fetched.
std::string Rebuild(const CBlockIndex& index, const BlockMatches& matches, const std::string& old,
                    const std::string& fresh, std::uint64_t& fetched) {
  std::string built;
  fetched = 0;
  for (const core::ByteRange& range : MissingRanges(index, matches, 0)) fetched += range.end - range.start;
  for (std::uint64_t i = 0; i < index.BlockCount(); ++i) {
    const std::int64_t at = matches.sourceOffsets[static_cast<std::size_t>(i)];
    built += at == kNotFound ? fresh.substr(i * index.m_nBlockSize, index.BlockLength(i))
                             : old.substr(static_cast<std::size_t>(at), index.BlockLength(i));
  }
  return built;
}

// Each kind of change between an old and a new version: every block the old file holds anywhere is
// found, the new file is rebuilt exactly, and only about the changed bytes are fetched; with whole
// checksums matched one block at a time, and with the short ones chosen for the size, two in a row.
TEST(BlockMatch, FindsWhatTheOldVersionHoldsWhateverMoved) {
  const std::string old = Pattern(64 * 1024, 1);
  const std::string other = Pattern(8 * 1024, 2);
  std::string changed = old;
  changed.replace(5000, 10, other.substr(0, 10));
  std::string inserted = old;
  inserted.insert(3000, other.substr(0, 100));
  std::string removed = old;
  removed.erase(7000, 300);
  std::string reordered = old.substr(32 * 1024) + old.substr(0, 32 * 1024);
  const struct {
    const char* name;
    std::string fresh;
    std::uint64_t mostFetched;
  } rows[] = {
      {"unchanged", old, 0},
      {"ten bytes changed in place", changed, kBlock},
      {"100 bytes inserted", inserted, 2 * kBlock},
      {"300 bytes removed", removed, 2 * kBlock},
      {"truncated within a block", old.substr(0, 50000), 0},
      {"extended by 1000 bytes", old + other.substr(0, 1000), 1000 + kBlock},
      {"halves swapped", reordered, 0},
      {"nothing in common", Pattern(64 * 1024, 3), 64 * 1024},
      {"one byte", std::string(1, old[0]), 1},
  };
  TempDir dir;
  const auto oldPath = dir.path() / "old";
  testsupport::WriteBytes(oldPath, old);
  for (const bool whole : {true, false}) {
    for (const auto& row : rows) {
      const CBlockIndex index = IndexOf(dir, row.fresh, kBlock, whole ? &kFullLengths : nullptr);
      const std::string name = std::string(row.name) + (whole ? ", whole checksums" : ", short checksums");
      BlockMatches matches;
      ASSERT_EQ(FindBlocks(index, 0, platform::WidenUtf8(oldPath.u8string()), matches), 0u) << name;
      std::uint64_t fetched = 0;
      EXPECT_EQ(Rebuild(index, matches, old, row.fresh, fetched), row.fresh) << name;
      EXPECT_LE(fetched, row.mostFetched) << name;
      EXPECT_EQ(fetched + matches.BytesFound(index), row.fresh.size()) << name;
    }
  }
}

TEST(BlockMatch, BlocksBeforeTheFirstWantedAreNotLookedFor) {
  TempDir dir;
  const std::string bytes = Pattern(10 * kBlock, 4);
  const CBlockIndex index = IndexOf(dir, bytes);
  const auto oldPath = dir.path() / "old";
  testsupport::WriteBytes(oldPath, bytes);
  BlockMatches matches;
  ASSERT_EQ(FindBlocks(index, 6, platform::WidenUtf8(oldPath.u8string()), matches), 0u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(matches.sourceOffsets[i] != kNotFound, i >= 6) << i;
  EXPECT_TRUE(MissingRanges(index, matches, 6).empty());
  const std::vector<core::ByteRange> fromStart = MissingRanges(index, BlockMatches{std::vector<std::int64_t>(10, kNotFound)}, 2);
  ASSERT_EQ(fromStart.size(), 1u);
  EXPECT_EQ(fromStart[0], (core::ByteRange{2 * kBlock, 10 * kBlock})) << "missing blocks next to each other are one range";
}

// Both formats are read back as written: whole checksums (the first format, still served by older
// publishers) and the short ones for the file's size, which cost a fraction of the bytes.
TEST(BlockIndex, StoredBytesRoundTripAndDamageIsRefused) {
  TempDir dir;
  const std::string file = Pattern(3 * 4096 + 5, 5);
  const CBlockIndex whole = IndexOf(dir, file, 4096, &kFullLengths);
  const CBlockIndex shortSums = IndexOf(dir, file, 4096);
  ASSERT_EQ(whole.BlockCount(), 4u);
  EXPECT_EQ(whole.BlockLength(3), 5u);
  EXPECT_EQ(whole.Serialize().substr(0, 8), "VLDBLK01");
  EXPECT_LT(shortSums.Serialize().size(), whole.Serialize().size() / 2 + 16);
  for (const CBlockIndex* index : {&whole, &shortSums}) {
    const std::string bytes = index->Serialize();
    CBlockIndex read;
    ASSERT_TRUE(read.Parse(bytes));
    EXPECT_EQ(read.m_nBlockSize, 4096u);
    EXPECT_EQ(read.m_nFileSize, index->m_nFileSize);
    EXPECT_EQ(read.m_lengths, index->m_lengths);
    EXPECT_EQ(read.m_vecSums, index->m_vecSums);
  }
  const std::string bytes = shortSums.Serialize();
  std::string otherMagic = bytes;
  otherMagic[0] = 'X';
  std::string tinyBlocks = bytes;
  tinyBlocks[8] = 16;  // a block size of 16 bytes, below the smallest taken
  tinyBlocks[9] = 0;
  std::string longWeak = bytes;
  longWeak[20] = 5;  // weak sums are at most 4 bytes
  std::string threeInRow = bytes;
  threeInRow[22] = 3;
  const struct {
    const char* name;
    std::string bytes;
  } damaged[] = {
      {"empty", ""},
      {"another format", otherMagic},
      {"no lengths", bytes.substr(0, 21)},
      {"a sum cut off", bytes.substr(0, bytes.size() - 1)},
      {"a sum too many", bytes + std::string(shortSums.m_lengths.weakBytes + shortSums.m_lengths.strongBytes, '\0')},
      {"a block size out of range", tinyBlocks},
      {"a weak sum too long", longWeak},
      {"three blocks in a row", threeInRow},
  };
  for (const auto& row : damaged) {
    CBlockIndex untouched = whole;
    EXPECT_FALSE(untouched.Parse(row.bytes)) << row.name;
    EXPECT_EQ(untouched.m_vecSums, whole.m_vecSums) << row.name << ": a refused index changes nothing";
  }
}

TEST(RollingSum, RollingEqualsComputingAfresh) {
  const std::string bytes = Pattern(4096, 6);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  CRollingSum rolling;
  rolling.Reset(data, 512);
  for (std::size_t at = 1; at + 512 <= bytes.size(); ++at) {
    rolling.Roll(data[at - 1], data[at + 511]);
    ASSERT_EQ(rolling.Value(), WeakSum(data + at, 512)) << at;
  }
}

} // namespace
