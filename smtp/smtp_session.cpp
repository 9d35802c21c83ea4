#include "smtp_session.h"

#include <initializer_list>

#include "base64.h"
#include "tcp_socket.h"

namespace smtp {
namespace {

// The session of the process: built before main, so its teardown at exit
// still sends QUIT to an open connection.
SmtpSession processSession;

// The failure text with the server name put in as it was typed.
TextValue ServerFailureText(const char* textBeforeName, const TextValue& server) {
  TextValue text = textBeforeName;
  text += server;
  text += "”失败!";
  return text;
}

// The argument of EHLO and HELO.
TextValue HelloHostName() {
  TextValue name = platform::LocalHostName();
  if (name.empty()) name = "localhost";
  return name;
}

// One AUTH answer: its base64 text as a line of its own.
TextValue Base64Line(std::string_view bytes) {
  TextValue line = Base64Encode(bytes, false);
  line += "\r\n";
  return line;
}

struct AuthStep {
  TextValue line;
  int expectedCode;  // 0 on the last step, whose outcome is judged below
};

// Runs the steps of one AUTH method until one is answered otherwise than
// expected. False when a line could not be sent; else whether the last reply
// was 235, which also accepts a 235 that comes in place of a challenge.
bool Authenticate(SmtpSession& session, std::initializer_list<AuthStep> steps) {
  for (const AuthStep& step : steps) {
    if (!session.channel.SendBytes(step.line)) return false;
    if (!session.ReadReply(step.expectedCode)) break;
  }
  return session.lastReplyCode == 235;
}

}  // namespace

SmtpSession& ProcessSession() { return processSession; }

bool ConnectSmtpServer(const TextValue& server, int port, const TextValue& user,
                       const TextValue& password, int timeoutMs) {
  return ProcessSession().Connect(server, port, user, password,
                                  timeoutMs < 1 ? 1u : static_cast<std::uint32_t>(timeoutMs));
}

SmtpSession::SmtpSession() {
  // A failed start is not reported here: the first OpenSocket then fails and
  // the connect says so.
  platform::StartSocketService();
}

SmtpSession::~SmtpSession() {
  message.Clear();
  Disconnect();
}

bool SmtpSession::Connect(const TextValue& server, int port, const TextValue& user,
                          const TextValue& password, std::uint32_t timeout) {
  if (connected) Disconnect();
  if (server.empty()) return false;
  timeoutMs = timeout;
  if (!channel.OpenSocket()) {
    lastErrorText = "创建SOCKET网络组件失败!";
    return false;
  }
  if (!channel.ConnectSocket(server, port)) {
    channel.CloseSocket();
    lastErrorText = ServerFailureText("连接指定SMTP邮件服务器“", server);
    return false;
  }
  connected = true;
  if (!ReadReply(220)) {
    CloseFailedSession();
    return false;
  }
  const TextValue hostName = HelloHostName();
  bool needHelo = true;
  if (!Login(hostName, user, password, needHelo)) {
    lastErrorText = ServerFailureText("登录指定SMTP邮件服务器“", server);
    CloseFailedSession();
    return false;
  }
  if (!needHelo) return true;
  if (!SendCommand("HELO " + hostName + "\r\n", "发送数据失败!") || !ReadReply(250)) {
    CloseFailedSession();
    return false;
  }
  return true;
}

bool SmtpSession::Login(const TextValue& hostName, const TextValue& user,
                        const TextValue& password, bool& needHelo) {
  if (user.empty() || password.empty()) return true;
  if (!channel.SendBytes("EHLO " + hostName + "\r\n")) return false;
  // A server that refuses EHLO is greeted with HELO and used without login.
  if (!ReadReply(250)) return true;
  needHelo = false;

  // An AUTH line decides alone; AUTH=LOGIN is the older servers' way of
  // offering LOGIN and counts only without one.
  bool useLogin = false;
  if (const std::optional<TextValue> methods = FindReplyKeyword("AUTH")) {
    useLogin = HasWord(*methods, "LOGIN");
    if (!useLogin && !HasWord(*methods, "PLAIN")) return true;
  } else if (FindReplyKeyword("AUTH=LOGIN")) {
    useLogin = true;
  } else {
    return true;
  }

  if (useLogin) {
    return Authenticate(*this, {{"AUTH LOGIN\r\n", 334},
                                {Base64Line(user), 334},
                                {Base64Line(password), 0}});
  }
  TextValue credentials;
  credentials.reserve(user.size() + password.size() + 2);
  credentials += '\0';
  credentials += user;
  credentials += '\0';
  credentials += password;
  return Authenticate(*this, {{"AUTH PLAIN\r\n", 334}, {Base64Line(credentials), 0}});
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
