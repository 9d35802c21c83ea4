#include "tcp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform {
namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

timeval Interval(unsigned ms) {
  timeval interval;
  interval.tv_sec = static_cast<long>(ms / 1000);
  interval.tv_usec = static_cast<long>(ms % 1000) * 1000;
  return interval;
}

bool SetBlocking(SOCKET socket, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

// Finishes a non-blocking connect: Windows Sockets reports success in the
// write set and failure in the exception set.
bool AwaitConnect(SOCKET socket, unsigned timeoutMs) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval limit = Interval(timeoutMs);
  if (select(0, nullptr, &writable, &failed, &limit) <= 0) return false;
  if (FD_ISSET(socket, &failed)) return false;
  int error = 0;
  int size = sizeof error;
  return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
}

}  // namespace

bool StartSocketService() {
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) return false;
  if (data.wVersion != 0x0101) {
    WSACleanup();
    return false;
  }
  return true;
}

SocketHandle SocketCreate() {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket == INVALID_SOCKET) return kInvalidSocket;
  // No send buffer: send hands the bytes straight to the stack. Without
  // Nagle's delay each command line then leaves at once instead of waiting
  // for the server's delayed acknowledgement of the previous one.
  int zero = 0, on = 1;
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&zero), sizeof zero);
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<SocketHandle>(socket);
}

bool SocketConnect(SocketHandle socket, const std::string& host, int port, unsigned timeoutMs) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port & 0xFFFF));
  address.sin_addr.s_addr = inet_addr(host.c_str());
  if (address.sin_addr.s_addr == INADDR_NONE) {
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == nullptr)
      return false;
    std::memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
  }
  const SOCKET native = Native(socket);
  if (!SetBlocking(native, false)) return false;
  bool connected =
      connect(native, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (!connected && WSAGetLastError() == WSAEWOULDBLOCK)
    connected = AwaitConnect(native, timeoutMs);
  return SetBlocking(native, true) && connected;
}

bool SocketSendAll(SocketHandle socket, const char* bytes, std::size_t length) {
  while (length > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    const int sent = send(Native(socket), bytes, piece, 0);
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

long SocketReceive(SocketHandle socket, char* buffer, std::size_t size) {
  const int received =
      recv(Native(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
  return received == SOCKET_ERROR ? -1 : received;
}

int SocketWaitReadable(SocketHandle socket, unsigned waitMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(socket), &readable);
  timeval limit = Interval(waitMs);
  const int ready = select(0, &readable, nullptr, nullptr, &limit);
  if (ready == SOCKET_ERROR) return -1;
  return ready > 0 && FD_ISSET(Native(socket), &readable) ? 1 : 0;
}

void SocketClose(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(Native(socket));
}

std::string LocalHostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return {};
  name[sizeof name - 1] = '\0';
  return name;
}

}  // namespace platform
