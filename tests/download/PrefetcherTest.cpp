#include "download/Prefetcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/Wininet.h"
#include "platform/Clock.h"
#include "platform/Utf.h"
#include "support/FaultServer.h"
#include "support/TestData.h"

namespace {

using download::CPrefetcher;
using testsupport::FaultServer;
using testsupport::FaultScript;

// A long list walked in order while bodies are fetched ahead: every body taken is the entry's own,
// and what is held or in flight never passes the budget, however long the list.
TEST(Prefetcher, ALongListHoldsNoMoreThanItsBudget) {
  constexpr std::uint32_t kEntries = 10000;
  constexpr std::size_t kSize = 2048;
  constexpr std::uint64_t kBudget = 32 * kSize;
  FaultServer server;
  std::vector<CPrefetcher::Job> jobs;
  std::vector<std::string> bodies;
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    const std::string path = "/f/" + std::to_string(i);
    FaultScript script;
    script.body = testsupport::Pattern(kSize, i + 1);
    bodies.push_back(script.body);
    server.Script(path, std::move(script));
    jobs.push_back(CPrefetcher::Job{i, u"f/" + platform::WidenUtf8(std::to_string(i)), kSize});
  }
  net::CWininet::AllowConnectionsPerServer(4);
  std::vector<std::unique_ptr<net::CHttpClient>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(std::make_unique<net::CHttpClient>());
  const std::atomic<bool> running{true};
  download::CServerSet servers({platform::WidenUtf8(server.Url("/"))}, &platform::TickCount32);
  CPrefetcher ahead(std::move(jobs), std::move(clients), servers, &running, kBudget);
  // The worker is slow at first: the connections fill the budget before anything is taken.
  while (server.Requests().size() < kBudget / kSize)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::uint32_t taken = 0;
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    std::string body;
    std::size_t from = 0;
    if (!ahead.Take(i, body, from)) continue;  // not fetched ahead: the worker would fetch it itself
    ++taken;
    ASSERT_EQ(body, bodies[i]) << "entry " << i;
  }
  EXPECT_GE(taken, kBudget / kSize);
  EXPECT_LE(ahead.PeakHeld(), kBudget);
  EXPECT_LE(server.MostOpenAtOnce(), 4);
}

} // namespace
