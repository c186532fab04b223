#pragma once
// Everything the download worker takes from outside itself, in one place: the clock, the free space
// of a folder, the HTTP client of a run, where the bodies it fetches go, and where its records go. The program uses the real ones;
// tests put exact stand-ins here (a fixed clock, a chosen free space, a client with a short time-out).
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "download/Messages.h"
#include "net/HttpClient.h"

namespace download {

// Every member is called on the worker's thread, during a run (none of them may touch the window).
struct WorkerMediator {
  // The millisecond tick (32-bit, wrapping). Worker's thread.
  std::function<std::uint32_t()> tick;
  // Free bytes of the file system holding the folder; 0 when unknown. Worker's thread.
  std::function<std::uint64_t(std::u16string_view folder)> freeSpace;
  // A new client for one of a run's connections; null when none can be made. Worker's thread, once
  // per connection (the worker's own, and those that fetch files ahead).
  std::function<std::unique_ptr<net::CHttpClient>()> httpClient;
  // Where a run's bodies go: a new sink that writes the entries' files; null when none can be made.
  // Worker's thread, once per run.
  std::function<std::unique_ptr<net::IBodySink>()> fileSink;
  // Hands a record to the target; false when the target is gone. Worker's thread: it must only
  // queue the record for the window's thread.
  std::function<bool(TargetHandle target, std::uint32_t message, std::unique_ptr<MessageRecord> record)> post;
};

// The real clock, free space, a client with the given time-out, the file sink, and posting to
// registered targets.
WorkerMediator DefaultWorkerMediator(std::uint32_t httpTimeoutMs = net::kDefaultTimeoutMs);

} // namespace download
