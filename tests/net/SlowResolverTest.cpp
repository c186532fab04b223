// A stop while a host name is still being resolved. This program replaces the C library's
// getaddrinfo: names under ".slow.test" take a while to resolve, as with a slow DNS server, and the
// rest resolve as usual.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>

#include "net/HttpClient.h"

namespace {

constexpr auto kResolveTime = std::chrono::milliseconds(2500);
std::atomic<int> g_slowLookupsRunning{0};

bool IsSlowName(const char* node) {
  static constexpr char kSuffix[] = ".slow.test";
  const std::size_t n = node == nullptr ? 0 : std::strlen(node);
  return n >= sizeof kSuffix - 1 && std::strcmp(node + n - (sizeof kSuffix - 1), kSuffix) == 0;
}

} // namespace

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  using Real = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
  if (!IsSlowName(node)) return real(node, service, hints, result);
  ++g_slowLookupsRunning;
  std::this_thread::sleep_for(kResolveTime);
  --g_slowLookupsRunning;
  return EAI_NONAME;
}

namespace {

TEST(SlowResolver, StopDuringNameResolutionReturnsAtOnceAndSoDoesTheClientsEnd) {
  std::atomic<bool> running{true};
  long long endedMs = 0;
  bool opened = true;
  platform::ErrorCode code = 0;
  std::thread stopper([&running] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    running = false;
  });
  const auto start = std::chrono::steady_clock::now();
  {
    net::CHttpClient client;
    client.SetRunningFlag(&running);
    std::uint64_t length = 0;
    opened = client.OpenUrl(u"http://files.slow.test/Data/x.pak", u"", length, net::kDownloaderUserAgent);
    code = client.FailureCode();
  }  // the client's end must not wait for the lookup
  endedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  stopper.join();
  EXPECT_FALSE(opened);
  EXPECT_EQ(code, platform::ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(endedMs, 300 + 700);
  EXPECT_EQ(g_slowLookupsRunning.load(), 1) << "the lookup was really under way when the client ended";
  // Let the left-behind lookup end before the program does.
  while (g_slowLookupsRunning.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

} // namespace
