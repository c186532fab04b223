#include "support/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace testsupport::sockets {

namespace {

struct Startup {
  Startup() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~Startup() { WSACleanup(); }
};

void EnsureStarted() { static const Startup startup; }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

SOCKET S(Socket socket) { return static_cast<SOCKET>(socket); }

} // namespace

Socket ListenLoopback(std::uint16_t& port) {
  EnsureStarted();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 64) != 0) {
    if (s != INVALID_SOCKET) closesocket(s);
    return kNoSocket;
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  port = ntohs(address.sin_port);
  return static_cast<Socket>(s);
}

Socket Accept(Socket listener, int timeoutMs) {
  WSAPOLLFD wait{S(listener), POLLRDNORM, 0};
  if (WSAPoll(&wait, 1, timeoutMs) <= 0) return kNoSocket;
  const SOCKET s = ::accept(S(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

long Receive(Socket socket, char* buffer, std::size_t size, int timeoutMs) {
  WSAPOLLFD wait{S(socket), POLLRDNORM, 0};
  if (WSAPoll(&wait, 1, timeoutMs) == 0) return kTimedOut;
  return ::recv(S(socket), buffer, static_cast<int>(size), 0);
}

bool SendAll(Socket socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = ::send(S(socket), data, static_cast<int>(size), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void SetNoDelay(Socket socket) {
  const BOOL yes = TRUE;
  setsockopt(S(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
}

void SetSendTimeout(Socket socket, int timeoutMs) {
  const DWORD ms = static_cast<DWORD>(timeoutMs);
  setsockopt(S(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

void ResetOnClose(Socket socket) {
  linger hard{1, 0};
  setsockopt(S(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
}

void Shutdown(Socket socket) { ::shutdown(S(socket), SD_BOTH); }

void Close(Socket socket) { closesocket(S(socket)); }

bool CanConnect(std::uint16_t port) {
  EnsureStarted();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(port);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(s);
  return ok;
}

std::uint16_t FreeLoopbackPort() {
  std::uint16_t port = 0;
  const Socket socket = ListenLoopback(port);
  if (socket != kNoSocket) Close(socket);
  return port;
}

} // namespace testsupport::sockets
