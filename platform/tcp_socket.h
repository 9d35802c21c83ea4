#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A blocking IPv4 TCP stream socket. No operation here raises a signal or an
// exception; failures are result values.
namespace platform {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket service of the process (a no-op where there is none).
// False when it could not be started; SocketCreate then fails.
bool StartSocketService();

// An AF_INET stream socket, or kInvalidSocket.
SocketHandle SocketCreate();

// Connects to a dotted IPv4 address as given, or else to the first IPv4
// address the host name resolves to. The port keeps its low 16 bits. Gives up
// after timeoutMs; false when the name does not resolve (no connection is then
// attempted), the connection is refused, or the time runs out.
bool SocketConnect(SocketHandle socket, const std::string& host, int port, unsigned timeoutMs);

// Hands over every byte of the run, retrying short and interrupted sends;
// false on any error (a peer that has gone raises no signal).
bool SocketSendAll(SocketHandle socket, const char* bytes, std::size_t length);

// One receive: the count received, 0 when the peer has closed, -1 on failure.
long SocketReceive(SocketHandle socket, char* buffer, std::size_t size);

// Waits at most waitMs for the socket to become readable (0: just looks).
// 1 readable, 0 not readable in time, -1 failure.
int SocketWaitReadable(SocketHandle socket, unsigned waitMs);

void SocketClose(SocketHandle socket);

// The local host name, or the empty text when it cannot be had.
std::string LocalHostName();

}  // namespace platform
