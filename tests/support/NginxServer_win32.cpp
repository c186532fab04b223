// Under Wine the tests use the nginx that the Windows test pass started natively on loopback: its
// port and its root (a Unix path, reached through Wine's Z: drive) come from the environment. Each
// server object serves a fresh folder of its own below that root, so tests never see each other's
// files; stopping it removes the folder, so any request then fails as with a server that is gone.
#include "support/NginxServer.h"

#include <cstdlib>
#include <random>
#include <string>

namespace testsupport {

NginxServer::NginxServer(std::filesystem::path root, std::uint16_t port, bool tls) : m_bTls(tls) {
  const char* sharedPort = std::getenv("VALDRIS_TEST_NGINX_PORT");
  const char* sharedRoot = std::getenv("VALDRIS_TEST_NGINX_ROOT");
  if (sharedPort == nullptr || sharedRoot == nullptr || tls || !root.empty() || port != 0) return;
  std::random_device random;
  m_prefix = "/t" + std::to_string(random()) + std::to_string(random());
  m_root = std::filesystem::path("Z:" + std::string(sharedRoot)) / m_prefix.substr(1);
  std::error_code ec;
  std::filesystem::create_directories(m_root, ec);
  if (ec) return;
  m_port = static_cast<std::uint16_t>(std::atoi(sharedPort));
  m_pid = 1;
}

NginxServer::~NginxServer() { Stop(); }

void NginxServer::Stop() {
  if (m_pid > 0) {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
    m_pid = -1;
  }
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + m_prefix + path;
}

void NginxServer::Put(const std::string& relative, const std::string& bytes) const {
  const auto path = m_root / std::filesystem::u8path(relative);  // UTF-8, whatever the system
  std::filesystem::create_directories(path.parent_path());
  WriteBytes(path, bytes);
}

} // namespace testsupport
