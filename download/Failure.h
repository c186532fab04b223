#pragma once
// A failed step of a run as a value: what kind of trouble it is, its code and the file it concerns.
// Whoever meets it returns it; the worker alone turns it into the log line and the user's message
// (WordsOf), so a request that another server can still answer fails quietly.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace net {
class CHttpClient;
}

namespace download {

enum class FailureKind {
  Stopped,   // the user stopped the run: nothing to report
  Server,    // the server answered, but not with what was asked (a status, a wrong length)
  Network,   // no answer, or the answer broke off (refused, reset, timed out)
  Local,     // this machine's trouble: a file that cannot be made or written, no memory
  Slow,      // no failure: one stream is too slow for this file, which goes on in segments
};

// The step that failed, which decides the words.
enum class FailureStep {
  Connect,   // asking for a file
  Receive,   // reading a file's body into it
  Write,     // writing a file built here (a patch)
  Create,    // creating or opening a file
  Record,    // handing a record to the window
  Checksum,  // taking the digest of a file that arrived
};

struct Failure {
  FailureKind kind = FailureKind::Network;
  FailureStep step = FailureStep::Connect;
  platform::ErrorCode code = 0;   // a Windows or WinINet code, or the refused HTTP status
  std::int32_t status = 0;        // the HTTP status the server answered, if any
  std::u16string path;            // the local file it concerns, if any

  static Failure Stop() { return Of(FailureKind::Stopped, FailureStep::Connect); }
  // The client's request failed: a refused status is the server's, anything else the network's.
  static Failure Connect(const net::CHttpClient& client);
  // The server answered with something that is not the file asked for.
  static Failure BadAnswer(std::int32_t status = 0);
  // Reading a body failed: a code below WinINet's range is the local file's (it names the path).
  static Failure Receive(platform::ErrorCode code, std::u16string_view localPath);
  static Failure Write(platform::ErrorCode code, std::u16string_view path);
  static Failure Create(platform::ErrorCode code, std::u16string_view path);
  static Failure NoRecord() { return Of(FailureKind::Local, FailureStep::Record); }
  static Failure TooSlow() { return Of(FailureKind::Slow, FailureStep::Receive); }
  static Failure Checksum(platform::ErrorCode code) { return Of(FailureKind::Local, FailureStep::Checksum, code); }
  static Failure Of(FailureKind kind, FailureStep step, platform::ErrorCode code = 0, std::u16string_view path = {}) {
    Failure failure;
    failure.kind = kind;
    failure.step = step;
    failure.code = code;
    failure.path = std::u16string(path);
    return failure;
  }

  bool Stopped() const { return kind == FailureKind::Stopped; }
  // Another server may well answer what this one did not.
  bool ServerOrNetwork() const { return kind == FailureKind::Server || kind == FailureKind::Network; }
  // 503 or 429: the server wants fewer requests.
  bool Busy() const { return status == 503 || status == 429; }
};

// How a failure reads: the log line's format (its "(%ld)" takes the code; empty: no line), the
// message's string id and whether the message shows the code.
struct FailureWords {
  std::u16string_view logFormat;
  unsigned messageId = 0;
  bool messageWithCode = false;
};
FailureWords WordsOf(const Failure& failure);

} // namespace download
