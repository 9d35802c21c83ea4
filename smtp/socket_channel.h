#pragma once
#include <cstddef>
#include <string_view>

#include "tcp_socket.h"
#include "text_value.h"

namespace smtp {

// How long a TCP connect may take before it is given up.
inline constexpr unsigned kConnectTimeoutMs = 10000;

// The one blocking IPv4 TCP socket of a session. Nothing here closes the
// socket on a failure; closing is the session's business.
class SocketChannel {
 public:
  SocketChannel() = default;
  ~SocketChannel() { CloseSocket(); }
  SocketChannel(const SocketChannel&) = delete;
  SocketChannel& operator=(const SocketChannel&) = delete;

  // Closes any open socket first, then creates a new one.
  bool OpenSocket();
  // A dotted address is used as it is; a name is resolved and its first IPv4
  // address tried. False when the name does not resolve or the connect fails
  // (the socket then stays open).
  bool ConnectSocket(const TextValue& host, int port);
  // Every byte of the run, or false.
  bool SendBytes(std::string_view bytes);
  // One receive: count, 0 when the server has closed, -1 on failure.
  long ReceiveBytes(char* buffer, std::size_t size);
  // Looks without waiting whether the socket is readable; false on failure.
  bool PollReadable(bool& readable);
  // Waits at most waitMs for the socket to become readable; false on failure.
  bool WaitReadable(unsigned waitMs, bool& readable);
  void CloseSocket();

  bool IsOpen() const { return socket_ != platform::kInvalidSocket; }

 private:
  platform::SocketHandle socket_ = platform::kInvalidSocket;
};

}  // namespace smtp
