#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "download/FileSink.h"
#include "net/HttpClient.h"
#include "platform/Files.h"
#include "platform/Utf.h"
#include "support/Environment.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "support/TestData.h"

namespace {

using net::CHttpClient;
using testsupport::FaultScript;
using testsupport::FaultServer;
using testsupport::NginxServer;
using testsupport::Pattern;
using testsupport::TempDir;

std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }

// A client whose bodies go into files, as the worker's do.
class FileClient : public CHttpClient {
 public:
  explicit FileClient(net::Tick tick = &platform::TickCount32) : CHttpClient(std::move(tick)) { SetBodySink(&m_sink); }
  ~FileClient() override { SetBodySink(nullptr); }  // the sink goes first and closes its file itself

 private:
  download::CFileSink m_sink;
};

// Reads the whole body into the open file; false with the client's code on failure.
bool Drain(CHttpClient& client, std::uint32_t* largestPiece = nullptr, std::uint64_t* total = nullptr) {
  for (;;) {
    std::uint32_t n = 0;
    if (!client.ReadToFile(n)) return false;
    if (largestPiece != nullptr) *largestPiece = std::max(*largestPiece, n);
    if (total != nullptr) *total += n;
    if (n == 0) return true;
  }
}

bool IsWinInetCode(platform::ErrorCode code) { return code >= 12000 && code < 12200; }

class AgainstNginx : public ::testing::Test {
 protected:
  NginxServer server;
  TempDir local;
  FileClient client;
  const std::string content = Pattern(100000, 3);
  void SetUp() override {
    ASSERT_TRUE(server.Started());
    server.Put("files/Data/a.pak", content);
  }
};

TEST_F(AgainstNginx, FullGetIsWrittenInPiecesOfAtMost8192Bytes) {
  std::uint64_t length = 0;
  ASSERT_TRUE(client.OpenUrl(W(server.Url("/files/Data/a.pak")), u"", length, net::kDownloaderUserAgent));
  EXPECT_EQ(length, content.size());
  ASSERT_TRUE(client.OpenFile(local.wide("a.pak"), false));
  std::uint32_t largest = 0;
  ASSERT_TRUE(Drain(client, &largest));
  EXPECT_EQ(client.WrittenToFile(), content.size()) << "the whole body is in the file once it has ended";
  client.CloseFile();
  EXPECT_EQ(largest, 8192u);
  EXPECT_EQ(testsupport::ReadBytes(local / "a.pak"), content);
}

TEST_F(AgainstNginx, RangeResumesAPartialFile) {
  testsupport::WriteBytes(local / "a.pak", content.substr(0, 30000));
  std::uint64_t length = 0;
  ASSERT_TRUE(client.OpenUrl(W(server.Url("/files/Data/a.pak")), u"Range:bytes=30000-", length,
                             net::kDownloaderUserAgent));
  EXPECT_EQ(length, content.size() - 30000);
  ASSERT_TRUE(client.OpenFile(local.wide("a.pak"), true));
  ASSERT_TRUE(Drain(client));
  client.CloseFile();
  EXPECT_EQ(testsupport::ReadBytes(local / "a.pak"), content);
}

TEST_F(AgainstNginx, FailingStatusesBecomeTheCode) {
  const struct {
    const char* name;
    std::string path;
    const char16_t* headers;
    platform::ErrorCode code;
  } rows[] = {
      {"range past the end", "/files/Data/a.pak", u"Range:bytes=100000-", 416},
      {"missing file", "/files/none.pak", u"", 404},
  };
  for (const auto& row : rows) {
    std::uint64_t length = 0;
    EXPECT_FALSE(client.OpenUrl(W(server.Url(row.path)), row.headers, length, net::kDownloaderUserAgent)) << row.name;
    EXPECT_EQ(client.FailureCode(), row.code) << row.name;
  }
}

TEST_F(AgainstNginx, ReadToMemoryFetchesADocument) {
  const std::string document = std::string(600000, ' ') + "{}";
  server.Put("list.json", document);
  std::string text;
  ASSERT_TRUE(client.ReadToMemory(W(server.Url("/list.json")), text));
  EXPECT_EQ(text, document) << "documents far beyond 8 KiB arrive whole";
  server.Put("empty.json", "");
  text = "untouched";
  ASSERT_TRUE(client.ReadToMemory(W(server.Url("/empty.json")), text));
  EXPECT_EQ(text, "");
}

TEST(LocalFile, OpenFileCreatesAppendsOrEmpties) {
  TempDir local;
  FileClient client;
  ASSERT_TRUE(client.OpenFile(local.wide("new.bin"), true));
  client.CloseFile();
  EXPECT_TRUE(std::filesystem::exists(local / "new.bin"));
  testsupport::WriteBytes(local / "old.bin", "data");
  ASSERT_TRUE(client.OpenFile(local.wide("old.bin"), false));
  client.CloseFile();
  EXPECT_EQ(testsupport::ReadBytes(local / "old.bin"), "");
  EXPECT_FALSE(client.OpenFile(local.wide("no/such/folder/x.bin"), false));
  // The systems name a missing folder differently: Windows says the path, POSIX the file.
  const bool windows = testsupport::kIsWindows;
  EXPECT_EQ(client.FailureCode(), windows ? platform::ERROR_PATH_NOT_FOUND : platform::ERROR_FILE_NOT_FOUND);
}

// A server that stalls for longer than any test runs, and a bound far below it: a wait that ends within
// the bound was ended by the client (its time-out or a stop), however busy the machine.
constexpr int kLongerThanAnyTest = 600000;
constexpr auto kFarBelowTheStall = std::chrono::seconds(20);

class AgainstFaultServer : public ::testing::Test {
 protected:
  FaultServer server;
  TempDir local;
  FileClient client;
  const std::string content = Pattern(50000, 4);
  // Tests that wait for a time-out set a short one of their own; the others keep the real one, so
  // a busy machine never turns a slow answer into a time-out.
  bool Open(const std::string& path, std::uint64_t& length, const char16_t* headers = u"") {
    return client.OpenUrl(W(server.Url(path)), headers, length, net::kDownloaderUserAgent);
  }
};

TEST_F(AgainstFaultServer, OpenFailuresAndTheirCodes) {
  FaultScript chunked;
  chunked.body = content;
  chunked.chunked = true;
  server.Script("/chunked", chunked);
  FaultScript stall;
  stall.body = content;
  stall.stallBeforeHeaders = true;
  stall.stallMs = kLongerThanAnyTest;
  server.Script("/stall", stall);
  client.SetTimeout(1000);
  FaultScript loop;
  loop.location = "/loop";
  server.Script("/loop", loop);
  FaultScript failing;
  failing.status = 500;
  server.Script("/error", failing);
  FaultScript garbled;
  garbled.rawStatusLine = "HTTP/1.1 abc Broken";
  server.Script("/garbled", garbled);

  const struct {
    const char* name;
    std::string url;
    platform::ErrorCode code;
  } rows[] = {
      {"refused connection", "http://127.0.0.1:" + std::to_string(testsupport::sockets::FreeLoopbackPort()) + "/x", 12029},
      {"no Content-Length", server.Url("/chunked"), 12150},
      {"server never answers", server.Url("/stall"), 12002},
      {"any status", server.Url("/error"), 500},
      {"status that is not a number", server.Url("/garbled"), 12152},
      {"unknown scheme", "gopher://127.0.0.1/x", 12006},
      {"a redirect loop", server.Url("/loop"), 12156},
  };
  for (const auto& row : rows) {
    std::uint64_t length = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.OpenUrl(W(row.url), u"", length, net::kDownloaderUserAgent)) << row.name;
    EXPECT_EQ(client.FailureCode(), row.code) << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kFarBelowTheStall) << row.name;
  }
  std::size_t looped = 0;
  for (const std::string& head : server.Requests()) looped += head.rfind("GET /loop ", 0) == 0;
  EXPECT_EQ(looped, 1u + net::kMaxRedirects) << "the first request and ten redirections, then no more";
}

TEST_F(AgainstFaultServer, BodyFailuresKeepWhatArrived) {
  FaultScript cut;
  cut.body = content;
  cut.cutAfter = 20000;
  server.Script("/cut", cut);
  FaultScript reset = cut;
  reset.reset = true;
  server.Script("/reset", reset);
  FaultScript stall;
  stall.body = content;
  stall.stallAfter = 10000;
  stall.stallMs = kLongerThanAnyTest;
  server.Script("/stall", stall);
  client.SetTimeout(1000);

  const struct {
    const char* name;
    std::string path;
    std::size_t kept;
  } rows[] = {
      {"body shorter than announced", "/cut", 20000},
      {"connection reset mid-body", "/reset", 20000},
      {"no data for longer than the time-out", "/stall", 10000},
  };
  for (const auto& row : rows) {
    std::uint64_t length = 0;
    ASSERT_TRUE(Open(row.path, length)) << row.name;
    EXPECT_EQ(length, content.size());
    ASSERT_TRUE(client.OpenFile(local.wide("part.bin"), false));
    std::uint64_t read = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Drain(client, nullptr, &read)) << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kFarBelowTheStall) << row.name;
    client.CloseFile();
    EXPECT_TRUE(IsWinInetCode(client.FailureCode())) << row.name << ": " << client.FailureCode();
    const std::string kept = testsupport::ReadBytes(local / "part.bin");
    EXPECT_EQ(kept.size(), read) << row.name << ": every byte read is kept for a resume";
    EXPECT_LE(kept.size(), row.kept) << row.name;
    EXPECT_EQ(kept, content.substr(0, kept.size())) << row.name;
    if (std::string(row.path) == "/stall") {
      EXPECT_EQ(client.FailureCode(), 12002u);
    }
  }
}

TEST_F(AgainstFaultServer, SlowButSteadyServerIsNoTimeOut) {
  FaultScript drip;
  drip.body = content.substr(0, 3000);
  drip.dripBytes = 300;
  drip.dripDelayMs = 300;  // 3 s in all, more than the time-out, never silent for long
  client.SetTimeout(2000);
  server.Script("/drip", drip);
  std::uint64_t length = 0;
  ASSERT_TRUE(Open("/drip", length));
  ASSERT_TRUE(client.OpenFile(local.wide("drip.bin"), false));
  ASSERT_TRUE(Drain(client));
  client.CloseFile();
  EXPECT_EQ(testsupport::ReadBytes(local / "drip.bin"), drip.body);
}

TEST_F(AgainstFaultServer, RangeAnsweredWith200AndRedirectsAreAccepted) {
  FaultScript whole;
  whole.body = content;
  whole.honourRange = false;
  server.Script("/whole", whole);
  FaultScript moved;
  moved.location = "/whole";
  moved.body = "<html>moved</html>";  // the redirect's own body never reaches the reader
  server.Script("/moved", moved);
  std::uint64_t length = 0;
  ASSERT_TRUE(Open("/whole", length, u"Range:bytes=100-"));
  EXPECT_EQ(length, content.size()) << "the length of the whole resource";
  // Header names are case-insensitive: every spelling is a redirect to follow.
  for (const char* name : {"Location", "location", "LOCATION", "LoCaTiOn"}) {
    moved.locationName = name;
    server.Script("/moved", moved);
    ASSERT_TRUE(Open("/moved", length)) << name << " " << client.FailureCode();
    EXPECT_EQ(length, content.size()) << name;
  }
  std::string document;
  ASSERT_TRUE(client.ReadToMemory(W(server.Url("/moved")), document));
  EXPECT_EQ(document, content);
}

TEST_F(AgainstFaultServer, RequestsBypassCachesAndReuseOneConnection) {
  FaultScript small;
  small.body = "0123456789";
  server.Script("/small", small);
  for (int i = 0; i < 20; ++i) {
    std::uint64_t length = 0;
    ASSERT_TRUE(Open("/small", length, u"Range:bytes=2-"));
    ASSERT_TRUE(client.OpenFile(local.wide("small.bin"), false));
    ASSERT_TRUE(Drain(client));
  }
  EXPECT_EQ(server.Connections(), 1) << "twenty requests, one TCP connection";
  const std::string head = server.Requests().front();
  // Sent as given; WinINet writes a header in its own form, with a space after the colon.
  const bool windows = testsupport::kIsWindows;
  EXPECT_NE(head.find(windows ? "\r\nRange: bytes=2-" : "\r\nRange:bytes=2-"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: Mervo_Downloader"), std::string::npos) << head;
}

// A request sent early is taken up by the open that asks for the same thing, and is otherwise
// dropped without changing what that open gets.
TEST(EarlyRequest, IsTakenUpOnlyByTheSameRequest) {
  const std::string a = Pattern(40000, 5), b = Pattern(30000, 6);
  struct Row {
    const char* name;
    const char* early;
    const char* open;
    const char16_t* headers;
    std::string body;  // what the open reads; empty: the open fails as a fresh one does
    std::uint32_t later = 0;  // how far the client's clock moves between sending and opening
  };
  const Row rows[] = {
      {"the same address", "/a", "/a", u"", a},
      {"another address", "/a", "/b", u"", b},
      {"the same address with a range", "/a", "/a", u"Range:bytes=100-", a.substr(100)},
      {"a broken answer is asked for again", "/broken", "/broken", u"", ""},
      {"the same address just before it expires", "/a", "/a", u"", a, 4999},
      {"the same address once expired is asked for anew", "/a", "/a", u"", a, 5000},
  };
  for (const Row& row : rows) {
    FaultServer server;
    FaultScript script;
    script.body = a;
    server.Script("/a", script);
    script.body = b;
    server.Script("/b", script);
    script.rawStatusLine = "SMTP ready";
    server.Script("/broken", script);
    TempDir local;
    std::atomic<std::uint32_t> now{1000};
    FileClient client([&now] { return now.load(); });
    client.SetTimeout(2000);
    const auto open = [&](const char* path, const char16_t* headers, std::uint64_t& length) {
      return client.OpenUrl(W(server.Url(path)), headers, length, net::kDownloaderUserAgent);
    };
    std::uint64_t length = 0;
    platform::ErrorCode freshFailure = 0;
    if (row.body.empty()) {
      EXPECT_FALSE(open(row.open, row.headers, length)) << row.name;
      freshFailure = client.FailureCode();
    }
    // An open connection, as between the files of a run.
    ASSERT_TRUE(open("/b", u"", length)) << row.name;
    ASSERT_TRUE(client.OpenFile(local.wide("warm.bin"), false));
    ASSERT_TRUE(Drain(client));
    client.CloseFile();

    const std::size_t before = server.Requests().size();
    client.SendEarly(W(server.Url(row.early)), u"", net::kDownloaderUserAgent);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (server.Requests().size() == before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(server.Requests().size(), before + 1) << row.name << ": sent before it is opened";
    now += row.later;
    const bool opened = open(row.open, row.headers, length);
    if (row.body.empty()) {
      EXPECT_FALSE(opened) << row.name;
      EXPECT_EQ(client.FailureCode(), freshFailure) << row.name;
      // libcurl fails such an answer itself, so the early request is sent again; WinINet takes it as an
      // answer and the status check above it fails, as for a fresh request.
      const bool windows = testsupport::kIsWindows;
      EXPECT_EQ(server.Requests().size(), before + (windows ? 1 : 2)) << row.name;
      continue;
    }
    ASSERT_TRUE(opened) << row.name << ": " << client.FailureCode();
    EXPECT_EQ(length, row.body.size()) << row.name;
    ASSERT_TRUE(client.OpenFile(local.wide("x.bin"), false)) << row.name;
    ASSERT_TRUE(Drain(client)) << row.name;
    client.CloseFile();
    EXPECT_EQ(testsupport::ReadBytes(local / "x.bin"), row.body) << row.name;
    if (std::string(row.early) == row.open && row.headers[0] == u'\0' && row.later < 5000) {
      EXPECT_EQ(server.Requests().size(), before + 1) << row.name << ": taken up, not sent again";
      EXPECT_EQ(server.Connections(), 1) << row.name;
    } else if (row.later >= 5000) {
      EXPECT_EQ(server.Requests().size(), before + 2) << row.name << ": sent again on a connection of its own";
    }
  }
}

TEST_F(AgainstFaultServer, StopRequestEndsABlockedWaitAtOnce) {
  FaultScript stall;
  stall.body = content;
  stall.stallAfter = 1000;
  stall.stallMs = kLongerThanAnyTest;
  server.Script("/stall", stall);
  std::atomic<bool> running{true};
  client.SetTimeout(30000);
  client.SetRunningFlag(&running);
  std::uint64_t length = 0;
  ASSERT_TRUE(Open("/stall", length));
  ASSERT_TRUE(client.OpenFile(local.wide("s.bin"), false));
  std::thread stopper([&running] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    running = false;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Drain(client));
  const auto waited = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_EQ(client.FailureCode(), platform::ERROR_INTERNET_OPERATION_CANCELLED);
  EXPECT_LT(waited, kFarBelowTheStall) << "ended by the stop, not by the server";
}

TEST_F(AgainstFaultServer, ReadToMemoryRefusesWhatItCannotHoldWhole) {
  FaultScript big;
  big.body = std::string(net::kMaxDocumentSize + 1, 'x');
  server.Script("/big.json", big);
  FaultScript cut;
  cut.body = "{\"Version\": \"2017.12.27.1\"}";
  cut.cutAfter = 5;
  server.Script("/cut.json", cut);
  std::string text = "untouched";
  EXPECT_FALSE(client.ReadToMemory(W(server.Url("/big.json")), text));
  EXPECT_EQ(client.FailureCode(), platform::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(client.ReadToMemory(W(server.Url("/cut.json")), text));
  EXPECT_TRUE(IsWinInetCode(client.FailureCode()));
  EXPECT_EQ(text, "untouched");
  const std::string head = server.Requests().back();
  EXPECT_NE(head.find("\r\nUser-Agent: HttpClient/1.0"), std::string::npos) << head;
}

} // namespace
