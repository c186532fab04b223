#include "support/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport::sockets {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

int Fd(Socket socket) { return static_cast<int>(socket); }

} // namespace

Socket ListenLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address = Loopback(0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
    if (fd >= 0) ::close(fd);
    return kNoSocket;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return fd;
}

Socket Accept(Socket listener, int timeoutMs) {
  pollfd wait{Fd(listener), POLLIN, 0};
  if (::poll(&wait, 1, timeoutMs) <= 0 || !(wait.revents & POLLIN)) return kNoSocket;
  const int fd = ::accept4(Fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoSocket : fd;
}

long Receive(Socket socket, char* buffer, std::size_t size, int timeoutMs) {
  pollfd wait{Fd(socket), POLLIN, 0};
  const int ready = ::poll(&wait, 1, timeoutMs);
  if (ready == 0) return kTimedOut;
  for (;;) {
    const ssize_t n = ::recv(Fd(socket), buffer, size, 0);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool SendAll(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(Fd(socket), data, size, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SetNoDelay(Socket socket) {
  const int yes = 1;
  setsockopt(Fd(socket), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

void SetSendTimeout(Socket socket, int timeoutMs) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void ResetOnClose(Socket socket) {
  linger hard{1, 0};
  setsockopt(Fd(socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void Shutdown(Socket socket) { ::shutdown(Fd(socket), SHUT_RDWR); }

void Close(Socket socket) { ::close(Fd(socket)); }

bool CanConnect(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::uint16_t FreeLoopbackPort() {
  std::uint16_t port = 0;
  const Socket socket = ListenLoopback(port);
  if (socket != kNoSocket) Close(socket);
  return port;
}

} // namespace testsupport::sockets
