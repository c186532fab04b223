#pragma once
// nginx serving a folder on a free loopback port, started for a test and stopped after it.
#include <cstdint>
#include <filesystem>
#include <string>

#include "support/TempDir.h"

namespace testsupport {

class NginxServer {
 public:
  // Serves root (a fresh folder when none is given) at http://127.0.0.1:PORT/, or over TLS with a
  // certificate of its own (signed by nobody a client trusts) at https://.
  explicit NginxServer(std::filesystem::path root = {}, std::uint16_t port = 0, bool tls = false);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  void Stop();
  bool Started() const { return m_pid > 0; }
  std::uint16_t Port() const { return m_port; }
  const std::filesystem::path& Root() const { return m_root; }
  std::string Url(const std::string& path) const;
  // Writes a file below the root (folders made as needed).
  void Put(const std::string& relative, const std::string& bytes) const;

 private:
  TempDir m_work;
  std::filesystem::path m_root;
  std::uint16_t m_port = 0;
  bool m_bTls = false;
  std::string m_prefix;  // the path of this server's folder in its addresses ("" when it is the root)
  long m_pid = -1;
};


} // namespace testsupport
