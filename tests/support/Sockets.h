#pragma once
// The few socket calls the test servers make, on loopback only; one source per system.
#include <cstddef>
#include <cstdint>

namespace testsupport::sockets {

using Socket = std::intptr_t;
constexpr Socket kNoSocket = -1;

// A listening socket on 127.0.0.1 and a free port; kNoSocket when none can be made.
Socket ListenLoopback(std::uint16_t& port);
// Waits up to timeoutMs for a connection; kNoSocket when none came.
Socket Accept(Socket listener, int timeoutMs);
constexpr long kTimedOut = -2;
// Bytes received, 0 at the peer's end, kTimedOut when nothing came within timeoutMs, -1 on an error.
long Receive(Socket socket, char* buffer, std::size_t size, int timeoutMs);
bool SendAll(Socket socket, const char* data, std::size_t size);
void SetNoDelay(Socket socket);
// A send that cannot go on for this long fails, so a writer never waits for ever on a client that
// stopped reading (shutting the socket down does not wake it on every system).
void SetSendTimeout(Socket socket, int timeoutMs);
// The next close sends a reset instead of an orderly end.
void ResetOnClose(Socket socket);
void Shutdown(Socket socket);
void Close(Socket socket);
bool CanConnect(std::uint16_t port);
std::uint16_t FreeLoopbackPort();

} // namespace testsupport::sockets
