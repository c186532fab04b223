#pragma once
// What to do with one list entry, judged from the file already at its local path: keep it (it is
// valid), resume it with a Range request, fetch it from the start, or refuse to touch it.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/Log.h"
#include "platform/ErrorCodes.h"

namespace download {

enum class EntryAction { Verified, Resume, Download, Refuse };

// The local file as its attributes show it (never by opening it).
struct LocalFileState {
  bool exists = false;
  bool regular = true;                   // a regular file, not a folder, FIFO or device
  platform::ErrorCode sizeError = 0;     // 0 when size holds the file's size
  std::uint64_t size = 0;
};

struct EntryDecision {
  EntryAction action = EntryAction::Download;
  std::uint64_t resumeFrom = 0;          // for Resume: the bytes already there
  std::uint16_t logLevel = core::LOG_INFO;
  std::u16string_view logFormat;         // empty: nothing to log
  bool logWithCode = false;              // the format takes `code` for its "(%ld)"
  platform::ErrorCode code = 0;          // Refuse: the failure's code; else the checksum failure's
};

// The decision table. `sentWholeBefore`: this entry already arrived whole in this run and did not
// match, so a shorter file is the server's whole answer and is fetched again rather than resumed.
// `checksum` computes the local file's digest text; it is asked only when the sizes agree.
EntryDecision DecideEntry(const LocalFileState& local, std::uint64_t listedSize, std::u16string_view listedChecksum,
                          bool sentWholeBefore, const std::function<platform::ErrorCode(std::u16string&)>& checksum);

// Whether the entry's bytes come by a patch of its file rather than as the decision says: the list
// has a block index for it, the decision is to fetch (the file is not valid), the file is a regular
// file with bytes to reuse, no whole transfer of it failed in this run (a patch that built a wrong
// file is not tried twice), and no listed file bears the names of the patch's own files.
bool ShouldPatch(const EntryDecision& decision, const LocalFileState& local, bool listedIndex, bool sentWholeBefore,
                 bool helperNamesFree);

} // namespace download
