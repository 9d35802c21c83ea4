#include "smtp_session.h"

#include "tcp_socket.h"

namespace smtp {

SmtpSession::SmtpSession() {
  // A failed start is not reported here: the first OpenSocket then fails and
  // the connect says so.
  platform::StartSocketService();
}

SmtpSession::~SmtpSession() {
  message.Clear();
  Disconnect();
}

void SmtpSession::Disconnect() {
  if (connected) {
    channel.SendBytes("QUIT\r\n");
    ReadReply(221);
    connected = false;
  }
  channel.CloseSocket();
}

void SmtpSession::CloseFailedSession() {
  TextValue failure = std::move(lastErrorText);
  Disconnect();
  lastErrorText = std::move(failure);
}

bool SmtpSession::SendCommand(std::string_view line, const char* failureText) {
  if (channel.SendBytes(line)) return true;
  lastErrorText = failureText;
  return false;
}

}  // namespace smtp
