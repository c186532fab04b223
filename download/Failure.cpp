#include "download/Failure.h"

#include "core/StringTable.h"
#include "net/HttpClient.h"

namespace download {

using namespace platform;

Failure Failure::Connect(const net::CHttpClient& client) {
  Failure failure;
  failure.step = FailureStep::Connect;
  failure.status = client.LastError() == ERROR_SUCCESS ? client.StatusCode() : 0;
  failure.kind = failure.status != 0 ? FailureKind::Server : FailureKind::Network;
  failure.code = client.FailureCode();
  return failure;
}

Failure Failure::BadAnswer(std::int32_t status) {
  Failure failure;
  failure.kind = FailureKind::Server;
  failure.step = FailureStep::Connect;
  failure.code = ERROR_HTTP_INVALID_SERVER_RESPONSE;
  failure.status = status;
  return failure;
}

Failure Failure::Receive(ErrorCode code, std::u16string_view localPath) {
  Failure failure;
  failure.step = FailureStep::Receive;
  failure.code = code;
  // The file's own trouble (a write that failed) names the file; the network's has no path.
  if (code < ERROR_INTERNET_OUT_OF_HANDLES) {
    failure.kind = FailureKind::Local;
    failure.path = std::u16string(localPath);
  } else {
    failure.kind = code == ERROR_HTTP_INVALID_SERVER_RESPONSE ? FailureKind::Server : FailureKind::Network;
  }
  return failure;
}

Failure Failure::Write(ErrorCode code, std::u16string_view path) {
  return Of(FailureKind::Local, FailureStep::Write, code, path);
}

Failure Failure::Create(ErrorCode code, std::u16string_view path) {
  return Of(FailureKind::Local, FailureStep::Create, code, path);
}

FailureWords WordsOf(const Failure& failure) {
  switch (failure.step) {
    case FailureStep::Connect:
      return {u"failed to connect server - (%ld)", core::IDS_CANNOT_REACH_SERVER, true};
    case FailureStep::Receive:
      // A full disk is no network trouble: say so.
      if (failure.code == ERROR_DISK_FULL) return {u"failed to download file - (%ld)", core::IDS_INSUFFICIENT_SPACE, false};
      return {u"failed to download file - (%ld)", core::IDS_NETWORK_UNSTABLE, true};
    case FailureStep::Write:
      if (failure.code == ERROR_DISK_FULL) return {u"failed to download file - (%ld)", core::IDS_INSUFFICIENT_SPACE, false};
      return {u"failed to download file - (%ld)", core::IDS_FILE_CREATE_FAILED, true};
    case FailureStep::Create:
      return {u"failed to create(open) file - (%ld)", core::IDS_FILE_CREATE_FAILED, true};
    case FailureStep::Record:
      return {u"", core::IDS_NO_MEMORY_MESSAGE, false};
    case FailureStep::Checksum:
      return {u"(100%%) failed to get file checksum - (%ld)", core::IDS_CHECKSUM_FAILED, false};
  }
  return {};
}

} // namespace download
