// The transport's parts that belong to the libcurl implementation: its result codes, the system's
// certificate store and the environment's proxy.
#include <gtest/gtest.h>

#include <cstdlib>
#include <curl/curl.h>

#include "net/CurlErrors.h"
#include "net/HttpClient.h"
#include "platform/Utf.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"

namespace {

using net::CHttpClient;
using testsupport::FaultScript;
using testsupport::FaultServer;
using testsupport::NginxServer;

std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }

TEST(ErrorCodes, CurlResultsBecomeWinInetCodes) {
  const struct {
    const char* name;
    int curl;
    platform::ErrorCode code;
  } rows[] = {
      {"refused", CURLE_COULDNT_CONNECT, 12029},
      {"not resolved", CURLE_COULDNT_RESOLVE_HOST, 12007},
      {"time-out", CURLE_OPERATION_TIMEDOUT, 12002},
      {"reset", CURLE_RECV_ERROR, 12031},
      {"answer that is not HTTP", CURLE_UNSUPPORTED_PROTOCOL, 12152},
      {"short body", CURLE_PARTIAL_FILE, 12030},
      {"unknown curl result", CURLE_FTP_WEIRD_PASV_REPLY, 12004},
  };
  for (const auto& row : rows) EXPECT_EQ(net::ErrorFromCurl(row.curl), row.code) << row.name;
}

TEST(Https, CertificatesAreVerified) {
  NginxServer server({}, 0, true);
  ASSERT_TRUE(server.Started());
  server.Put("a.bin", "secret");
  CHttpClient client;
  std::uint64_t length = 0;
  EXPECT_FALSE(client.OpenUrl(W(server.Url("/a.bin")), u"", length, net::kDownloaderUserAgent))
      << "a certificate nobody signed is refused";
  EXPECT_EQ(client.FailureCode(), platform::ERROR_INTERNET_INVALID_CA);
}

TEST(Proxy, TheEnvironmentsProxyIsUsed) {
  FaultServer proxy;
  FaultScript answer;
  answer.body = "via proxy";
  proxy.Script("http://game.invalid/a.bin", answer);
  setenv("http_proxy", proxy.Url("").c_str(), 1);
  unsetenv("no_proxy");
  unsetenv("NO_PROXY");
  CHttpClient client;
  std::uint64_t length = 0;
  const bool opened = client.OpenUrl(u"http://game.invalid/a.bin", u"", length, net::kDownloaderUserAgent);
  unsetenv("http_proxy");
  ASSERT_TRUE(opened) << client.FailureCode();
  EXPECT_EQ(length, 9u);
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("GET http://game.invalid/a.bin HTTP/1.1", 0), 0u) << proxy.Requests()[0];
}

} // namespace
