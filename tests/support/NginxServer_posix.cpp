#include "support/NginxServer.h"

#include "support/Sockets.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

using sockets::CanConnect;
using sockets::FreeLoopbackPort;

namespace {

const char* NginxBinary() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"})
    if (::access(candidate, X_OK) == 0) return candidate;
  return "nginx";
}

} // namespace

NginxServer::NginxServer(std::filesystem::path root, std::uint16_t port, bool tls)
    : m_root(std::move(root)), m_bTls(tls) {
  if (m_root.empty()) {
    m_root = m_work / "root";
    std::filesystem::create_directories(m_root);
  }
  std::filesystem::create_directories(m_work / "temp");
  const std::string certificate = (m_work / "cert.pem").string(), key = (m_work / "key.pem").string();
  if (tls) {
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                                key + " -out " + certificate + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return;
  }
  for (int attempt = 0; attempt < 5 && m_pid < 0; ++attempt) {
    m_port = port != 0 ? port : FreeLoopbackPort();
    const auto conf = m_work / "nginx.conf";
    {
      std::ofstream out(conf);
      // As root the workers would drop to an account that cannot read the test's private folders.
      if (geteuid() == 0) out << "user root root;\n";
      out << "worker_processes 1;\ndaemon off;\nmaster_process on;\n"
          << "pid " << (m_work / "nginx.pid").string() << ";\n"
          << "error_log " << (m_work / "error.log").string() << " warn;\n"
          << "events { worker_connections 256; }\n"
          << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n  keepalive_requests 100000;\n"
          << "  default_type application/octet-stream;\n"
          << "  client_body_temp_path " << (m_work / "temp").string() << ";\n"
          << "  proxy_temp_path " << (m_work / "temp").string() << ";\n"
          << "  fastcgi_temp_path " << (m_work / "temp").string() << ";\n"
          << "  uwsgi_temp_path " << (m_work / "temp").string() << ";\n"
          << "  scgi_temp_path " << (m_work / "temp").string() << ";\n"
          << "  server {\n    listen 127.0.0.1:" << m_port << (tls ? " ssl" : "") << ";\n    root " << m_root.string()
          << ";\n";
      if (tls) out << "    ssl_certificate " << certificate << ";\n    ssl_certificate_key " << key << ";\n";
      out << "  }\n}\n";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string prefix = m_work.path().string() + "/";
      const std::string errors = (m_work / "error.log").string();
      const std::string confText = conf.string();
      ::execl(NginxBinary(), "nginx", "-p", prefix.c_str(), "-e", errors.c_str(), "-c", confText.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      if (CanConnect(m_port)) {
        m_pid = pid;
        break;
      }
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;  // it ended: try another port
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_pid < 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      if (port != 0) break;
    }
  }
}

NginxServer::~NginxServer() { Stop(); }

void NginxServer::Stop() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }
}

std::string NginxServer::Url(const std::string& path) const {
  return (m_bTls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port) + path;
}

void NginxServer::Put(const std::string& relative, const std::string& bytes) const {
  const auto path = m_root / std::filesystem::u8path(relative);  // UTF-8, whatever the system
  std::filesystem::create_directories(path.parent_path());
  WriteBytes(path, bytes);
}

} // namespace testsupport
