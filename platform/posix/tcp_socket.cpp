#include "tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>

#include "clock.h"

namespace platform {

namespace {

int Fd(SocketHandle socket) { return static_cast<int>(socket); }

// A dotted address as it stands (the forms inet_addr takes), else the first
// IPv4 address of the name.
std::optional<in_addr> ResolveIPv4(const std::string& host) {
  in_addr address{};
  if (inet_aton(host.c_str(), &address) != 0) return address;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return address;
}

// poll of one socket for events, resumed after signals until waitMs have
// passed in all: 1 ready, 0 time out, -1 failure.
int PollFor(int fd, short events, unsigned waitMs) {
  if (fd < 0) return -1;
  const std::uint32_t start = TickCount();
  for (;;) {
    const std::uint32_t spent = TickCount() - start;
    const unsigned left = spent >= waitMs ? 0 : waitMs - spent;
    pollfd entry{fd, events, 0};
    const int result = poll(&entry, 1, static_cast<int>(std::min<unsigned>(left, INT_MAX)));
    if (result > 0) return (entry.revents & POLLNVAL) != 0 ? -1 : 1;
    if (result == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

bool SetNonBlocking(int fd, bool on) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

}  // namespace

bool StartSocketService() { return true; }

SocketHandle SocketCreate() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  // Commands are short lines sent whole and answered one by one: waiting to
  // merge them with later bytes only delays the reply. The send buffer stays
  // at the system's size.
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool SocketConnect(SocketHandle socket, const std::string& host, int port, unsigned timeoutMs) {
  const int fd = Fd(socket);
  const std::optional<in_addr> address = ResolveIPv4(host);
  if (!address) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  peer.sin_addr = *address;

  // Non-blocking only for the connect, so that it can be given up in time.
  if (!SetNonBlocking(fd, true)) return false;
  bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR) &&
      PollFor(fd, POLLOUT, timeoutMs) == 1) {
    int error = 0;
    socklen_t length = sizeof error;
    connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  return SetNonBlocking(fd, false) && connected;
}

bool SocketSendAll(SocketHandle socket, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = send(Fd(socket), bytes, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

long SocketReceive(SocketHandle socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t received = recv(Fd(socket), buffer, size, 0);
    if (received >= 0) return static_cast<long>(received);
    if (errno != EINTR) return -1;
  }
}

int SocketWaitReadable(SocketHandle socket, unsigned waitMs) {
  return PollFor(Fd(socket), POLLIN, waitMs);
}

void SocketClose(SocketHandle socket) {
  if (socket != kInvalidSocket) close(Fd(socket));
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

}  // namespace platform
