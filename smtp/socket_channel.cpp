#include "socket_channel.h"

namespace smtp {

bool SocketChannel::OpenSocket() {
  CloseSocket();
  socket_ = platform::SocketCreate();
  return IsOpen();
}

bool SocketChannel::ConnectSocket(const TextValue& host, int port) {
  return IsOpen() && platform::SocketConnect(socket_, host, port, kConnectTimeoutMs);
}

bool SocketChannel::SendBytes(std::string_view bytes) {
  return IsOpen() && platform::SocketSendAll(socket_, bytes.data(), bytes.size());
}

long SocketChannel::ReceiveBytes(char* buffer, std::size_t size) {
  return IsOpen() ? platform::SocketReceive(socket_, buffer, size) : -1;
}

bool SocketChannel::PollReadable(bool& readable) { return WaitReadable(0, readable); }

bool SocketChannel::WaitReadable(unsigned waitMs, bool& readable) {
  const int result = platform::SocketWaitReadable(socket_, waitMs);
  readable = result == 1;
  return result >= 0;
}

void SocketChannel::CloseSocket() {
  if (!IsOpen()) return;
  platform::SocketClose(socket_);
  socket_ = platform::kInvalidSocket;
}

}  // namespace smtp
