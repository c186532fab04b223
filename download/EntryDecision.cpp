#include "download/EntryDecision.h"

#include "download/Md5.h"

namespace download {

using core::LOG_ERROR;
using core::LOG_INFO;
using core::LOG_WARNING;
using namespace platform;

namespace {

EntryDecision Make(EntryAction action, std::uint16_t level, std::u16string_view format) {
  EntryDecision decision;
  decision.action = action;
  decision.logLevel = level;
  decision.logFormat = format;
  return decision;
}

} // namespace

EntryDecision DecideEntry(const LocalFileState& local, std::uint64_t listedSize, std::u16string_view listedChecksum,
                          bool sentWholeBefore, const std::function<ErrorCode(std::u16string&)>& checksum) {
  if (!local.exists) return Make(EntryAction::Download, LOG_INFO, {});
  if (!local.regular) {
    // A folder, FIFO or device where the file belongs: never read, write or remove it.
    EntryDecision refuse =
        Make(EntryAction::Refuse, LOG_ERROR, u"local path is not a regular file so download stop - (%ld)");
    refuse.logWithCode = true;
    refuse.code = ERROR_ACCESS_DENIED;
    return refuse;
  }
  if (local.sizeError != ERROR_SUCCESS)
    return Make(EntryAction::Download, LOG_ERROR, u"failed to get file size so re-download");
  if (local.size < listedSize && !sentWholeBefore) {
    EntryDecision resume = Make(EntryAction::Resume, LOG_INFO, u"file download relay mode");
    resume.resumeFrom = local.size;
    return resume;
  }
  // The server sent this file whole a moment ago: resuming it would only ask past its end.
  if (local.size < listedSize) return Make(EntryAction::Download, LOG_WARNING, u"local file is smaller so re-download");
  if (local.size > listedSize) return Make(EntryAction::Download, LOG_WARNING, u"local file is bigger so re-download");
  std::u16string text;
  const ErrorCode code = checksum(text);
  // A stop during the checksum: the run ends before any transfer.
  if (code == CHECKSUM_STOPPED) return Make(EntryAction::Download, LOG_INFO, {});
  if (code != ERROR_SUCCESS) {
    EntryDecision failed = Make(EntryAction::Download, LOG_ERROR, u"failed to get file checksum so re-download - (%ld)");
    failed.logWithCode = true;
    failed.code = code;
    return failed;
  }
  if (text == listedChecksum) return Make(EntryAction::Verified, LOG_INFO, u"file checksum is valid so download skip");
  return Make(EntryAction::Download, LOG_WARNING, u"invalid file checksum so re-download");
}

bool ShouldPatch(const EntryDecision& decision, const LocalFileState& local, bool listedIndex, bool sentWholeBefore,
                 bool helperNamesFree) {
  const bool fetching = decision.action == EntryAction::Download || decision.action == EntryAction::Resume;
  return listedIndex && fetching && local.exists && local.regular && local.sizeError == 0 && local.size > 0 &&
         !sentWholeBefore && helperNamesFree;
}

} // namespace download
